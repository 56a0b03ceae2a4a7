#include "common/ini.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/options.h"
#include "monitor/startup/rules.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {
uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    return SnmpAddressFromHost(a << 24 | b << 16 | c << 8 | d);
}

TEST(TalvineOptions, LanguagesPortsAndSwitches)
{
    // Options in any case after "-" or "/"; the last language wins; unknown options and plain words are
    // ignored.
    EXPECT_EQ(ParseTalvineOptions("-LANG:GER").language, 1031);
    EXPECT_EQ(ParseTalvineOptions("/lang:0x407").language, 0x407);
    EXPECT_EQ(ParseTalvineOptions("/lang:fre -lang:eng").language, 1033);
    EXPECT_EQ(ParseTalvineOptions("/lang:spa").language, 10);
    EXPECT_FALSE(ParseTalvineOptions("/lang:xx").language);
    TalvineOptions o = ParseTalvineOptions("/frobnicate lang:ger /PORT:1161 -Log2StdOut add:1.2.3.4");
    EXPECT_FALSE(o.language);
    EXPECT_EQ(o.port, 1161);
    EXPECT_TRUE(o.log2stdout);
    EXPECT_TRUE(o.adds.empty());
    EXPECT_TRUE(ParseTalvineOptions("/log2s").log2stdout);
    EXPECT_FALSE(ParseTalvineOptions("/log2").log2stdout);
    // A port that is no number or out of range leaves any port.
    EXPECT_EQ(ParseTalvineOptions("/port:70000").port, 0);
    EXPECT_EQ(ParseTalvineOptions("/port:x").port, 0);
    EXPECT_EQ(ParseTalvineOptions("/testctl:0").testControlPort, 0);
    EXPECT_FALSE(ParseTalvineOptions("").testControlPort);
}

TEST(TalvineOptions, AddOptions)
{
    TalvineOptions o = ParseTalvineOptions("/add:10.0.0.1 -ADD:10.0.0.2:public /add:10.0.0.3: /add:10.0.0.4:a:b");
    ASSERT_EQ(o.adds.size(), 4u);
    EXPECT_EQ(o.adds[0], (TalvineAdd { Ip(10, 0, 0, 1), "" }));
    EXPECT_EQ(o.adds[1], (TalvineAdd { Ip(10, 0, 0, 2), "public" }));
    EXPECT_EQ(o.adds[2], (TalvineAdd { Ip(10, 0, 0, 3), "" }));
    EXPECT_EQ(o.adds[3], (TalvineAdd { Ip(10, 0, 0, 4), "a:b" }));
    // A quoted word with a blank is one option, whether the quotes enclose the word or only its value.
    o = ParseTalvineOptions("\"/add:10.0.0.5:pass word\" /add:\"10.0.0.6:x y\" /add:10.0.0.7");
    ASSERT_EQ(o.adds.size(), 3u);
    EXPECT_EQ(o.adds[0].community, "pass word");
    EXPECT_EQ(o.adds[1], (TalvineAdd { Ip(10, 0, 0, 6), "x y" }));
    // Names, 0.0.0.0 and garbage are not addresses.
    EXPECT_TRUE(ParseTalvineOptions("/add:router /add:0.0.0.0 /add: /add:1.2.3").adds.empty());
    // The community is cut to what the receiver keeps.
    EXPECT_EQ(ParseTalvineOptions("/add:1.2.3.4:" + std::string(300, 'c')).adds[0].community.size(), 255u);
}

TEST(TalvineOptions, AddRecordsBothWays)
{
    std::vector<TalvineAdd> adds { { Ip(127, 0, 0, 1), "public" }, { Ip(192, 168, 1, 2), "" },
        { Ip(10, 1, 2, 3), std::string(255, 'x') } };
    std::vector<uint8_t> records = PackAddRecords(adds);
    // 12 plus the community's length per record; the address as it lies in memory.
    ASSERT_EQ(records.size(), 18u + 12u + 267u);
    EXPECT_EQ(records[0], 18);
    EXPECT_EQ(records[1] | records[2] | records[3], 0);
    EXPECT_EQ(records[4], 127);
    EXPECT_EQ(records[7], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&records[8])), "public");
    EXPECT_EQ(records[18], 12); // a record with an empty community
    EXPECT_EQ(records[18 + 8], 0);
    EXPECT_EQ(UnpackAddRecords(records.data(), records.size()), adds);
    // A truncated message keeps the whole records before the cut.
    EXPECT_EQ(UnpackAddRecords(records.data(), 18 + 11).size(), 1u);
    EXPECT_TRUE(PackAddRecords({}).empty());
    // A community with a NUL inside travels up to it (the receiver reads a terminated text).
    EXPECT_EQ(UnpackAddRecords(PackAddRecords({ { 1, std::string("ab\0cd", 5) } }).data(), 14)[0].community, "ab");
}

