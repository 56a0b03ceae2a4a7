// The system registry through the "A" functions that every Windows version has (no RegDeleteTree, which
// came with Vista: trees are deleted key by key).
#include "common/platform/registry_backend.h"

#include <windows.h>

#include <vector>

namespace {
RegStatus FromError(LONG error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return RegStatus::Ok;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return RegStatus::NotFound;
    case ERROR_NO_MORE_ITEMS:
        return RegStatus::NoMoreItems;
    case ERROR_KEY_DELETED:
        return RegStatus::KeyDeleted;
    case ERROR_ACCESS_DENIED:
        return RegStatus::AccessDenied;
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        return RegStatus::BadName;
    default:
        return RegStatus::Failed;
    }
}

HKEY RootKey(RegRoot root)
{
    switch (root) {
    case RegRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegRoot::Users:
        break;
    }
    return HKEY_USERS;
}

// Key names hold at most 255 characters; the system answers longer ones inconsistently across versions.
bool NamesFit(std::string_view path)
{
    size_t run = 0;
    for (char c : path) {
        run = (c == '\\') ? 0 : run + 1;
        if (run > 255)
            return false;
    }
    return true;
}

class SystemRegistry : public RegBackend {
public:
    RegStatus Open(void* parent, RegRoot root, std::string_view path, bool write, bool create, bool* created,
        void** handle) override
    {
        *handle = nullptr;
        if (created)
            *created = false;
        if (!NamesFit(path))
            return RegStatus::BadName;
        HKEY base = parent ? static_cast<HKEY>(parent) : RootKey(root);
        std::string p(path);
        REGSAM access = KEY_READ | (write ? KEY_WRITE : 0);
        HKEY key = nullptr;
        LONG error;
        if (create) {
            DWORD disposition = 0;
            error = RegCreateKeyExA(
                base, p.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disposition);
            if (error == ERROR_SUCCESS && created)
                *created = disposition == REG_CREATED_NEW_KEY;
        } else {
            error = RegOpenKeyExA(base, p.c_str(), 0, access, &key);
        }
        if (error != ERROR_SUCCESS)
            return FromError(error);
        *handle = key;
        return RegStatus::Ok;
    }

    void Close(void* handle) override
    {
        RegCloseKey(static_cast<HKEY>(handle));
    }

    RegStatus Query(void* handle, std::string_view name, uint32_t* type, std::string* data) override
    {
        std::string n(name);
        DWORD size = 256;
        for (int tries = 0; tries < 8; ++tries) {
            data->resize(size);
            DWORD t = 0;
            DWORD got = size;
            LONG error = RegQueryValueExA(
                static_cast<HKEY>(handle), n.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(data->data()), &got);
            if (error == ERROR_SUCCESS) {
                data->resize(got);
                *type = t;
                return RegStatus::Ok;
            }
            if (error != ERROR_MORE_DATA)
                return FromError(error);
            size = got > size ? got : size * 2;
        }
        return RegStatus::Failed;
    }

    RegStatus Set(void* handle, std::string_view name, uint32_t type, std::string_view data) override
    {
        std::string n(name);
        return FromError(RegSetValueExA(static_cast<HKEY>(handle), n.c_str(), 0, type,
            reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
    }

    RegStatus DeleteValue(void* handle, std::string_view name) override
    {
        std::string n(name);
        return FromError(RegDeleteValueA(static_cast<HKEY>(handle), n.c_str()));
    }

    RegStatus EnumValue(void* handle, uint32_t index, std::string* name, uint32_t* type, std::string* data) override
    {
        HKEY key = static_cast<HKEY>(handle);
        DWORD maxName = 0, maxData = 0;
        LONG error = RegQueryInfoKeyA(
            key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return FromError(error);
        DWORD nameRoom = maxName + 1;
        DWORD dataRoom = maxData + 1;
        // The key may change between the two calls: grow and ask again.
        for (int tries = 0; tries < 8; ++tries) {
            std::vector<char> n(nameRoom);
            data->resize(dataRoom);
            DWORD nameLen = nameRoom;
            DWORD dataLen = dataRoom;
            DWORD t = 0;
            error = RegEnumValueA(
                key, index, n.data(), &nameLen, nullptr, &t, reinterpret_cast<BYTE*>(data->data()), &dataLen);
            if (error == ERROR_SUCCESS) {
                name->assign(n.data(), nameLen);
                data->resize(dataLen);
                *type = t;
                return RegStatus::Ok;
            }
            if (error != ERROR_MORE_DATA)
                return FromError(error);
            nameRoom *= 2;
            dataRoom = dataLen > dataRoom ? dataLen : dataRoom * 2;
        }
        return RegStatus::Failed;
    }

    RegStatus EnumKey(void* handle, uint32_t index, std::string* name) override
    {
        char n[256];
        DWORD len = sizeof n;
        LONG error = RegEnumKeyExA(static_cast<HKEY>(handle), index, n, &len, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return FromError(error);
        name->assign(n, len);
        return RegStatus::Ok;
    }

    RegStatus DeleteKey(RegRoot root, std::string_view path, bool tree) override
    {
        if (!NamesFit(path))
            return RegStatus::BadName;
        std::string p(path);
        HKEY key = nullptr;
        LONG error = RegOpenKeyExA(RootKey(root), p.c_str(), 0, KEY_READ | KEY_WRITE, &key);
        if (error != ERROR_SUCCESS)
            return FromError(error);
        RegStatus status = tree ? DeleteSubkeys(key) : CheckNoSubkeys(key);
        RegCloseKey(key);
        if (status != RegStatus::Ok)
            return status;
        // The Windows 9x RegDeleteKeyA would delete a whole tree: the check above keeps the NT meaning.
        return FromError(RegDeleteKeyA(RootKey(root), p.c_str()));
    }

private:
    static RegStatus CheckNoSubkeys(HKEY key)
    {
        DWORD subkeys = 0;
        LONG error = RegQueryInfoKeyA(
            key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS)
            return FromError(error);
        return subkeys ? RegStatus::HasSubkeys : RegStatus::Ok;
    }

    static RegStatus DeleteSubkeys(HKEY key)
    {
        char n[256];
        for (;;) {
            DWORD len = sizeof n;
            LONG error = RegEnumKeyExA(key, 0, n, &len, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_NO_MORE_ITEMS)
                return RegStatus::Ok;
            if (error != ERROR_SUCCESS)
                return FromError(error);
            HKEY sub = nullptr;
            error = RegOpenKeyExA(key, n, 0, KEY_READ | KEY_WRITE, &sub);
            if (error != ERROR_SUCCESS)
                return FromError(error);
            RegStatus status = DeleteSubkeys(sub);
            RegCloseKey(sub);
            if (status != RegStatus::Ok)
                return status;
            error = RegDeleteKeyA(key, n);
            if (error != ERROR_SUCCESS)
                return FromError(error);
        }
    }
};
} // namespace

RegBackend* RegSystemBackend()
{
    static SystemRegistry registry;
    return &registry;
}
