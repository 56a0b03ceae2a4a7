// The records of one configuration: schema and values together. The description reader builds them
// from a description file (every value none, every changed flag 0); the configuration store fills,
// changes and dumps the values in the same records. Wizards build the same records from their pages.
//
// Ownership and addresses: a description owns its sections, a section its items, a table item its
// columns and rows, each through a container of heap records, so that the address of a section, item,
// column or row never changes while the description lives (counterparts, wizard actions and plug-in
// pages keep pointers to them). Texts are 8-bit; "none" (std::nullopt) differs from the empty text.
#pragma once

#include "config/description/cfg_namemap.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Storage that lives as long as its owner and is given back all at once: blocks of 64 KB handed
// out in order. A description keeps its items and their attributes here, which saves a heap block
// per record while loading and a release per record when the description goes. The blocks of an
// arena that goes are kept (up to 32 MB in all) for the arenas that come after: a configuration
// tool loads descriptions again and again, and reused blocks cost neither page faults nor the heap's
// growing and trimming, whatever else the process allocated in between.
class CfgArena {
public:
    CfgArena() = default;
    CfgArena(const CfgArena&) = delete;
    CfgArena& operator=(const CfgArena&) = delete;
    ~CfgArena();

    // `bytes` of storage aligned to 8 bytes, valid until the arena is destroyed.
    void* Allocate(size_t bytes)
    {
        bytes = (bytes + 7) & ~size_t { 7 };
        if (bytes > left_)
            return AllocateInNewBlock(bytes);
        void* p = at_;
        at_ += bytes;
        left_ -= bytes;
        return p;
    }

private:
    void* AllocateInNewBlock(size_t bytes);

    static constexpr size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_; // kBlock bytes each
    std::vector<std::unique_ptr<char[]>> large_; // single allocations above kBlock
    char* at_ = nullptr;
    size_t left_ = 0;
};

// An argument list: texts kept one after another, each ended by a NUL, the whole list ended by an
// empty text ("a\0b\0\0"). So an empty text cannot be a member: it ends the list.
class CfgArgList {
public:
    CfgArgList() = default;
    CfgArgList(const CfgArgList& other);
    // A copy of `other` whose text lives in `arena`: it must not outlive the arena. Changing it, or
    // moving it elsewhere, copies the text to a block of its own first.
    CfgArgList(CfgArena& arena, const CfgArgList& other);
    CfgArgList(CfgArgList&& other) noexcept;
    CfgArgList& operator=(const CfgArgList& other);
    CfgArgList& operator=(CfgArgList&& other) noexcept;
    ~CfgArgList();

    // Copies up to the first empty text of `texts`.
    static CfgArgList FromTexts(const std::vector<std::string>& texts);

    // Number of members.
    size_t Count() const
    {
        return block_ ? block_->count : 0;
    }
    bool Empty() const
    {
        return Count() == 0;
    }
    // The n-th member (0-based); the empty text past the end.
    std::string_view At(size_t n) const;
    // Appends a member; an empty text is not added (it would end the list), a NUL ends the text.
    void Append(std::string_view text);
    // Appends a member known to be non-empty and free of NULs (the reader's split arguments).
    void AppendPlain(std::string_view text)
    {
        size_t used = Size();
        if (!block_ || used + text.size() + 1 > block_->capacity)
            Reserve(used + text.size() + 1);
        char* at = TextOf(block_) + used;
        std::memcpy(at, text.data(), text.size());
        at[text.size()] = '\0';
        block_->size = static_cast<uint32_t>(used + text.size() + 1);
        ++block_->count;
    }
    // Removes every member; the storage is kept for the next members.
    void Clear()
    {
        if (block_ && block_->count) {
            block_->count = 0;
            block_->size = 0;
        }
    }
    // The members as separate strings.
    std::vector<std::string> Texts() const;
    // The raw form: every member followed by a NUL, then one more NUL.
    std::string Raw() const;

    bool operator==(const CfgArgList& other) const;

    // Forward iteration over the members.
    class Iterator {
    public:
        Iterator(const char* at, const char* end)
            : at_(at)
            , end_(end)
        {
        }
        std::string_view operator*() const;
        Iterator& operator++();
        bool operator!=(const Iterator& other) const
        {
            return at_ != other.at_;
        }

