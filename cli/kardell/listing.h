// The text form of a menu printed by kardell-cli menu: one line of the menu a line, in the order the
// menu holds them, fields separated by tabs: kind ("static" or "hotspot"), block number, depth (0 in
// the block, 1 and more in sub-menus, each sub-menu listed once right after the line that opens it),
// text (empty for a separator), command, parameters.
#pragma once

#include "cdmenu/cd_script.h"

#include <string>

std::string CdListMenu(const CdMenu& menu);
