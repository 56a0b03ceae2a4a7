#include "config/frontend/cfgpage.h"

#include "common/calendar.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/frontend/valuerules.h"
#include "config/store/display_pattern.h"

#include <algorithm>

namespace {
// Sizes in dialog units (a character is about 4 units wide and 8 high).
constexpr int kCharWidth = 4;
constexpr int kLineHeight = 8;
constexpr int kEditHeight = 12;
constexpr int kRowGap = 3;
constexpr int kButtonHeight = 14;
constexpr int kButtonWidth = 50;
constexpr int kCheckHeight = 10;
constexpr int kSliderHeight = 15;
constexpr int kListHeight = 96;
constexpr int kGroupTop = 11; // caption line of a frame
constexpr int kGroupInset = 6;
constexpr int kGroupBottom = 5;
constexpr int kUpDownWidth = 10;
constexpr int kUnitWidth = 36;
constexpr int kValueWidth = 30;
constexpr int kIconSize = 20;
constexpr int kLogoSize = 20;
constexpr int kScrollBarWidth = 10;

const char* const kEnglishButtons[] = { "", "&Add...", "&Edit...", "&Delete", "&Copy..." };

bool Flag(const CfgItem& item, CfgAttr attr)
{
    return item.Number(attr) != 0;
}
} // namespace

CfgControlChoice CfgChooseControl(const CfgItem& item)
{
    CfgControlChoice c;
    auto edit = [&](uint32_t flags) {
        c.control = CfgCtl::Edit;
        c.flags = flags | CfgCtlTabStop;
        c.label = true;
        c.unit = item.Text(CfgAttrUnit).has_value();
        c.maxLength = std::min<uint32_t>(item.Number(CfgAttrMaxLen) & ~CfgMaxLenMerged, 255);
    };
    switch (item.kind) {
    case CfgKindGroup:
    case CfgKindGroupLogo:
        c.control = CfgCtl::GroupBox;
        break;
    case CfgKindSeparator:
        c.control = CfgCtl::Separator;
        break;
    case CfgKindStaticText:
        c.control = CfgCtl::Text;
        c.flags = CfgCtlWrapped;
        break;
    case CfgKindStaticIcon:
        c.control = CfgCtl::Icon;
        break;
    case CfgKindReadonlyText:
        edit(CfgCtlReadOnly);
        c.maxLength = 0;
        break;
    case CfgKindEntryText:
    case CfgKindEntryNumbers:
    case CfgKindEntryHex: {
        uint32_t flags = CfgCtlFiltered;
        if (Flag(item, CfgAttrHidden))
            flags |= CfgCtlPassword;
        if (Flag(item, CfgAttrConvertToUpper) || item.kind == CfgKindEntryHex)
            flags |= CfgCtlUpper;
        if (item.kind == CfgKindEntryNumbers)
            flags |= CfgCtlRightAlign;
        edit(flags);
        if (item.kind == CfgKindEntryText && Flag(item, CfgAttrVeryImportant))
            c.flags |= CfgCtlBold;
        break;
    }
    case CfgKindEntryIpAddress:
        c.control = CfgCtl::IpAddress;
        c.flags = CfgCtlTabStop | (Flag(item, CfgAttrVeryImportant) ? CfgCtlBold : 0);
        c.label = true;
        c.unit = item.Text(CfgAttrUnit).has_value();
        break;
    case CfgKindEntryNumeric:
        edit(CfgCtlRightAlign | CfgCtlFiltered);
        c.upDown = true;
        break;
    case CfgKindEntryDate:
        c.control = CfgCtl::Date;
        c.flags = CfgCtlTabStop | (Flag(item, CfgAttrYearIsWildcard) ? CfgCtlEveryYear : 0);
        c.label = true;
        break;
    case CfgKindEntryTime:
        c.control = CfgCtl::Time;
        c.flags = CfgCtlTabStop | (Flag(item, CfgAttrShowSeconds) ? CfgCtlShowSeconds : 0);
        c.label = true;
        break;
    case CfgKindEntryDateTime:
        c.control = CfgCtl::Date;
        c.flags = CfgCtlTabStop | (Flag(item, CfgAttrYearIsWildcard) ? CfgCtlEveryYear : 0)
            | (Flag(item, CfgAttrShowSeconds) ? CfgCtlShowSeconds : 0);
        c.label = true;
        c.secondControl = true;
        break;
    case CfgKindSlider:
        c.control = CfgCtl::TrackBar;
        c.flags = CfgCtlTabStop;
        c.label = true;
        c.unit = item.Text(CfgAttrUnit).has_value();
        c.valueText = true;
        break;
    case CfgKindSelectionButtons:
        c.control = CfgCtl::Radio;
        c.flags = CfgCtlTabStop;
        c.label = true;
        c.buttons = item.List(CfgAttrButtonText) ? static_cast<int>(item.List(CfgAttrButtonText)->Count()) : 0;
        break;
    case CfgKindSelectionList:
        c.control = CfgCtl::DropList;
        c.flags = CfgCtlTabStop;
        c.label = true;
        break;
    case CfgKindSelectionFromTable:
        c.control = Flag(item, CfgAttrNoEdit) ? CfgCtl::DropList : CfgCtl::Combo;
        c.flags = CfgCtlTabStop | (Flag(item, CfgAttrSort) ? CfgCtlSorted : 0)
            | (Flag(item, CfgAttrNoDuplicates) ? CfgCtlNoDuplicates : 0);
        if (c.control == CfgCtl::Combo) {
            c.flags |= CfgCtlFiltered;
            if (Flag(item, CfgAttrConvertToUpper))
                c.flags |= CfgCtlUpper;
            c.maxLength = std::min<uint32_t>(item.Number(CfgAttrMaxLen) & ~CfgMaxLenMerged, 255);
        }
        c.label = true;
        break;
    case CfgKindOnOff:
        c.control = CfgCtl::CheckBox;
        c.flags = CfgCtlTabStop;
        if (item.List(CfgAttrValueList) && item.List(CfgAttrValueList)->Count() >= 3)
            c.flags |= CfgCtlThreeState;
        break;
    case CfgKindTable:
        c.control = CfgCtl::ListView;
        c.flags = CfgCtlTabStop;
        c.label = true;
        break;
    default:
        break;
    }
    return c;
}