    private:
        const char* at_;
        const char* end_;
    };
    Iterator begin() const
    {
        return Iterator(Data(), Data() + Size());
    }
    Iterator end() const
    {
        return Iterator(Data() + Size(), Data() + Size());
    }

private:
    // One block: the header, then the members, each followed by a NUL (the final empty text is
    // implied). A list that never held a member has no block, so an item's many absent or empty
    // lists cost one pointer each. A block in an arena has capacity 0: the list does not own it and
    // grows into a heap block of its own.
    struct Block {
        uint32_t count;
        uint32_t size; // bytes of member text in use
        uint32_t capacity; // bytes of member text the block holds; 0: the block is in an arena
    };
    bool Owned() const
    {
        return block_ && block_->capacity != 0;
    }
    void Release();
    // Points this list (which has no block) at a copy of `other` in `arena`.
    void CopyIn(CfgArena& arena, const CfgArgList& other);
    static char* TextOf(Block* b)
    {
        return reinterpret_cast<char*>(b + 1);
    }
    const char* Data() const
    {
        return block_ ? reinterpret_cast<const char*>(block_ + 1) : nullptr;
    }
    size_t Size() const
    {
        return block_ ? block_->size : 0;
    }
    void Reserve(size_t bytes);

    friend class CfgOptArgList;
    friend class CfgKindAttrs;
    Block* block_ = nullptr;
};

// An argument list or none, in the space of one pointer, used like CfgOptArgList for the
// list attributes of items and sections ("none" differs from the empty list: a present list always
// has a block, an empty one a shared block that nobody writes).
class CfgOptArgList {
public:
    CfgOptArgList() = default;
    CfgOptArgList(std::nullopt_t) { }
    CfgOptArgList(const CfgArgList& list)
        : list_(list)
    {
        Mark();
    }
    CfgOptArgList(CfgArgList&& list)
        : list_(std::move(list))
    {
        Mark();
    }
    CfgOptArgList(const CfgOptArgList& other)
        : list_(other.list_)
    {
        if (other)
            Mark();
    }
    CfgOptArgList(CfgOptArgList&& other) noexcept
    {
        bool present = other.has_value();
        list_ = std::move(other.list_);
        if (present)
            Mark();
        other.reset();
    }
    CfgOptArgList& operator=(const CfgOptArgList& other)
    {
        if (this != &other) {
            list_ = other.list_;
            if (other)
                Mark();
            else
                reset();
        }
        return *this;
    }
    CfgOptArgList& operator=(CfgOptArgList&& other) noexcept
    {
        if (this != &other) {
            bool present = other.has_value();
            list_ = std::move(other.list_);
            other.reset();
            if (present)
                Mark();
            else
                reset();
        }
        return *this;
    }
    CfgOptArgList& operator=(std::nullopt_t)
    {
        reset();
        return *this;
    }

    bool has_value() const
    {
        return list_.block_ != nullptr;
    }
    explicit operator bool() const
    {
        return has_value();
    }
    const CfgArgList& operator*() const
    {
        return list_;
    }
    CfgArgList& operator*()
    {
        return list_;
    }
    const CfgArgList* operator->() const
    {
        return &list_;
    }
    CfgArgList* operator->()
    {
        return &list_;
    }
    void reset()
    {
        list_.Release();
    }
    // Makes the list present with the members of `list` (by default present and empty).
    CfgArgList& emplace(const CfgArgList& list = CfgArgList())
    {
        list_ = list;
        Mark();
        return list_;
    }
    // The same with the text kept in `arena` (see CfgArgList's arena constructor).
    CfgArgList& emplace(CfgArena& arena, const CfgArgList& list)
    {
        list_.Release();
        list_.CopyIn(arena, list);
        Mark();
        return list_;
    }
    bool operator==(const CfgOptArgList& other) const
    {
        return has_value() == other.has_value() && list_ == other.list_;
    }
    bool operator==(std::nullopt_t) const
    {
        return !has_value();
    }

private:
    // A present list keeps a block even when empty.
    void Mark()
    {
        if (!list_.block_)
            list_.block_ = &kPresentEmpty;
    }
    static inline CfgArgList::Block kPresentEmpty { 0, 0, 0 };

    friend class CfgKindAttrs;
    CfgArgList list_;
};

