#include "common/platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

void* ModuleLoad(const std::string& fullPath)
{
    if (fullPath.empty() || fullPath[0] != '/')
        return nullptr;
    return ::dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(void* module, const char* name)
{
    return module ? ::dlsym(module, name) : nullptr;
}

void ModuleFree(void* module)
{
    if (module)
        ::dlclose(module);
}

std::string ModuleProgramBaseName()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    std::string self(path, static_cast<size_t>(n));
    self = self.substr(self.rfind('/') + 1);
    size_t dot = self.rfind('.');
    return dot == std::string::npos || dot == 0 ? self : self.substr(0, dot);
}

const char* ModuleDefaultExtension()
{
    return ".so";
}