TEST(TalvineSettings, DefaultsAndRoundTrip)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string ini = std::string(tmp && *tmp ? tmp : "/tmp") + "/talvine_options_test.ini";
    std::remove(ini.c_str());
    TalvineSettings s = ReadTalvineSettings(ini);
    EXPECT_FALSE(s.showTrayStatus);
    EXPECT_EQ(s.detailsMask, 1u);
    EXPECT_FALSE(s.dontAskForExit);
    EXPECT_FALSE(s.dontAskForDeviceDelete);
    EXPECT_EQ(s.deviceAddressMru, "");
    s.showTrayStatus = true;
    s.detailsMask = 6;
    s.dontAskForExit = true;
    EXPECT_EQ(WriteTalvineSettings(ini, s), 1);
    TalvineSettings back = ReadTalvineSettings(ini);
    EXPECT_TRUE(back.showTrayStatus);
    EXPECT_EQ(back.detailsMask, 6u);
    EXPECT_TRUE(back.dontAskForExit);
    EXPECT_FALSE(back.dontAskForDeviceDelete);
    EXPECT_EQ(IniGetString(ini, "MainWindow", "ShowTrayStatus", ""), "1");
    std::remove(ini.c_str());
}

TEST(TalvineRules, TrayImagePerDeviceState)
{
    EXPECT_EQ(ChooseTrayImage({}), TrayImage::Idle);
    TrayDeviceState quiet;
    TrayDeviceState connected;
    connected.connects = 2;
    TrayDeviceState silent;
    silent.noAnswer = true;
    TrayDeviceState unregistered;
    unregistered.registered = false;
    TrayDeviceState failing;
    failing.errors = 1;
    failing.connects = 1;
    EXPECT_EQ(ChooseTrayImage({ quiet, quiet }), TrayImage::Idle);
    EXPECT_EQ(ChooseTrayImage({ quiet, connected }), TrayImage::Connected);
    // Any error wins over connections of other devices, wherever it stands.
    EXPECT_EQ(ChooseTrayImage({ connected, silent }), TrayImage::Error);
    EXPECT_EQ(ChooseTrayImage({ unregistered, connected }), TrayImage::Error);
    EXPECT_EQ(ChooseTrayImage({ failing }), TrayImage::Error);
}

TEST(TalvineRules, EndingCountsWhatStaysVisible)
{
    VisibleThings v;
    v.mainWindow = true;
    // The main window alone: the question, or the end when it is not to be asked.
    EXPECT_EQ(CountVisible(v), 1u);
    EXPECT_EQ(ChooseEndAction(v, false), EndAction::Ask);
    EXPECT_EQ(ChooseEndAction(v, true), EndAction::End);
    // With the icon shown, closing the main window only hides it, even when it is not to be asked.
    v.trayIcon = true;
    EXPECT_EQ(ChooseEndAction(v, false), EndAction::CloseOnly);
    EXPECT_EQ(ChooseEndAction(v, true), EndAction::CloseOnly);
    // Removing the icon while the main window is hidden and one display is open: the display stays.
    VisibleThings iconAndDisplay { false, true, 1, 0 };
    EXPECT_EQ(CountVisible(iconAndDisplay), 2u);
    EXPECT_EQ(ChooseEndAction(iconAndDisplay, false), EndAction::CloseOnly);
    // The last display window closing asks.
    VisibleThings lastDisplay { false, false, 1, 0 };
    EXPECT_EQ(ChooseEndAction(lastDisplay, false), EndAction::Ask);
    VisibleThings views { false, false, 0, 3 };
    EXPECT_EQ(CountVisible(views), 3u);
    EXPECT_EQ(kSessionEndAction, EndAction::End);
}