// A text or none, in the space of one pointer, used like std::optional<std::string> for the text
// attributes of items ("none" differs from the empty text). Reading gives the text as a view or as
// a copy; a text in an arena (CfgArena) is copied to a block of its own when it is copied or moved.
class CfgOptText {
public:
    CfgOptText() = default;
    CfgOptText(std::nullopt_t) { }
    CfgOptText(std::string_view text)
    {
        Assign(text);
    }
    CfgOptText(const char* text)
        : CfgOptText(std::string_view(text))
    {
    }
    CfgOptText(const std::string& text)
        : CfgOptText(std::string_view(text))
    {
    }
    CfgOptText(const CfgOptText& other)
    {
        if (other)
            Assign(other.View());
    }
    CfgOptText(CfgOptText&& other) noexcept;
    CfgOptText& operator=(const CfgOptText& other);
    CfgOptText& operator=(CfgOptText&& other) noexcept;
    ~CfgOptText()
    {
        reset();
    }

    bool has_value() const
    {
        return block_ != nullptr;
    }
    explicit operator bool() const
    {
        return has_value();
    }
    // The text (empty when none), valid until the text is changed.
    std::string_view View() const
    {
        return block_ ? std::string_view(reinterpret_cast<const char*>(block_ + 1), block_->size) : std::string_view();
    }
    // A copy of the text.
    std::string operator*() const
    {
        return std::string(View());
    }
    // Member access on the text as a std::string_view (find, empty, size ...).
    struct ViewAccess {
        std::string_view view;
        const std::string_view* operator->() const
        {
            return &view;
        }
    };
    ViewAccess operator->() const
    {
        return ViewAccess { View() };
    }
    operator std::optional<std::string>() const
    {
        return block_ ? std::optional<std::string>(std::string(View())) : std::nullopt;
    }
    void reset();
    // Makes the text present with `text` kept in `arena`: it must not outlive the arena.
    void emplace(CfgArena& arena, std::string_view text);
    bool operator==(const CfgOptText& other) const
    {
        return has_value() == other.has_value() && View() == other.View();
    }
    bool operator==(std::nullopt_t) const
    {
        return !has_value();
    }

private:
    struct Block {
        uint32_t size;
        uint32_t owned; // 0: the block is in an arena
    };
    void Assign(std::string_view text);
    // Writes `text` into `storage` (a block header's room and the text's) and makes it this text's.
    void Take(void* storage, std::string_view text, bool owned);

    friend class CfgKindAttrs;
    Block* block_ = nullptr;
};

// Element kinds; the numbers are those the plug-in interface and wizard pages use.
enum CfgItemKind : uint32_t {
    CfgKindNone = 0,
    CfgKindGroup = 1, // "group": frame around the following items (no name, no attributes)
    CfgKindGroupLogo = 2, // "group_logo": frame with the logo (no name, no attributes)
    CfgKindGroupEnd = 3, // "group_end": ends the innermost frame (no name, no attributes)
    CfgKindSeparator = 4, // "separator" (no name, no attributes)
    CfgKindStaticText = 5, // "static_text" (no name)
    CfgKindStaticIcon = 6, // "static_icon" (no name)
    CfgKindReadonlyText = 7, // "readonly_text"
    CfgKindEntryText = 8, // "entryfield_text"
    CfgKindEntryNumbers = 9, // "entryfield_numbers"
    CfgKindEntryHex = 10, // "entryfield_hex"
    CfgKindEntryIpAddress = 11, // "entryfield_ipaddress"
    CfgKindEntryNumeric = 12, // "entryfield_numeric"
    CfgKindEntryDate = 13, // "entryfield_date"
    CfgKindEntryTime = 14, // "entryfield_time"
    CfgKindEntryDateTime = 15, // "entryfield_datetime"
    CfgKindSlider = 16, // "numeric_slider"
    CfgKindSelectionButtons = 17, // "selection_buttons"
    CfgKindSelectionList = 18, // "selection_list"
    CfgKindSelectionFromTable = 19, // "selection_list_from_table"
    CfgKindOnOff = 20, // "onoff_switch"
    CfgKindTable = 0x8015, // "table"
};

// The element keyword of a kind ("group", ..., "table"), or nullptr for an unknown kind.
const char* CfgKindKeyword(uint32_t kind);
// True for kinds 1 to 6, which have no name and keep their whole argument list as description.
inline bool CfgKindIsDecoration(uint32_t kind)
{
    return kind >= CfgKindGroup && kind <= CfgKindStaticIcon;
}
// True for the kinds that may be table columns (7 to 20).
inline bool CfgKindIsColumn(uint32_t kind)
{
    return kind >= CfgKindReadonlyText && kind <= CfgKindOnOff;
}

