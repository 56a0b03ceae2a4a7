#include "common/locale.h"
#include "config/description/cfg_types.h"
#include "config/frontend/valuerules.h"
#include "config/store/cfg_store.h"
#include "config/store/display_pattern.h"

#include <gtest/gtest.h>
#include <memory>

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

CfgControlState Typed(const char* text, bool changed = true)
{
    CfgControlState c;
    c.text = text;
    c.changed = changed;
    return c;
}

class ValueRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallLocale(&EnglishLocale());
        CfgSetDateSource([] { return CfgToday { 2026, 12, 7 }; });
        section = desc.AddSection("main", std::string("Main"));
    }
    void TearDown() override
    {
        InstallLocale(nullptr);
        CfgSetDateSource(nullptr);
    }
    CfgDescription desc;
    CfgSection* section = nullptr;
};

PatternLocale CommaLocale()
{
    LocalePatterns p;
    p.decimal = ",";
    p.thousand = ".";
    return PatternLocale(p);
}
} // namespace

TEST_F(ValueRules, ControlValuesByKind)
{
    CfgItem* text = Add(section, CfgKindEntryText, "t");
    CfgItem* numeric = Add(section, CfgKindEntryNumeric, "n");
    CfgItem* slider = Add(section, CfgKindSlider, "s");
    CfgItem* buttons = Add(section, CfgKindSelectionButtons, "b");
    CfgItem* list = Add(section, CfgKindSelectionList, "l");
    CfgItem* onoff = Add(section, CfgKindOnOff, "o");

    EXPECT_EQ(CfgControlValue(*text, Typed(std::string(300, 'a').c_str())), std::string(255, 'a'));
    EXPECT_EQ(CfgControlValue(*numeric, Typed("1,234")), "1234");
    EXPECT_EQ(CfgControlValue(*numeric, Typed("12.9")), "12");
    EXPECT_EQ(CfgControlValue(*numeric, Typed("")), "0");

    CfgControlState c;
    slider->SetNumber(CfgAttrRangeMin, 100);
    slider->SetNumber(CfgAttrRangeMax, 0);
    c.position = 30;
    EXPECT_EQ(CfgControlValue(*slider, c), "70");
    slider->SetNumber(CfgAttrRangeMin, 10);
    slider->SetNumber(CfgAttrRangeMax, 100);
    EXPECT_EQ(CfgControlValue(*slider, c), "40");

    buttons->SetList(CfgAttrButtonValue, List({ "pap", "chap" }));
    c.selection = 1;
    EXPECT_EQ(CfgControlValue(*buttons, c), "chap");
    c.selection = 2;
    EXPECT_EQ(CfgControlValue(*buttons, c), "2");
    list->SetList(CfgAttrItemValue, List({ "a", "b", "c" }));
    c.selection = 0;
    EXPECT_EQ(CfgControlValue(*list, c), "a");
    c.selection = 5;
    EXPECT_EQ(CfgControlValue(*list, c), "5");

    c.check = 2;
    EXPECT_EQ(CfgControlValue(*onoff, c), "2");
    onoff->SetList(CfgAttrValueList, List({ "off", "on", "auto" }));
    EXPECT_EQ(CfgControlValue(*onoff, c), "auto");
    c.check = 0;
    EXPECT_EQ(CfgControlValue(*onoff, c), "off");
}

