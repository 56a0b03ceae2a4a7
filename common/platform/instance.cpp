#include "common/platform/instance.h"

#include "common/text.h"

std::string InstanceLockName(std::string_view path, std::string_view suffix)
{
    std::string name = StrLower(std::string(path) + std::string(suffix));
    for (char& c : name)
        if (c == '\\')
            c = '_';
    return name;
}
