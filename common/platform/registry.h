// The registry: keys opened by path under a root, typed values read and written as bytes, values and
// subkeys enumerated by index. Windows uses the system registry (the "A" functions); elsewhere, and in
// Windows tests that ask for it, an in-memory registry that tests fill through this same interface.
//
// The in-memory registry keeps what callers may rely on from Windows: names are compared ignoring case;
// subkeys are enumerated sorted ignoring case; values in the order they were created (a value written
// again keeps its place). Wine's registry sorts values by name as well, so tests that run there must not
// depend on the value order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class RegRoot : uint8_t { LocalMachine, CurrentUser, ClassesRoot, Users };

// Value types, numbered as the system numbers them.
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

enum class RegStatus : uint8_t {
    Ok,
    NotFound, // no such key or value
    NoMoreItems, // enumeration past the last entry
    KeyDeleted, // the key was deleted while this handle was open
    HasSubkeys, // RegKeyDelete of a key that still has subkeys
    AccessDenied, // opened for reading only, or refused by the system
    BadName, // an empty or over-long key name (key names hold at most 255 characters)
    Failed, // any other failure of the system
};

const char* RegStatusText(RegStatus status);

enum class RegAccess : uint8_t { Read, ReadWrite };

// An open key; closed when it goes. Move-only.
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens an existing key; "" opens the root (or `parent`) itself. Path parts are separated by "\".
    RegStatus Open(RegRoot root, std::string_view path, RegAccess access = RegAccess::Read);
    RegStatus Open(const RegKey& parent, std::string_view path, RegAccess access = RegAccess::Read);
    // Opens the key for reading and writing, creating it and every missing key on its path.
    RegStatus Create(RegRoot root, std::string_view path, bool* created = nullptr);
    RegStatus Create(const RegKey& parent, std::string_view path, bool* created = nullptr);
    bool IsOpen() const
    {
        return handle_ != nullptr;
    }
    void Close();

    // A value's type and bytes ("" names the key's default value).
    RegStatus QueryValue(std::string_view name, uint32_t* type, std::string* data) const;
    RegStatus SetValue(std::string_view name, uint32_t type, std::string_view data);
    RegStatus DeleteValue(std::string_view name);
    // The index-th value or subkey; NoMoreItems past the last. Indices hold while the key is unchanged.
    RegStatus EnumValue(uint32_t index, std::string* name, uint32_t* type, std::string* data) const;
    RegStatus EnumKey(uint32_t index, std::string* name) const;

    // A string value (REG_SZ or REG_EXPAND_SZ, unexpanded) up to its first NUL; none for other types.
    std::optional<std::string> ReadString(std::string_view name) const;
    // A REG_DWORD value; none for other types or sizes.
    std::optional<uint32_t> ReadDword(std::string_view name) const;
    // Writes the text with its terminating NUL, as the system stores strings.
    RegStatus WriteString(std::string_view name, std::string_view text, uint32_t type = kRegSz);
    RegStatus WriteDword(std::string_view name, uint32_t value);

private:
    friend struct RegKeyAccess;
    void* handle_ = nullptr;
    bool memory_ = false; // which registry the handle belongs to
};

// Deletes a key that has no subkeys (its values go with it).
RegStatus RegKeyDelete(RegRoot root, std::string_view path);
// Deletes a key with everything below it.
RegStatus RegKeyDeleteTree(RegRoot root, std::string_view path);

// The in-memory registry: on Linux it is the only one. On Windows, `RegUseMemory(true)` makes keys opened
// afterwards live in memory (tests); keys already open stay where they are.
void RegUseMemory(bool on);
bool RegUsesMemory();
// Empties the in-memory registry (tests start from nothing).
void RegMemoryClear();
