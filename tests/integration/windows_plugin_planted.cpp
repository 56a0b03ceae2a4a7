// A test plug-in that lies only in the current directory and on PATH, never in the program's
// directory: the loader must not find it. Were it loaded, its page would be there.
#include "config/plugin/plugin.h"

#include <windows.h>

extern "C" __declspec(dllexport) int32_t WINAPI PluginConfig(PluginContext*, int32_t, PluginCallRecord* record)
{
    record->page->dialogTemplate = MAKEINTRESOURCEA(100);
    return 1;
}
