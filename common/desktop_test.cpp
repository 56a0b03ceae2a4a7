// Placement, centring, language choice and the single-instance lock.
#include "common/ini.h"
#include "common/language.h"
#include "common/placement.h"
#include "common/platform/instance.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {
std::string ScratchIni(const char* name)
{
#ifdef _WIN32
    const char* tmp = std::getenv("TEMP");
#else
    const char* tmp = std::getenv("TMPDIR");
    if (!tmp || !*tmp)
        tmp = "/tmp";
#endif
    std::string path = std::string(tmp ? tmp : ".") + "/" + name + std::to_string(std::random_device {}()) + ".ini";
    std::remove(path.c_str());
    return path;
}
} // namespace

TEST(Placement, SavesBothKeyForms)
{
    std::string ini = ScratchIni("place_save");
    PlacementRecord r = PlacementFromWindow({ 10, 20, 310, 220 }, true, false, true, false);
    EXPECT_EQ(r.width, 300);
    EXPECT_EQ(r.height, 200);
    struct Row {
        unsigned flags;
        const char* expected;
    } rows[] = {
        { 0, "10,20,300,200" },
        { kPlaceActivate, "10,20,300,200" },
        { kPlaceMinimized, "10,20,300,200,1,0,0,0" },
        { kPlaceMaximized, "10,20,300,200,0,0,0,0" },
        { kPlaceTopMost, "10,20,300,200,0,0,1,0" },
        { 15, "10,20,300,200,1,0,1,0" },
    };
    for (const Row& row : rows) {
        ASSERT_EQ(PlacementSave(ini, "Window", "Main", row.flags, r), 1);
        EXPECT_EQ(IniGetString(ini, "Window", "Main", ""), row.expected) << row.flags;
    }
    // Separate keys: the keys of flags not set are deleted.
    IniWriteString(ini, "Frame", "IsHidden", "1");
    ASSERT_EQ(PlacementSave(ini, "Frame", nullptr, kPlaceMinimized | kPlaceTopMost, r), 1);
    IniFile f;
    f.Load(ini);
    EXPECT_EQ(
        f.Keys("Frame"), std::vector<std::string>({ "XPos", "YPos", "XSize", "YSize", "IsMinimized", "IsTopMost" }));
    EXPECT_EQ(f.GetString("Frame", "IsMinimized", ""), "1");
    EXPECT_EQ(f.GetString("Frame", "IsTopMost", ""), "1");
    std::remove(ini.c_str());
}

TEST(Placement, LoadsOnlyWhatTheFlagsAskFor)
{
    std::string ini = ScratchIni("place_load");
    struct Row {
        const char* value;
        unsigned flags;
        int ok;
        PlacementRecord expected;
    } rows[] = {
        // Four numbers with flags 1|2: the missing fifth and sixth read as 0, the window stays normal.
        { "10,20,300,200", kPlaceMinimized | kPlaceMaximized, 1, { 10, 20, 300, 200 } },
        { "10,20,300,200,1,1,1,1", 0, 1, { 10, 20, 300, 200 } },
        { "10,20,300,200,1,1,1,1", kPlaceMaximized, 1, { 10, 20, 300, 200, false, true } },
        { "10,20,300,200,0,0,1,1", kPlaceTopMost | kPlaceHidden, 1, { 10, 20, 300, 200, false, false, true, true } },
        { "-5, -6,300, 200", 0, 1, { -5, -6, 300, 200 } },
        { "10,20,300 ,200", 0, 0, {} }, // a blank before a comma ends the numbers, as sscanf reads them
        { "10,20,300", 0, 0, {} },
        { "10,20,x,200", 0, 0, {} },
        { "", 0, 0, {} },
        { "10,20,0,200", 0, 0, {} }, // no width: refused in the one-key form too
        { "10,20,300,-1", 0, 0, {} },
    };
    for (const Row& row : rows) {
        IniWriteString(ini, "Window", "Main", row.value);
        const PlacementRecord untouched { 1, 2, 3, 4 };
        PlacementRecord got = untouched;
        EXPECT_EQ(PlacementLoad(ini, "Window", "Main", row.flags, &got), row.ok) << row.value;
        EXPECT_EQ(got, row.ok ? row.expected : untouched) << row.value;
    }
    // Separate keys: a missing or zero size fails.
    PlacementRecord got;
    EXPECT_EQ(PlacementLoad(ini, "Frame", nullptr, 0, &got), 0);
    PlacementRecord saved = PlacementFromWindow({ 5, 6, 105, 206 }, false, true, false, true);
    PlacementSave(ini, "Frame", "", kPlaceMaximized | kPlaceHidden, saved);
    EXPECT_EQ(PlacementLoad(ini, "Frame", nullptr, kPlaceMaximized | kPlaceHidden, &got), 1);
    EXPECT_EQ(got, saved);
    IniWriteString(ini, "Frame", "XSize", "0");
    EXPECT_EQ(PlacementLoad(ini, "Frame", nullptr, 0, &got), 0);
    std::remove(ini.c_str());
}

