// The accounting and VPN views against the simulator's SNMP agent over loopback: the walks give the rows
// that snmpwalk reads from the same table, the views' jobs (one at a time per kind), delete with the
// write and the read community, a silent device, files, and the script's plug-in calls.
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/views/table_views.h"
#include "sim/snmp/sim_snmp.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

std::string SourceDir()
{
    const char* s = std::getenv("SUITE_SOURCE_DIR");
    return s ? s : ".";
}

uint16_t FreePort(uint32_t ip)
{
    UdpSocket s;
    s.Open();
    s.Bind(ip, 0);
    return s.LocalAddress()->port;
}

// Records what the logic asks of a view's window.
struct Host : TableViewHost {
    TableView* view = nullptr;
    int rowsChanged = 0, jobChanged = 0, fronts = 0, deleteFailed = 0, titles = 0;
    void RowsChanged(size_t) override
    {
        ++rowsChanged;
    }
    void JobChanged() override
    {
        ++jobChanged;
    }
    void TitleChanged() override
    {
        ++titles;
    }
    void BringToFront() override
    {
        ++fronts;
    }
    void DeleteFailed() override
    {
        ++deleteFailed;
    }
};

struct Rig {
    uint32_t host; // the device's address, host order
    uint16_t port;
    SimSnmpServer server;
    std::string dir;
    std::mutex lock;
    std::condition_variable cv;
    bool woken = false;
    std::map<TableView*, std::unique_ptr<Host>> hosts;

    explicit Rig(uint32_t address, int accountingRows = -1)
        : host(address)
        , port(FreePort(address))
    {
        dir = (std::filesystem::temp_directory_path() / ("views-test-" + std::to_string(getpid()))).string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::string error;
        auto mib = SimMibLoad(SourceDir() + "/sim/snmp/data/morvak2400.mib", &error);
        EXPECT_TRUE(mib) << error;
        if (accountingRows >= 0)
            SimMibGenerateAccounting(*mib, static_cast<uint32_t>(accountingRows));
        SimSnmpDeviceConfig c;
        c.address = address;
        c.port = port;
        EXPECT_EQ(server.AddDevice(c, mib), 1);
        EXPECT_EQ(server.Start(), 1);

        ViewsConfig vc;
        vc.programDirectory = dir;
        vc.settingsPath = dir + "/talvine.ini";
        vc.version = { 3, 0, 7 };
        vc.port = port;
        vc.waitMs = 200;
        vc.wake = [this] {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
            cv.notify_all();
        };
        vc.createWindow = [this](TableView& v) -> TableViewHost* {
            auto& h = hosts[&v];
            h = std::make_unique<Host>();
            h->view = &v;
            return h.get();
        };
        EXPECT_EQ(ViewsInit(vc), 1);
        EXPECT_TRUE(std::filesystem::is_directory(dir + "/Accounting"));
    }
    ~Rig()
    {
        ViewsShutdown();
        server.Stop();
        std::filesystem::remove_all(dir);
    }
    TableTarget Target(const std::string& community = "public")
    {
        TableTarget t;
        t.address = SnmpAddressFromHost(host);
        t.community = community;
        t.port = port;
        t.waitMs = 200;
        auto device = ScriptInstantiate("Morvak 2400");
        EXPECT_TRUE(device);
        EXPECT_TRUE(TableTargetFromDevice(*device, TableKind::Accounting, &t));
        return t;
    }
    // Runs ViewsProcess whenever a job wakes the thread until no job of either kind runs (bounded).
    void Settle(TableView& any)
    {
        for (int i = 0; i < 2000; ++i) {
            ViewsProcess();
            if (!any.JobRunning() && !OtherRunning(any))
                return;
            std::unique_lock<std::mutex> guard(lock);
            cv.wait_for(guard, std::chrono::milliseconds(100), [&] { return woken; });
            woken = false;
        }
        FAIL() << "the jobs did not end";
    }
    bool OtherRunning(TableView& any)
    {
        for (TableView* v : ViewsOpen())
            if (v->Kind() != any.Kind() && v->JobRunning())
                return true;
        return false;
    }
};

class TableViews : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StrSetLanguage(1033);
        ScriptGlobal().Clear();
        ScriptLoadAll(SourceDir() + "/data/talv*.dsc", "English");
    }
};

