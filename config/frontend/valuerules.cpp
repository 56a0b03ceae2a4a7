#include "config/frontend/valuerules.h"

#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"
#include "config/store/display_pattern.h"

#include <algorithm>

namespace {
constexpr size_t kMaxTextValue = 255;

std::string Str(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

// Replaces the "%s" of a message text in order; the texts come from the string tables, so they are
// never used as a printf format.
std::string Fill(std::string text, const std::vector<std::string>& args)
{
    size_t from = 0;
    for (const std::string& arg : args) {
        size_t at = text.find("%s", from);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, arg);
        from = at + arg.size();
    }
    return text;
}

CfgTakeResult Message(
    CfgTakeStatus status, unsigned id, unsigned title, const CfgItem* focus, const std::vector<std::string>& args = {})
{
    CfgTakeResult r;
    r.status = status;
    r.messageId = id;
    r.message = Fill(Str(id), args);
    r.title = Str(title);
    r.focus = focus;
    return r;
}

// Back to the control without a message (a cancelled repetition, No to keeping an unlisted value).
CfgTakeResult Refocus(const CfgItem* focus)
{
    CfgTakeResult r;
    r.status = CfgTakeStatus::Rejected;
    r.focus = focus;
    return r;
}

// A decimal number without prefixes, as a user types it into a numeric field.
uint32_t ReadDecimal(std::string_view text)
{
    text = TrimLeft(text);
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    return value;
}

// The numeric field's text in the user's format ("1.234,5" in German) times the factor, cut to an
// integer. Computed on the decimal digits, so that 2,3 times 10 is 23 and not 22.999...
uint32_t ReadScaled(std::string text, uint32_t factor)
{
    std::string thousand = CfgLocaleThousandSeparator();
    std::string decimal = CfgLocaleDecimalSeparator();
    if (!thousand.empty() && thousand != decimal) {
        for (size_t at = text.find(thousand); at != std::string::npos; at = text.find(thousand, at))
            text.erase(at, thousand.size());
    }
    if (!decimal.empty() && decimal != ".") {
        size_t at = text.find(decimal);
        if (at != std::string::npos)
            text.replace(at, decimal.size(), ".");
    }
    std::string_view t = TrimLeft(text);
    if (factor == 0)
        return ReadDecimal(t);
    uint64_t whole = 0;
    size_t i = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        whole = std::min<uint64_t>(whole * 10u + static_cast<uint64_t>(t[i] - '0'), 0xFFFFFFFFull);
    // Nine digits of the fraction keep fraction times factor within 64 bits.
    uint64_t fraction = 0;
    uint64_t scale = 1;
    if (i < t.size() && t[i] == '.') {
        for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9' && scale < 1000000000ull; ++i) {
            fraction = fraction * 10u + static_cast<uint64_t>(t[i] - '0');
            scale *= 10u;
        }
    }
    uint64_t result = whole * factor + fraction * factor / scale;
    return static_cast<uint32_t>(result);
}

std::string ListEntryOrIndex(const CfgOptArgList& list, int index)
{
    if (list && index >= 0 && static_cast<size_t>(index) < list->Count())
        return std::string(list->At(static_cast<size_t>(index)));
    return StrFormat("%d", index);
}

// The date a date control holds, written with the item's pattern (time fields from the control).
std::string DateValue(const CfgItem& item, const CfgControlState& control, bool withTime)
{
    CfgToday today = CfgCurrentDate();
    CfgMoment moment;
    unsigned found = CfgReadTypedDate(control.text, today.year, &moment);
    if (!(found & CfgFieldDay) || !(found & CfgFieldMonth))
        return "";
    if (!(found & CfgFieldYear))
        moment.year = item.Number(CfgAttrYearIsWildcard) ? 0 : today.year;
    if (withTime) {
        moment.hour = control.hour;
        moment.minute = control.minute;
        moment.second = control.second;
    }
    return CfgPatternWrite(CfgItemPattern(item), moment);
}

