#include "config/description/cfg_types.h"
#include "config/frontend/cfgpage.h"
#include "config/store/display_pattern.h"

#include <gtest/gtest.h>

namespace {
CfgArgList List(std::initializer_list<const char*> texts)
{
    CfgArgList list;
    for (const char* t : texts)
        list.Append(t);
    return list;
}

CfgItem* Add(CfgSection* section, uint32_t kind, const char* name, const char* label = nullptr)
{
    CfgItem* item = CfgAddItem(section, kind);
    if (name)
        item->name = name;
    if (label)
        item->description = List({ label });
    return item;
}

// One row of the control table: a kind, the attributes that matter, what it must get.
struct ChoiceCase {
    const char* what;
    uint32_t kind;
    void (*attrs)(CfgItem&);
    CfgCtl control;
    uint32_t flagsSet; // these properties must be present
    uint32_t flagsClear; // and these absent
    bool label;
    bool unit;
    bool upDown;
    bool second;
    uint32_t maxLength;
};

void None(CfgItem&) { }

TEST(CfgPage, ControlPerKindAndAttribute)
{
    const ChoiceCase cases[] = {
        { "group", CfgKindGroup, None, CfgCtl::GroupBox, 0, 0, false, false, false, false, 0 },
        { "group_logo", CfgKindGroupLogo, None, CfgCtl::GroupBox, 0, 0, false, false, false, false, 0 },
        { "group_end", CfgKindGroupEnd, None, CfgCtl::None, 0, 0, false, false, false, false, 0 },
        { "separator", CfgKindSeparator, None, CfgCtl::Separator, 0, 0, false, false, false, false, 0 },
        { "static_text", CfgKindStaticText, None, CfgCtl::Text, CfgCtlWrapped, 0, false, false, false, false, 0 },
        { "static_icon", CfgKindStaticIcon, None, CfgCtl::Icon, 0, 0, false, false, false, false, 0 },
        { "readonly", CfgKindReadonlyText, [](CfgItem& i) { i.SetText(CfgAttrUnit, "s"); }, CfgCtl::Edit,
            CfgCtlReadOnly, CfgCtlFiltered, true, true, false, false, 0 },
        { "text plain", CfgKindEntryText, None, CfgCtl::Edit, CfgCtlFiltered | CfgCtlTabStop,
            CfgCtlPassword | CfgCtlUpper | CfgCtlReadOnly, true, false, false, false, 0 },
        { "text max_len", CfgKindEntryText, [](CfgItem& i) { i.SetNumber(CfgAttrMaxLen, 31); }, CfgCtl::Edit, 0, 0,
            true, false, false, false, 31 },
        { "text max_len above 255", CfgKindEntryText, [](CfgItem& i) { i.SetNumber(CfgAttrMaxLen, 1000); },
            CfgCtl::Edit, 0, 0, true, false, false, false, 255 },
        { "text merged column keeps its length", CfgKindEntryText,
            [](CfgItem& i) { i.SetNumber(CfgAttrMaxLen, CfgMaxLenMerged | 20); }, CfgCtl::Edit, 0, 0, true, false,
            false, false, 20 },
        { "text hidden", CfgKindEntryText, [](CfgItem& i) { i.SetNumber(CfgAttrHidden, 1); }, CfgCtl::Edit,
            CfgCtlPassword, 0, true, false, false, false, 0 },
        { "text upper", CfgKindEntryText, [](CfgItem& i) { i.SetNumber(CfgAttrConvertToUpper, 1); }, CfgCtl::Edit,
            CfgCtlUpper, CfgCtlPassword, true, false, false, false, 0 },
        { "text very important", CfgKindEntryText, [](CfgItem& i) { i.SetNumber(CfgAttrVeryImportant, 1); },
            CfgCtl::Edit, CfgCtlBold, 0, true, false, false, false, 0 },
        { "numbers hidden", CfgKindEntryNumbers, [](CfgItem& i) { i.SetNumber(CfgAttrHidden, 1); }, CfgCtl::Edit,
            CfgCtlPassword | CfgCtlFiltered | CfgCtlRightAlign, 0, true, false, false, false, 0 },
        { "hex", CfgKindEntryHex, None, CfgCtl::Edit, CfgCtlUpper | CfgCtlFiltered, CfgCtlPassword, true, false, false,
            false, 0 },
        { "address", CfgKindEntryIpAddress, None, CfgCtl::IpAddress, CfgCtlTabStop, CfgCtlBold, true, false, false,
            false, 0 },
        { "address very important", CfgKindEntryIpAddress, [](CfgItem& i) { i.SetNumber(CfgAttrVeryImportant, 1); },
            CfgCtl::IpAddress, CfgCtlBold, 0, true, false, false, false, 0 },
        { "numeric", CfgKindEntryNumeric, [](CfgItem& i) { i.SetText(CfgAttrUnit, "min"); }, CfgCtl::Edit,
            CfgCtlRightAlign, CfgCtlPassword, true, true, true, false, 0 },
        { "date", CfgKindEntryDate, None, CfgCtl::Date, 0, CfgCtlEveryYear, true, false, false, false, 0 },
        { "date every year", CfgKindEntryDate, [](CfgItem& i) { i.SetNumber(CfgAttrYearIsWildcard, 1); }, CfgCtl::Date,
            CfgCtlEveryYear, 0, true, false, false, false, 0 },
        { "time", CfgKindEntryTime, None, CfgCtl::Time, 0, CfgCtlShowSeconds, true, false, false, false, 0 },
        { "time seconds", CfgKindEntryTime, [](CfgItem& i) { i.SetNumber(CfgAttrShowSeconds, 1); }, CfgCtl::Time,
            CfgCtlShowSeconds, 0, true, false, false, false, 0 },
        { "date and time", CfgKindEntryDateTime, None, CfgCtl::Date, 0, 0, true, false, false, true, 0 },
        { "slider", CfgKindSlider, [](CfgItem& i) { i.SetText(CfgAttrUnit, "%"); }, CfgCtl::TrackBar, CfgCtlTabStop, 0,
            true, true, false, false, 0 },
        { "buttons", CfgKindSelectionButtons, None, CfgCtl::Radio, 0, 0, true, false, false, false, 0 },
        { "list", CfgKindSelectionList, None, CfgCtl::DropList, CfgCtlTabStop, 0, true, false, false, false, 0 },
        { "from table editable", CfgKindSelectionFromTable, None, CfgCtl::Combo, CfgCtlFiltered,
            CfgCtlSorted | CfgCtlNoDuplicates, true, false, false, false, 0 },
        { "from table no_edit sorted", CfgKindSelectionFromTable,
            [](CfgItem& i) {
                i.SetNumber(CfgAttrNoEdit, 1);
                i.SetNumber(CfgAttrSort, 1);
                i.SetNumber(CfgAttrNoDuplicates, 1);
            },
            CfgCtl::DropList, CfgCtlSorted | CfgCtlNoDuplicates, CfgCtlFiltered, true, false, false, false, 0 },
        { "switch", CfgKindOnOff,
            [](CfgItem& i) {
                i.SetList(CfgAttrValueList, List({ "0", "1" }));
            },
            CfgCtl::CheckBox, 0, CfgCtlThreeState, false, false, false, false, 0 },
        { "switch three values", CfgKindOnOff,
            [](CfgItem& i) {
                i.SetList(CfgAttrValueList, List({ "0", "1", "2" }));
            },
            CfgCtl::CheckBox, CfgCtlThreeState, 0, false, false, false, false, 0 },
        { "table", CfgKindTable, None, CfgCtl::ListView, 0, 0, true, false, false, false, 0 },
    };
    CfgDescription desc;
    CfgSection* section = desc.AddSection("s", std::nullopt);
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.what);
        CfgItem* item = Add(section, c.kind, CfgKindIsDecoration(c.kind) ? nullptr : "x", "Label");
        c.attrs(*item);
        CfgControlChoice got = CfgChooseControl(*item);
        EXPECT_EQ(got.control, c.control);
        EXPECT_EQ(got.flags & c.flagsSet, c.flagsSet);
        EXPECT_EQ(got.flags & c.flagsClear, 0u);
        EXPECT_EQ(got.label, c.label);
        EXPECT_EQ(got.unit, c.unit);
        EXPECT_EQ(got.upDown, c.upDown);
        EXPECT_EQ(got.secondControl, c.second);
        EXPECT_EQ(got.maxLength, c.maxLength);
    }
}

