#include "common/platform/file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<unsigned> g_counter { 0 };

int WriteAll(int fd, std::string_view data)
{
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 1;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Removes the new files that writers killed before their rename left beside `path` ("NAME.~PID-N" of a
// process that no longer runs). Files of running processes, this one included, are theirs to finish.
void RemoveAbandoned(const std::string& path)
{
    std::string dir = DirectoryOf(path);
    size_t slash = path.find_last_of('/');
    std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".~";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
            continue;
        std::string_view rest = name.substr(prefix.size());
        size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == rest.size()
            || rest.find_first_not_of("0123456789-") != std::string_view::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        ::unlink((dir + "/" + std::string(name)).c_str());
    }
    ::closedir(d);
}
} // namespace

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

int FileWriteAtomic(const std::string& path, std::string_view data)
{
    // A name of its own per process and write, so two writers never share a half-written file.
    // A file the user may not write is never replaced, even though the folder would allow the rename. A
    // file without any write permission is read-only for everybody, also for root, as the read-only
    // attribute is on Windows.
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0))
        return 0;
    RemoveAbandoned(path);
    std::string temp = path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(g_counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // Keep the permissions of the file being replaced.
    if (exists)
        ::fchmod(fd, st.st_mode & 07777);
    int ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = 0;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0)
        ok = 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return 0;
    }
    // Make the rename itself durable.
    int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 1;
}

std::string FileProgramDirectory()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string self(path, static_cast<size_t>(n));
    size_t slash = self.rfind('/');
    return slash == std::string::npos || slash == 0 ? (slash == 0 ? "/" : ".") : self.substr(0, slash);
}