// Element attributes, in the order of the attribute table. `CfgItem::attrSet` has bit (1 << attr)
// set for each attribute that an attribute line gave the item.
enum CfgAttr : uint32_t {
    CfgAttrDescription,
    CfgAttrHelpId,
    CfgAttrAlias,
    CfgAttrArrange,
    CfgAttrMulticfg,
    CfgAttrChangeItem,
    CfgAttrEnableItem,
    CfgAttrItemText,
    CfgAttrItemValue,
    CfgAttrDefaultValue,
    CfgAttrMaxLen,
    CfgAttrNeverEmpty,
    CfgAttrHidden,
    CfgAttrFill,
    CfgAttrAddToCharset,
    CfgAttrConvertToUpper,
    CfgAttrSort,
    CfgAttrNoEdit,
    CfgAttrNoDuplicates,
    CfgAttrNeverZero,
    CfgAttrVeryImportant,
    CfgAttrRangeMin,
    CfgAttrRangeMax,
    CfgAttrStep,
    CfgAttrFactor,
    CfgAttrYearIsWildcard,
    CfgAttrShowSeconds,
    CfgAttrLowerBuddy,
    CfgAttrUpperBuddy,
    CfgAttrFormat,
    CfgAttrUnit,
    CfgAttrButtonText,
    CfgAttrBshortText,
    CfgAttrButtonValue,
    CfgAttrDefaultSelection,
    CfgAttrItemsFromTable,
    CfgAttrValueList,
    CfgAttrValueText,
    CfgAttrStaticTableMenu,
    CfgAttrStaticTableOverlay,
    CfgAttrStaticTableJoin,
    CfgAttrMaxItems,
    CfgAttrNumColumns,
    CfgAttrAutoIndex,
    CfgAttrMergeEntrys,
    CfgAttrDefaultAdd,
    CfgAttrCount
};

struct CfgItem;
struct CfgSection;
struct CfgDescription;

// The form of an attribute's value.
enum class CfgAttrForm : uint8_t {
    Number, // first argument read as an unsigned number
    Text, // first argument
    List, // the whole argument list
};

// The first attribute that only some kinds accept (CfgAttrAccepts); those before it every named kind
// accepts and every item keeps in a field of its own.
constexpr CfgAttr CfgAttrFirstKindSpecific = CfgAttrItemText;

// The kind-specific attributes of an item: only those the item has, each under its attribute and form
// (a numeric_slider's "default_value" is a number, everybody else's a text), in one block of slots.
// Absent attributes read as 0 and none. The block has room for four attributes at first and moves to
// one twice the size when full: in the description's arena while the loader adds them, of its own
// otherwise. So a reference to a slot stays valid only until another attribute is added.
class CfgKindAttrs {
public:
    CfgKindAttrs() = default;
    CfgKindAttrs(const CfgKindAttrs& other);
    CfgKindAttrs(CfgKindAttrs&& other) noexcept
        : block_(other.block_)
    {
        other.block_ = nullptr;
    }
    CfgKindAttrs& operator=(const CfgKindAttrs& other);
    CfgKindAttrs& operator=(CfgKindAttrs&& other) noexcept;
    ~CfgKindAttrs()
    {
        Clear();
    }

