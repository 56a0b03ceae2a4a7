#include "common/datafolder.h"

#include <windows.h>

#include <atomic>
#include <shlobj.h>

namespace {
std::atomic<unsigned> g_probe { 0 };

bool TakesFiles(const std::string& folder)
{
    // A real new file: the folder's attributes say nothing about a CD, a share's rights or the
    // access list of Program Files.
    std::string probe = folder + "\\~write-probe-" + std::to_string(GetCurrentProcessId()) + "-"
        + std::to_string(g_probe.fetch_add(1)) + ".tmp";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

std::string UserDataRoot()
{
    char path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))
        && path[0] != '\0')
        return path;
    char env[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA("APPDATA", env, sizeof env);
    return n > 0 && n < sizeof env ? std::string(env, n) : std::string();
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolders(const std::string& folder)
{
    // Each level from the top; levels that exist (a drive, the application-data folder) are passed.
    for (size_t at = folder.find_first_of("\\/", 3); at != std::string::npos; at = folder.find_first_of("\\/", at + 1))
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    return IsFolder(folder);
}

bool CopyNew(const std::string& from, const std::string& to)
{
    if (!CopyFileA(from.c_str(), to.c_str(), TRUE))
        return false;
    // A file from a CD arrives read-only; the copy is the user's to change.
    DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return true;
}
} // namespace

DataFolderSystem DataFolderSystemDefault()
{
    DataFolderSystem s;
    s.takesFiles = TakesFiles;
    s.userDataRoot = UserDataRoot;
    s.makeFolders = MakeFolders;
    s.exists = [](const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
    s.copyFile = CopyNew;
    s.separator = '\\';
    return s;
}
