#include "common/locale.h"
#include "device/deviceentry.h"
#include "device/firmware.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {
FirmwareHeader Header(
    char letter, std::string pattern, std::string version, std::string date, int country = 0, std::string applies = {})
{
    FirmwareHeader h;
    h.letter = letter;
    h.pattern = std::move(pattern);
    h.version = std::move(version);
    h.date = std::move(date);
    h.country = country;
    h.applies = std::move(applies);
    return h;
}

FirmwareHeader Read(const std::string& bytes)
{
    FirmwareHeader h;
    FirmwareReadHeader(bytes.data(), bytes.size(), &h);
    return h;
}

DeviceEntry Device(const char* type, const char* release, const char* date)
{
    DeviceEntry e;
    e.device_type = type;
    e.hw_release = release;
    e.fw_date = date;
    return e;
}
} // namespace

TEST(FirmwareHeader, KindsFromTheLetterAndWhatIsNoFirmwareFile)
{
    struct Row {
        char letter;
        int kind;
    } rows[] = {
        { 'L', FirmwareBootLoader },
        { 'F', FirmwareFull },
        { 'U', FirmwareUpdate },
        { 'D', FirmwareKindD },
        { 'Z', FirmwareUnknown },
        { '\0', FirmwareUnknown },
    };
    for (const Row& row : rows) {
        std::string bytes = FirmwareBuildHeader(Header('F', "Morvak_1100", "3.30", "01022024"));
        bytes[kFirmwareKindAt] = row.letter;
        EXPECT_EQ(FirmwareReadHeader(bytes.data(), bytes.size(), nullptr), row.kind) << row.letter;
    }
    std::string good = FirmwareBuildHeader(Header('F', "Morvak_1100", "3.30", "01022024"));
    EXPECT_EQ(FirmwareReadHeader(good.data(), 127, nullptr), FirmwareNone); // one byte short
    std::string noMagic = good;
    noMagic[kFirmwareMagicAt + 2] = 'Y';
    FirmwareHeader h = Read(noMagic);
    EXPECT_EQ(h.kind, FirmwareNone);
    EXPECT_TRUE(h.version.empty() && h.pattern.empty()); // nothing is taken from a file that is none

    // Files: a 127-byte file and a missing one are no firmware files either.
    std::string path = (std::filesystem::temp_directory_path() / "fw_test_127.upx").string();
    std::ofstream(path, std::ios::binary) << good.substr(0, 127);
    EXPECT_EQ(FirmwareReadFile(path, nullptr), FirmwareNone);
    std::ofstream(path, std::ios::binary) << good << std::string(1000, '\x55');
    EXPECT_EQ(FirmwareReadFile(path, &h), FirmwareFull);
    EXPECT_EQ(h.version, "3.30");
    std::remove(path.c_str());
    EXPECT_EQ(FirmwareReadFile(path, nullptr), FirmwareNone);
}

TEST(FirmwareHeader, FixedFieldsAreCutAtTheirWidthAndPaddingIsDropped)
{
    std::string bytes = FirmwareBuildHeader(Header('U', "", "", "", 49));
    // Every field written to its full width, not terminated: nothing of the next field comes along.
    bytes.replace(kFirmwareDateAt, 8, "31122099");
    bytes.replace(kFirmwareVersionAt, 4, "9.90");
    bytes.replace(kFirmwarePatternAt, 39, std::string(38, 'P') + "Q");
    bytes.replace(kFirmwareAppliesAt, 4, "3.22");
    bytes.replace(127, 1, "X");
    FirmwareHeader h = Read(bytes);
    EXPECT_EQ(h.date, "31122099");
    EXPECT_EQ(h.version, "9.90");
    EXPECT_EQ(h.pattern, std::string(38, 'P') + "Q");
    EXPECT_EQ(h.applies, "3.22");
    EXPECT_EQ(h.country, 49);
    // Trailing blanks and NULs are padding; a field ends at its first NUL.
    bytes.replace(kFirmwareVersionAt, 4, std::string("3.1\0", 4));
    bytes.replace(kFirmwarePatternAt, 39, "Morvak_2400" + std::string(10, ' ') + std::string(18, '\0'));
    bytes.replace(kFirmwareAppliesAt, 4, "    ");
    bytes.replace(kFirmwareCountryAt, 3, "4x9");
    h = Read(bytes);
    EXPECT_EQ(h.version, "3.1");
    EXPECT_EQ(h.pattern, "Morvak_2400");
    EXPECT_EQ(h.applies, "");
    EXPECT_EQ(h.country, 0); // no decimal number: no country
}