// The items of a group of devices: the item and its counterparts, each once.
std::vector<CfgItem*> DeviceChain(CfgItem& item)
{
    std::vector<CfgItem*> chain;
    for (CfgItem* at = &item; at && std::find(chain.begin(), chain.end(), at) == chain.end(); at = at->counterpart)
        chain.push_back(at);
    return chain;
}

// Seconds since midnight of a time item's value, read with its pattern; none without a value.
std::optional<uint32_t> StoredSeconds(const CfgItem& item)
{
    if (!item.value)
        return std::nullopt;
    CfgMoment m;
    unsigned found = 0;
    CfgPatternRead(CfgItemPattern(item), *item.value, &m, &found);
    if (!(found & (CfgFieldHour | CfgFieldMinute | CfgFieldSecond)))
        return std::nullopt;
    return m.hour * 3600u + m.minute * 60u + m.second;
}

uint32_t ControlSeconds(const CfgControlState& c)
{
    return c.hour * 3600u + c.minute * 60u + c.second;
}

bool IsTime(const CfgItem* item)
{
    return item && item->kind == CfgKindEntryTime;
}

// The neighbours of an item in its section (nullptr at the ends or for a column).
const CfgItem* Neighbour(const CfgItem& item, int direction)
{
    if (!item.section || item.table)
        return nullptr;
    const auto& items = item.section->items;
    for (size_t k = 0; k < items.size(); ++k) {
        if (items[k].get() != &item)
            continue;
        if (direction < 0)
            return k > 0 ? items[k - 1].get() : nullptr;
        return k + 1 < items.size() ? items[k + 1].get() : nullptr;
    }
    return nullptr;
}

// A time period: a time with lower_buddy directly followed by a time with upper_buddy. Returns the
// rejection when the first time is later than the second.
std::optional<CfgTakeResult> CheckPeriod(
    const CfgItem& item, const CfgControlState& control, const CfgTakeContext& context)
{
    const CfgItem* lower = nullptr;
    const CfgItem* upper = nullptr;
    std::optional<uint32_t> from, to;
    const CfgItem* next = Neighbour(item, 1);
    const CfgItem* previous = Neighbour(item, -1);
    if (item.Number(CfgAttrLowerBuddy) && IsTime(next) && next->Number(CfgAttrUpperBuddy)) {
        lower = &item;
        upper = next;
        from = ControlSeconds(control);
        to = context.periodPartner ? std::optional<uint32_t>(ControlSeconds(*context.periodPartner))
                                   : StoredSeconds(*upper);
    } else if (item.Number(CfgAttrUpperBuddy) && IsTime(previous) && previous->Number(CfgAttrLowerBuddy)) {
        lower = previous;
        upper = &item;
        from = context.periodPartner ? std::optional<uint32_t>(ControlSeconds(*context.periodPartner))
                                     : StoredSeconds(*lower);
        to = ControlSeconds(control);
    } else {
        return std::nullopt;
    }
    if (!from || !to || *from <= *to)
        return std::nullopt;
    return Message(CfgTakeStatus::Rejected, CfgStrPeriodInvalid, CfgStrWarning, &item,
        { CfgItemLabel(*lower), CfgItemLabel(*upper) });
}

// True when `text` is among the values of the tables named by the item's items_from_table: pairs of
// table name and column number (column 1 when the number is missing).
bool InSelectionTables(const CfgDescription& desc, const CfgItem& item, const std::string& text)
{
    if (!item.List(CfgAttrItemsFromTable))
        return false;
    std::vector<std::string> list = item.List(CfgAttrItemsFromTable)->Texts();
    for (size_t k = 0; k < list.size(); ++k) {
        const std::string& name = list[k];
        uint32_t column = 1;
        if (k + 1 < list.size()) {
            if (std::optional<uint32_t> n = ParseUnsignedStrict(list[k + 1])) {
                column = *n;
                ++k;
            }
        }
        const CfgItem* table = CfgFindItem(desc, name);
        if (!table || !table->IsTable() || column < 1 || column > CfgMaxColumns)
            continue;
        for (const CfgRow& row : table->rows) {
            const std::optional<std::string>& cell = row.cells[column - 1];
            if (cell && *cell == text)
                return true;
        }
    }
    return false;
}

