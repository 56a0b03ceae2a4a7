#include "config/store/display.h"

#include "common/locale.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/store/cfg_store.h"
#include "config/store/display_pattern.h"

#include <algorithm>
#include <vector>

namespace {
// "(Every year)" from string 2105, which is written as a quoted literal of a date picture.
std::string EveryYearText()
{
    std::string quoted = StrLoad(qorvexal_Strings(), CfgStrEveryYear);
    std::string out;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\'') {
            out += quoted[i];
        } else if (i + 1 < quoted.size() && quoted[i + 1] == '\'') {
            out += '\'';
            ++i;
        }
    }
    return out;
}

// The user's short date of a day whose year is a wildcard: the year's place in the date shows
// "(Every year)". The locale formats whole dates only, so the date is formatted for the current year
// and for a year with the same calendar but different digits; the places where the two differ are
// the year.
std::string WildcardYearDate(uint32_t month, uint32_t day)
{
    uint32_t year = CfgCurrentDate().year;
    if (!CfgIsValidDate(year, month, day))
        return "";
    std::string ours = StrFormat("%04u", year);
    uint32_t other = 0;
    for (int step : { -28, 28, -56, 56, -84, 84 }) {
        int64_t candidate = static_cast<int64_t>(year) + step;
        if (candidate < 1901 || candidate > 2099 || year < 1901 || year > 2099)
            continue;
        std::string theirs = StrFormat("%04u", static_cast<unsigned>(candidate));
        bool allDiffer = true;
        for (size_t k = 0; k < 4; ++k)
            allDiffer = allDiffer && ours[k] != theirs[k];
        if (allDiffer) {
            other = static_cast<uint32_t>(candidate);
            break;
        }
    }
    auto format = [&](uint32_t y) {
        return LocaleShortDate(
            LocaleDate { static_cast<uint16_t>(y), static_cast<uint16_t>(month), static_cast<uint16_t>(day) });
    };
    std::string a = format(year);
    std::string every = EveryYearText();
    if (other != 0) {
        std::string b = format(other);
        if (a.size() == b.size()) {
            std::string out;
            for (size_t k = 0; k < a.size();) {
                if (a[k] == b[k]) {
                    out += a[k++];
                    continue;
                }
                while (k < a.size() && a[k] != b[k])
                    ++k;
                out += every;
            }
            return out;
        }
    }
    // Outside the years whose calendar repeats: replace the year's digits where they stand.
    size_t at = a.find(ours);
    if (at != std::string::npos)
        return a.replace(at, ours.size(), every);
    return a;
}

std::string WithUnit(std::string text, const CfgItem& item)
{
    if (item.Text(CfgAttrUnit) && !item.Text(CfgAttrUnit)->empty())
        text += " " + *item.Text(CfgAttrUnit);
    return text;
}

// Index of a selection (buttons, lists): the default without a value, the value as a decimal
// number without a value list, else its position in the values, searched from the last position
// that texts and values both have down to the first. -1 when the value is not listed.
int64_t SelectionIndex(const std::optional<std::string>& value, const CfgArgList* texts, const CfgArgList* values,
    uint32_t defaultSelection)
{
    if (!value)
        return defaultSelection;
    if (!values)
        return ParseDecimal(*value);
    size_t both = std::min(texts ? texts->Count() : 0, values->Count());
    for (size_t k = both; k > 0; --k) {
        if (values->At(k - 1) == *value)
            return static_cast<int64_t>(k - 1);
    }
    return -1;
}

std::string TextAt(const CfgArgList* texts, int64_t index)
{
    if (!texts || index < 0 || static_cast<uint64_t>(index) >= texts->Count())
        return "";
    return std::string(texts->At(static_cast<size_t>(index)));
}

const CfgArgList* ListOrNull(const CfgOptArgList& list)
{
    return list && !list->Empty() ? &*list : nullptr;
}

