// The about box every program with a window shows: a modal dialog built in memory, so each program
// that links common_ui has it without resources of its own. The texts come from the record
// (common/aboutbox.h): by id from its catalog, or without one from the module's string table.
#pragma once

#include "common/aboutbox.h"

#include <windows.h>

// Control ids of the about box.
enum : int {
    kAboutIconControl = 100,
    kAboutProductControl,
    kAboutProduct2Control,
    kAboutVersionControl,
    kAboutCopyrightControl,
    kAboutCompanyControl,
    kAboutAdditionalControl,
    kAboutWebControl,
};

// Shows the box modally; returns the dialog's result (IDOK or IDCANCEL), or -1 when it cannot be shown.
INT_PTR ShowAboutBox(HWND owner, const AboutBoxRecord& record);

// Opens the web address when the link is clicked; by default ShellExecuteA with the verb "open".
// Tests replace it (null restores the default).
using AboutLinkHandler = void (*)(HWND dialog, const char* address);
void SetAboutLinkHandler(AboutLinkHandler handler);
