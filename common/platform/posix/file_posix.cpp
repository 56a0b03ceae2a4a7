#include "common/platform/file.h"

#include <atomic>
#include <cerrno>
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
} // namespace

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

int FileWriteAtomic(const std::string& path, std::string_view data)
{
    // A name of its own per process and write, so two writers never share a half-written file.
    std::string temp = path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(g_counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    // Keep the permissions of the file being replaced.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
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
