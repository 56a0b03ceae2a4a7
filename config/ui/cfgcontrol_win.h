// The Win32 side of one control of a page layout (config/frontend/cfgpage.h), apart from the page that
// holds it: the window class and style a layout control is created with, the standard icon of an icon
// control, the pictures of the date and time pickers, and the filter of the characters typed into an
// edit field. Internal to the configuration pages (cfgpage_win.cpp).
#pragma once

#include "config/frontend/cfgpage.h"

#include <windows.h>

#include <string>

struct CfgItem;

// The window class and the style (visible child, tab stop and group as the layout says) of a control.
const char* CfgControlClass(CfgCtl control);
DWORD CfgControlStyle(const CfgLayoutControl& c);
// The system icon a static_icon number names: 1 stop, 2 question, 3 exclamation, else information.
HICON CfgStandardIcon(int number);

// The user's time picture, without its seconds unless they are wanted.
std::string CfgTimePicture(bool seconds);
// The "(Every year)" switch's text: the literal of the date picture without its quotes.
std::string CfgEveryYearSwitchText(const std::string& literal);
// The user's short-date picture with every year run replaced by the "(Every year)" literal.
std::string CfgEveryYearPicture(const std::string& literal);

// Filters the characters typed into `edit` by the item's rules (CfgCheckText; capitals where the item
// wants them): a refused character beeps. `item` outlives the control.
void CfgFilterTyping(HWND edit, const CfgItem& item);