// A slider value: a signed number with base prefixes, shown as the unsigned 32-bit value it is.
uint32_t ReadSigned(std::string_view text)
{
    text = TrimLeft(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    uint32_t magnitude = ParseUnsigned(text);
    return negative ? 0u - magnitude : magnitude;
}

std::string FailedDate(const CfgItem& item)
{
    return item.Number(CfgAttrNeverEmpty) ? StrLoad(qorvexal_Strings(), CfgStrInvalidDate) : std::string();
}

// The date fields of `moment` in the user's short date; empty when they form no date.
std::string DatePart(const CfgItem& item, const CfgMoment& moment, bool* ok)
{
    *ok = true;
    if (moment.year == 0 && item.Number(CfgAttrYearIsWildcard)) {
        std::string text = WildcardYearDate(moment.month, moment.day);
        if (!text.empty())
            return text;
    } else if (CfgIsValidDate(moment.year, moment.month, moment.day)) {
        return LocaleShortDate(LocaleDate { static_cast<uint16_t>(moment.year), static_cast<uint16_t>(moment.month),
            static_cast<uint16_t>(moment.day) });
    }
    *ok = false;
    return FailedDate(item);
}

// The time fields in the user's time format; empty when the pattern found no time field or the
// fields form no time of day.
std::string TimePart(const CfgItem& item, const CfgMoment& moment, unsigned found)
{
    if ((found & (CfgFieldHour | CfgFieldMinute | CfgFieldSecond)) == 0)
        return "";
    if (moment.hour > 23 || moment.minute > 59 || moment.second > 59)
        return "";
    return LocaleTimeText(LocaleTime { static_cast<uint16_t>(moment.hour), static_cast<uint16_t>(moment.minute),
                              static_cast<uint16_t>(moment.second) },
        item.Number(CfgAttrShowSeconds) != 0);
}
} // namespace

std::string CfgLocaleDecimalSeparator()
{
    std::string probe = LocaleNumber("1.5", 1);
    if (probe.size() >= 3 && probe.front() == '1' && probe.back() == '5')
        return probe.substr(1, probe.size() - 2);
    return ".";
}

std::string CfgLocaleThousandSeparator()
{
    std::string probe = LocaleNumber("1000", 0);
    if (probe.size() >= 4 && probe.front() == '1' && probe.compare(probe.size() - 3, 3, "000") == 0)
        return probe.substr(1, probe.size() - 4);
    return "";
}

std::string CfgNumberText(const CfgItem& item, uint32_t number)
{
    if (item.Number(CfgAttrFactor) != 0) {
        double shown = static_cast<double>(number) / static_cast<double>(item.Number(CfgAttrFactor));
        return LocaleNumber(StrFormat("%f", shown), CfgLocaleDecimals);
    }
    std::string text = LocaleNumber(StrFormat("%lu", static_cast<unsigned long>(number)), 0);
    // Grouping but never decimals, whatever the locale's own count of them.
    std::string decimal = CfgLocaleDecimalSeparator();
    size_t at = decimal.empty() ? std::string::npos : text.find(decimal);
    if (at != std::string::npos)
        text.resize(at);
    return text;
}

std::string CfgDateText(const CfgItem& item, const std::optional<std::string>& value)
{
    CfgMoment moment;
    CfgPatternRead(CfgItemPattern(item), value ? *value : std::string(), &moment);
    bool ok = false;
    return DatePart(item, moment, &ok);
}

std::string CfgTimeText(const CfgItem& item, const std::optional<std::string>& value)
{
    CfgMoment moment;
    unsigned found = 0;
    CfgPatternRead(CfgItemPattern(item), value ? *value : std::string(), &moment, &found);
    return TimePart(item, moment, found);
}

std::string CfgDateTimeText(const CfgItem& item, const std::optional<std::string>& value)
{
    CfgMoment moment;
    unsigned found = 0;
    CfgPatternRead(CfgItemPattern(item), value ? *value : std::string(), &moment, &found);
    bool ok = false;
    std::string text = DatePart(item, moment, &ok);
    if (!ok)
        return text;
    if (!item.Text(CfgAttrFormat) || item.Text(CfgAttrFormat)->find_first_of("hms") != std::string::npos) {
        std::string time = TimePart(item, moment, found);
        if (!time.empty())
            text += " " + time;
    }
    return text;
}

