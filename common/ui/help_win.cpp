#include "common/ui/help_win.h"

#include <shellapi.h>

namespace {
bool Exists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
} // namespace

bool OpenHelpTopics(HWND owner, const std::string& helpFile, const std::string& guideFile, std::string* shown)
{
    // Current systems no longer carry the engine of the old help format: a file of it that does not
    // open falls through to the guide.
    if (!helpFile.empty() && Exists(helpFile) && WinHelpA(owner, helpFile.c_str(), HELP_FINDER, 0)) {
        *shown = helpFile;
        return true;
    }
    *shown = guideFile;
    if (guideFile.empty() || !Exists(guideFile))
        return false;
    HINSTANCE started = ShellExecuteA(owner, "open", guideFile.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(started) > 32;
}