    uint32_t Number(CfgAttr attr) const
    {
        const Slot* s = Find(Key(attr, CfgAttrForm::Number));
        return s ? *std::launder(reinterpret_cast<const uint32_t*>(s)) : 0;
    }
    const CfgOptText& Text(CfgAttr attr) const;
    const CfgOptArgList& List(CfgAttr attr) const;
    // The slot of an attribute, added (0, none) when absent; a new block is made in `arena` when one
    // is given (the loader's, whose items go with the arena).
    uint32_t& NumberSlot(CfgAttr attr, CfgArena* arena = nullptr)
    {
        return *std::launder(reinterpret_cast<uint32_t*>(Add(Key(attr, CfgAttrForm::Number), arena)));
    }
    CfgOptText& TextSlot(CfgAttr attr, CfgArena* arena = nullptr)
    {
        return *std::launder(reinterpret_cast<CfgOptText*>(Add(Key(attr, CfgAttrForm::Text), arena)));
    }
    CfgOptArgList& ListSlot(CfgAttr attr, CfgArena* arena = nullptr)
    {
        return *std::launder(reinterpret_cast<CfgOptArgList*>(Add(Key(attr, CfgAttrForm::List), arena)));
    }
    // Number of attributes kept.
    size_t Count() const
    {
        return block_ ? block_->count : 0;
    }
    void Clear();

private:
    // A slot holds a uint32_t, a CfgOptText or a CfgOptArgList (each the size of one pointer).
    struct alignas(8) Slot {
        unsigned char bytes[8];
    };
    // The header, then `capacity` keys (rounded up to 8 bytes), then `capacity` slots.
    struct Block {
        uint8_t count;
        uint8_t capacity;
        uint8_t owned; // 0: the block is in an arena
        uint8_t unused[5];
    };
    static uint8_t Key(CfgAttr attr, CfgAttrForm form)
    {
        return static_cast<uint8_t>(attr | static_cast<uint32_t>(form) << 6);
    }
    static uint8_t* KeysOf(Block* b)
    {
        return reinterpret_cast<uint8_t*>(b + 1);
    }
    static Slot* SlotsOf(Block* b)
    {
        return reinterpret_cast<Slot*>(KeysOf(b) + ((b->capacity + 7u) & ~7u));
    }
    const Slot* Find(uint8_t key) const
    {
        if (!block_)
            return nullptr;
        const uint8_t* keys = KeysOf(block_);
        for (uint8_t i = 0; i < block_->count; ++i)
            if (keys[i] == key)
                return SlotsOf(block_) + i;
        return nullptr;
    }
    Slot* Add(uint8_t key, CfgArena* arena);
    // A new empty block with room for `capacity` slots, in `arena` or of its own.
    static Block* MakeBlock(size_t capacity, CfgArena* arena);
    // Constructs in `to` a copy of the slot `from` of form `key`.
    static void CopySlot(uint8_t key, Slot* to, const Slot* from);
    // Constructs in `to` the value of `from` and leaves `from` none; the text or list keeps its storage
    // (wherever it is), so nothing is copied.
    static void MoveSlot(uint8_t key, Slot* to, Slot* from);

    Block* block_ = nullptr;
};

// Gives an item back: destroys it, and frees its storage unless the description's arena holds it
// (the arena gives it back with the description).
struct CfgItemDelete {
    void operator()(CfgItem* item) const;
};
using CfgItemPtr = std::unique_ptr<CfgItem, CfgItemDelete>;

// Number of column slots of a table row.
constexpr size_t CfgMaxColumns = 64;
// Bit 31 of a column's max_len marks the column as merged while its table's editing dialog is open.
constexpr uint32_t CfgMaxLenMerged = 0x80000000u;

// One table entry. Slot n-1 holds column n (in the order of the table's column items); column 1 is
// the row's key.
struct CfgRow {
    std::array<std::optional<std::string>, CfgMaxColumns> cells;
};

// One element line of a description or wizard page; table columns are items too.
struct CfgItem {
    // --- common fields ---
    uint32_t changed = 0; // 1 after a change through the store or the plug-in interface; reading does not set it
    uint32_t state = 0; // bit 0 (CfgItemDisabled): disabled by a wizard action, shown greyed
    CfgItem* counterpart = nullptr; // the item at the same position in the next description of a group
    CfgSection* section = nullptr; // the section that holds the item (for a column: the table's section)
    CfgItem* table = nullptr; // for a column: its table item; nullptr otherwise
    uint32_t kind = CfgKindNone; // CfgItemKind
    uint32_t id = 0; // second creation argument; non-zero: the item's bit mask in configuration texts
    std::optional<std::string> name; // key in the store and in configuration texts; none for kinds 1 to 6
    CfgOptArgList alias; // "alias": its first text is a second name
    CfgOptArgList description; // display text: creation arguments of kinds 1-6, or "description"
    uint32_t helpId = 0; // "help_id"
    bool inArena = false; // the record lives in its description's arena (CfgItemDelete)
    std::optional<std::string> value; // current value; none until a configuration is read
    uint32_t multicfg = 0; // "multicfg": may be configured for several devices at once
    uint32_t arrange = 0; // "arrange": layout hint for the dialog builder
    CfgOptArgList changeItem; // "change_item": items that follow a change of this one
    CfgOptArgList enableItem; // "enable_item": items enabled by this one
    uint64_t attrSet = 0; // bit (1 << CfgAttr) for every attribute line taken

