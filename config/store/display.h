// Display texts of stored values: how the table lists of the configuration dialogs and the printout
// show a value outside its editing control. Numbers, dates and times follow the user's formats
// (common/locale.h), selections show their texts, secrets can be masked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CfgItem;

// String ids of the display texts.
enum : unsigned {
    CfgStrHidePasswords = 2101, // "&Hide passwords in printout"
    CfgStrInvalidDate = 2104, // "Invalid Date"
    CfgStrEveryYear = 2105, // "'(Every year)'": a quoted literal of a date picture
    CfgStrOn = 2110, // "On"
    CfgStrOff = 2111, // "Off"
};

// The text under which `value` (none: the kind's default) of `item` is shown, or none for kinds
// without a display text (1 to 6, tables). `onText`/`offText` stand for a switch without texts of its
// own; with `maskSecrets` a non-empty secret shows as "*". The table lists pass "On", "Off" and true.
std::optional<std::string> CfgDisplayText(const CfgItem& item, const std::optional<std::string>& value,
    std::string_view onText, std::string_view offText, bool maskSecrets);

// A numeric field's number as shown: divided by the item's factor with the locale's decimals, or
// grouped without decimals when the item has no factor.
std::string CfgNumberText(const CfgItem& item, uint32_t number);

// Dates, times and both together in the user's formats, read from `value` by the item's pattern.
std::string CfgDateText(const CfgItem& item, const std::optional<std::string>& value);
std::string CfgTimeText(const CfgItem& item, const std::optional<std::string>& value);
std::string CfgDateTimeText(const CfgItem& item, const std::optional<std::string>& value);

// The separators of the locale in use, as its number format writes them ("." and "," in English;
// the thousands separator is empty for a locale without grouping).
std::string CfgLocaleDecimalSeparator();
std::string CfgLocaleThousandSeparator();
// Decimals shown for numbers with a factor: two, the default of the user's number format.
constexpr int CfgLocaleDecimals = 2;
