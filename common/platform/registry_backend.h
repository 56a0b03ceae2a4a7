// What an implementation of the registry offers RegKey: handles are opaque pointers of the backend that
// made them. The in-memory backend serves both targets; the system backend exists on Windows only.
#pragma once

#include "common/platform/registry.h"

class RegBackend {
public:
    virtual ~RegBackend() = default;
    // Opens (or with `create`, creates) `path` below `parent`, or below `root` when `parent` is null.
    virtual RegStatus Open(
        void* parent, RegRoot root, std::string_view path, bool write, bool create, bool* created, void** handle)
        = 0;
    virtual void Close(void* handle) = 0;
    virtual RegStatus Query(void* handle, std::string_view name, uint32_t* type, std::string* data) = 0;
    virtual RegStatus Set(void* handle, std::string_view name, uint32_t type, std::string_view data) = 0;
    virtual RegStatus DeleteValue(void* handle, std::string_view name) = 0;
    virtual RegStatus EnumValue(void* handle, uint32_t index, std::string* name, uint32_t* type, std::string* data) = 0;
    virtual RegStatus EnumKey(void* handle, uint32_t index, std::string* name) = 0;
    // Deletes the key at `path` below `root`: with `tree`, everything below it too; without, only a key
    // without subkeys.
    virtual RegStatus DeleteKey(RegRoot root, std::string_view path, bool tree) = 0;
};

RegBackend& RegMemoryBackend();
// The system's registry; null where there is none (Linux).
RegBackend* RegSystemBackend();
