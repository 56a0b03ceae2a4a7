// What differs between two configurations of a device, as a user reads it: per item in the
// description's labels and the display texts of the values, grouped by section, secrets masked unless
// asked. Used to compare kept versions and to show what a write will change before it is confirmed.
#pragma once

#include "config/description/cfg_types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class HistChangeKind { Changed, Added, Removed };

struct HistChange {
    HistChangeKind kind = HistChangeKind::Changed;
    std::string section; // the section's title (its name when it has none)
    std::string label; // the item's description; a table cell: "TABLE [KEY] COLUMN"; a row: "TABLE [KEY]"
    std::string name; // "/ip/address", "/ip/routes[10.0.0.0].mask", "/ip/routes[10.0.0.0]"
    std::string before; // display text (a row: its cells "COLUMN: TEXT" joined by ", "); "" for none
    std::string after;
    bool secret = false; // a secret value
    bool masked = false; // its texts are masked: "*" for a value, "" for none
};

// The texts a comparison shows switches without texts of their own with, and whether secrets show.
struct HistDiffOptions {
    std::string on = "On";
    std::string off = "Off";
    bool maskSecrets = true;
};

// Every item and table cell whose value differs between two configurations of one device type (items
// matched by name and occurrence, table rows by their key), in the order of `before`'s sections, then
// what only `after` has.
std::vector<HistChange> HistCompare(
    const CfgDescription& before, const CfgDescription& after, const HistDiffOptions& options = {});
// The changes as text: a "[SECTION]" line per section, then "  LABEL: OLD -> NEW" (a masked secret:
// "  LABEL: (secret value changed)"; rows: "  LABEL: added (...)" / "removed (...)"); "no changes"
// when there are none.
std::string HistChangesText(const std::vector<HistChange>& changes);