std::vector<int> CfgTableButtons(const CfgItem& table)
{
    const CfgOptArgList& menu = table.List(CfgAttrStaticTableMenu);
    if (!menu)
        return { CfgTableAdd, CfgTableEdit, CfgTableCopy, CfgTableDelete };
    std::vector<int> buttons;
    // Shown in the usual order whatever order the list gives.
    for (int b : { CfgTableAdd, CfgTableEdit, CfgTableCopy, CfgTableDelete })
        for (std::string_view m : *menu)
            if (m == std::to_string(b)) {
                buttons.push_back(b);
                break;
            }
    return buttons;
}

std::string CfgDecorationText(const CfgItem& item)
{
    std::string text;
    for (std::string_view part : *item.description) {
        if (!text.empty())
            text += ", ";
        text += part;
    }
    return text;
}

int CfgWrappedLines(const std::string& text, int columns)
{
    columns = std::max(columns, 1);
    int lines = 0;
    size_t at = 0;
    do {
        size_t end = text.find('\n', at);
        std::string_view line(text.data() + at, (end == std::string::npos ? text.size() : end) - at);
        // Greedy wrapping at blanks.
        int n = 1;
        size_t used = 0;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t blank = line.find(' ', pos);
            size_t word = (blank == std::string_view::npos ? line.size() : blank) - pos;
            if (used && used + 1 + word > static_cast<size_t>(columns)) {
                ++n;
                used = 0;
            }
            size_t need = used ? used + 1 + word : word;
            while (need > static_cast<size_t>(columns)) { // a word longer than a line
                ++n;
                need -= static_cast<size_t>(columns);
            }
            used = need;
            pos += word + 1;
        }
        lines += n;
        at = end == std::string::npos ? std::string::npos : end + 1;
    } while (at != std::string::npos);
    return std::max(lines, 1);
}

namespace {
struct Frame {
    size_t control; // index of the group box in the layout
    int left, right; // inner edges
};

class Layouter {
public:
    Layouter(const CfgLayoutOptions& options, const std::vector<std::string>& buttonTexts)
        : options_(options)
        , buttonTexts_(buttonTexts)
    {
        y_ = options.top + options.margin;
    }

