#include "common/platform/file.h"

#include <cstdio>

int FileReadAll(const std::string& path, std::string* data, bool* missing)
{
    data->clear();
    if (missing)
        *missing = false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (missing)
            *missing = !FileExists(path);
        return 0;
    }
    char buffer[16384];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data->append(buffer, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok ? 1 : 0;
}