bool IsSecretKind(const CfgItem& item)
{
    return item.Number(CfgAttrHidden)
        && (item.kind == CfgKindEntryText || item.kind == CfgKindEntryNumbers || item.kind == CfgKindEntryHex);
}

std::string RepeatCaption(const CfgDescription& desc, const CfgItem& item)
{
    if (const CfgItem* group = CfgGroupOf(desc, &item))
        return CfgItemLabel(*group) + " / " + CfgItemLabel(item);
    return CfgItemLabel(item);
}
} // namespace

std::string CfgItemLabel(const CfgItem& item)
{
    if (item.description && !item.description->Empty())
        return std::string(item.description->At(0));
    return item.name ? *item.name : std::string();
}

std::string CfgControlValue(const CfgItem& item, const CfgControlState& control)
{
    switch (item.kind) {
    case CfgKindEntryText:
    case CfgKindEntryNumbers:
    case CfgKindEntryHex:
    case CfgKindEntryIpAddress:
    case CfgKindSelectionFromTable:
        return CutTo(control.text, kMaxTextValue);
    case CfgKindEntryNumeric:
        return StrFormat("%lu", static_cast<unsigned long>(ReadScaled(control.text, item.Number(CfgAttrFactor))));
    case CfgKindEntryDate:
        return DateValue(item, control, false);
    case CfgKindEntryDateTime:
        return DateValue(item, control, true);
    case CfgKindEntryTime: {
        CfgMoment moment;
        moment.hour = control.hour;
        moment.minute = control.minute;
        moment.second = control.second;
        return CfgPatternWrite(CfgItemPattern(item), moment);
    }
    case CfgKindSlider: {
        uint32_t value = item.Number(CfgAttrRangeMin) >= item.Number(CfgAttrRangeMax)
            ? item.Number(CfgAttrRangeMin) - control.position
            : item.Number(CfgAttrRangeMin) + control.position;
        return StrFormat("%lu", static_cast<unsigned long>(value));
    }
    case CfgKindSelectionButtons:
        return ListEntryOrIndex(item.List(CfgAttrButtonValue), control.selection);
    case CfgKindSelectionList:
        return ListEntryOrIndex(item.List(CfgAttrItemValue), control.selection);
    case CfgKindOnOff:
        return ListEntryOrIndex(item.List(CfgAttrValueList), control.check);
    default:
        return item.value ? *item.value : std::string();
    }
}

