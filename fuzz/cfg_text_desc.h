// The description the configuration text fuzz targets read into: bit fields, aliases, secrets, a table
// whose name holds a dash, a dotted table with cell lines, an automatic index and merged entries.
#pragma once

#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"

inline CfgDescriptionPtr FuzzDescription()
{
    static const char* text = R"(
version "Fuzz 1.0", English
section one, "One"
entryfield_numeric flags, 0x0F
entryfield_numeric flags, 0xF0
entryfield_text user
entryfield_text password
hidden 1
entryfield_text same
entryfield_text same
entryfield_text x
entryfield_text other
alias x
entryfield_text with-dash
entryfield_ipaddress addr
very_important 1
table plain
num_columns 4
auto_index 1, 2
entryfield_text k
entryfield_text v
hidden 1
entryfield_numeric b, 0x3
entryfield_numeric b, 0xC
table ip.route
num_columns 3
entryfield_text 1
entryfield_text 2
entryfield_text name
table x-y
num_columns 2
entryfield_text a
entryfield_text b
table merged
num_columns 2
merge_entrys 2
entryfield_text k
entryfield_text long
max_len 10
)";
    // Read once, loaded afresh for every input (the values are the input's).
    static const auto file = CfgFile::FromText(text);
    file->Rewind();
    return CfgLoadDescriptionFrom(*file, "Fuzz 1.0", nullptr, 0xFFFFFFFFu, 0, false);
}
