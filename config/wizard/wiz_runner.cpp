#include "config/wizard/wiz_runner.h"

#include "common/diag.h"
#include "common/text.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"
#include "config/store/display_pattern.h"
#include "device/deviceentry.h"

namespace {

int IndexIn(const CfgOptArgList& list, std::string_view value, bool ignoreCase)
{
    if (!list)
        return -1;
    int i = 0;
    for (std::string_view v : *list) {
        if (ignoreCase ? StrEqualNoCase(v, value) : v == value)
            return i;
        ++i;
    }
    return -1;
}

// The list of a choice's values and texts by kind.
CfgAttr ValueAttr(uint32_t kind)
{
    return kind == CfgKindSelectionButtons ? CfgAttrButtonValue
        : kind == CfgKindSelectionList     ? CfgAttrItemValue
                                           : CfgAttrValueList;
}
CfgAttr TextAttr(uint32_t kind)
{
    return kind == CfgKindSelectionButtons ? CfgAttrButtonText
        : kind == CfgKindSelectionList     ? CfgAttrItemText
                                           : CfgAttrValueText;
}

// The index a choice control shows for a value: the value's place in the value list, else the value
// read as the index itself.
int ChoiceIndex(const CfgItem& item, const std::string& value)
{
    int i = IndexIn(item.List(ValueAttr(item.kind)), value, false);
    if (i >= 0)
        return i;
    std::optional<uint32_t> n = ParseUnsignedStrict(value);
    return n && *n < 0x7FFFFFFFu ? static_cast<int>(*n) : -1;
}

// A date as a user types it ("D.M.Y", or "D.M." for a date of every year).
std::string TypedDate(const CfgMoment& m)
{
    if (m.year == 0)
        return StrFormat("%u.%u.", m.day, m.month);
    return StrFormat("%u.%u.%u", m.day, m.month, m.year);
}

// "h:mm" or "h:mm:ss" as typed.
bool ReadTypedTime(std::string_view text, CfgControlState* state)
{
    uint32_t parts[3] = {};
    size_t count = 0;
    size_t i = 0;
    text = Trim(text);
    while (count < 3) {
        size_t used = 0;
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        uint32_t v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && used < 4) {
            v = v * 10u + static_cast<uint32_t>(text[i] - '0');
            ++i;
            ++used;
        }
        parts[count++] = v;
        if (i == text.size())
            break;
        if (text[i] != ':')
            return false;
        ++i;
    }
    if (i != text.size() || count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59)
        return false;
    state->hour = parts[0];
    state->minute = parts[1];
    state->second = parts[2];
    return true;
}

bool MandatoryKind(uint32_t kind)
{
    return kind == CfgKindEntryText || kind == CfgKindEntryNumbers || kind == CfgKindEntryHex
        || kind == CfgKindSelectionFromTable;
}

} // namespace

CfgControlState WizControlFromItem(const CfgItem& item)
{
    CfgControlState s;
    const std::string value = item.value.value_or("");
    switch (item.kind) {
    case CfgKindEntryNumeric: {
        uint32_t factor = item.Number(CfgAttrFactor);
        uint32_t n = ParseUnsigned(value);
        if (factor <= 1 || n % factor == 0) {
            s.text = item.value ? StrFormat("%u", factor > 1 ? n / factor : n) : "";
        } else {
            // The fraction in as many decimal digits as the factor has.
            uint32_t digits = 0;
            uint64_t scale = 1;
            while (scale < factor) {
                scale *= 10u;
                ++digits;
            }
            uint64_t fraction = static_cast<uint64_t>(n % factor) * scale / factor;
            s.text = StrFormat("%u%s%0*llu", n / factor, CfgLocaleDecimalSeparator().c_str(), static_cast<int>(digits),
                static_cast<unsigned long long>(fraction));
        }
        break;
    }
    case CfgKindEntryDate:
    case CfgKindEntryDateTime:
    case CfgKindEntryTime: {
        CfgMoment m;
        unsigned found = 0;
        if (item.value)
            CfgPatternRead(CfgItemPattern(item), value, &m, &found);
        if (item.kind != CfgKindEntryTime && (found & CfgFieldDay) && (found & CfgFieldMonth))
            s.text = TypedDate(m);
        s.hour = m.hour;
        s.minute = m.minute;
        s.second = m.second;
        break;
    }
    case CfgKindSlider: {
        uint32_t n = ParseUnsigned(value);
        uint32_t low = item.Number(CfgAttrRangeMin);
        s.position = low >= item.Number(CfgAttrRangeMax) ? low - n : n - low;
        break;
    }
    case CfgKindSelectionButtons:
    case CfgKindSelectionList:
        s.selection = item.value ? ChoiceIndex(item, value) : -1;
        break;
    case CfgKindOnOff:
        s.check = item.value ? ChoiceIndex(item, value) : 0;
        if (s.check < 0)
            s.check = 0;
        break;
    default:
        s.text = value;
        break;
    }
    return s;
}