    void Item(const CfgItem& item, int left, int right)
    {
        CfgControlChoice choice = CfgChooseControl(item);
        int width = right - left;
        switch (choice.control) {
        case CfgCtl::None:
            return;
        case CfgCtl::GroupBox: {
            Add(item, CfgRole::Decoration, CfgCtl::GroupBox, 0, left, y_, width, kGroupTop, CfgDecorationText(item));
            frames_.push_back({ layout_.controls.size() - 1, left + kGroupInset, right - kGroupInset });
            y_ += kGroupTop;
            if (item.kind == CfgKindGroupLogo) {
                Add(item, CfgRole::Decoration, CfgCtl::Logo, 0, right - kGroupInset - kLogoSize, y_, kLogoSize,
                    kLogoSize, "");
                frames_.back().right -= kLogoSize + 4;
                logoBottom_ = y_ + kLogoSize;
            }
            return;
        }
        case CfgCtl::Separator:
            Add(item, CfgRole::Decoration, CfgCtl::Separator, 0, left, y_ + 2, width, 1, "");
            y_ += 2 + 1 + 4;
            return;
        case CfgCtl::Text: {
            std::string text = CfgDecorationText(item);
            int h = CfgWrappedLines(text, width / kCharWidth) * kLineHeight;
            Add(item, CfgRole::Decoration, CfgCtl::Text, CfgCtlWrapped, left, y_, width, h, text);
            y_ += h + kRowGap;
            return;
        }
        case CfgCtl::Icon: {
            // A number names the icon (1 error, 2 question, 3 warning, 4 information); a text stands beside
            // the information icon.
            std::string text = CfgDecorationText(item);
            std::optional<uint32_t> number = ParseUnsignedStrict(text);
            Add(item, CfgRole::Decoration, CfgCtl::Icon, 0, left, y_, kIconSize, kIconSize, "").index
                = number ? static_cast<int>(*number) : 4;
            if (number) {
                y_ += kIconSize + kRowGap;
                return;
            }
            int tw = width - kIconSize - 6;
            int h = CfgWrappedLines(text, tw / kCharWidth) * kLineHeight;
            Add(item, CfgRole::Decoration, CfgCtl::Text, CfgCtlWrapped, left + kIconSize + 6, y_, tw, h, text);
            y_ += std::max(h, kIconSize) + kRowGap;
            return;
        }
        default:
            break;
        }
        Named(item, choice, left, right);
    }