CfgTakeResult CfgTakeValue(CfgDescription& desc, CfgItem& item, const CfgControlState& control,
    const CfgAnswers& answers, const CfgTakeContext& context)
{
    if (!CfgKindIsColumn(item.kind) || item.kind == CfgKindReadonlyText)
        return CfgTakeResult {};
    std::string value = CfgControlValue(item, control);
    std::vector<CfgItem*> devices = DeviceChain(item);

    // 1. Several devices with different values: an untouched control keeps them all.
    bool differ = false;
    for (const CfgItem* other : devices)
        differ = differ || other->value != item.value;
    if (differ) {
        if (!control.changed)
            return CfgTakeResult {};
        if (!answers.changeAll)
            return Message(CfgTakeStatus::Ask, CfgStrDevicesDiffer, CfgStrWarning, &item, { CfgItemLabel(item) });
        if (!*answers.changeAll) {
            CfgTakeResult r;
            r.status = CfgTakeStatus::Reset;
            r.focus = &item;
            return r;
        }
    }

    // 2. Time periods.
    if (item.kind == CfgKindEntryTime) {
        if (std::optional<CfgTakeResult> rejected = CheckPeriod(item, control, context))
            return *rejected;
    }

    // 3. Mandatory values.
    bool mandatoryKind = item.kind == CfgKindEntryText || item.kind == CfgKindEntryNumbers
        || item.kind == CfgKindEntryHex || item.kind == CfgKindSelectionFromTable;
    if (mandatoryKind && item.Number(CfgAttrNeverEmpty) && value.empty())
        return Message(CfgTakeStatus::Rejected, CfgStrEnterValue, CfgStrWarning, &item, { CfgItemLabel(item) });

    // 4. Addresses: text that is no address counts as 0.0.0.0.
    if (item.kind == CfgKindEntryIpAddress && item.Number(CfgAttrNeverZero)) {
        std::optional<uint32_t> address = CfgInetAddr(value);
        if (!address || *address == 0)
            return Message(CfgTakeStatus::Rejected, CfgStrEnterAddress, CfgStrWarning, &item, { CfgItemLabel(item) });
    }

    // 5. Selection from a table.
    if (item.kind == CfgKindSelectionFromTable && !value.empty() && !InSelectionTables(desc, item, value)) {
        if (!answers.keepInput)
            return Message(CfgTakeStatus::Ask, CfgStrNotInList, CfgStrWarning, &item, { value, CfgItemLabel(item) });
        if (!*answers.keepInput)
            return Refocus(&item);
    }

    // 6. Secret values, only when the user typed a new one: characters, then the repetition.
    if (IsSecretKind(item) && control.changed) {
        if (!CfgCheckText(item, 0, value))
            return Message(CfgTakeStatus::Rejected, CfgStrInvalidChars, CfgStrWarning, &item, { CfgItemLabel(item) });
        if (answers.repeatCancelled)
            return Refocus(&item);
        if (!answers.repeated) {
            CfgTakeResult r;
            r.status = CfgTakeStatus::AskRepeat;
            r.caption = RepeatCaption(desc, item);
            r.focus = &item;
            return r;
        }
        if (*answers.repeated != value)
            return Message(CfgTakeStatus::RepeatWrong, CfgStrRepeatWrong, CfgStrError, &item);
    }

    for (CfgItem* device : devices) {
        if (device->value != value)
            CfgSetItemValue(*device, value);
    }
    CfgTakeResult taken;
    taken.status = CfgTakeStatus::Taken;
    taken.value = std::move(value);
    return taken;
}

CfgTakeResult CfgCheckTableEntry(const CfgItem& table, const CfgRow* editing, const std::vector<std::string>& texts)
{
    CfgTakeResult ok;
    ok.status = CfgTakeStatus::Taken;
    if (!table.IsTable() || texts.empty())
        return ok;
    const CfgItem* keyColumn = table.columns.empty() ? nullptr : table.columns.front().get();
    for (const CfgRow& row : table.rows) {
        if (&row == editing)
            continue;
        if (row.cells[0] && StrEqualNoCase(*row.cells[0], texts[0]))
            return Message(CfgTakeStatus::Rejected, CfgStrDuplicateEntry, CfgStrError, keyColumn);
    }
    // A long value of a merged column is split over several rows when the dialog closes: all rows
    // together must fit into the table's max_items.
    if (!table.List(CfgAttrMergeEntrys) || table.Number(CfgAttrMaxItems) == 0)
        return ok;
    uint32_t column = ParseUnsigned(table.List(CfgAttrMergeEntrys)->At(0));
    if (column < 2 || column > table.columns.size() || column > texts.size())
        return ok;
    const CfgItem& merged = *table.columns[column - 1];
    if (!(merged.Number(CfgAttrMaxLen) & CfgMaxLenMerged))
        return ok;
    uint64_t needed = static_cast<uint64_t>(CfgCountSplitRows(table, texts[column - 1]));
    for (const CfgRow& row : table.rows) {
        if (&row == editing)
            continue;
        const std::optional<std::string>& cell = row.cells[column - 1];
        needed += static_cast<uint64_t>(CfgCountSplitRows(table, cell ? *cell : std::string()));
    }
    if (needed > table.Number(CfgAttrMaxItems))
        return Message(CfgTakeStatus::Rejected, CfgStrTableFull, CfgStrError, &merged);
    return ok;
}
