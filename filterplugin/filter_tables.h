// Row access to the filter's two tables through the host's functions.
#pragma once

#include "filterplugin/filter.h"

#include <string>
#include <vector>

inline constexpr const char* FilterRuleTable = "RuleTable";
inline constexpr const char* FilterObjectTable = "ObjectTable";

// The first `columns` cells of a row, each whole (the buffers grow until the cell fits); false when
// there is no such row.
bool FilterGetRow(
    const FilterHost& host, const char* table, int32_t row, int32_t columns, std::vector<std::string>* cells);
// The row of ObjectTable whose name is exactly `name` (the host's find ignores case and returns the
// first such row; a later row may be the exact one); -1 when none.
int32_t FilterFindObjectRow(const FilterHost& host, const std::string& name);
// The definition of the object named exactly `name`.
bool FilterFindObject(const FilterHost& host, const std::string& name, std::string* definition);
// The number of rows of a table.
int32_t FilterCountRows(const FilterHost& host, const char* table);