    // A named item in the band [left, right) of the current row.
    void Named(const CfgItem& item, const CfgControlChoice& choice, int left, int right)
    {
        int width = right - left;
        std::string label = CfgItemLabel(item);
        uint32_t labelFlags = (choice.flags & CfgCtlBold) ? CfgCtlBold : 0;
        int unitWidth = choice.unit ? kUnitWidth : 0;
        int valueWidth = choice.valueText ? kValueWidth : 0;
        int labelWidth = width * 2 / 5;
        // A label longer than its column (a translation) wraps onto more lines instead of being cut;
        // the row grows to hold it.
        const int labelLines = CfgWrappedLines(label, std::max(1, (labelWidth - 2) / kCharWidth));
        const int labelHeight = labelLines * kLineHeight;
        if (labelLines > 1)
            labelFlags |= CfgCtlWrapped;
        int cx = left + labelWidth + 4; // control column
        int cw = right - cx - (unitWidth ? unitWidth + 3 : 0) - (valueWidth ? valueWidth + 3 : 0);
        int top = y_;
        int h = kEditHeight;
        switch (choice.control) {
        case CfgCtl::CheckBox:
            Add(item, CfgRole::Main, CfgCtl::CheckBox, choice.flags, left, y_, width, kCheckHeight, label);
            y_ += kCheckHeight + kRowGap;
            return;
        case CfgCtl::ListView: {
            Add(item, CfgRole::Label, CfgCtl::Text, labelFlags, left, y_, width, kLineHeight, label);
            y_ += kLineHeight + 2;
            std::vector<int> buttons = CfgTableButtons(item);
            int lw = buttons.empty() ? width : width - kButtonWidth - 4;
            Add(item, CfgRole::Main, CfgCtl::ListView, choice.flags, left, y_, lw, kListHeight, "");
            int by = y_;
            for (int b : buttons) {
                Add(item, CfgRole::TableButton, CfgCtl::Button, CfgCtlTabStop, right - kButtonWidth, by, kButtonWidth,
                    kButtonHeight, ButtonText(b))
                    .index
                    = b;
                by += kButtonHeight + 3;
            }
            y_ += std::max(kListHeight, by - y_) + kRowGap;
            return;
        }
        case CfgCtl::Radio: {
            Add(item, CfgRole::Label, CfgCtl::Text, labelFlags, left, y_ + 1, labelWidth, labelHeight, label);
            std::vector<std::string> texts;
            if (item.List(CfgAttrButtonText))
                texts = item.List(CfgAttrButtonText)->Texts();
            int ry = y_;
            for (size_t i = 0; i < texts.size(); ++i) {
                uint32_t flags = i == 0 ? (CfgCtlGroupStart | CfgCtlTabStop) : 0;
                Add(item, CfgRole::Main, CfgCtl::Radio, flags, cx, ry, right - cx, kCheckHeight, texts[i]).index
                    = static_cast<int>(i);
                ry += kCheckHeight + 1;
            }
            y_ = std::max({ ry, y_ + kEditHeight, y_ + 1 + labelHeight }) + kRowGap;
            return;
        }
        case CfgCtl::TrackBar:
            h = kSliderHeight;
            break;
        default:
            break;
        }
        Add(item, CfgRole::Label, CfgCtl::Text, labelFlags, left, y_ + 2, labelWidth, labelHeight, label);
        if (choice.secondControl) {
            int dw = (cw - 3) * 3 / 5;
            Add(item, CfgRole::Main, choice.control, choice.flags, cx, top, dw, h, "");
            Add(item, CfgRole::Second, CfgCtl::Time, choice.flags & (CfgCtlTabStop | CfgCtlShowSeconds), cx + dw + 3,
                top, cw - dw - 3, h, "");
        } else if (choice.upDown) {
            Add(item, CfgRole::Main, choice.control, choice.flags, cx, top, cw - kUpDownWidth, h, "");
            Add(item, CfgRole::Buddy, CfgCtl::UpDown, 0, cx + cw - kUpDownWidth, top, kUpDownWidth, h, "");
        } else {
            Add(item, CfgRole::Main, choice.control, choice.flags, cx, top, cw, h, "");
        }
        int after = cx + cw + 3;
        if (valueWidth) {
            Add(item, CfgRole::Value, CfgCtl::Text, 0, after, top + 3, valueWidth, kLineHeight, "");
            after += valueWidth + 3;
        }
        if (unitWidth)
            Add(item, CfgRole::Unit, CfgCtl::Text, 0, after, top + 2, unitWidth, kLineHeight, *item.Text(CfgAttrUnit));
        y_ += std::max(h, labelHeight + 2) + kRowGap;
        if (choice.flags & CfgCtlEveryYear) {
            // The switch between a date of one year and the same day every year (its text comes from
            // the page builder, in the user's language).
            Add(item, CfgRole::EveryYear, CfgCtl::CheckBox, CfgCtlTabStop, cx, y_, cw, kCheckHeight, "");
            y_ += kCheckHeight + kRowGap;
        }
    }

    void CloseFrame()
    {
        if (frames_.empty())
            return;
        Frame f = frames_.back();
        frames_.pop_back();
        y_ = std::max(y_, logoBottom_);
        CfgLayoutControl& box = layout_.controls[f.control];
        y_ += kGroupBottom - kRowGap;
        box.height = y_ - box.y;
        y_ += kRowGap + 2;
    }

    // The band of the current frame (or the page).
    std::pair<int, int> Band() const
    {
        if (frames_.empty())
            return { options_.margin, options_.width - options_.margin };
        return { frames_.back().left, frames_.back().right };
    }

    CfgPageLayout Finish()
    {
        while (!frames_.empty())
            CloseFrame();
        layout_.height = y_ + options_.margin - kRowGap;
        layout_.scrolls = layout_.height > options_.height;
        return std::move(layout_);
    }

    int y_ = 0;

private:
    CfgLayoutControl& Add(
        const CfgItem& item, CfgRole role, CfgCtl control, uint32_t flags, int x, int y, int w, int h, std::string text)
    {
        CfgLayoutControl c;
        c.item = &item;
        c.role = role;
        c.control = control;
        c.flags = flags;
        c.x = x;
        c.y = y;
        c.width = std::max(w, 1);
        c.height = h;
        c.text = std::move(text);
        layout_.controls.push_back(std::move(c));
        return layout_.controls.back();
    }

    std::string ButtonText(int b) const
    {
        if (static_cast<size_t>(b) < buttonTexts_.size() && !buttonTexts_[static_cast<size_t>(b)].empty())
            return buttonTexts_[static_cast<size_t>(b)];
        return kEnglishButtons[b];
    }

