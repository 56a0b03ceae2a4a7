#include "common/platform/file.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace {
std::atomic<unsigned> g_counter { 0 };
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int FileWriteAtomic(const std::string& path, std::string_view data)
{
    // A name of its own per process and write, so two writers never share a half-written file.
    std::string temp = path + ".~" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(g_counter++);
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 1;
    const char* p = data.data();
    size_t left = data.size();
    while (ok && left > 0) {
        DWORD chunk = left > 0x100000 ? 0x100000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            ok = 0;
        p += written;
        left -= written;
    }
    if (ok && !FlushFileBuffers(h))
        ok = 0;
    CloseHandle(h);
    if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        ok = 0;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return 0;
    }
    return 1;
}

std::string FileProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return ".";
    std::string self(path, n);
    size_t slash = self.find_last_of("\\/");
    return slash == std::string::npos ? "." : self.substr(0, slash);
}
