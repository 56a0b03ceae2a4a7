// Resource ids of kardell.exe.
#pragma once

#define IDI_KARDELL 1
// System-menu commands of the help-bitmap tool (multiples of 16, below 0xF000).
#define IDM_SAVE_HELP_BITMAP 0x0100
#define IDM_OPEN_HELP_BITMAP 0x0110