    const CfgLayoutOptions& options_;
    const std::vector<std::string>& buttonTexts_;
    std::vector<Frame> frames_;
    int logoBottom_ = 0;
    CfgPageLayout layout_;
};
} // namespace

CfgPageLayout CfgLayoutPage(
    const CfgSection& section, const CfgLayoutOptions& options, const std::vector<std::string>& buttonTexts)
{
    std::vector<const CfgItem*> items;
    for (const CfgItemPtr& item : section.items)
        items.push_back(item.get());
    return CfgLayoutItems(items, options, buttonTexts);
}

bool CfgValueEnables(const CfgItem& item, const std::string& value)
{
    if (item.kind == CfgKindOnOff && item.List(CfgAttrValueList) && !item.List(CfgAttrValueList)->Empty())
        return value != item.List(CfgAttrValueList)->At(0);
    return !value.empty() && value != "0";
}

namespace {
CfgPageLayout LayOut(const std::vector<const CfgItem*>& items, const CfgLayoutOptions& options,
    const std::vector<std::string>& buttonTexts);
}

CfgPageLayout CfgLayoutItems(const std::vector<const CfgItem*>& items, const CfgLayoutOptions& options,
    const std::vector<std::string>& buttonTexts)
{
    CfgPageLayout layout = LayOut(items, options, buttonTexts);
    if (!layout.scrolls)
        return layout;
    // A page that scrolls loses the scroll bar's width.
    CfgLayoutOptions narrower = options;
    narrower.width -= kScrollBarWidth;
    layout = LayOut(items, narrower, buttonTexts);
    layout.scrolls = true;
    return layout;
}

namespace {
CfgPageLayout LayOut(const std::vector<const CfgItem*>& items, const CfgLayoutOptions& options,
    const std::vector<std::string>& buttonTexts)
{
    Layouter l(options, buttonTexts);
    for (size_t i = 0; i < items.size();) {
        const CfgItem& item = *items[i];
        if (item.kind == CfgKindGroupEnd) {
            l.CloseFrame();
            ++i;
            continue;
        }
        // A row of items sharing a non-zero arrange value, side by side.
        size_t n = 1;
        if (item.arrange && !CfgKindIsDecoration(item.kind) && !item.IsTable())
            while (i + n < items.size() && items[i + n]->arrange == item.arrange && !items[i + n]->IsTable()
                && !CfgKindIsDecoration(items[i + n]->kind))
                ++n;
        auto [left, right] = l.Band();
        if (n == 1) {
            l.Item(item, left, right);
        } else {
            int top = l.y_;
            int bottom = top;
            int share = (right - left - static_cast<int>(n - 1) * 6) / static_cast<int>(n);
            for (size_t k = 0; k < n; ++k) {
                l.y_ = top;
                int x = left + static_cast<int>(k) * (share + 6);
                l.Item(*items[i + k], x, x + share);
                bottom = std::max(bottom, l.y_);
            }
            l.y_ = bottom;
        }
        i += n;
    }
    return l.Finish();
}
} // namespace

bool CfgShowsDeviceClock(const CfgItem& item)
{
    return item.kind == CfgKindEntryDateTime && !item.value && !item.Text(CfgAttrDefaultValue);
}

bool CfgDeviceClockMoment(const std::string& clockText, int64_t seconds, CfgMoment* moment)
{
    CfgMoment m;
    if (clockText.size() != 14 || !CfgReadDeviceClock(clockText, &m))
        return false;
    if (!CfgIsValidDate(m.year, m.month, m.day) || m.hour > 23 || m.minute > 59 || m.second > 59)
        return false;
    int64_t at = (DaysFromCivil(m.year, m.month, m.day) * 24 + m.hour) * 3600 + m.minute * 60 + m.second + seconds;
    int64_t days = at >= 0 ? at / 86400 : (at - 86399) / 86400;
    int64_t rest = at - days * 86400;
    int year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    if (year < 1)
        return false;
    moment->year = static_cast<uint32_t>(year);
    moment->month = month;
    moment->day = day;
    moment->hour = static_cast<uint32_t>(rest / 3600);
    moment->minute = static_cast<uint32_t>(rest / 60 % 60);
    moment->second = static_cast<uint32_t>(rest % 60);
    return true;
}
