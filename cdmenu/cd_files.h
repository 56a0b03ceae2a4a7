// File conditions on a real folder tree: patterns relative to a root folder (the CD root), "\" or "/"
// between folders, "*" and "?" in any part, names compared ignoring case (as on the CD's file systems).
#pragma once

#include "cdmenu/cd_script.h"

#include <string>
#include <string_view>

class CdDirFileSystem : public CdFileSystem {
public:
    explicit CdDirFileSystem(std::string root)
        : root_(std::move(root))
    {
    }
    bool AnyMatch(const std::string& pattern) override;

private:
    std::string root_;
};
