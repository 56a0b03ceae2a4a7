#include "common/locale.h"
#include "config/description/cfg_types.h"
#include "config/store/display.h"
#include "config/store/display_list.h"
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

CfgItem Item(uint32_t kind)
{
    CfgItem item;
    item.kind = kind;
    item.name = "x";
    return item;
}

std::optional<std::string> Shown(const CfgItem& item, const std::optional<std::string>& value, bool mask = true)
{
    return CfgDisplayText(item, value, "On", "Off", mask);
}

// The locale and the date are fixed in every test and restored afterwards.
class Display : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallLocale(&EnglishLocale());
        CfgSetDateSource([] { return CfgToday { 2026, 12, 7 }; });
    }
    void TearDown() override
    {
        InstallLocale(nullptr);
        CfgSetDateSource(nullptr);
    }
    PatternLocale German()
    {
        LocalePatterns p;
        p.decimal = ",";
        p.thousand = ".";
        p.shortDate = "dd.MM.yyyy";
        p.time = "HH:mm:ss";
        return PatternLocale(p);
    }
};
} // namespace

TEST_F(Display, EntryFieldsDefaultsMasksAndUnits)
{
    CfgItem address = Item(CfgKindEntryIpAddress);
    CfgItem text = Item(CfgKindEntryText);
    CfgItem secret = Item(CfgKindEntryText);
    secret.SetNumber(CfgAttrHidden, 1);
    CfgItem digits = Item(CfgKindEntryNumbers);
    digits.SetText(CfgAttrUnit, "s");
    digits.SetText(CfgAttrDefaultValue, "30");
    CfgItem hex = Item(CfgKindEntryHex);
    hex.SetNumber(CfgAttrHidden, 1);
    hex.SetText(CfgAttrUnit, "h");

    EXPECT_EQ(Shown(address, std::nullopt), "0.0.0.0");
    EXPECT_EQ(Shown(address, "10.0.0.1"), "10.0.0.1");
    address.SetText(CfgAttrDefaultValue, "192.168.1.1");
    EXPECT_EQ(Shown(address, std::nullopt), "192.168.1.1");
    EXPECT_EQ(Shown(text, std::nullopt), "");
    EXPECT_EQ(Shown(text, "abc"), "abc");
    EXPECT_EQ(Shown(secret, "0123456789"), "*");
    EXPECT_EQ(Shown(secret, "0123456789", false), "0123456789");
    EXPECT_EQ(Shown(secret, ""), "");
    EXPECT_EQ(Shown(secret, std::nullopt), "");
    EXPECT_EQ(Shown(digits, std::nullopt), "30 s");
    EXPECT_EQ(Shown(digits, "5"), "5 s");
    EXPECT_EQ(Shown(hex, "ab"), "* h");
    EXPECT_EQ(Shown(hex, "ab", false), "ab h");
}

TEST_F(Display, ReadonlyText)
{
    CfgItem plain = Item(CfgKindReadonlyText);
    plain.SetNumber(CfgAttrConvertToUpper, 1);
    plain.SetText(CfgAttrUnit, "kB");
    EXPECT_EQ(Shown(plain, "abc"), "ABC kB");
    EXPECT_EQ(Shown(plain, std::nullopt), " kB");
    CfgItem mapped = Item(CfgKindReadonlyText);
    mapped.SetList(CfgAttrItemText, List({ "none", "one", "other" }));
    mapped.SetList(CfgAttrItemValue, List({ "0", "1" }));
    EXPECT_EQ(Shown(mapped, "1"), "one");
    EXPECT_EQ(Shown(mapped, "7"), "other");
    EXPECT_EQ(Shown(mapped, std::nullopt), "none");
}