TEST(TalvineRules, DisplayOptionsStrings)
{
    DisplayOptions o;
    EXPECT_EQ(FormatDisplayOptions(o), "0,0,0,0xff000000,0xff000000");
    o.open = true;
    o.onTop = true;
    o.scroll = 3;
    o.text = 0x0000ff00;
    o.back = 0x00123456;
    o.opacity = 200;
    EXPECT_EQ(FormatDisplayOptions(o), "1,1,3,0x0000ff00,0x00123456,200");
    EXPECT_EQ(ParseDisplayOptions(FormatDisplayOptions(o)), o);
    o.opacity.reset();
    EXPECT_EQ(ParseDisplayOptions(FormatDisplayOptions(o)), o);
    // Decimal colours, blanks, a negative scroll and an opacity out of range.
    std::optional<DisplayOptions> p = ParseDisplayOptions("1, 0, -4, 255, 0xfe000000, 999");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scroll, 0);
    EXPECT_EQ(p->text, 255u);
    EXPECT_EQ(p->back, 0u); // only the default marker keeps the high byte
    EXPECT_EQ(p->opacity, 255);
    EXPECT_FALSE(ParseDisplayOptions("1,0,0,0x00ffffff"));
    EXPECT_FALSE(ParseDisplayOptions("1,0,zero,1,2"));
    EXPECT_FALSE(ParseDisplayOptions(""));
}

TEST(TalvineRules, CustomLcdColors)
{
    LcdCustomColors white = ParseLcdColors("");
    for (uint32_t c : white)
        EXPECT_EQ(c, 0xffffffu);
    std::string text = FormatLcdColors(white);
    EXPECT_EQ(text.substr(0, 18), "0xffffff,0xffffff,");
    EXPECT_EQ(text.size(), 16u * 9 - 1);
    LcdCustomColors mixed = white;
    mixed[0] = 0x0000ff;
    mixed[15] = 0x123456;
    EXPECT_EQ(ParseLcdColors(FormatLcdColors(mixed)), mixed);
    // Fewer entries: the rest white; an unreadable one ends the list; more than 16 ignored.
    LcdCustomColors partial = ParseLcdColors("0x10,0x20,bad,0x30");
    EXPECT_EQ(partial[0], 0x10u);
    EXPECT_EQ(partial[1], 0x20u);
    EXPECT_EQ(partial[2], 0xffffffu);
    std::string many;
    for (int i = 0; i < 20; ++i)
        many += std::to_string(i) + ",";
    EXPECT_EQ(ParseLcdColors(many)[15], 15u);
}

TEST(TalvineRules, DisplayCellsAndLayout)
{
    // A 768 x 32 bitmap: 6 x 16 cells; character 200 lies in the lower row.
    GlyphCell cell = DisplayCellSize(768, 32);
    EXPECT_EQ(cell.width, 6);
    EXPECT_EQ(cell.height, 16);
    int x = 0, y = 0;
    DisplayGlyphOrigin('A', cell, &x, &y);
    EXPECT_EQ(x, 65 * 6);
    EXPECT_EQ(y, 0);
    DisplayGlyphOrigin(200, cell, &x, &y);
    EXPECT_EQ(x, 72 * 6);
    EXPECT_EQ(y, 16);
    EXPECT_EQ(DisplayLineCells("Online", false), "Online              ");
    EXPECT_EQ(DisplayLineCells(std::string(25, 'x'), false).size(), 25u);
    EXPECT_EQ(DisplayLineCells("Online", true), std::string(32, '\x7f'));
    int w = 0, h = 0;
    DisplayClientSize(cell, 4, &w, &h);
    EXPECT_EQ(w, 20 * 6 + 2);
    EXPECT_EQ(h, 4 * 16 + 2);
    EXPECT_EQ(DisplayClampScroll(7, 10, 4), 6);
    EXPECT_EQ(DisplayClampScroll(-1, 10, 4), 0);
    EXPECT_EQ(DisplayClampScroll(2, 3, 4), 0);
    EXPECT_TRUE(DisplayFlashShown(0, 530));
    EXPECT_FALSE(DisplayFlashShown(600, 530));
    EXPECT_TRUE(DisplayFlashShown(1100, 530));
}
} // namespace

