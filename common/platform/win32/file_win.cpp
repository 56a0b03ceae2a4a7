#include "common/platform/file.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {
std::atomic<unsigned> g_counter { 0 };

bool ProcessRuns(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER; // no such process; access denied: it runs
    DWORD code = 0;
    bool runs = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

// Removes the new files that writers killed before their rename left beside `path` ("NAME.~PID-N" of a
// process that no longer runs). Files of running processes, this one included, are theirs to finish.
void RemoveAbandoned(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".~";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + ".~*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name.size() <= prefix.size() || _strnicmp(name.c_str(), prefix.c_str(), prefix.size()) != 0)
            continue;
        std::string rest = name.substr(prefix.size());
        size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || dash > 9 || dash + 1 == rest.size()
            || rest.find_first_not_of("0123456789-") != std::string::npos)
            continue;
        DWORD pid = static_cast<DWORD>(std::stoul(rest.substr(0, dash)));
        if (pid == GetCurrentProcessId() || ProcessRuns(pid))
            continue;
        DeleteFileA((dir + name).c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

// A file with the read-only attribute, or one this user may not write, is never replaced.
bool MayReplace(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(h);
    return true;
}
} // namespace

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int FileWriteAtomic(const std::string& path, std::string_view data)
{
    if (!MayReplace(path))
        return 0;
    RemoveAbandoned(path);
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