TEST_F(Display, SwitchesAndSelections)
{
    CfgItem onoff = Item(CfgKindOnOff);
    onoff.SetList(CfgAttrValueList, List({ "no", "yes", "auto" }));
    onoff.SetList(CfgAttrValueText, List({ "Never", "Always", "Automatic" }));
    struct Row {
        const char* value;
        const char* shown;
    } switchRows[] = { { "yes", "Always" }, { "auto", "Automatic" }, { "no", "Never" }, { "other", "Never" } };
    for (const Row& r : switchRows)
        EXPECT_EQ(Shown(onoff, r.value), r.shown) << r.value;

    CfgItem plainSwitch = Item(CfgKindOnOff);
    plainSwitch.SetNumber(CfgAttrDefaultSelection, 1);
    EXPECT_EQ(Shown(plainSwitch, "0"), "Off");
    EXPECT_EQ(Shown(plainSwitch, "1"), "On");
    EXPECT_EQ(Shown(plainSwitch, std::nullopt), "On");
    EXPECT_EQ(Shown(plainSwitch, "5"), "5"); // no text at that index: the value itself
    plainSwitch.SetList(CfgAttrValueList, List({ "off", "on" }));
    EXPECT_EQ(Shown(plainSwitch, "on"), "On");
    EXPECT_EQ(Shown(plainSwitch, ""), "Off"); // a two-entry list has no third value to match ""

    CfgItem list = Item(CfgKindSelectionList);
    list.SetList(CfgAttrItemText, List({ "first", "second", "third" }));
    list.SetList(CfgAttrItemValue, List({ "a", "b" }));
    list.SetNumber(CfgAttrDefaultSelection, 2);
    EXPECT_EQ(Shown(list, "b"), "second");
    EXPECT_EQ(Shown(list, "a"), "first");
    EXPECT_EQ(Shown(list, "c"), "");
    EXPECT_EQ(Shown(list, std::nullopt), "third");

    CfgItem buttons = Item(CfgKindSelectionButtons);
    buttons.SetList(CfgAttrButtonText, List({ "Automatic", "Manual" }));
    buttons.SetList(CfgAttrBshortText, List({ "auto", "man" }));
    EXPECT_EQ(Shown(buttons, "1"), "man"); // no button values: the value is the index
    EXPECT_EQ(Shown(buttons, "2"), "");
    buttons.SetList(CfgAttrBshortText, std::nullopt);
    buttons.SetList(CfgAttrButtonValue, List({ "x", "y", "y" }));
    EXPECT_EQ(Shown(buttons, "y"), "Manual"); // searched from the last position both lists have
    EXPECT_EQ(Shown(buttons, "z"), "");

    CfgItem fromTable = Item(CfgKindSelectionFromTable);
    EXPECT_EQ(Shown(fromTable, "peer1"), "peer1");
    EXPECT_EQ(Shown(fromTable, std::nullopt), "");
}

TEST_F(Display, NumbersAndSliders)
{
    CfgItem numeric = Item(CfgKindEntryNumeric);
    EXPECT_EQ(Shown(numeric, "1234567"), "1,234,567");
    EXPECT_EQ(Shown(numeric, "0x10"), "16");
    EXPECT_EQ(Shown(numeric, std::nullopt), "0");
    numeric.SetNumber(CfgAttrFactor, 10);
    numeric.SetText(CfgAttrUnit, "dB");
    EXPECT_EQ(Shown(numeric, "15"), "1.50 dB");
    numeric.SetText(CfgAttrDefaultValue, "12345");
    EXPECT_EQ(Shown(numeric, std::nullopt), "1,234.50 dB");
    PatternLocale de = German();
    InstallLocale(&de);
    EXPECT_EQ(Shown(numeric, "15"), "1,50 dB");
    numeric.SetNumber(CfgAttrFactor, 0);
    numeric.SetText(CfgAttrUnit, std::nullopt);
    EXPECT_EQ(Shown(numeric, "1234567"), "1.234.567");
    EXPECT_EQ(CfgLocaleDecimalSeparator(), ",");
    EXPECT_EQ(CfgLocaleThousandSeparator(), ".");

    CfgItem slider = Item(CfgKindSlider);
    slider.SetNumber(CfgAttrDefaultValue, 70);
    slider.SetText(CfgAttrUnit, "%");
    EXPECT_EQ(Shown(slider, std::nullopt), "70 %");
    EXPECT_EQ(Shown(slider, "-1"), "4294967295 %");
    EXPECT_EQ(Shown(slider, "0x20"), "32 %");
}

TEST_F(Display, Dates)
{
    CfgItem date = Item(CfgKindEntryDate);
    EXPECT_EQ(Shown(date, "09032005"), "3/9/2005");
    EXPECT_EQ(Shown(date, "31022005"), "");
    EXPECT_EQ(Shown(date, std::nullopt), "");
    date.SetNumber(CfgAttrNeverEmpty, 1);
    EXPECT_EQ(Shown(date, "31022005"), "Invalid Date");
    EXPECT_EQ(Shown(date, ""), "Invalid Date");
    EXPECT_EQ(Shown(date, "09030000"), "Invalid Date"); // year 0 without the wildcard
    date.SetNumber(CfgAttrYearIsWildcard, 1);
    EXPECT_EQ(Shown(date, "09030000"), "3/9/(Every year)");
    EXPECT_EQ(Shown(date, "29020000"), "Invalid Date"); // 2026 has no 29 February
    date.SetText(CfgAttrDefaultValue, "01012000");
    EXPECT_EQ(Shown(date, std::nullopt), "1/1/2000");

    PatternLocale de = German();
    InstallLocale(&de);
    EXPECT_EQ(Shown(date, "09030000"), "09.03.(Every year)");
    LocalePatterns shortYear;
    shortYear.shortDate = "yy-MM-dd";
    PatternLocale yy(shortYear);
    InstallLocale(&yy);
    EXPECT_EQ(Shown(date, "26120000"), "(Every year)-12-26");
    EXPECT_EQ(Shown(date, "26122026"), "26-12-26");
}