TEST(CfgPage, TableButtonsFollowTheMenu)
{
    CfgDescription desc;
    CfgSection* section = desc.AddSection("s", std::nullopt);
    CfgItem* table = Add(section, CfgKindTable, "t");
    EXPECT_EQ(CfgTableButtons(*table), (std::vector<int> { CfgTableAdd, CfgTableEdit, CfgTableCopy, CfgTableDelete }));
    table->SetList(CfgAttrStaticTableMenu, List({ "3", "1", "2" }));
    EXPECT_EQ(CfgTableButtons(*table), (std::vector<int> { CfgTableAdd, CfgTableEdit, CfgTableDelete }));
    table->SetList(CfgAttrStaticTableMenu, List({ "2" }));
    EXPECT_EQ(CfgTableButtons(*table), (std::vector<int> { CfgTableEdit }));
}

TEST(CfgPage, WrappedLines)
{
    EXPECT_EQ(CfgWrappedLines("", 10), 1);
    EXPECT_EQ(CfgWrappedLines("abc def", 7), 1);
    EXPECT_EQ(CfgWrappedLines("abc defg", 7), 2);
    EXPECT_EQ(CfgWrappedLines("abcdefghijklmnopqrstu", 7), 3); // a long word is broken
    EXPECT_EQ(CfgWrappedLines("a\nb\n\nc", 40), 4);
    EXPECT_EQ(CfgWrappedLines("x", 0), 1);
}