TEST(Placement, ShowStateFollowsTheRecord)
{
    PlacementRecord r { 0, 0, 10, 10 };
    EXPECT_EQ(PlacementShowFor(r, 0), PlacementShow::NoActivate);
    EXPECT_EQ(PlacementShowFor(r, kPlaceActivate), PlacementShow::Activated);
    r.minimized = true;
    EXPECT_EQ(PlacementShowFor(r, 0), PlacementShow::Minimized);
    r.maximized = true;
    EXPECT_EQ(PlacementShowFor(r, 0), PlacementShow::Maximized);
    r.hidden = true;
    EXPECT_EQ(PlacementShowFor(r, 0), PlacementShow::None);
}

TEST(Placement, CentresAndKeepsInsideTheWorkArea)
{
    const PlaceRect work { 0, 0, 1280, 994 };
    struct Row {
        PlaceRect window;
        bool hasOwner;
        PlaceRect owner;
        PlaceRect expected;
    } rows[] = {
        { { 0, 0, 200, 100 }, false, {}, { 540, 447, 740, 547 } },
        { { 0, 0, 200, 100 }, true, { 100, 100, 500, 400 }, { 200, 200, 400, 300 } },
        // An owner near the right edge: the right edge ends on the work area's right edge.
        { { 0, 0, 400, 300 }, true, { 1100, 200, 1400, 500 }, { 880, 216, 1280, 516 } },
        // Bigger than its owner: no further up and left than the owner's corner plus a small icon.
        { { 0, 0, 600, 400 }, true, { 100, 100, 300, 200 }, { 116, 116, 716, 516 } },
        // Off the top left of the screen.
        { { 0, 0, 200, 100 }, true, { -400, -300, -100, -100 }, { 0, 0, 200, 100 } },
        // Below the bottom.
        { { 0, 0, 200, 100 }, true, { 100, 950, 400, 1100 }, { 150, 894, 350, 994 } },
    };
    for (const Row& row : rows)
        EXPECT_EQ(CenterRect(row.window, row.hasOwner ? &row.owner : nullptr, work, 16, 16), row.expected);
}

TEST(Language, ChoosesTheResourceLanguage)
{
    const std::vector<uint16_t> three { 1033, 1031, 1036 };
    struct Row {
        uint16_t ui;
        std::vector<uint16_t> available;
        uint16_t expected;
    } rows[] = {
        { 2055, three, 1031 }, // German (Switzerland) takes German
        { 1031, three, 1031 },
        { 1036, three, 1036 },
        { 3084, three, 1036 }, // French (Canada)
        { 1040, three, 1033 }, // nothing Italian: English
        { 2057, { 1031, 2057, 1033 }, 2057 }, // the exact language before the first of its family
        { 2057, { 1031, 3081, 1033 }, 3081 },
        { 1031, {}, 1033 },
    };
    for (const Row& row : rows)
        EXPECT_EQ(ChooseLanguageFrom(row.ui, row.available), row.expected) << row.ui;
    EXPECT_EQ(PrimaryLanguage(2055), 7);
    EXPECT_EQ(ParseHexLanguage("00000407"), 1031);
    EXPECT_EQ(ParseHexLanguage("0409"), 1033);
    EXPECT_EQ(ParseHexLanguage("04x9"), 0);
    EXPECT_EQ(ParseHexLanguage(""), 0);
}

TEST(Instance, LockNameIsLowerCaseWithoutBackslashes)
{
    EXPECT_EQ(
        InstanceLockName("C:\\Program Files\\Velquin\\QORVEXAL.EXE", ""), "c:_program files_velquin_qorvexal.exe");
    EXPECT_EQ(InstanceLockName("D:\\Cfg\\Office.LCF", "edit"), "d:_cfg_office.lcfedit");
}

TEST(Instance, SecondHolderSeesTheFirst)
{
    std::string path = "C:\\Test\\Instance" + std::to_string(std::random_device {}());
    EXPECT_FALSE(IsOtherInstance(path));
    EXPECT_TRUE(IsOtherInstance(path)); // the lock is kept, even against the same process
    EXPECT_FALSE(IsOtherInstance(path, "edit")); // a suffix names another lock
#ifndef _WIN32
    // Another process sees the lock; once the holder ends, the lock is free again.
    std::string other = path + "x";
    pid_t child = fork();
    if (child == 0) {
        bool taken = IsOtherInstance(other);
        _exit(taken ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(IsOtherInstance(other));
    child = fork();
    if (child == 0)
        _exit(IsOtherInstance(other) ? 1 : 0);
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
#endif
}
