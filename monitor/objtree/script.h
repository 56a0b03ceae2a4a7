// The object-tree scripts ("talv*.dsc"): everything the monitor knows about a device type. The reader
// keeps the definitions of every file (devices, items, functions, value maps, plugins) with their
// attribute value lists; ScriptInstantiate (objtree.h) builds one device type's objects from them.
// Diagnostics go through Diag as "ObjTre: FILE(LINE): message".
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The keyword table: the number of a line's keyword, of an action's event word and of a flag word.
enum ScriptKeyword : uint8_t {
    kKwNone = 0,
    kKwAction = 1,
    kKwChilds,
    kKwClone,
    kKwConnect,
    kKwDetect,
    kKwDevice,
    kKwDisplay,
    kKwEnter,
    kKwError,
    kKwEvent,
    kKwExecute,
    kKwExechidden,
    kKwExecplugin,
    kKwExit,
    kKwFlags,
    kKwFlash,
    kKwFrom,
    kKwFunction,
    kKwHide,
    kKwImage,
    kKwInfotip,
    kKwItem,
    kKwLanguage,
    kKwLeave,
    kKwLog,
    kKwMap,
    kKwMenu,
    kKwMenudef,
    kKwMenuex,
    kKwName,
    kKwOption,
    kKwPlugin,
    kKwPlugins,
    kKwQuery,
    kKwRefresh,
    kKwRegister,
    kKwRoot,
    kKwSet,
    kKwSetevent,
    kKwStates,
    kKwString,
    kKwStringtable,
    kKwTerm,
    kKwText,
    kKwTo,
    kKwUses,
    kKwVendor,
    kKwCount
};

// Exact, case-sensitive lookup; kKwNone for an unknown word.
ScriptKeyword ScriptFindKeyword(std::string_view word);
const char* ScriptKeywordText(ScriptKeyword keyword); // "" for kKwNone

// Storage for the value lists of one file: 64 KB blocks handed out front to back and freed together.
// A file of 20,000 definitions then makes a few hundred allocations for its lists instead of one per
// list and value. The blocks of an arena that goes are kept (up to 32 MB in all) for the arenas that
// come after, so that reading the scripts again (another language) does not fault in fresh pages.
class ScriptArena {
public:
    ScriptArena() = default;
    ScriptArena(const ScriptArena&) = delete;
    ScriptArena& operator=(const ScriptArena&) = delete;
    ~ScriptArena();
    void* Allocate(size_t bytes); // aligned to 8
    void Clear();

private:
    std::vector<std::unique_ptr<char[]>> blocks_; // 64 KB each
    std::vector<std::unique_ptr<char[]>> large_; // requests above 16 KB, each its own
    char* at_ = nullptr;
    size_t left_ = 0;
};

// The comma-separated values of one attribute line, as one block: the number of texts, the end of
// each and the texts back to back. A list never changes; replacing one builds another. A list made in
// a file's arena (ScriptValuesBuilder::Finish) does not own its block and lives as long as the file;
// copying any list gives the copy a heap block of its own.
class ScriptValues {
public:
    ScriptValues() = default;
    ScriptValues(std::initializer_list<std::string_view> texts);
    ScriptValues(const ScriptValues& other);
    ScriptValues(ScriptValues&& other) noexcept;
    ScriptValues& operator=(const ScriptValues& other);
    ScriptValues& operator=(ScriptValues&& other) noexcept;
    ~ScriptValues();

    size_t size() const
    {
        return block_ ? Head()[0] : 0;
    }
    bool empty() const
    {
        return size() == 0;
    }
    std::string_view operator[](size_t i) const
    {
        const uint32_t* h = Head();
        uint32_t b = i ? h[i] : 0;
        return std::string_view(Texts() + b, h[i + 1] - b);
    }
    // The same values: for a list in a file's arena a second reference to its block (valid as long as
    // the file), else a copy. Definitions take their bases' lists this way.
    ScriptValues ShareWithinFile() const;
    // The values as strings (for keeping beyond the library).
    std::vector<std::string> Strings(size_t from = 0) const;

