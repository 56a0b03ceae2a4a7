// Help topics (Help menu, F1) for every program with a window: the help file of the program's own
// format when one lies beside the program and the system has the engine for it, else the program's
// user's guide in HTML opened by the user's browser.
#pragma once

#include <windows.h>

#include <string>

// Opens `helpFile` (WinHelp contents) when it exists, else `guideFile` through the shell. Returns
// false when neither could be opened; `shown` then names the file the message should mention (the
// guide).
bool OpenHelpTopics(HWND owner, const std::string& helpFile, const std::string& guideFile, std::string* shown);
