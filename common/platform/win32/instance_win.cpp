#include "common/platform/instance.h"

#include <windows.h>

bool IsOtherInstance(std::string_view path, std::string_view suffix)
{
    std::string name = InstanceLockName(path, suffix);
    // Created with ownership and never closed: the mutex lives as long as the process.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
    return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}
