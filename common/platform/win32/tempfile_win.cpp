#include "common/platform/tempfile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace {
HANDLE CreateIn(const char* dir, const char* prefix, std::string* path)
{
    char name[MAX_PATH];
    if (!GetTempFileNameA(dir, prefix, 0, name))
        return INVALID_HANDLE_VALUE;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        return h;
    }
    if (path)
        *path = name;
    return h;
}
} // namespace

FILE* TempFileOpen(const char* prefix, std::string* path)
{
    char dir[MAX_PATH];
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n > 0 && n < sizeof dir)
        h = CreateIn(dir, prefix, path);
    if (h == INVALID_HANDLE_VALUE) {
        n = GetWindowsDirectoryA(dir, sizeof dir);
        if (n > 0 && n < sizeof dir)
            h = CreateIn(dir, prefix, path);
    }
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* f = _fdopen(fd, "w+b");
    if (!f)
        _close(fd);
    return f;
}
