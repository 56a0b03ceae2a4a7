// The menu and dialog resources of qorvexal.exe in the user-interface language chosen at start-up,
// the program's own (neutral) ones where a language has none.
#pragma once

#include <windows.h>

HMENU LoadLanguageMenu(int id);
INT_PTR LanguageDialog(int id, HWND owner, DLGPROC proc, LPARAM param);