std::optional<std::string> CfgDisplayText(const CfgItem& item, const std::optional<std::string>& value,
    std::string_view onText, std::string_view offText, bool maskSecrets)
{
    switch (item.kind) {
    case CfgKindReadonlyText: {
        if (item.List(CfgAttrItemText)) {
            std::optional<std::string> text
                = CfgMapValue(value, item.List(CfgAttrItemText), item.List(CfgAttrItemValue), 0);
            return text ? *text : std::string();
        }
        std::string text = value ? *value : std::string();
        if (item.Number(CfgAttrConvertToUpper))
            for (char& c : text)
                c = AsciiUpper(c);
        return WithUnit(std::move(text), item);
    }
    case CfgKindEntryText:
    case CfgKindEntryNumbers:
    case CfgKindEntryHex:
    case CfgKindEntryIpAddress: {
        std::string text;
        if (value)
            text = *value;
        else if (item.Text(CfgAttrDefaultValue))
            text = *item.Text(CfgAttrDefaultValue);
        else if (item.kind == CfgKindEntryIpAddress)
            text = "0.0.0.0";
        if (maskSecrets && item.Number(CfgAttrHidden) && item.kind != CfgKindEntryIpAddress && !text.empty())
            text = "*";
        return WithUnit(std::move(text), item);
    }
    case CfgKindEntryNumeric: {
        const std::optional<std::string>& source = value ? value : item.Text(CfgAttrDefaultValue);
        uint32_t number = source ? ParseUnsigned(*source) : 0;
        return WithUnit(CfgNumberText(item, number), item);
    }
    case CfgKindEntryDate:
        return CfgDateText(item, value ? value : item.Text(CfgAttrDefaultValue));
    case CfgKindEntryTime:
        return CfgTimeText(item, value ? value : item.Text(CfgAttrDefaultValue));
    case CfgKindEntryDateTime:
        return CfgDateTimeText(item, value ? value : item.Text(CfgAttrDefaultValue));
    case CfgKindSlider: {
        uint32_t number = value ? ReadSigned(*value) : item.Number(CfgAttrDefaultValue);
        return WithUnit(StrFormat("%lu", static_cast<unsigned long>(number)), item);
    }
    case CfgKindSelectionButtons: {
        const CfgArgList* texts = ListOrNull(item.List(CfgAttrBshortText));
        if (!texts)
            texts = ListOrNull(item.List(CfgAttrButtonText));
        const CfgArgList* values = item.List(CfgAttrButtonValue) ? &*item.List(CfgAttrButtonValue) : nullptr;
        return TextAt(texts, SelectionIndex(value, texts, values, item.Number(CfgAttrDefaultSelection)));
    }
    case CfgKindSelectionList: {
        const CfgArgList* texts = item.List(CfgAttrItemText) ? &*item.List(CfgAttrItemText) : nullptr;
        const CfgArgList* values = item.List(CfgAttrItemValue) ? &*item.List(CfgAttrItemValue) : nullptr;
        return TextAt(texts, SelectionIndex(value, texts, values, item.Number(CfgAttrDefaultSelection)));
    }
    case CfgKindSelectionFromTable:
        return value ? *value : std::string();
    case CfgKindOnOff: {
        std::vector<std::string> texts;
        if (item.List(CfgAttrValueText))
            texts = item.List(CfgAttrValueText)->Texts();
        else
            texts = { std::string(offText), std::string(onText) };
        int64_t index = item.Number(CfgAttrDefaultSelection);
        if (value) {
            if (!item.List(CfgAttrValueList)) {
                index = ParseDecimal(*value);
            } else {
                const CfgArgList& list = *item.List(CfgAttrValueList);
                if (list.Count() > 2 && list.At(2) == *value)
                    index = 2;
                else if (list.Count() > 1 && list.At(1) == *value)
                    index = 1;
                else
                    index = 0;
            }
        }
        if (index >= 0 && static_cast<uint64_t>(index) < texts.size())
            return texts[static_cast<size_t>(index)];
        return value ? *value : std::string();
    }
    default:
        return std::nullopt;
    }
}
