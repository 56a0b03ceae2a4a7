#include "common/ini.h"
#include "common/platform/net.h"
#include "config/cfgfile/cfg_file.h"
#include "config/frontend/commands.h"
#include "config/frontend/mainview.h"
#include "device/devstatus.h"
#include "device/search.h"

#include <gtest/gtest.h>

namespace {
std::unique_ptr<DeviceEntry> Ip(const char* name, const char* address, uint16_t port = 0)
{
    auto e = std::make_unique<DeviceEntry>();
    e->name = name;
    e->address = *NetParseAddress(address);
    e->port = port;
    return e;
}
} // namespace

TEST(MainView, StatusCellShowsTransferProgressOnlyWhileRunning)
{
    DeviceEntry e;
    e.status = DevStatusUploading;
    e.progress_kind = 202;
    e.progress_total = 4000;
    e.progress = 1000;
    EXPECT_EQ(DeviceCellText(e, ColStatus), "25% finished");
    EXPECT_EQ(DeviceProgressPercent(e), 25);
    // A count past the total never shows more than 100 per cent.
    e.progress = 9000;
    EXPECT_EQ(DeviceProgressPercent(e), 100);
    e.progress_kind = 201;
    e.progress = 512;
    EXPECT_EQ(DeviceCellText(e, ColStatus), "512 bytes");
    EXPECT_EQ(DeviceProgressPercent(e), -1);
    e.progress_kind = 200;
    e.progress = 7;
    EXPECT_EQ(DeviceCellText(e, ColStatus), "Line 7");
    // Once the job ended the status shows again, with what the device said about a failure.
    e.status = DevStatusUnknown;
    e.status_text = "File not found (1)";
    EXPECT_EQ(DeviceCellText(e, ColStatus), "Status unknown: File not found (1)");
    e.status = DevStatusCancelled;
    EXPECT_EQ(DeviceCellText(e, ColStatus), "");
    // A total of 0 (not known yet) shows the bytes so far, not a division by zero.
    e.status = DevStatusUploading;
    e.progress_kind = 202;
    e.progress_total = 0;
    EXPECT_EQ(DeviceCellText(e, ColStatus), "7 bytes");
    EXPECT_EQ(DeviceProgressPercent(e), -1);
}

TEST(MainView, CellsByLinkAndSortOrder)
{
    auto a = Ip("gw10", "10.0.0.10");
    auto b = Ip("gw9", "10.0.0.9", 8069);
    auto c = Ip("Branch", "10.0.0.9");
    a->mac_address = "00a0f9123456";
    a->fw_version = "3.42";
    a->fw_date = "10.03.2001";
    EXPECT_EQ(DeviceCellText(*a, ColMac), "00:a0:f9:12:34:56");
    EXPECT_EQ(DeviceCellText(*a, ColFirmware), "3.42 (10.03.2001)");
    EXPECT_EQ(DeviceCellText(*b, ColAddress), "10.0.0.9:8069");
    DeviceEntry serial;
    serial.link = LinkSerial;
    serial.line_name = "COM2";
    EXPECT_EQ(DeviceCellText(serial, ColAddress), "COM2");

    // Addresses sort as numbers (.9 before .10), then by port; names ignoring case.
    std::vector<DeviceEntry*> rows { a.get(), b.get(), c.get() };
    SortDeviceRows(rows, ColAddress, false);
    EXPECT_EQ(rows, (std::vector<DeviceEntry*> { c.get(), b.get(), a.get() }));
    SortDeviceRows(rows, ColAddress, true);
    EXPECT_EQ(rows, (std::vector<DeviceEntry*> { a.get(), b.get(), c.get() }));
    SortDeviceRows(rows, ColName, false);
    EXPECT_EQ(rows, (std::vector<DeviceEntry*> { c.get(), a.get(), b.get() }));
    // Equal cells keep the name order.
    SortDeviceRows(rows, ColType, false);
    EXPECT_EQ(rows, (std::vector<DeviceEntry*> { c.get(), a.get(), b.get() }));
}

