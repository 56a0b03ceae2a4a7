// The configuration store: lookups, changes and whole-description operations on the records that the
// description reader builds (config/description/cfg_types.h). The values live in those same records.
// Names compare ignoring case unless a function says otherwise. Lookups by name use the description's
// name index (CfgIndexNames): call it again after adding, removing or renaming items.
#pragma once

#include "config/description/cfg_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---- lookups ----

// The item of that name: an alias (first alias text) first, else the n-th item of the name when the
// name ends in "#" n (default the first). Columns are not items of the description.
CfgItem* CfgFindItem(const CfgDescription& desc, std::string_view name);
// Every item of that name (no alias, no "#" n), in section order; nullptr when none.
const CfgItemRefs* CfgItemsNamed(const CfgDescription& desc, std::string_view name);
// The first item after `after` (section order) with that name (no alias, no "#" n).
CfgItem* CfgFindNextItem(const CfgDescription& desc, std::string_view name, const CfgItem* after);
// The n-th column of that name ("#" n, default 1) of a table item.
CfgItem* CfgFindColumn(const CfgItem& table, std::string_view name);
// The section holding the item (a column: its table's section); nullptr when not in `desc`.
CfgSection* CfgSectionOf(const CfgDescription& desc, const CfgItem* item);
// The innermost group frame (kind 1 or 2) around the item, forgotten at each group_end; or nullptr.
CfgItem* CfgGroupOf(const CfgDescription& desc, const CfgItem* item);
// True when any item has its changed flag set.
bool CfgIsModified(const CfgDescription& desc);
// 0-based column: a number 1..count is that column, otherwise the column of that name (exact); -1. Only
// the first CfgMaxColumns columns count (a row has no cell for the others).
int CfgColumnIndex(const CfgItem& table, std::string_view text);
// The first row whose key (column 1) equals `key`; else a wholly numeric key n >= 1 names the n-th row.
// With `create`, a missing key appends a row holding the key instead.
CfgRow* CfgRowByKey(CfgItem& table, std::string_view key, bool create);
// The non-empty values of that row / that column of every row, in order. False when not found.
bool CfgRowValues(CfgItem& table, std::string_view key, std::vector<std::string>* out);
bool CfgColumnValues(CfgItem& table, std::string_view column, std::vector<std::string>* out);

// A qualified name "wizard.NAME" or "config.NAME" [".ROW.COLUMN"] resolved to its item.
struct CfgResolved {
    CfgDescription* desc = nullptr; // the description the prefix chose
    CfgItem* item = nullptr;
    std::optional<std::string> row; // set when the name had to be split: row and column texts
    std::optional<std::string> column;
};
bool CfgResolveName(CfgDescription* wizard, CfgDescription* config, std::string_view qualified, CfgResolved* out);
// The value(s) a qualified name stands for: a plain item's value (empty text for none), a cell, a
// column of every row (row "0") or a row's values (column "0"). False when the name gives nothing.
bool CfgValueOf(
    CfgDescription* wizard, CfgDescription* config, std::string_view qualified, std::vector<std::string>* out);
// The display text of a value chosen from a text list; see cfg_store.cpp.
std::optional<std::string> CfgMapValue(
    const std::optional<std::string>& value, const CfgOptArgList& texts, const CfgOptArgList& values, uint32_t index);

// ---- changes (each sets the item's changed flag) ----

void CfgSetItemValue(CfgItem& item, const std::optional<std::string>& value);
// Inserts an empty row before row `position` (0-based) or at the end; returns its index, -1 when no table.
int CfgRowInsert(CfgItem& table, int position);
// Sets columns 0..lastColumn of row `index` to copies of `values` (nullptr: none), the others to none.
// Returns the column count, 0 when no table or no such row.
int CfgRowSet(CfgItem& table, int index, int lastColumn, const char* const* values);
// Removes row `index`; 1, or 0 when no table or no such row.
int CfgRowDelete(CfgItem& table, int index);

// The n-th row (0-based), or nullptr.
CfgRow* CfgRowAt(CfgItem& table, size_t index);

// ---- whole descriptions ----

// Deep copy of one item (a table with its columns, not its rows); links (section, table, counterpart)
// of the target stay.
void CfgCopyItem(CfgItem& target, const CfgItem& source);
// Points every section's items (and table columns) of `a` at the item of `b` at the same position.
void CfgLinkCounterparts(CfgDescription& a, CfgDescription& b);
// A copy for another device, or nullptr when the source's device pattern does not match its key.
CfgDescriptionPtr CfgCloneDescription(
    const CfgDescription& source, std::string_view deviceType, std::string_view version, uint32_t featureMask);
// Removes the sections that cannot be configured for several devices at once.
void CfgPruneForGroup(CfgDescription& desc);
// Frees the description (the records free their texts, lists, columns and rows).
void CfgFreeDescription(CfgDescriptionPtr& desc);
// Appends to `out` one line for every named item (and table column) of `a` that `b` lacks.
void CfgMissingItemsReport(const CfgDescription& a, const CfgDescription& b, std::string* out);

constexpr size_t CfgMaxAltAddresses = 32;
// Collects the addresses of the very important address items (host order, at most 32, best first) and
// returns the best one, or `deviceAddress` when none was collected.
uint32_t CfgAlternativeAddresses(const CfgDescription& desc, uint32_t deviceAddress, std::vector<uint32_t>* addresses);
// The value of the first very important entryfield_text item ("" when empty), or none without one.
std::optional<std::string> CfgGetAccessPassword(const CfgDescription& desc);

// ---- merged table entries (the table's merge_entrys attribute) ----

// Joins the rows of a long value split over keys "K#0", "K#1", ... into one row keyed "K".
void CfgMergeEntries(CfgItem& table);
// Splits every value longer than the column's max_len over rows with key suffixes 0..9, A..Z.
void CfgSplitEntries(CfgItem& table);
// The number of rows CfgSplitEntries would make of `value` (1 when the column is not merged).
int CfgCountSplitRows(const CfgItem& table, std::string_view value);

// ---- entered text ----

// True when every character of `text`, and `extra` unless it is 0, belongs to the item's character set.
bool CfgCheckText(const CfgItem& item, char extra, std::string_view text);

// ---- helpers shared with the configuration file reader and writer ----

// inet_addr of the text in host order; none for text that is not an address.
std::optional<uint32_t> CfgInetAddr(std::string_view text);
// One item (or column) of a shared name: its bit mask and its value.
struct CfgBitPart {
    uint32_t id;
    const std::optional<std::string>* value;
};
// The values of same-named items (section order) combined by the bit-field rule; none when no part
// has a value.
std::optional<std::string> CfgCombineBits(const std::vector<CfgBitPart>& parts);
// The value a bit-field item stores for `text`: the number AND id, as signed decimal.
std::string CfgBitsValue(std::string_view text, uint32_t id);