TEST_F(Display, TimesAndDateTimes)
{
    CfgItem time = Item(CfgKindEntryTime);
    EXPECT_EQ(Shown(time, "13:05"), "1:05 PM");
    EXPECT_EQ(Shown(time, "25:00"), "");
    EXPECT_EQ(Shown(time, ""), "");
    time.SetNumber(CfgAttrShowSeconds, 1);
    EXPECT_EQ(Shown(time, "13:05:07"), "1:05:07 PM");
    time.SetText(CfgAttrFormat, "hhmm");
    time.SetNumber(CfgAttrShowSeconds, 0);
    EXPECT_EQ(Shown(time, "0705"), "7:05 AM");

    CfgItem both = Item(CfgKindEntryDateTime);
    EXPECT_EQ(Shown(both, "09032005 13:05"), "3/9/2005 1:05 PM");
    EXPECT_EQ(Shown(both, "99032005 13:05"), "");
    both.SetNumber(CfgAttrNeverEmpty, 1);
    EXPECT_EQ(Shown(both, "99032005 13:05"), "Invalid Date");
    both.SetText(CfgAttrFormat, "DD.MM.YYYY");
    EXPECT_EQ(Shown(both, "09.03.2005"), "3/9/2005");
    both.SetText(CfgAttrFormat, "YYYYMMDDhhmmss");
    both.SetNumber(CfgAttrShowSeconds, 1);
    EXPECT_EQ(Shown(both, "20050309130507"), "3/9/2005 1:05:07 PM");
    both.SetNumber(CfgAttrYearIsWildcard, 1);
    EXPECT_EQ(Shown(both, "00000309130507"), "3/9/(Every year) 1:05:07 PM");
}

TEST_F(Display, KindsWithoutDisplayText)
{
    for (uint32_t kind : { 1u, 2u, 3u, 4u, 5u, 6u, uint32_t(CfgKindTable), 0u, 21u }) {
        CfgItem item = Item(kind);
        EXPECT_FALSE(Shown(item, "1").has_value()) << kind;
    }
}

TEST_F(Display, ListingAsTheTableListsShowIt)
{
    CfgDescription desc;
    CfgSection* main = desc.AddSection("main", std::string("General"));
    CfgSection* untitled = desc.AddSection("lan", std::nullopt);
    CfgAddItem(main, CfgKindGroup)->description = List({ "Frame" });
    CfgItem* on = CfgAddItem(main, CfgKindOnOff);
    on->name = "dhcp";
    on->value = "1";
    CfgItem* pw = CfgAddItem(main, CfgKindEntryText);
    pw->name = "password";
    pw->SetNumber(CfgAttrHidden, 1);
    pw->value = "secret";
    CfgItem* ip = CfgAddItem(untitled, CfgKindEntryIpAddress);
    ip->name = "ip";
    CfgItem* table = CfgAddItem(untitled, CfgKindTable);
    table->name = "users";
    CfgItem* user = CfgAddColumn(table, CfgKindEntryText);
    user->name = "name";
    CfgItem* key = CfgAddColumn(table, CfgKindEntryText);
    key->name = "key";
    key->SetNumber(CfgAttrHidden, 1);
    CfgItem* active = CfgAddColumn(table, CfgKindOnOff);
    active->name = "active";
    CfgRow row;
    row.cells[0] = "anna";
    row.cells[1] = "k3y";
    row.cells[2] = "0";
    table->rows.push_back(row);

    std::string masked;
    CfgListValues(desc, true, &masked);
    EXPECT_EQ(masked,
        "[General]\n"
        "  dhcp = On\n"
        "  password = *\n"
        "[lan]\n"
        "  ip = 0.0.0.0\n"
        "  users:\n"
        "    anna | * | Off\n");
    std::string plain;
    CfgListValues(desc, false, &plain);
    EXPECT_NE(plain.find("  password = secret\n"), std::string::npos);
    EXPECT_NE(plain.find("    anna | k3y | Off\n"), std::string::npos);
}
