#include "common/platform/instance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// A file named after the lock in the temporary folder, locked with flock and kept open until the
// process ends: the kernel drops the lock with the process, as Windows drops the mutex.
bool IsOtherInstance(std::string_view path, std::string_view suffix)
{
    std::string name = InstanceLockName(path, suffix);
    for (char& c : name)
        if (c == '/')
            c = '_';
    if (name.size() > 200)
        name = name.substr(name.size() - 200);
    const char* dir = std::getenv("TMPDIR");
    std::string file = std::string(dir && *dir ? dir : "/tmp") + "/velquin-lock-" + name;
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false; // no lock can be had: behave as the only instance
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return errno == EWOULDBLOCK;
    }
    return false; // fd stays open on purpose: the lock lives as long as the process
}