TEST(FirmwarePattern, AlternativesBlanksReleaseAndWholeNames)
{
    struct Row {
        const char* pattern;
        const char* name;
        bool match;
    } rows[] = {
        // The family with the alternatives 1100 and 1100 Plus: both names, nothing longer or shorter.
        { "Morvak_[1100;1100_Plus]", "Morvak 1100", true },
        { "Morvak_[1100;1100_Plus]", "Morvak 1100 Plus", true },
        { "Morvak_[1100;1100_Plus]", "Morvak 1100 Pl", false },
        { "Morvak_[1100;1100_Plus]", "Morvak 110", false },
        { "Morvak_1100[_Plus;]", "Morvak 1100", true },
        { "Morvak_1100[_Plus;]", "Morvak 1100 Plus", true },
        { "Morvak_1100", "Morvak 1100 Plus", false }, // the whole name
        { "Morvak_1100", "morvak 1100", true }, // names ignore case
        { "Morvak 1100", "Morvak 1100", true }, // a plain blank is a blank too
        { "Morvak_[2400;5000]#[A;B]", "Morvak 5000#B", true },
        { "Morvak_[2400;5000]#[A;B]", "Morvak 5000#C", false },
        { "Morvak_[24", "Morvak [24", true }, // an unclosed group is literal text
        { "[]Morvak", "Morvak", true }, // an empty group matches nothing
        { "", "", true },
    };
    for (const Row& row : rows)
        EXPECT_EQ(FirmwarePatternMatch(row.pattern, row.name), row.match) << row.pattern << " / " << row.name;
    // Type with release, or the type alone; an empty pattern is for no device.
    EXPECT_TRUE(FirmwarePatternFits("Morvak_2400#B", "Morvak 2400", "B"));
    EXPECT_FALSE(FirmwarePatternFits("Morvak_2400#B", "Morvak 2400", "A"));
    EXPECT_TRUE(FirmwarePatternFits("Morvak_2400", "Morvak 2400", "A"));
    EXPECT_FALSE(FirmwarePatternFits("", "", ""));
}

TEST(FirmwareMatch, DatesVersionsAndTheThreeAnswers)
{
    LocaleDate d;
    ASSERT_TRUE(FirmwareParseDate("31.12.2099", &d));
    EXPECT_EQ(d.day, 31);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.year, 2099);
    ASSERT_TRUE(FirmwareParseDate("01022024", &d));
    EXPECT_EQ(d.month, 2);
    for (const char* bad : { "", "1.2.2024", "32.01.2024", "01.13.2024", "0102202", "ab022024", "01-02-2024" })
        EXPECT_FALSE(FirmwareParseDate(bad, nullptr)) << bad;

    EXPECT_LT(FirmwareVersionCompare("2.5", "3.0"), 0);
    EXPECT_GT(FirmwareVersionCompare("3.22.0005", "3.3"), 0); // fields as numbers, not text
    EXPECT_EQ(FirmwareVersionCompare("3.10", "3.10.0000"), 0);
    EXPECT_LT(FirmwareVersionCompare("3.9", "3.10"), 0);

    FirmwareHeader file = Header('F', "Morvak_[1100;1100_Plus]", "3.30", "15062024");
    file.kind = FirmwareFull;
    struct Row {
        const char* type;
        const char* date;
        int match;
    } rows[] = {
        { "Morvak 1100", "14.06.2024", FirmwareSuitable },
        { "Morvak 1100 Plus", "15.06.2024", FirmwareSuitable }, // the same day is not older
        { "Morvak 1100", "16.06.2024", FirmwareOlder },
        { "Morvak 1100", "01012025", FirmwareOlder }, // the compact form
        { "Morvak 1100", "1.1.2025", FirmwareSuitable }, // an unreadable date never counts as older
        { "Morvak 1100", "", FirmwareSuitable },
        { "Morvak 2400", "14.06.2024", FirmwareNotForDevice },
    };
    for (const Row& row : rows) {
        DeviceEntry e = Device(row.type, "A", row.date);
        EXPECT_EQ(FirmwareMatch(file, e), row.match) << row.type << " " << row.date;
    }
    file.date = "99999999"; // the file's own date unreadable: not older either
    EXPECT_EQ(FirmwareMatch(file, Device("Morvak 1100", "A", "16.06.2024")), FirmwareSuitable);
    file.kind = FirmwareNone;
    EXPECT_EQ(FirmwareMatch(file, Device("Morvak 1100", "A", "")), FirmwareNotForDevice);
}