    CfgKindAttrs kindAttrs; // the attributes from "item_text" on (Number, Text, List give them)
    std::vector<CfgItemPtr> columns; // column items in order (kinds 7 to 20)
    std::list<CfgRow> rows; // rows in the order added; std::list keeps row addresses stable

    bool IsTable() const
    {
        return kind == CfgKindTable;
    }
    bool HasAttr(CfgAttr attr) const
    {
        return (attrSet >> attr) & 1u;
    }

    // Any attribute by its number (a slider's "default_value" is its Number), 0 or none when absent.
    uint32_t Number(CfgAttr attr) const;
    const CfgOptText& Text(CfgAttr attr) const
    {
        return kindAttrs.Text(attr);
    }
    const CfgOptArgList& List(CfgAttr attr) const;
    // Sets an attribute (does not touch attrSet, which records the attribute lines read).
    void SetNumber(CfgAttr attr, uint32_t value);
    void SetText(CfgAttr attr, CfgOptText text)
    {
        kindAttrs.TextSlot(attr) = std::move(text);
    }
    void SetList(CfgAttr attr, CfgOptArgList list);
};

constexpr uint32_t CfgItemDisabled = 0x1;

struct WizCondition;
struct WizAction;

// A wizard condition ("skip_when"): three texts, copies of the line's arguments.
struct WizCondition {
    std::string operand1;
    std::string operand2;
    std::string op;
};

// A wizard action line ("set", "cat", ...) with the conditions under which it is skipped.
struct WizAction {
    std::string keyword;
    CfgArgList args;
    std::vector<WizCondition> conditions;
};

// One page of a configuration (or of a wizard).
struct CfgSection {
    CfgDescription* owner = nullptr; // the description (or wizard page list, whose first page it leads to)
    std::string name; // "section" name; "section_plugin" for a description's page served by a plug-in
    std::optional<std::string> title; // second "section" argument / "section_plugin" title
    bool plugin = false; // served by a plug-in library ("section_plugin"; a wizard's keeps its name)
    CfgOptArgList module; // plug-in "module": library file name [, entry point]
    CfgOptArgList params; // plug-in "module_param" pairs: key, value, key, value, ...
    uint32_t multicfg = 0; // set at the end of loading when any item has a non-zero multicfg
    std::vector<CfgItemPtr> items; // items in file order (a table's columns live in the table)
    // Wizard pages only:
    std::vector<WizCondition> conditions; // page conditions ("skip_when" outside action blocks)
    std::vector<WizAction> onShow; // "on_show" actions
    std::vector<WizAction> onBack; // "on_back" actions
    std::vector<WizAction> onNext; // "on_next" actions

    bool IsPlugin() const
    {
        return plugin || name == "section_plugin";
    }
};

// Flags of a description.
constexpr uint32_t CfgDescNotFromDevice = 0x1; // read from a configuration file or made new
constexpr uint32_t CfgDescNew = 0x2; // made new from the device's initial data
constexpr uint32_t CfgDescSimplified = 0x4; // loaded in the simplified mode, which left lines out

// Name lookup index of a description: built by CfgIndexNames over the items of all sections (not the
// columns), in section and item order. Keys are the names lowered (names compare ignoring case).
// Anything that adds, removes or renames items or sections must call CfgIndexNames again.
// The items of one name in order: nearly always one, kept in place; more in a vector of their own.
class CfgItemRefs {
public:
    CfgItemRefs() = default;
    explicit CfgItemRefs(CfgItem* item)
        : one_(item)
    {
    }
    size_t size() const
    {
        return more_ ? more_->size() : (one_ ? 1 : 0);
    }
    bool empty() const
    {
        return size() == 0;
    }
    CfgItem* const* begin() const
    {
        return more_ ? more_->data() : &one_;
    }
    CfgItem* const* end() const
    {
        return begin() + size();
    }
    CfgItem* operator[](size_t n) const
    {
        return begin()[n];
    }
    CfgItem* front() const
    {
        return begin()[0];
    }
    void push_back(CfgItem* item)
    {
        if (!one_ && !more_) {
            one_ = item;
            return;
        }
        if (!more_)
            more_ = std::make_unique<std::vector<CfgItem*>>(1, one_);
        more_->push_back(item);
    }

private:
    CfgItem* one_ = nullptr;
    std::unique_ptr<std::vector<CfgItem*>> more_;
};

