#include "common/platform/tempfile.h"

#include <cstdlib>
#include <unistd.h>

FILE* TempFileOpen(const char* prefix, std::string* path)
{
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir || access(dir, W_OK) != 0)
        dir = "/tmp";
    std::string name = std::string(dir) + "/" + prefix + "XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    ::unlink(name.c_str());
    FILE* f = ::fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    if (path)
        *path = name;
    return f;
}
