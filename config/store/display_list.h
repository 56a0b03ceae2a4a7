// A configuration's values as the table lists of the configuration dialogs show them, as text: one
// line per value, sections as headings, table rows below their table. Used by `qorvexal-cli show`.
#pragma once

#include <string>

struct CfgDescription;

// Appends the listing of every section of `desc` to `out`:
//   "[title]" (the section's name when it has no title)
//   "  name = text" for each named item with a display text
//   "  name:" for a table, then "    key | text | text ..." for each row (column 1 first)
// Switches without texts show "On"/"Off"; with `maskSecrets` every non-empty secret shows "*", as in
// the table lists, otherwise the value itself, as in a printout with hidden passwords off.
void CfgListValues(const CfgDescription& desc, bool maskSecrets, std::string* out);
