// Line forms of the configuration text, shared by the reader, the writer and the file export.
#pragma once

#include "config/description/cfg_types.h"

#include <string>
#include <string_view>

enum class CfgLineKind {
    Empty,
    Section, // "[" ... "]"
    Brace, // "{" ... "}"
    Row, // "<" name ">"
    Assign, // name "=" value
    Other, // anything else: a format error
};

// Trims blanks, tabs, carriage returns and line feeds at both ends.
std::string_view CfgTrimLine(std::string_view line);
// The kind of a trimmed line.
CfgLineKind CfgLineKindOf(std::string_view trimmed);
// The name of a row line ("<name>").
std::string_view CfgRowLineName(std::string_view trimmed);

// What the name of an assignment addresses in a description.
struct CfgTarget {
    enum Form { Item, Column, Cell } form = Item;
    std::string_view table; // Column and Cell: the table name as written
    std::string_view columnText; // Column: the hexadecimal column; Cell: the column text
    std::string_view rowText; // Cell: the row text
    CfgItem* item = nullptr; // Item: the item; Column and Cell: the table (nullptr when not found)
    bool wellFormed = true; // the numbers read as the form's digits (so the line can be rewritten)
};
// Classifies a (trimmed) name: a cell line "(table.row.column)", a column line "table-hh" whose part
// before a "-" names a table (an item whose own name holds "-" stays an item), or an item line.
CfgTarget CfgClassifyName(const CfgDescription& desc, std::string_view name);

// Leading decimal digits of a text (0 when none); stops before the value would pass 2^32.
uint32_t CfgLeadingDecimal(std::string_view text);
// Leading hexadecimal digits (0 when none); true in `whole` when the text is nothing but 1 to 8 of them.
uint32_t CfgLeadingHex(std::string_view text, bool* whole = nullptr);