// snmpwalk's numeric output of one column: the values by row. Only its standard output: the first
// snmpwalk on a fresh machine reports on standard error the directories it creates for itself.
std::vector<std::string> SnmpwalkColumn(uint32_t host, uint16_t port, uint32_t column)
{
    std::string command
        = StrFormat("snmpwalk -v1 -c public -Oqv -Oe -t 2 -r 2 %s:%u 1.3.6.1.4.1.58127.3.1.1.%u 2>/dev/null",
            NetAddressText(host).c_str(), port, column);
    std::vector<std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
            text = text.substr(1, text.size() - 2);
        out.push_back(text);
    }
    pclose(pipe);
    return out;
}

TEST_F(TableViews, WalkGivesTheRowsSnmpwalkReads)
{
    if (std::system("snmpwalk -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "snmpwalk is not installed";
    Rig rig(0x7F000A21, 40);
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    std::vector<AccountingRow> rows;
    uint32_t answers = 0;
    AccountingWalk(socket.get(), rig.Target(), &rows, &answers);
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(answers, 41u) << "one request per row and the one past the table";

    std::vector<std::vector<std::string>> columns;
    for (uint32_t c : kAccountingColumns)
        columns.push_back(SnmpwalkColumn(rig.host, rig.port, c));
    for (size_t c = 0; c < columns.size(); ++c)
        ASSERT_EQ(columns[c].size(), rows.size()) << "column " << kAccountingColumns[c];
    for (size_t r = 0; r < rows.size(); ++r) {
        const AccountingRow& a = rows[r];
        EXPECT_EQ(a.identifier, columns[0][r]);
        EXPECT_EQ(a.user, columns[1][r]);
        EXPECT_EQ(a.remoteSite, columns[2][r]);
        EXPECT_EQ(std::to_string(a.type), columns[3][r]);
        EXPECT_EQ(std::to_string(a.received), columns[4][r]);
        EXPECT_EQ(std::to_string(a.transmitted), columns[5][r]);
        EXPECT_EQ(std::to_string(a.onlineTime), columns[6][r]);
        EXPECT_EQ(std::to_string(a.connections), columns[7][r]);
    }
    // What the generated table covers.
    std::set<int32_t> types;
    bool lanUser = false, plain = false, empty = false, marked = false, unmarked = false, mb = false, gb = false;
    for (const AccountingRow& a : rows) {
        types.insert(a.type);
        lanUser |= a.user.starts_with("LANUSER-");
        plain |= !a.user.empty() && !a.user.starts_with("LANUSER-");
        empty |= a.user.empty();
        (AccountingRowImage(a) == 2 ? marked : unmarked) = true;
        mb |= AccountingSizeText(a.received).ends_with("MB");
        gb |= AccountingSizeText(a.received).ends_with("GB");
    }
    EXPECT_EQ(types.size(), 9u);
    EXPECT_TRUE(lanUser && plain && empty && marked && unmarked && mb && gb);
}

TEST_F(TableViews, ViewsRefreshDeleteAndOneJobPerKind)
{
    Rig rig(0x7F000A22);
    TableView* acc = ViewsOpenDevice(TableKind::Accounting, rig.Target("private"), "Morvak 2400 sim");
    ASSERT_TRUE(acc);
    EXPECT_TRUE(acc->JobRunning()) << "a new view refreshes at once";
    EXPECT_FALSE(acc->CanRefresh());
    EXPECT_FALSE(acc->CanLoadSave());
    EXPECT_FALSE(acc->Refresh()) << "one accounting job at a time";

    // The VPN view's walk runs beside the accounting job.
    TableTarget vpnTarget = rig.Target();
    auto device = ScriptInstantiate("Morvak 2400");
    ASSERT_TRUE(TableTargetFromDevice(*device, TableKind::Vpn, &vpnTarget));
    TableView* vpn = ViewsOpenDevice(TableKind::Vpn, vpnTarget, "Morvak 2400 sim");
    EXPECT_TRUE(vpn->JobRunning());
    rig.Settle(*acc);

    ASSERT_EQ(acc->RowCount(), 3u);
    EXPECT_EQ(acc->RowTexts(0)[0], "maria");
    EXPECT_EQ(acc->RowTexts(0)[4], "1,024 MB");
    EXPECT_EQ(acc->RowTexts(2)[4], "1,024 GB");
    EXPECT_EQ(acc->RowImage(0), 2);
    EXPECT_EQ(acc->RowImage(1), 14);
    ASSERT_EQ(vpn->RowCount(), 2u);
    EXPECT_EQ(vpn->RowTexts(1)[0], "Warehouse");
    EXPECT_EQ(vpn->RowTexts(1)[1], "Incoming call");
    EXPECT_EQ(vpn->RowImage(1), 26) << "state 5, second state 0";
    Host& h = *rig.hosts[acc];
    EXPECT_GE(h.jobChanged, 2) << "start and end";
    EXPECT_TRUE(acc->CanRefresh());
    EXPECT_TRUE(acc->CanDelete());
    EXPECT_FALSE(vpn->CanDelete());

    // Opening again brings the open view to the front.
    EXPECT_EQ(ViewsOpenDevice(TableKind::Accounting, rig.Target(), "x"), acc);
    EXPECT_EQ(h.fronts, 1);
    EXPECT_FALSE(acc->JobRunning());

    // Sorting by connections: 1, 3, 12.
    EXPECT_TRUE(acc->Sort(3));
    EXPECT_EQ(acc->RowTexts(0)[3], "1");
    EXPECT_EQ(acc->RowTexts(2)[3], "12");

    // Delete with the write community: the set clears the table and the view refreshes to no rows.
    ASSERT_TRUE(acc->Delete());
    rig.Settle(*acc);
    EXPECT_EQ(h.deleteFailed, 0);
    EXPECT_EQ(acc->RowCount(), 0u);
}

TEST_F(TableViews, DeleteWithTheReadCommunityFailsAndKeepsTheRows)
{
    Rig rig(0x7F000A23);
    TableView* acc = ViewsOpenDevice(TableKind::Accounting, rig.Target("public"), "t");
    rig.Settle(*acc);
    ASSERT_EQ(acc->RowCount(), 3u);
    ASSERT_TRUE(acc->Delete());
    rig.Settle(*acc);
    EXPECT_EQ(rig.hosts[acc]->deleteFailed, 1);
    EXPECT_EQ(acc->RowCount(), 3u);
    // The device still has them.
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    std::vector<AccountingRow> rows;
    AccountingWalk(socket.get(), rig.Target(), &rows, nullptr);
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(AccountingClear(socket.get(), rig.Target("private")), 1);
    AccountingWalk(socket.get(), rig.Target(), &rows, nullptr);
    EXPECT_EQ(rows.size(), 0u);
}

TEST_F(TableViews, SilentDeviceEndsWithNoRowsAfterItsAttempts)
{
    // A socket that takes the requests and never answers.
    UdpSocket silent;
    ASSERT_TRUE(silent.Open());
    ASSERT_TRUE(silent.Bind(0x7F000A24, 0));
    Rig rig(0x7F000A25);
    TableTarget t = rig.Target();
    t.address = SnmpAddressFromHost(0x7F000A24);
    t.port = silent.LocalAddress()->port;
    t.waitMs = 20;
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    std::vector<AccountingRow> rows { AccountingRow {} };
    uint32_t answers = 7;
    AccountingWalk(socket.get(), t, &rows, &answers);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(answers, 0u);
    int requests = 0;
    uint8_t buffer[2048];
    while (silent.WaitReadable(0) > 0) {
        NetAddress from;
        if (silent.ReceiveFrom(buffer, sizeof buffer, &from) > 0)
            ++requests;
    }
    EXPECT_EQ(requests, 10) << "ten attempts of the first step";
}

TEST_F(TableViews, FilesSaveLoadAndTitles)
{
    Rig rig(0x7F000A26);
    TableView* acc = ViewsOpenDevice(TableKind::Accounting, rig.Target(), "t");
    rig.Settle(*acc);
    std::string path = rig.dir + "/Accounting/device.acc";
    ASSERT_TRUE(acc->Save(path));
    std::ifstream in(path, std::ios::binary);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "TravikAccountingFile;3.00.0007\r");

    TableView* file = AccountingOpenFile(path);
    ASSERT_TRUE(file);
    EXPECT_NE(file, acc);
    EXPECT_TRUE(file->IsFile());
    EXPECT_EQ(file->KeyPrefix(), "File");
    EXPECT_EQ(file->Title(), "device.acc - Accounting Information");
    EXPECT_EQ(file->AccountingRows(), acc->AccountingRows()) << "every row, also the one without a remote site";
    EXPECT_FALSE(file->CanRefresh());
    EXPECT_FALSE(file->CanDelete());

    std::ofstream(rig.dir + "/other.acc") << "SomethingElse;1.00.0000\r\nid;u;s;1;2;3;4;5\r\n";
    EXPECT_FALSE(file->Load(rig.dir + "/other.acc"));
    EXPECT_EQ(file->RowCount(), 0u) << "a wrong tag loads nothing";
    EXPECT_FALSE(file->Load(rig.dir + "/missing.acc"));

    // Widths and options per view, under the address or "File".
    acc->WriteColumnWidths({ 120, 80, 0, 64 });
    file->WriteOptions(kViewKeepOnTop);
    EXPECT_EQ(acc->ReadColumnWidths(), (std::vector<int> { 120, 80, 0, 64 }));
    EXPECT_EQ(acc->ReadOptions(), 0u);
    EXPECT_EQ(file->ReadOptions(), kViewKeepOnTop);
    EXPECT_TRUE(file->ReadColumnWidths().empty());

    ViewsRememberAccountingPath(rig.dir + "/Accounting");
    EXPECT_EQ(ViewsLastAccountingPath(), rig.dir + "/Accounting");

    // A device's view that loads a file shows the file from then on.
    EXPECT_TRUE(acc->Load(path));
    EXPECT_TRUE(acc->IsFile());
    EXPECT_FALSE(acc->CanRefresh());
    EXPECT_FALSE(acc->Refresh());
    EXPECT_EQ(acc->Title(), "device.acc - Accounting Information");

    // A closed view goes once its job has ended.
    acc->Close();
    ViewsProcess();
    EXPECT_EQ(ViewsOpen().size(), 1u);
}

TEST_F(TableViews, PluginCallsOfTheScripts)
{
    Rig rig(0x7F000A27);
    EngineWaitingFrontEnd front; // the engine only builds devices here
    EngineSettings settings;
    settings.listPath = rig.dir + "/talvine.lst";
    settings.settingsPath = rig.dir + "/talvine.ini";
    Engine engine(settings, &front);
    EngineDevice* d2400 = engine.AddKnownDevice(SnmpAddressFromHost(rig.host), "public", "Morvak 2400");
    EngineDevice* d1100 = engine.AddKnownDevice(SnmpAddressFromHost(0x7F000A28), "public", "Morvak 1100");
    ASSERT_TRUE(d2400 && d1100);

    EXPECT_FALSE(PluginCall(*d1100, "vpn", "OpenView")) << "the 1100 has no vpn plugin";
    EXPECT_FALSE(VpnRefresh(*d2400)) << "no VPN view open";
    EXPECT_FALSE(PluginCall(*d2400, "other", ""));
    ASSERT_TRUE(PluginCall(*d2400, "accounting", "anything"));
    ASSERT_TRUE(PluginCall(*d2400, "VPN", ""));
    std::vector<TableView*> open = ViewsOpen();
    ASSERT_EQ(open.size(), 2u);
    // Each view's title names the view and the device, so the two differ from each other (and from the
    // display window's, the device's first item text alone).
    std::string deviceText = open[0]->Title().substr(0, open[0]->Title().find(" - "));
    EXPECT_FALSE(deviceText.empty());
    for (TableView* v : open)
        EXPECT_EQ(v->Title(),
            deviceText + (v->Kind() == TableKind::Accounting ? " - Accounting Information" : " - VPN Connections"));
    EXPECT_NE(open[0]->Title(), open[1]->Title());
    EXPECT_EQ(open[0]->KeyPrefix(), "127.0.10.39");
    rig.Settle(*open[0]);
    EXPECT_EQ(open[0]->RowCount(), 3u);
    EXPECT_EQ(open[1]->RowCount(), 2u);
    // RefreshView walks again; asked twice while the walk runs, it runs once more afterwards.
    EXPECT_TRUE(PluginCall(*d2400, "vpn", "RefreshView"));
    EXPECT_FALSE(PluginCall(*d2400, "vpn", "RefreshView"));
    rig.Settle(*open[1]);
    EXPECT_EQ(open[1]->RowCount(), 2u);
    EXPECT_FALSE(open[1]->JobRunning());
    EXPECT_TRUE(PluginCall(*d2400, "vpn", "OpenView"));
    EXPECT_EQ(rig.hosts[open[1]]->fronts, 1);
}

} // namespace