    class iterator;
    using const_iterator = iterator;
    using value_type = std::string_view;

    class iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using reference = std::string_view;
        using pointer = void;
        using iterator_category = std::forward_iterator_tag;
        iterator() = default;
        iterator(const ScriptValues* list, size_t i)
            : list_(list)
            , i_(i)
        {
        }
        std::string_view operator*() const
        {
            return (*list_)[i_];
        }
        iterator& operator++()
        {
            ++i_;
            return *this;
        }
        iterator operator++(int)
        {
            iterator t = *this;
            ++i_;
            return t;
        }
        bool operator==(const iterator& o) const
        {
            return i_ == o.i_;
        }
        bool operator!=(const iterator& o) const
        {
            return i_ != o.i_;
        }
        size_t index() const
        {
            return i_;
        }

    private:
        const ScriptValues* list_ = nullptr;
        size_t i_ = 0;
    };
    iterator begin() const
    {
        return iterator(this, 0);
    }
    iterator end() const
    {
        return iterator(this, size());
    }

    friend bool operator==(const ScriptValues& a, const ScriptValues& b);

private:
    friend class ScriptValuesBuilder;
    const uint32_t* Head() const
    {
        return reinterpret_cast<const uint32_t*>(block_);
    }
    const char* Texts() const
    {
        return block_ + sizeof(uint32_t) * (Head()[0] + 1);
    }
    size_t BlockSize() const;
    void Release();

    char* block_ = nullptr; // null: no values
    bool owned_ = false;
};

// Gathers the values of a line (reused from line to line, so it allocates only while it grows).
class ScriptValuesBuilder {
public:
    void Clear()
    {
        chars_.clear();
        ends_.clear();
    }
    void Add(std::string_view text)
    {
        chars_.append(text);
        ends_.push_back(static_cast<uint32_t>(chars_.size()));
    }
    void AddAll(const ScriptValues& values)
    {
        for (std::string_view v : values)
            Add(v);
    }
    void PushFront(std::string_view text);
    size_t size() const
    {
        return ends_.size();
    }
    bool empty() const
    {
        return ends_.empty();
    }
    std::string_view operator[](size_t i) const
    {
        uint32_t b = i ? ends_[i - 1] : 0;
        return std::string_view(chars_).substr(b, ends_[i] - b);
    }
    // The list: in `arena` (not owning) or, without one, on the heap.
    ScriptValues Finish(ScriptArena* arena) const;

private:
    std::string chars_;
    std::vector<uint32_t> ends_;
};

struct ScriptAttr {
    ScriptKeyword keyword = kKwNone; // functions keep their action line under kKwAction
    ScriptValues values; // for a function's action: the action keyword, then the line's values
};

// One definition (device, item, function, map or plugin). Definitions, their constraint lists and
// their attributes live in their file's arena: a file of thousands of definitions makes no heap
// allocation per definition (a name longer than the string's own room excepted).
struct ScriptDef {
    ScriptKeyword kind = kKwNone; // kKwDevice, kKwItem, kKwFunction, kKwMap, kKwPlugin
    std::string name;
    bool constrained = false;
    ScriptValues constraints; // device-type names
    std::span<ScriptAttr> attrs; // replacing attributes once each; option and term once per line

    // The value list of a replacing attribute, null when it is not set.
    const ScriptValues* Get(ScriptKeyword keyword) const;
    // True when the constraints name the device type (ignoring case).
    bool Names(std::string_view deviceType) const;
};

