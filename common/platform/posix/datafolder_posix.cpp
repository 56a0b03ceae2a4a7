#include "common/datafolder.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<unsigned> g_probe { 0 };

bool TakesFiles(const std::string& folder)
{
    // A real new file: the permission bits say nothing about a read-only mount.
    std::string probe
        = folder + "/.write-probe-" + std::to_string(::getpid()) + "-" + std::to_string(g_probe.fetch_add(1));
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string UserDataRoot()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return config;
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.config";
    return {};
}

bool MakeFolders(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

bool CopyNew(const std::string& from, const std::string& to)
{
    std::error_code error;
    if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, error))
        return false;
    // A file from a read-only medium may arrive without write permission; the copy is the user's.
    std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add, error);
    return true;
}
} // namespace

DataFolderSystem DataFolderSystemDefault()
{
    DataFolderSystem s;
    s.takesFiles = TakesFiles;
    s.userDataRoot = UserDataRoot;
    s.makeFolders = MakeFolders;
    s.exists = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    };
    s.copyFile = CopyNew;
    s.separator = '/';
    return s;
}
