// String ids of kardell.exe's window texts (res/kardell/strings.*): its message boxes and the
// help-bitmap tool. The script's own messages (1006, 1007) are named in cdmenu/cd_script.h (kCdStr*).
#pragma once

// Message captions and messages.
constexpr unsigned CdStrError = 1001; // "Error"
constexpr unsigned CdStrWarning = 1002; // "Warning"
constexpr unsigned CdStrScriptUnreadable = 1003; // "The menu script \"%s\" cannot be read."
constexpr unsigned CdStrCannotStart = 1004; // "%s cannot be started:\n\n%s": the line's command, the system's text

// The help-bitmap tool (option "createbitmap"): the system menu's entries, also the file dialogs' titles.
constexpr unsigned CdStrSaveHelpBitmap = 1010; // "Save Help Bitmap"
constexpr unsigned CdStrOpenHelpBitmap = 1011; // "Open Help Bitmap"
constexpr unsigned CdStrBitmapFilter = 1012; // "Bitmaps (*.bmp)|*.bmp|All files (*.*)|*.*|": "|" between the parts
constexpr unsigned CdStrBitmapUnwritable = 1013; // "The bitmap \"%s\" cannot be written."
constexpr unsigned CdStrBitmapUnreadable = 1014; // "The bitmap \"%s\" cannot be read."