bool WizControlFromAnswer(const CfgItem& item, const std::string& answer, CfgControlState* state)
{
    CfgControlState s = WizControlFromItem(item);
    s.changed = true;
    switch (item.kind) {
    case CfgKindSelectionButtons:
    case CfgKindSelectionList: {
        int i = IndexIn(item.List(TextAttr(item.kind)), answer, true);
        if (i < 0)
            i = IndexIn(item.List(ValueAttr(item.kind)), answer, false);
        if (i < 0)
            return false;
        s.selection = i;
        break;
    }
    case CfgKindOnOff: {
        std::optional<uint32_t> n = ParseUnsignedStrict(answer);
        if (!n || *n > 2)
            return false;
        s.check = static_cast<int>(*n);
        break;
    }
    case CfgKindSlider: {
        std::optional<uint32_t> n = ParseUnsignedStrict(answer);
        if (!n)
            return false;
        uint32_t low = item.Number(CfgAttrRangeMin);
        s.position = low >= item.Number(CfgAttrRangeMax) ? low - *n : *n - low;
        break;
    }
    case CfgKindEntryTime:
        if (!ReadTypedTime(answer, &s))
            return false;
        break;
    case CfgKindEntryDateTime: {
        // The date as typed, a blank, the time as typed.
        std::string_view a = Trim(answer);
        size_t blank = a.find(' ');
        s.text = std::string(a.substr(0, blank));
        if (blank != std::string_view::npos && !ReadTypedTime(a.substr(blank + 1), &s))
            return false;
        break;
    }
    default:
        s.text = answer;
        break;
    }
    *state = s;
    return true;
}

WizRunner::WizRunner(DeviceEntry& entry, std::string language)
    : entry_(entry)
    , language_(std::move(language))
{
}

WizRunner::~WizRunner() = default;

const char* WizRunner::Language() const
{
    return language_.empty() ? nullptr : language_.c_str();
}

uint32_t WizRunner::LoadFeatureMask() const
{
    return (entry_.flags & DevFlagFeatureWord) ? entry_.feature_word : 0xFFFFFFFFu;
}

WizScript* WizRunner::Wizard() const
{
    return entry_.wizard_config.get();
}

const CfgSection* WizRunner::PageSection() const
{
    WizScript* wiz = Wizard();
    if (!wiz || page_ < 0 || static_cast<size_t>(page_) >= wiz->pages.sections.size())
        return nullptr;
    return wiz->pages.sections[static_cast<size_t>(page_)].get();
}

WizControl* WizRunner::ControlOf(const CfgItem* item)
{
    for (WizControl& c : controls_)
        if (c.item == item)
            return &c;
    return nullptr;
}

WizRunner::Opened WizRunner::Open(bool enter)
{
    bool unconfigured = (entry_.flags & DevFlagUnconfigured) != 0;
    list_ = WizList(entry_.device_type.str(), entry_.fw_version.str(), Language(), entry_.feature_word, unconfigured);
    if (list_.empty()) {
        if (entry_.wizard_done) {
            entry_.wizard_done = 0;
            return Opened::MarkCleared;
        }
        return Opened::NoWizard;
    }
    page_ = -1;
    if (unconfigured) {
        if (!Load("DEFAULT"))
            return Opened::Selection;
        if (!enter) {
            int count = static_cast<int>(Wizard()->pages.sections.size());
            for (int i = 0; i < count; ++i)
                if (!Refused(i))
                    return Opened::Running;
            return Opened::Selection;
        }
        if (!MoveFrom(-1, 1))
            return Opened::Selection;
        return Opened::Running;
    }
    return Opened::Selection;
}

