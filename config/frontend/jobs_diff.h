// What a configuration change would do, item by item: the difference between two descriptions of
// the same device type (the device's current configuration and the one about to be written), and
// values changed by name ("NAME=VALUE", "TABLE[KEY].COLUMN=VALUE").
#pragma once

#include "config/description/cfg_types.h"

#include <string>
#include <string_view>
#include <vector>

struct CfgDiffLine {
    std::string name; // "/ip/address", "/ip/routes[127.0.0.0].2"
    std::string before; // "" for none
    std::string after;
    bool secret = false; // a secret value: the texts are not shown
    bool added = false; // a table row only in the new configuration
    bool removed = false; // a table row only in the old one
};

// Every plain item and table cell whose value differs. Plain items are matched by name (the first
// item of a name), table rows by their key (column 1).
std::vector<CfgDiffLine> CfgDiff(const CfgDescription& before, const CfgDescription& after);
// One line per difference: "NAME: OLD -> NEW", "NAME: (secret value changed)", "TABLE[KEY]: added ...".
std::string CfgDiffText(const std::vector<CfgDiffLine>& lines);

// Sets one value by name; marks the item changed. Returns 1, or 0 with `error` set (unknown item,
// a table without a row key, a read-only or a fixed-choice value that is not one of the choices).
int CfgAssign(CfgDescription& desc, std::string_view assignment, std::string* error);