bool Inside(const CfgLayoutControl& inner, const CfgLayoutControl& outer)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width
        && inner.y + inner.height <= outer.y + outer.height;
}

bool Overlap(const CfgLayoutControl& a, const CfgLayoutControl& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

class PageLayout : public ::testing::Test {
protected:
    CfgDescription desc;
    CfgSection* section = desc.AddSection("lan", std::string("LAN"));
    CfgLayoutOptions options;
};

TEST_F(PageLayout, FramesHoldTheirItemsAndNothingOverlaps)
{
    Add(section, CfgKindStaticText, nullptr,
        "A long explanation that needs more than one line on a page of this width, "
        "so that the text below must start lower.");
    Add(section, CfgKindGroup, nullptr, "Addresses");
    CfgItem* addr = Add(section, CfgKindEntryIpAddress, "ip", "IP address");
    addr->SetNumber(CfgAttrVeryImportant, 1);
    CfgItem* lease = Add(section, CfgKindEntryNumeric, "lease", "Lease time");
    lease->SetText(CfgAttrUnit, "min");
    Add(section, CfgKindGroupEnd, nullptr);
    Add(section, CfgKindSeparator, nullptr);
    Add(section, CfgKindStaticIcon, nullptr, "3"); // a number: that icon alone
    CfgItem* radio = Add(section, CfgKindSelectionButtons, "mode", "Mode");
    radio->SetList(CfgAttrButtonText, List({ "Off", "Client", "Server" }));
    Add(section, CfgKindOnOff, "dns", "DNS forwarding");
    Add(section, CfgKindTable, "routes", "Routes");

    CfgPageLayout layout = CfgLayoutPage(*section, options);
    const CfgLayoutControl* frame = nullptr;
    std::vector<const CfgLayoutControl*> mains;
    for (const CfgLayoutControl& c : layout.controls) {
        EXPECT_GE(c.x, options.margin);
        // A page that scrolls leaves room for the scroll bar.
        EXPECT_LE(c.x + c.width, options.width - options.margin - 10) << c.text;
        if (c.control == CfgCtl::GroupBox)
            frame = &c;
        if (c.role == CfgRole::Main)
            mains.push_back(&c);
    }
    ASSERT_NE(frame, nullptr);
    int icons = 0;
    for (const CfgLayoutControl& c : layout.controls)
        if (c.control == CfgCtl::Icon) {
            EXPECT_EQ(c.index, 3);
            ++icons;
        }
    EXPECT_EQ(icons, 1);
    for (const CfgLayoutControl& c : layout.controls)
        EXPECT_NE(c.text, "3");
    EXPECT_EQ(frame->text, "Addresses");
    int inFrame = 0;
    for (const CfgLayoutControl& c : layout.controls) {
        if (c.item == addr || c.item == lease) {
            EXPECT_TRUE(Inside(c, *frame)) << static_cast<int>(c.role);
            ++inFrame;
        } else if (&c != frame) {
            EXPECT_FALSE(Overlap(c, *frame)) << c.text;
        }
    }
    EXPECT_EQ(inFrame, 6); // two labels, address, edit with up-down, unit
    for (size_t a = 0; a < layout.controls.size(); ++a)
        for (size_t b = a + 1; b < layout.controls.size(); ++b)
            if (&layout.controls[a] != frame && &layout.controls[b] != frame) {
                EXPECT_FALSE(Overlap(layout.controls[a], layout.controls[b]))
                    << layout.controls[a].text << " / " << layout.controls[b].text;
            }
    // Tab order (creation order) follows the items; the radio buttons one group, the first a tab stop.
    for (size_t k = 1; k < mains.size(); ++k)
        EXPECT_GE(mains[k]->y, mains[k - 1]->y);
    int radios = 0;
    for (const CfgLayoutControl* m : mains)
        if (m->control == CfgCtl::Radio) {
            EXPECT_EQ(m->index, radios);
            EXPECT_EQ((m->flags & CfgCtlGroupStart) != 0, radios == 0);
            ++radios;
        }
    EXPECT_EQ(radios, 3);
    // The very important label is bold, the others not.
    for (const CfgLayoutControl& c : layout.controls)
        if (c.role == CfgRole::Label) {
            EXPECT_EQ((c.flags & CfgCtlBold) != 0, c.item == addr) << c.text;
        }
    // The table's four buttons, the page taller than the visible height scrolls.
    int buttons = 0;
    for (const CfgLayoutControl& c : layout.controls)
        buttons += c.role == CfgRole::TableButton;
    EXPECT_EQ(buttons, 4);
    EXPECT_TRUE(layout.scrolls);
    EXPECT_GT(layout.height, options.height);
}

// A label longer than its column (German "Erste Adresse des Bereichs" beside an address) wraps onto a
// second line rather than being cut, and the next row starts below it; short labels keep one line.
TEST_F(PageLayout, LongLabelsWrapAndPushTheNextRowDown)
{
    CfgItem* first = Add(section, CfgKindEntryIpAddress, "start", "Erste Adresse des Bereichs");
    CfgItem* last = Add(section, CfgKindEntryIpAddress, "end", "Ende");
    CfgPageLayout layout = CfgLayoutPage(*section, options);
    const CfgLayoutControl *firstLabel = nullptr, *lastLabel = nullptr, *lastEdit = nullptr;
    for (const CfgLayoutControl& c : layout.controls) {
        if (c.role == CfgRole::Label)
            (c.item == first ? firstLabel : lastLabel) = &c;
        if (c.role == CfgRole::Main && c.item == last)
            lastEdit = &c;
    }
    ASSERT_TRUE(firstLabel && lastLabel && lastEdit);
    int columns = (firstLabel->width - 2) / 4;
    ASSERT_LT(columns, 26) << "the page is too wide for this case";
    EXPECT_EQ(firstLabel->height, 16);
    EXPECT_NE(firstLabel->flags & CfgCtlWrapped, 0u);
    EXPECT_EQ(lastLabel->height, 8);
    EXPECT_EQ(lastLabel->flags & CfgCtlWrapped, 0u);
    EXPECT_GE(lastEdit->y, firstLabel->y + firstLabel->height);
    EXPECT_GE(lastLabel->y, firstLabel->y + firstLabel->height);
}

// A date whose year may be a wildcard gets its "(Every year)" switch under the picker, in the tab
// order after it and before the next item; a plain date gets none.
TEST_F(PageLayout, EveryYearSwitchUnderWildcardDates)
{
    CfgItem* holiday = Add(section, CfgKindEntryDate, "holiday", "Holiday");
    holiday->SetNumber(CfgAttrYearIsWildcard, 1);
    CfgItem* plain = Add(section, CfgKindEntryDate, "start", "Start");
    CfgItem* both = Add(section, CfgKindEntryDateTime, "at", "At");
    both->SetNumber(CfgAttrYearIsWildcard, 1);
    Add(section, CfgKindEntryText, "note", "Note");
    CfgPageLayout layout = CfgLayoutPage(*section, options);
    std::vector<const CfgItem*> switches;
    for (size_t k = 0; k < layout.controls.size(); ++k) {
        const CfgLayoutControl& c = layout.controls[k];
        if (c.role != CfgRole::EveryYear)
            continue;
        switches.push_back(c.item);
        EXPECT_EQ(c.control, CfgCtl::CheckBox);
        EXPECT_TRUE(c.flags & CfgCtlTabStop);
        const CfgLayoutControl& picker = layout.controls[k - (c.item == both ? 2 : 1)];
        EXPECT_EQ(picker.item, c.item);
        EXPECT_EQ(picker.role, CfgRole::Main);
        EXPECT_EQ(c.x, picker.x);
        EXPECT_GE(c.y, picker.y + picker.height);
        ASSERT_LT(k + 1, layout.controls.size());
        EXPECT_GE(layout.controls[k + 1].y, c.y + c.height); // the next item's label below it
    }
    EXPECT_EQ(switches, (std::vector<const CfgItem*> { holiday, both }));
    (void)plain;
    for (size_t a = 0; a < layout.controls.size(); ++a)
        for (size_t b = a + 1; b < layout.controls.size(); ++b)
            EXPECT_FALSE(Overlap(layout.controls[a], layout.controls[b])) << a << " / " << b;
}

TEST_F(PageLayout, ArrangedItemsShareARowAndOpenFramesClose)
{
    Add(section, CfgKindGroupLogo, nullptr, "Identification");
    CfgItem* a = Add(section, CfgKindEntryText, "a", "First");
    CfgItem* b = Add(section, CfgKindEntryText, "b", "Second");
    a->arrange = b->arrange = 1;
    CfgItem* c = Add(section, CfgKindEntryText, "c", "Third"); // no group_end: the frame closes at the end
    CfgPageLayout layout = CfgLayoutPage(*section, options);
    auto main = [&](const CfgItem* item) -> const CfgLayoutControl& {
        for (const CfgLayoutControl& ctl : layout.controls)
            if (ctl.item == item && ctl.role == CfgRole::Main)
                return ctl;
        ADD_FAILURE();
        return layout.controls.front();
    };
    EXPECT_EQ(main(a).y, main(b).y);
    EXPECT_LT(main(a).x + main(a).width, main(b).x);
    EXPECT_GT(main(c).y, main(a).y);
    ASSERT_EQ(layout.controls[0].control, CfgCtl::GroupBox);
    ASSERT_EQ(layout.controls[1].control, CfgCtl::Logo);
    EXPECT_TRUE(Inside(main(c), layout.controls[0]));
    EXPECT_FALSE(Overlap(layout.controls[1], main(a)));
    EXPECT_FALSE(layout.scrolls);
}

TEST_F(PageLayout, WizardPageStartsBelowItsHeaderAndButtonsTakeTheGivenTexts)
{
    CfgItem* t = Add(section, CfgKindTable, "t", "Table");
    t->SetList(CfgAttrStaticTableMenu, List({ "1", "3" }));
    options.top = 40;
    CfgPageLayout layout = CfgLayoutPage(*section, options, { "", "&Hinzufügen...", "", "&Löschen" });
    ASSERT_EQ(layout.controls.size(), 4u);
    EXPECT_GE(layout.controls[0].y, 40);
    EXPECT_EQ(layout.controls[2].text, "&Hinzufügen...");
    EXPECT_EQ(layout.controls[2].index, CfgTableAdd);
    EXPECT_EQ(layout.controls[3].text, "&Löschen");
}
} // namespace