TEST(TalvineRules, TrayTipSummarisesTheDevicesWithinItsLength)
{
    TrayTipCounts none;
    EXPECT_EQ(TrayTipText("Travik", none, 127), "Travik - no devices");
    TrayTipCounts fine { 1, 0, 0 };
    EXPECT_EQ(TrayTipText("Travik", fine, 127), "Travik - one device, all answering");
    TrayTipCounts mixed { 5, 1, 2 };
    EXPECT_EQ(TrayTipText("Travik", mixed, 127), "Travik - 5 devices, 1 not answering, 2 refusing registration");
    // A shorter tip: the last part does not fit whole and is left out; a product name longer than the
    // tip is cut.
    EXPECT_EQ(TrayTipText("Travik", mixed, 50), "Travik - 5 devices, 1 not answering");
    EXPECT_EQ(TrayTipText(std::string(80, 'x'), mixed, 63), std::string(63, 'x'));
}

TEST(TalvineRules, WindowsOpenBesideTheMainWindowInsideTheWorkArea)
{
    const ScreenRect work { 0, 0, 1024, 738 };
    // Room on the right: beside it, at its top.
    ScreenRect main { 100, 50, 600, 550 };
    EXPECT_EQ(PlaceBesideMain(main, 90, 300, 120, work), (ScreenRect { 600, 50, 900, 170 }));
    // The second one opened there is shifted, so that both can be seen.
    EXPECT_EQ(PlaceBesideMain(main, 90, 300, 120, work, 1), (ScreenRect { 600, 74, 900, 194 }));
    // No room on the right: on the left.
    main = { 400, 50, 900, 550 };
    EXPECT_EQ(PlaceBesideMain(main, 90, 300, 120, work), (ScreenRect { 100, 50, 400, 170 }));
    // Neither side: below it; and above it when it stands at the bottom.
    main = { 100, 50, 900, 550 };
    EXPECT_EQ(PlaceBesideMain(main, 90, 300, 120, work), (ScreenRect { 100, 550, 400, 670 }));
    main = { 100, 300, 900, 738 };
    EXPECT_EQ(PlaceBesideMain(main, 340, 300, 120, work), (ScreenRect { 100, 180, 400, 300 }));
    // A main window filling the screen: over its lower right corner, its title bar and menu free.
    main = { 0, 0, 1024, 738 };
    ScreenRect r = PlaceBesideMain(main, 42, 720, 400, work);
    EXPECT_EQ(r, (ScreenRect { 304, 338, 1024, 738 }));
    EXPECT_GE(r.top, 42);
    // A window taller than the work area is cut to it.
    r = PlaceBesideMain(main, 42, 300, 2000, work);
    EXPECT_EQ(r.Height(), 738);
    EXPECT_EQ(r.top, 0);
}

TEST(TalvineRules, DisplayWidthAndMainWindowSizeFitTheScreen)
{
    // At least 20 columns; a longer line widens it up to what the screen holds.
    EXPECT_EQ(DisplayWindowColumns({ "Load: 3%" }, 100), 20);
    EXPECT_EQ(DisplayWindowColumns({ "Load: 3%", "Up for 23 minutes and 12 seconds" }, 100), 32);
    EXPECT_EQ(DisplayWindowColumns({ std::string(200, 'x') }, 100), 100);
    EXPECT_EQ(DisplayWindowColumns({}, 12), 12);
    int w = 0, h = 0;
    MainWindowDefaultSize(ScreenRect { 0, 0, 1024, 738 }, &w, &h);
    EXPECT_EQ(w, 560);
    EXPECT_EQ(h, 480);
    MainWindowDefaultSize(ScreenRect { 0, 0, 1920, 1040 }, &w, &h);
    EXPECT_EQ(w, 768);
    EXPECT_EQ(h, 624);
    MainWindowDefaultSize(ScreenRect { 0, 0, 640, 440 }, &w, &h);
    EXPECT_EQ(w, 560);
    EXPECT_EQ(h, 440);
}