TEST(MainView, WindowSettingsReadBackAndBadValuesTakeDefaults)
{
    IniFile ini;
    ini.Parse("[Window]\nViewStyle=7\nListColumns=200,x,-5,90000,,60\nShowToolBar=0\n");
    MainViewSettings s = MainViewRead(ini);
    std::vector<int32_t> d = DefaultColumnWidths();
    EXPECT_EQ(s.view_style, kViewDetails);
    EXPECT_EQ(s.show_tool_bar, 0);
    EXPECT_EQ(s.show_status_bar, 1);
    ASSERT_EQ(s.columns.size(), static_cast<size_t>(kDeviceColumnCount));
    EXPECT_EQ(s.columns[0], 200);
    EXPECT_EQ(s.columns[1], d[1]);
    EXPECT_EQ(s.columns[2], d[2]);
    EXPECT_EQ(s.columns[3], d[3]);
    EXPECT_EQ(s.columns[4], d[4]);
    EXPECT_EQ(s.columns[5], 60);

    s.view_style = kViewList;
    s.auto_arrange = 1;
    s.expanded = { "Customers", "Customers/Branch" };
    IniFile out;
    MainViewStore(s, out);
    MainViewSettings back = MainViewRead(out);
    EXPECT_EQ(back.view_style, kViewList);
    EXPECT_EQ(back.auto_arrange, 1);
    EXPECT_EQ(back.columns, s.columns);
    EXPECT_EQ(back.expanded, s.expanded);
}

TEST(MainView, FolderCommandsKeepEveryDevice)
{
    DeviceList list;
    DeviceFolder& customers = list.MakeFolder("Customers");
    DeviceFolder& branch = list.MakeFolder("Customers/Branch");
    list.MakeFolder("Branch");
    DeviceEntry* gw = list.Add(Ip("gw", "10.0.0.1"), &branch);
    DeviceEntry* hq = list.Add(Ip("hq", "10.0.0.2"), &customers);
    list.Add(Ip("top", "10.0.0.3"));

    EXPECT_FALSE(FolderNameValid(list.Root(), "customers"));
    EXPECT_FALSE(FolderNameValid(list.Root(), "a/b"));
    EXPECT_FALSE(FolderNameValid(list.Root(), "  "));
    EXPECT_EQ(FolderNewName(list.Root(), "Customers"), "Customers (2)");
    EXPECT_EQ(FolderCreate(list.Root(), "BRANCH"), nullptr);
    EXPECT_EQ(FolderRename(customers, "branch"), 0);
    EXPECT_EQ(FolderRename(customers, "customers"), 1); // its own name in another case
    EXPECT_EQ(FolderRename(list.Root(), "x"), 0);

    // A device moved to another folder is stored in that folder's section.
    EXPECT_EQ(DeviceMove(list, hq, list.Root()), 1);
    IniFile ini;
    DeviceListStore(list, ini);
    EXPECT_EQ(ini.GetInt("DeviceList", "Count", 0), 2);
    EXPECT_EQ(ini.GetString("DeviceList", "2_Name", ""), "hq");
    DeviceEntry stranger;
    EXPECT_EQ(DeviceMove(list, &stranger, list.Root()), 0);

    // Deleting "customers" moves its sub-folder Branch into the root, where Branch exists: they merge.
    list.current_folder = "customers/Branch";
    EXPECT_EQ(FolderDelete(list, *list.FindFolder("customers")), 1);
    EXPECT_EQ(list.FindFolder("customers"), nullptr);
    DeviceFolder* merged = list.FindFolder("Branch");
    ASSERT_NE(merged, nullptr);
    ASSERT_EQ(merged->entries.size(), 1u);
    EXPECT_EQ(merged->entries[0].get(), gw);
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.current_folder, "");
    EXPECT_EQ(FolderDelete(list, list.Root()), 0);
}

TEST(MainView, StatusBarAndDroppedFiles)
{
    EXPECT_EQ(MainStatusText(12, 0, nullptr), "12 devices");
    EXPECT_EQ(MainStatusText(12, 3, nullptr), "3 selected");
    SearchRequest search;
    search.phase = SearchPhaseLocal;
    search.found = 4;
    EXPECT_EQ(MainStatusText(12, 0, &search), "Scanning the local network ... 4 found");
    search.phase = SearchPhaseDone;
    EXPECT_EQ(MainStatusText(12, 0, &search), "12 devices");

    std::string firmware(128, '\0');
    firmware.replace(62, 4, "QTXF");
    EXPECT_EQ(DroppedFileCommand("a.upx", firmware), CmdUploadFirmware);
    EXPECT_EQ(DroppedFileCommand("a.upx", firmware.substr(0, 64)), 0u);
    EXPECT_EQ(DroppedFileCommand("notes.txt", "hello\r\n"), 0u);
    std::string config = CfgFileHeaderText("office", "Morvak 1611", "3.42", 0xFFFFFFFFu, 0) + "[Section]\r\n";
    EXPECT_EQ(DroppedFileCommand("office.lcf", config), CmdRestoreConfig);
}