namespace {
TEST(CfgPage, EnablingValues)
{
    CfgDescription desc;
    CfgSection* section = desc.AddSection("s", std::nullopt);
    CfgItem* sw = Add(section, CfgKindOnOff, "dhcp");
    sw->SetList(CfgAttrValueList, List({ "no", "yes" }));
    EXPECT_FALSE(CfgValueEnables(*sw, "no"));
    EXPECT_TRUE(CfgValueEnables(*sw, "yes"));
    CfgItem* plain = Add(section, CfgKindOnOff, "plain");
    EXPECT_FALSE(CfgValueEnables(*plain, "0"));
    EXPECT_TRUE(CfgValueEnables(*plain, "1"));
    CfgItem* text = Add(section, CfgKindEntryText, "host");
    EXPECT_FALSE(CfgValueEnables(*text, ""));
    EXPECT_TRUE(CfgValueEnables(*text, "x"));
}

// The Date and time page shows the device's clock in a date-and-time item the configuration leaves
// without a value, running on from the moment the device reported; a stored value or a default wins.
TEST(CfgPage, DeviceClockWhereTheConfigurationHoldsNoTime)
{
    CfgDescription desc;
    CfgSection* section = desc.AddSection("time", std::nullopt);
    CfgItem* clock = Add(section, CfgKindEntryDateTime, "/time/clock");
    EXPECT_TRUE(CfgShowsDeviceClock(*clock));
    clock->value = "01.02.2026 10:00:00";
    EXPECT_FALSE(CfgShowsDeviceClock(*clock));
    CfgItem* preset = Add(section, CfgKindEntryDateTime, "/time/start");
    preset->SetText(CfgAttrDefaultValue, std::string("01.01.2026 00:00"));
    EXPECT_FALSE(CfgShowsDeviceClock(*preset));
    EXPECT_FALSE(CfgShowsDeviceClock(*Add(section, CfgKindEntryDate, "/time/holiday")));

    CfgMoment m;
    ASSERT_TRUE(CfgDeviceClockMoment("23595831122025", 0, &m));
    EXPECT_EQ(m, (CfgMoment { 2025, 12, 31, 23, 59, 58 }));
    // Running on across midnight, the year's end and a leap day.
    ASSERT_TRUE(CfgDeviceClockMoment("23595831122025", 3, &m));
    EXPECT_EQ(m, (CfgMoment { 2026, 1, 1, 0, 0, 1 }));
    ASSERT_TRUE(CfgDeviceClockMoment("23000028022028", 3600, &m));
    EXPECT_EQ(m, (CfgMoment { 2028, 2, 29, 0, 0, 0 }));
    // Fields of two digits are decimal ("08", "09"); a device without a clock reports zeros.
    ASSERT_TRUE(CfgDeviceClockMoment("08090909082026", 0, &m));
    EXPECT_EQ(m, (CfgMoment { 2026, 8, 9, 8, 9, 9 }));
    for (const char* bad : { "00000000000000", "000000", "25000001012026", "00000030022026", "12000001132026x" })
        EXPECT_FALSE(CfgDeviceClockMoment(bad, 0, &m)) << bad;
}
} // namespace