struct CfgNameIndex {
    CfgNameMap<CfgItemRefs> byName; // every item of that name, in order
    CfgNameMap<CfgItem*> byAlias; // first item whose first alias text is the key
};

// Enters the names added with byName.AddLaterNoCase into the index (the items of a name given
// twice joined in order).
void CfgSettleNames(CfgNameIndex& names);

// The root: one configuration of one device type.
struct CfgDescription {
    CfgArena arena; // the argument lists the reader gave the items (declared first: it goes last)
    std::string pattern; // device pattern of the taken "version" header (its first argument)
    uint32_t flags = 0; // CfgDescNotFromDevice, CfgDescNew, CfgDescSimplified
    uint32_t multicfg = 0; // non-zero when any section's multicfg flag is set
    std::vector<std::unique_ptr<CfgSection>> sections; // sections in file order
    CfgNameIndex names; // lookup index by name and alias (CfgIndexNames)

    // Appends a new empty section owned by this description.
    CfgSection* AddSection(std::string name, std::optional<std::string> title);
};

// Appends a new item of `kind` to a section / a column to a table item; fills the back pointers.
CfgItem* CfgAddItem(CfgSection* section, uint32_t kind);
CfgItem* CfgAddColumn(CfgItem* table, uint32_t kind);

// (Re)builds the description's name index.
void CfgIndexNames(CfgDescription& desc);

// Recomputes the multi-configuration flags: a section's when any of its items has a non-zero
// multicfg, the description's when any section's is.
void CfgComputeMulticfg(CfgDescription& desc);

// The attribute table shared by description and wizard readers (and by copies and dumps of items):
// keyword, form of the value and where the item keeps it.
struct CfgAttrInfo {
    const char* keyword; // "description", "help_id", ...
    CfgAttr attr;
    CfgAttrForm form; // "default_value" of a numeric_slider (16): Number
    uint32_t CfgItem::*number; // an attribute every named kind accepts, form Number: its field
    CfgOptArgList CfgItem::*list; // ... form List: its field
    uint32_t kinds; // CfgKindBit of the kinds that accept it in descriptions
    uint32_t wizardKinds; // ... in wizard pages
};
// Bit 1 << kind of kinds 1 to 20, bit 21 for a table, 0 for anything else.
inline uint32_t CfgKindBit(uint32_t kind)
{
    if (kind == CfgKindTable)
        return 1u << 21;
    return kind >= 1 && kind <= 20 ? 1u << kind : 0;
}
// CfgAttrAccepts for an attribute's entry (the loader's check for every attribute line).
inline bool CfgAttrAccepts(const CfgAttrInfo& info, uint32_t kind, bool wizard = false)
{
    return ((wizard ? info.wizardKinds : info.kinds) & CfgKindBit(kind)) != 0;
}
// The form an item of `kind` keeps the attribute in.
inline CfgAttrForm CfgAttrFormOf(const CfgAttrInfo& info, uint32_t kind)
{
    return info.attr == CfgAttrDefaultValue && kind == CfgKindSlider ? CfgAttrForm::Number : info.form;
}
// CfgAttrCount entries, in CfgAttr order.
const CfgAttrInfo* CfgAttrTable();
// The entry of an attribute keyword (exact comparison), or nullptr.
const CfgAttrInfo* CfgFindAttr(std::string_view keyword);
// True when an item of `kind` accepts the attribute; `wizard` applies the wizard pages' grammar
// (no help_id, multicfg, sort, no_edit, static_table_join; never_empty only for 8, 9, 10 and 19).
bool CfgAttrAccepts(CfgAttr attr, uint32_t kind, bool wizard = false);
// The element kind of a keyword (exact comparison), or CfgKindNone.
uint32_t CfgKindFromKeyword(std::string_view keyword);
// Both in one lookup: the element kind of a keyword into *kind (CfgKindNone when it is none), and its
// attribute entry, or nullptr.
const CfgAttrInfo* CfgFindKeyword(std::string_view keyword, uint32_t* kind);

using CfgDescriptionPtr = std::unique_ptr<CfgDescription>;