TEST_F(ValueRules, NumericFactorInCommaLocale)
{
    PatternLocale comma = CommaLocale();
    InstallLocale(&comma);
    CfgItem* numeric = Add(section, CfgKindEntryNumeric, "n");
    numeric->SetNumber(CfgAttrFactor, 10);
    struct Row {
        const char* typed;
        const char* value;
    } rows[] = {
        { "1,5", "15" },
        { "1,55", "15" }, // cut, not rounded
        { "2,3", "23" }, // decimal arithmetic: not 22
        { "1.234,5", "12345" },
        { "7", "70" },
        { ",9", "9" },
        { "", "0" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(CfgControlValue(*numeric, Typed(r.typed)), r.value) << r.typed;
    numeric->SetNumber(CfgAttrFactor, 1000);
    EXPECT_EQ(CfgControlValue(*numeric, Typed("0,001")), "1");
    numeric->SetNumber(CfgAttrFactor, 0);
    EXPECT_EQ(CfgControlValue(*numeric, Typed("1.234.567")), "1234567");
}

TEST_F(ValueRules, DatesAndTimesWrittenWithThePattern)
{
    CfgItem* date = Add(section, CfgKindEntryDate, "d");
    CfgItem* time = Add(section, CfgKindEntryTime, "t");
    CfgItem* both = Add(section, CfgKindEntryDateTime, "dt");
    EXPECT_EQ(CfgControlValue(*date, Typed("5.3.05")), "05032005");
    EXPECT_EQ(CfgControlValue(*date, Typed("3/5/2005")), "05032005");
    EXPECT_EQ(CfgControlValue(*date, Typed("5.3.")), "05032026"); // no year: this year
    EXPECT_EQ(CfgControlValue(*date, Typed("5")), ""); // no month: empty
    EXPECT_EQ(CfgControlValue(*date, Typed("")), "");
    date->SetNumber(CfgAttrYearIsWildcard, 1);
    EXPECT_EQ(CfgControlValue(*date, Typed("5.3.")), "05030000");
    date->SetText(CfgAttrFormat, "YYYY-MM-DD");
    EXPECT_EQ(CfgControlValue(*date, Typed("24.12.2026")), "2026-12-24");

    CfgControlState c = Typed("9.3.2005");
    c.hour = 7;
    c.minute = 5;
    c.second = 3;
    EXPECT_EQ(CfgControlValue(*time, c), "07:05");
    time->SetNumber(CfgAttrShowSeconds, 1);
    EXPECT_EQ(CfgControlValue(*time, c), "07:05:03");
    EXPECT_EQ(CfgControlValue(*both, c), "09032005 07:05");
    c.text.clear();
    EXPECT_EQ(CfgControlValue(*both, c), "");
}

TEST_F(ValueRules, SeveralDevices)
{
    CfgDescription second, third;
    CfgSection* s2 = second.AddSection("main", std::string("Main"));
    CfgSection* s3 = third.AddSection("main", std::string("Main"));
    CfgItem* a = Add(section, CfgKindEntryText, "name", "Name");
    CfgItem* b = Add(s2, CfgKindEntryText, "name", "Name");
    CfgItem* c = Add(s3, CfgKindEntryText, "name", "Name");
    a->counterpart = b;
    b->counterpart = c;
    auto reset = [&](const char* va, const char* vb, const char* vc) {
        a->value = va;
        b->value = vb;
        c->value = vc;
        a->changed = b->changed = c->changed = 0;
    };

    // Equal values: a change asks nothing and reaches every device.
    reset("x", "x", "x");
    CfgTakeResult r = CfgTakeValue(desc, *a, Typed("y"), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Taken);
    EXPECT_EQ(a->value, "y");
    EXPECT_EQ(b->value, "y");
    EXPECT_EQ(c->value, "y");
    EXPECT_EQ(c->changed, 1u);

    // One differing value, control untouched: nothing is taken.
    reset("x", "x", "z");
    r = CfgTakeValue(desc, *a, Typed("x", false), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Kept);
    EXPECT_EQ(c->value, "z");
    EXPECT_EQ(a->changed + b->changed + c->changed, 0u);

    // Changed: the question; No resets the control and leaves all three values.
    r = CfgTakeValue(desc, *a, Typed("y"), {});
    ASSERT_EQ(r.status, CfgTakeStatus::Ask);
    EXPECT_EQ(r.messageId, unsigned(CfgStrDevicesDiffer));
    EXPECT_NE(r.message.find("for the 'Name' parameter"), std::string::npos) << r.message;
    EXPECT_EQ(r.title, "Warning");
    CfgAnswers no;
    no.changeAll = false;
    r = CfgTakeValue(desc, *a, Typed("y"), no);
    EXPECT_EQ(r.status, CfgTakeStatus::Reset);
    EXPECT_EQ(a->value, "x");
    EXPECT_EQ(b->value, "x");
    EXPECT_EQ(c->value, "z");
    EXPECT_EQ(a->changed + b->changed + c->changed, 0u);

    // Yes: the new value applies to every device.
    CfgAnswers yes;
    yes.changeAll = true;
    r = CfgTakeValue(desc, *a, Typed("y"), yes);
    EXPECT_EQ(r.status, CfgTakeStatus::Taken);
    EXPECT_EQ(a->value, "y");
    EXPECT_EQ(b->value, "y");
    EXPECT_EQ(c->value, "y");

    // A device without a value differs from one with the empty text.
    reset("", "", "");
    b->value.reset();
    EXPECT_EQ(CfgTakeValue(desc, *a, Typed("q"), {}).status, CfgTakeStatus::Ask);

    // A counterpart chain that loops back does not hang.
    reset("x", "x", "x");
    c->counterpart = a;
    EXPECT_EQ(CfgTakeValue(desc, *a, Typed("w"), {}).status, CfgTakeStatus::Taken);
    EXPECT_EQ(c->value, "w");
}

TEST_F(ValueRules, TimePeriods)
{
    CfgItem* from = Add(section, CfgKindEntryTime, "from", "Start");
    CfgItem* to = Add(section, CfgKindEntryTime, "to", "End");
    from->SetNumber(CfgAttrLowerBuddy, 1);
    to->SetNumber(CfgAttrUpperBuddy, 1);
    to->value = "08:00";
    CfgControlState c;
    c.changed = true;
    c.hour = 9;
    CfgTakeResult r = CfgTakeValue(desc, *from, c, {});
    ASSERT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_EQ(r.message, "The time period between 'Start' and 'End' is invalid. Please correct your entry.");
    EXPECT_EQ(r.focus, from);
    EXPECT_FALSE(from->value.has_value());

    // The partner's control, when given, counts instead of its stored value.
    CfgControlState later;
    later.hour = 18;
    CfgTakeContext context;
    context.periodPartner = &later;
    r = CfgTakeValue(desc, *from, c, {}, context);
    EXPECT_EQ(r.status, CfgTakeStatus::Taken);
    EXPECT_EQ(from->value, "09:00");

    // Taking the upper time compares with the lower one's value.
    c.hour = 8;
    c.minute = 59;
    EXPECT_EQ(CfgTakeValue(desc, *to, c, {}).status, CfgTakeStatus::Rejected);
    c.hour = 9;
    c.minute = 0;
    EXPECT_EQ(CfgTakeValue(desc, *to, c, {}).status, CfgTakeStatus::Taken); // equal times form a period

    // Not directly followed: no period.
    CfgSection* other = desc.AddSection("other", std::nullopt);
    CfgItem* lone = Add(other, CfgKindEntryTime, "lone");
    Add(other, CfgKindEntryText, "between");
    CfgItem* after = Add(other, CfgKindEntryTime, "after");
    lone->SetNumber(CfgAttrLowerBuddy, 1);
    after->SetNumber(CfgAttrUpperBuddy, 1);
    after->value = "01:00";
    c.hour = 23;
    EXPECT_EQ(CfgTakeValue(desc, *lone, c, {}).status, CfgTakeStatus::Taken);
}

TEST_F(ValueRules, MandatoryValuesAndAddresses)
{
    CfgItem* text = Add(section, CfgKindEntryText, "host", "Host name");
    text->SetNumber(CfgAttrNeverEmpty, 1);
    CfgTakeResult r = CfgTakeValue(desc, *text, Typed(""), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_EQ(r.message, "Please enter a value for 'Host name'!");
    EXPECT_EQ(CfgTakeValue(desc, *text, Typed("r1"), {}).status, CfgTakeStatus::Taken);

    CfgItem* address = Add(section, CfgKindEntryIpAddress, "ip", "Address");
    address->SetNumber(CfgAttrNeverZero, 1);
    for (const char* bad : { "0.0.0.0", "", "0", "x.y" }) {
        r = CfgTakeValue(desc, *address, Typed(bad), {});
        EXPECT_EQ(r.status, CfgTakeStatus::Rejected) << bad;
        EXPECT_EQ(r.message, "Please enter a valid ip address for 'Address'!");
    }
    EXPECT_EQ(CfgTakeValue(desc, *address, Typed("10.0.0.1"), {}).status, CfgTakeStatus::Taken);
    address->SetNumber(CfgAttrNeverZero, 0);
    EXPECT_EQ(CfgTakeValue(desc, *address, Typed("0.0.0.0"), {}).status, CfgTakeStatus::Taken);
}

TEST_F(ValueRules, SelectionFromTable)
{
    CfgItem* table = Add(section, CfgKindTable, "peers");
    CfgAddColumn(table, CfgKindEntryText)->name = "name";
    CfgAddColumn(table, CfgKindEntryText)->name = "alias";
    CfgRow row;
    row.cells[0] = "r1";
    row.cells[1] = "branch";
    table->rows.push_back(row);
    CfgItem* choice = Add(section, CfgKindSelectionFromTable, "use", "Remote site");
    choice->SetList(CfgAttrItemsFromTable, List({ "PEERS", "2" }));
    CfgIndexNames(desc);

    EXPECT_EQ(CfgTakeValue(desc, *choice, Typed("branch"), {}).status, CfgTakeStatus::Taken);
    EXPECT_EQ(CfgTakeValue(desc, *choice, Typed(""), {}).status, CfgTakeStatus::Taken);
    CfgTakeResult r = CfgTakeValue(desc, *choice, Typed("r1"), {}); // column 1 is not named
    ASSERT_EQ(r.status, CfgTakeStatus::Ask);
    EXPECT_EQ(r.message,
        "The input value 'r1' is not contained in the selection list for 'Remote site'.\r\rDo you want this input "
        "nevertheless maintained?");
    CfgAnswers answers;
    answers.keepInput = false;
    r = CfgTakeValue(desc, *choice, Typed("r1"), answers);
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(choice->value, "");
    answers.keepInput = true;
    EXPECT_EQ(CfgTakeValue(desc, *choice, Typed("r1"), answers).status, CfgTakeStatus::Taken);
    EXPECT_EQ(choice->value, "r1");

    // Without a column number the first column is searched.
    choice->SetList(CfgAttrItemsFromTable, List({ "peers" }));
    EXPECT_EQ(CfgTakeValue(desc, *choice, Typed("r1"), {}).status, CfgTakeStatus::Taken);
    EXPECT_EQ(CfgTakeValue(desc, *choice, Typed("branch"), {}).status, CfgTakeStatus::Ask);
}

TEST_F(ValueRules, SecretValuesAreRepeated)
{
    CfgItem* group = Add(section, CfgKindGroup, nullptr, "Access");
    (void)group;
    CfgItem* secret = Add(section, CfgKindEntryText, "pw", "Password");
    secret->SetNumber(CfgAttrHidden, 1);
    secret->value = "old";
    CfgIndexNames(desc);

    // Untouched: no check, no repetition, no change.
    CfgTakeResult r = CfgTakeValue(desc, *secret, Typed("old", false), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Taken);
    EXPECT_EQ(secret->changed, 0u);

    r = CfgTakeValue(desc, *secret, Typed("a b"), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_EQ(r.message, "You have entered invalid characters for 'Password'. Please retype your entry.");

    r = CfgTakeValue(desc, *secret, Typed("n3w"), {});
    ASSERT_EQ(r.status, CfgTakeStatus::AskRepeat);
    EXPECT_EQ(r.caption, "Access / Password");
    CfgAnswers answers;
    answers.repeated = "n3W";
    r = CfgTakeValue(desc, *secret, Typed("n3w"), answers);
    EXPECT_EQ(r.status, CfgTakeStatus::RepeatWrong);
    EXPECT_EQ(r.message, "You haven't repeated your entry correctly!");
    EXPECT_EQ(r.title, "Error");
    EXPECT_EQ(secret->value, "old");
    answers.repeated.reset();
    answers.repeatCancelled = true;
    r = CfgTakeValue(desc, *secret, Typed("n3w"), answers);
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_TRUE(r.message.empty());
    answers = {};
    answers.repeated = "n3w";
    EXPECT_EQ(CfgTakeValue(desc, *secret, Typed("n3w"), answers).status, CfgTakeStatus::Taken);
    EXPECT_EQ(secret->value, "n3w");
    EXPECT_EQ(secret->changed, 1u);

    // Outside a group the caption is the item alone.
    CfgItem* end = Add(section, CfgKindGroupEnd, nullptr);
    (void)end;
    CfgItem* pin = Add(section, CfgKindEntryNumbers, "pin", "PIN");
    pin->SetNumber(CfgAttrHidden, 1);
    r = CfgTakeValue(desc, *pin, Typed("12x"), {});
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected); // digits only
    r = CfgTakeValue(desc, *pin, Typed("1234"), {});
    ASSERT_EQ(r.status, CfgTakeStatus::AskRepeat);
    EXPECT_EQ(r.caption, "PIN");
}

TEST_F(ValueRules, TableEntryChecks)
{
    CfgItem* table = Add(section, CfgKindTable, "routes");
    CfgAddColumn(table, CfgKindEntryText)->name = "name";
    CfgItem* text = CfgAddColumn(table, CfgKindEntryText);
    text->name = "text";
    text->SetNumber(CfgAttrMaxLen, 10 | CfgMaxLenMerged);
    table->SetList(CfgAttrMergeEntrys, List({ "2" }));
    table->SetNumber(CfgAttrMaxItems, 4);
    CfgRow first;
    first.cells[0] = "Alpha";
    first.cells[1] = std::string(15, 'a'); // two rows when split
    table->rows.push_back(first);
    CfgRow second;
    second.cells[0] = "beta";
    table->rows.push_back(second);

    CfgTakeResult r = CfgCheckTableEntry(*table, nullptr, { "alpha", "x" });
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_EQ(r.message, "An entry with this name already exists in this table.");
    EXPECT_EQ(r.title, "Error");
    EXPECT_EQ(CfgCheckTableEntry(*table, &table->rows.front(), { "Alpha", "x" }).status, CfgTakeStatus::Taken);

    // Rows in use: 2 + 1; a new value of 10 characters fits, one of 11 needs two more rows.
    EXPECT_EQ(CfgCheckTableEntry(*table, nullptr, { "gamma", std::string(10, 'g') }).status, CfgTakeStatus::Taken);
    r = CfgCheckTableEntry(*table, nullptr, { "gamma", std::string(11, 'g') });
    EXPECT_EQ(r.status, CfgTakeStatus::Rejected);
    EXPECT_EQ(r.messageId, unsigned(CfgStrTableFull));
    // Editing the long row replaces its two rows.
    EXPECT_EQ(CfgCheckTableEntry(*table, &table->rows.front(), { "Alpha", std::string(30, 'a') }).status,
        CfgTakeStatus::Taken);
    // Not merged (dialog closed): no row count check.
    text->SetNumber(CfgAttrMaxLen, 10);
    EXPECT_EQ(CfgCheckTableEntry(*table, nullptr, { "gamma", std::string(40, 'g') }).status, CfgTakeStatus::Taken);
}
