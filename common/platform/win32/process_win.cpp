#include "common/platform/process.h"

#include <windows.h>

#include <shellapi.h> // after windows.h, whose types it uses

int ProcessStart(const std::string& program, const std::string& parameters, bool hidden)
{
    if (program.empty())
        return 0;
    HINSTANCE result = ShellExecuteA(nullptr, "open", program.c_str(),
        parameters.empty() ? nullptr : parameters.c_str(), nullptr, hidden ? SW_HIDE : SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32 ? 1 : 0;
}