// Definitions by name, ignoring case: every definition of a name in the order added. One flat table
// (open addressing over hashes, the definitions of a name chained by index), so that a file of
// thousands of definitions is indexed without a heap node per name.
class ScriptNameIndex {
public:
    void Add(const ScriptDef* def);
    // Calls `visit` for each definition named `name`, in the order added, until it returns true.
    template<typename Visit> const ScriptDef* FindFirst(std::string_view name, Visit visit) const
    {
        for (uint32_t e = Head(name); e != kNone; e = entries_[e].next)
            if (visit(entries_[e].def))
                return entries_[e].def;
        return nullptr;
    }

private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    struct Slot {
        uint32_t hash = 0;
        uint32_t head = kNone; // first entry; kNone: the slot is free
        uint32_t tail = kNone;
    };
    struct Entry {
        const ScriptDef* def;
        uint32_t next;
    };
    uint32_t Head(std::string_view name) const;
    std::vector<Slot> slots_;
    std::vector<Entry> entries_;
    size_t names_ = 0;
};

// The definitions of one file, in file order.
struct ScriptFile {
    ScriptFile() = default;
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    ~ScriptFile();

    std::string path;
    std::string name; // without directory (for diagnostics)
    ScriptArena arena; // the definitions and their value lists
    std::vector<ScriptDef*> defs; // in the arena; the file's destructor ends them
    std::vector<const ScriptDef*> devices; // device definitions in file order
    // Item, function, map and plugin definitions by kind and name (ignoring case), in file order.
    ScriptNameIndex byName[4];

    // The definition a device type uses for `name`: first one whose constraints name the type, else
    // the first unconstrained one (names compared ignoring case). Null when there is none.
    const ScriptDef* Find(ScriptKeyword kind, std::string_view name, std::string_view deviceType) const;
};

// Every file read, in reading order.
class ScriptLibrary {
public:
    // Reads one file; a file that cannot be opened is skipped (returns 0).
    int LoadFile(const std::string& path, std::string_view language);
    // Reads script text as if it were the file `name` (tests, fuzzing).
    void LoadText(std::string_view text, const std::string& name, std::string_view language);
    // Reads every file matching the pattern (directory and a mask with "*" and "?"), in name order.
    int LoadAll(const std::string& pattern, std::string_view language);
    void Clear();

    const std::vector<std::unique_ptr<ScriptFile>>& Files() const
    {
        return files_;
    }
    // The first device definition with that name (ignoring case), with its file; null when none.
    const ScriptDef* FindDevice(std::string_view name, const ScriptFile** file) const;

    // Detection: the n-th device definition (from 0, every file in order) with a detect attribute of at
    // least two values. False when there are fewer.
    struct DetectEntry {
        const ScriptDef* device;
        const ScriptFile* file;
        std::string oidText; // the detect OID, dotted (N.rest resolved with the device's roots)
        std::string value;
    };
    bool Detect(size_t n, DetectEntry* out) const;

private:
    std::vector<std::unique_ptr<ScriptFile>> files_;
};

// The program's scripts (global, as the monitor keeps them until it ends).
ScriptLibrary& ScriptGlobal();
// Reads every file matching the pattern (program directory joined with "talv*.dsc"); `language` is the text
// TvStrLanguageName of the user-interface language. Returns the number of files read.
int ScriptLoadAll(const std::string& pattern, std::string_view language);
// Detection over the global scripts: n from 0; false/empty when there is no n-th entry.
bool ScriptDetectEntry(size_t n, std::string* oidText);
bool ScriptDetectValue(size_t n, std::string* value);
bool ScriptDetectType(size_t n, std::string* type);
// The type whose expected detect value equals `value` exactly; empty when none.
std::string ScriptTypeForDetectValue(std::string_view value);
void ScriptFreeAll();

// Resolves an OID text in the N.rest notation: N 0 takes rest as it stands, N >= 1 the root entry N,
// "." and rest. Empty when N is beyond the roots, not a number, or there is no ".".
std::string ScriptResolveOid(std::string_view text, const ScriptValues* roots);
std::string ScriptResolveOid(std::string_view text, const std::vector<std::string>* roots);

// Names and OID texts are held in 256-character buffers: longer ones are cut to this.
constexpr size_t kScriptMaxName = 255;