TEST(MainView, StatusUpdateRepaintsOnlyTheCellsThatDiffer)
{
    auto e = Ip("gw", "10.0.0.1");
    e->status = DevStatusUnknown;
    DeviceRowShown shown;
    constexpr uint32_t kAll = (1u << kDeviceColumnCount) - 1;
    // A row never drawn: every cell and the image.
    EXPECT_EQ(shown.Changed(*e, 0), kAll | DeviceRowShown::kImage);
    auto drawAll = [&](int image) {
        for (int c = 0; c < kDeviceColumnCount; ++c)
            shown.Drawn(c, DeviceCellText(*e, c), c == ColStatus ? DeviceStatusBarPercent(*e) : -1);
        shown.DrawnImage(image);
    };
    drawAll(0);
    EXPECT_EQ(shown.Changed(*e, 0), 0u);
    e->status = DevStatusChecking;
    EXPECT_EQ(shown.Changed(*e, 0), 1u << ColStatus);
    // The first answer: the status, the image and what the device reports of itself.
    e->status = DevStatusOk;
    e->device_type = "Morvak 1100";
    e->fw_version = "3.10";
    e->serial_no = "M1100000001";
    e->mac_address = "00a05a000001";
    EXPECT_EQ(shown.Changed(*e, 1),
        (1u << ColStatus) | (1u << ColType) | (1u << ColFirmware) | (1u << ColSerial) | (1u << ColMac)
            | DeviceRowShown::kImage);
    drawAll(1);
    EXPECT_EQ(shown.Changed(*e, 1), 0u);

    // A transfer: a step within the same per cent repaints nothing, the next per cent the status cell.
    e->status = DevStatusUploading;
    e->progress_kind = 202;
    e->progress_total = 4000;
    e->progress = 1000;
    EXPECT_EQ(DeviceStatusBarPercent(*e), 25);
    drawAll(0);
    e->progress = 1020;
    EXPECT_EQ(shown.Changed(*e, 0), 0u);
    e->progress = 1040;
    EXPECT_EQ(shown.Changed(*e, 0), 1u << ColStatus);
    // The same text drawn without its bar (the bar came after the paint) still differs.
    e->progress = 1000;
    shown.Drawn(ColStatus, DeviceCellText(*e, ColStatus));
    EXPECT_EQ(shown.Changed(*e, 0), 1u << ColStatus);
    // Once the job ended the bar goes: no bar even with a transfer's numbers left in the entry.
    e->status = DevStatusOk;
    EXPECT_EQ(DeviceStatusBarPercent(*e), -1);
}

// Two devices may report one name (factory defaults): wherever a device is named, such entries carry
// their address beside the name, in any folder; a unique name stands alone, a missing one is the address.
TEST(MainView, RepeatedNamesCarryTheAddress)
{
    DeviceList list;
    DeviceEntry* a = list.Add(Ip("MORVAK-1100", "192.168.0.1"));
    DeviceEntry* b = list.Add(Ip("morvak-1100", "192.168.0.2", 8069), &list.MakeFolder("Lab"));
    DeviceEntry* c = list.Add(Ip("gateway", "192.168.0.3"));
    DeviceEntry* d = list.Add(Ip("", "192.168.0.4"));
    EXPECT_EQ(DeviceShownName(list, *a), "MORVAK-1100 (192.168.0.1)");
    EXPECT_EQ(DeviceShownName(list, *b), "morvak-1100 (192.168.0.2:8069)");
    EXPECT_EQ(DeviceShownName(list, *c), "gateway");
    EXPECT_EQ(DeviceShownName(list, *d), "192.168.0.4");
    c->name = "Morvak-1100";
    EXPECT_EQ(DeviceShownName(list, *c), "Morvak-1100 (192.168.0.3)");
}

// Without a stored placement the window gets room for its contents within the screen; never the
// small window of a fixed dialog-unit size.
TEST(MainView, FirstSizeFitsTheContentsWithinTheScreen)
{
    struct Case {
        int32_t workW, workH, wanted, width, height;
    } cases[] = {
        { 1280, 1024, 1150, 1150, 682 },
        { 1280, 1024, 1400, 1152, 682 }, // nine tenths of the screen at most
        { 1920, 1080, 300, 640, 720 }, // at least 640 x 480
        { 800, 600, 1150, 720, 480 },
        { 640, 480, 1150, 576, 432 },
    };
    for (const Case& k : cases) {
        int32_t w = 0, h = 0;
        MainWindowFirstSize(k.workW, k.workH, k.wanted, &w, &h);
        EXPECT_EQ(w, k.width) << k.workW << "x" << k.workH << " wanting " << k.wanted;
        EXPECT_EQ(h, k.height) << k.workW << "x" << k.workH;
    }
}