bool WizRunner::Load(const std::string& name)
{
    Free();
    WizScriptPtr wiz
        = WizLoad(name.c_str(), entry_.device_type.str(), entry_.fw_version.str(), Language(), LoadFeatureMask());
    if (!wiz && Language())
        wiz = WizLoad(name.c_str(), entry_.device_type.str(), entry_.fw_version.str(), nullptr, LoadFeatureMask());
    if (!wiz)
        return false;
    Diag("loading wizard %s\n", name.empty() ? "DEFAULT" : name.c_str());
    entry_.wizard_config = std::shared_ptr<WizScript>(std::move(wiz));
    WizRunActions(*Wizard(), entry_.config.get(), Wizard()->onInit, &entry_, WizMode::Page);
    return true;
}

bool WizRunner::Choose(const std::string& name)
{
    WizScript* wiz = Wizard();
    if (!(wiz && wiz->name == name) && !Load(name))
        return false;
    if (MoveFrom(-1, 1))
        return true;
    page_ = -1; // every page refused: the selection page stays
    return false;
}

void WizRunner::Free()
{
    entry_.wizard_config.reset();
    controls_.clear();
    page_ = -1;
}

bool WizRunner::Refused(int index)
{
    WizScript* wiz = Wizard();
    const CfgSection& page = *wiz->pages.sections[static_cast<size_t>(index)];
    if (page.IsPlugin())
        return false;
    return WizAnyConditionHolds(*wiz, entry_.config.get(), page.conditions, &entry_);
}

bool WizRunner::Activate(int index)
{
    if (Refused(index))
        return false;
    WizScript* wiz = Wizard();
    CfgSection& page = *wiz->pages.sections[static_cast<size_t>(index)];
    page_ = index;
    controls_.clear();
    if (page.IsPlugin())
        return true;
    WizRunActions(*wiz, entry_.config.get(), page.onShow, &entry_, WizMode::Page);
    for (const auto& item : page.items) {
        if (!CfgKindIsColumn(item->kind))
            continue;
        WizControl c;
        c.item = item.get();
        c.state = WizControlFromItem(*item);
        c.disabled = (item->state & CfgItemDisabled) != 0;
        controls_.push_back(c);
    }
    return true;
}

bool WizRunner::MoveFrom(int index, int direction)
{
    skipped_.clear();
    WizScript* wiz = Wizard();
    if (!wiz)
        return false;
    int count = static_cast<int>(wiz->pages.sections.size());
    for (int i = index + direction; i >= 0 && i < count; i += direction) {
        if (Activate(i))
            return true;
        skipped_.push_back(i);
    }
    return false;
}

WizButtons WizRunner::Buttons()
{
    WizButtons b;
    WizScript* wiz = Wizard();
    if (!wiz || page_ < 0)
        return b;
    b.back = !wiz->defaultFlag;
    for (int i = 0; i < page_ && !b.back; ++i)
        b.back = !Refused(i);
    b.finish = true;
    int count = static_cast<int>(wiz->pages.sections.size());
    for (int i = page_ + 1; i < count && b.finish; ++i)
        b.finish = Refused(i);
    return b;
}

bool WizRunner::TakePage(const WizAskFn& ask, CfgTakeResult* rejected)
{
    WizScript* wiz = Wizard();
    for (WizControl& c : controls_) {
        CfgItem& item = *c.item;
        // A control that shows no value and was not touched has nothing to store, unless its kind must
        // not stay empty.
        if (!c.state.changed && !item.value && !MandatoryKind(item.kind))
            continue;
        CfgAnswers answers;
        for (int round = 0; round < 8; ++round) {
            CfgTakeResult r = CfgTakeValue(wiz->pages, item, c.state, answers);
            if (r.status == CfgTakeStatus::Taken || r.status == CfgTakeStatus::Kept)
                break;
            if ((r.status == CfgTakeStatus::Ask || r.status == CfgTakeStatus::AskRepeat) && ask && ask(r, answers))
                continue;
            if (rejected)
                *rejected = r;
            return false;
        }
    }
    return true;
}

