// A test plug-in without any entry point: its page is left out.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI NotAnEntryPoint()
{
    return 1;
}
