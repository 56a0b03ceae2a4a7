#include "common/platform/module.h"

#include <windows.h>

namespace {

bool IsAbsolute(const std::string& path)
{
    bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

} // namespace

void* ModuleLoad(const std::string& fullPath)
{
    if (!IsAbsolute(fullPath))
        return nullptr;
    // With a full path the search path is not consulted for the library itself; the altered search
    // order finds what it imports beside it first.
    return reinterpret_cast<void*>(LoadLibraryExA(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void* ModuleSymbol(void* module, const char* name)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void ModuleFree(void* module)
{
    if (module)
        FreeLibrary(static_cast<HMODULE>(module));
}

std::string ModuleProgramBaseName()
{
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return std::string();
    std::string self(path, n);
    size_t sep = self.find_last_of("\\/:");
    if (sep != std::string::npos)
        self = self.substr(sep + 1);
    size_t dot = self.rfind('.');
    return dot == std::string::npos || dot == 0 ? self : self.substr(0, dot);
}

const char* ModuleDefaultExtension()
{
    return ".dll";
}