bool WizRunner::Next(const WizAskFn& ask, CfgTakeResult* rejected)
{
    WizScript* wiz = Wizard();
    if (!wiz || page_ < 0)
        return false;
    CfgSection& page = *wiz->pages.sections[static_cast<size_t>(page_)];
    if (!page.IsPlugin()) {
        if (!TakePage(ask, rejected))
            return false;
        WizRunActions(*wiz, entry_.config.get(), page.onNext, &entry_, WizMode::Page);
    }
    int from = page_;
    if (MoveFrom(from, 1))
        return true;
    // No later page takes the activation: the page stays.
    Activate(from);
    return false;
}

bool WizRunner::Back()
{
    WizScript* wiz = Wizard();
    if (!wiz || page_ < 0)
        return false;
    CfgSection& page = *wiz->pages.sections[static_cast<size_t>(page_)];
    if (!page.IsPlugin())
        WizRunActions(*wiz, entry_.config.get(), page.onBack, &entry_, WizMode::Page);
    int from = page_;
    if (MoveFrom(from, -1))
        return true;
    if (wiz->defaultFlag) {
        Activate(from);
        return false;
    }
    // The placeholder refuses too: the selection page.
    page_ = -1;
    controls_.clear();
    return true;
}

int WizRunner::Finish(const WizAskFn& ask, CfgTakeResult* rejected)
{
    WizScript* wiz = Wizard();
    if (!wiz)
        return 0;
    const CfgSection* page = PageSection();
    if (page && !page->IsPlugin() && !controls_.empty()) {
        if (!TakePage(ask, rejected))
            return 0;
        WizRunActions(*wiz, entry_.config.get(), page->onNext, &entry_, WizMode::Page);
    }
    WizRunActions(*wiz, entry_.config.get(), wiz->onApply, &entry_, WizMode::Apply);
    bool isDefault = wiz->defaultFlag != 0;
    Free();
    entry_.wizard_done = isDefault ? 1 : 0;
    return 1;
}

bool WizRunner::Select(const std::string& name)
{
    WizScript* wiz = Wizard();
    if (!(wiz && wiz->name == name) && !Load(name))
        return false;
    page_ = -1;
    controls_.clear();
    int count = static_cast<int>(Wizard()->pages.sections.size());
    for (int i = 0; i < count; ++i)
        if (!Refused(i))
            return true;
    return false;
}

bool WizRunner::Enter(int index)
{
    WizScript* wiz = Wizard();
    if (!wiz || index < 0 || static_cast<size_t>(index) >= wiz->pages.sections.size())
        return false;
    return Activate(index);
}

void WizRunner::EnterSelection()
{
    page_ = -1;
    controls_.clear();
}

void WizRunner::Leave(bool forward)
{
    WizScript* wiz = Wizard();
    const CfgSection* page = PageSection();
    if (!wiz || !page || page->IsPlugin())
        return;
    WizRunActions(*wiz, entry_.config.get(), forward ? page->onNext : page->onBack, &entry_, WizMode::Page);
}

int WizRunner::Complete()
{
    WizScript* wiz = Wizard();
    if (!wiz)
        return 0;
    WizRunActions(*wiz, entry_.config.get(), wiz->onApply, &entry_, WizMode::Apply);
    bool isDefault = wiz->defaultFlag != 0;
    Free();
    entry_.wizard_done = isDefault ? 1 : 0;
    return 1;
}

int WizRunner::Cancel()
{
    Free();
    entry_.wizard_done = 0;
    return 0;
}

void WizRunner::PageHeader(const WizScript& wiz, const CfgSection& page, const std::string& deviceName,
    std::string* title, std::string* subtitle)
{
    if (page.title && !page.title->empty()) {
        *title = page.name;
        *subtitle = *page.title;
    } else if (!page.name.empty()) {
        *title = wiz.title;
        *subtitle = page.name;
    } else {
        *title = deviceName;
        *subtitle = wiz.title;
    }
}
