// The menu's plug-in libraries on Windows: loaded by full path from Kardell's own folder, their
// exports (undecorated names, WINAPI) called with Kardell's module handle.
#pragma once

#include "cdmenu/cd_script.h"

#include <windows.h>

#include <string>

class CdWin32PluginLoader : public CdPluginLoader {
public:
    CdWin32PluginLoader(HINSTANCE instance, std::string directory)
        : instance_(instance)
        , directory_(std::move(directory))
    {
    }
    std::unique_ptr<CdPlugin> Load(const std::string& file) override;

private:
    HINSTANCE instance_;
    std::string directory_; // with the trailing "\"
};
