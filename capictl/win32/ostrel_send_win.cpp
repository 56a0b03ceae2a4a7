#include "capictl/ostrel_task.h"
#include "capictl/win32/ostrel_send.h"

#include <windows.h>

bool OstrelSendToTask(uint32_t message, uintptr_t wParam, intptr_t* result)
{
    HWND window = FindWindowA(kOstrelWindowClass, nullptr);
    if (!window)
        return false;
    *result = static_cast<intptr_t>(SendMessageA(window, message, static_cast<WPARAM>(wParam), 0));
    return true;
}
