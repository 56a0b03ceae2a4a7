// Messages to a running CAPI task from other programs (the command-line tool, the Wine tests). No
// <windows.h> here.
#pragma once

#include <cstdint>

// Sends `message` to the window of class "RemoteCapiClass" and waits for its answer (as long as the
// task keeps a question open). False when no such window exists.
bool OstrelSendToTask(uint32_t message, uintptr_t wParam, intptr_t* result);