TEST(FirmwareTexts, DialogTextOfEveryKindWithTheCountrysLanguage)
{
    // The fixed table of countries (on Windows the first installed locale of a country decides: Wine
    // lists Breton before French for 33).
    InstallLocale(&EnglishLocale());
    auto text = [](char letter, int country, const char* applies) {
        std::string bytes = FirmwareBuildHeader(Header(letter, "Morvak_1100", "3.30", "xx062024", country, applies));
        return FirmwareDescribe(Read(bytes));
    };
    // The date is not a date: shown as written.
    EXPECT_EQ(text('L', 0, ""), "Boot loader, version 3.30 of xx062024");
    EXPECT_EQ(text('F', 49, ""), "Firmware update, version 3.30 of xx062024 (German)");
    EXPECT_EQ(text('U', 0, "3.22"), "Update from version 3.22 or previous to version 3.30");
    EXPECT_EQ(text('U', 33, ""), "Update from version <unknown> or previous to version 3.30 (French)");
    EXPECT_EQ(text('D', 0, ""), "Unknown, version 3.30 of xx062024"); // "D" is shown as unknown
    EXPECT_EQ(text('?', 999, ""), "Unknown, version 3.30 of xx062024"); // no locale has country 999
    EXPECT_EQ(FirmwareDescribe(FirmwareHeader {}), "");

    LocalePatterns german;
    german.shortDate = "dd.MM.yyyy";
    PatternLocale locale(german);
    InstallLocale(&locale);
    FirmwareHeader h = Read(FirmwareBuildHeader(Header('F', "Morvak_1100", "3.30", "01062024")));
    EXPECT_EQ(FirmwareDescribe(h), "Firmware update, version 3.30 of 01.06.2024");
    EXPECT_EQ(FirmwareDescribe(h, "3.30.0001", "2 June"), "Firmware update, version 3.30.0001 of 2 June");
    InstallLocale(nullptr);
}

TEST(FirmwareTexts, QuestionsBeforeAManualUpload)
{
    FirmwareHeader file = Read(FirmwareBuildHeader(Header('F', "Morvak_1100", "3.30", "15062024")));
    DeviceEntry ok = Device("Morvak 1100", "A", "01.01.2024");
    DeviceEntry newer = Device("Morvak 1100", "A", "01.01.2025");
    DeviceEntry other = Device("Morvak 2400", "A", "01.01.2024");
    DeviceEntry unknown = Device("", "", "");

    EXPECT_TRUE(FirmwareUploadQuestions(file, { &ok }).empty());
    EXPECT_TRUE(FirmwareUploadQuestions(file, { &ok, &ok }).empty());
    std::vector<std::string> q = FirmwareUploadQuestions(file, { &other });
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0], "This isn't a firmware for a Morvak 2400.\r\rDo you want to upload this firmware update anyway?");
    q = FirmwareUploadQuestions(file, { &unknown });
    ASSERT_EQ(q.size(), 1u);
    EXPECT_NE(q[0].find("for a Unknown device type."), std::string::npos);
    q = FirmwareUploadQuestions(file, { &newer });
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].rfind("By uploading the selected firmware, your device will be downgraded", 0), 0u);
    q = FirmwareUploadQuestions(file, { &ok, &other, &newer, &other });
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].rfind("This firmware doesn't match 2 of the 4 selected devices.", 0), 0u);
    EXPECT_EQ(q[1].rfind("By uploading this firmware, 1 of the 4 selected devices will be downgraded", 0), 0u);
}
