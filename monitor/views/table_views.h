// The accounting and VPN views: one view per device (or per accounting file), its rows, and the walk and
// set jobs that fill and clear them. The logic here owns the views; a window (monitor/ui/) shows one
// through TableViewHost. Jobs run on threads of their own: at most one accounting job (walk or set) for
// all accounting views together and at most one VPN walk for all VPN views. What a job finds reaches the
// views on the window thread: the job calls the `wake` function, the window thread calls ViewsProcess.
#pragma once

#include "monitor/snmp/snmp_types.h"
#include "monitor/views/table_rows.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Clock;
class UdpSocket;
struct DeviceObject;
struct EngineDevice;
class TableView;

enum class TableKind : uint8_t { Accounting, Vpn };

// Where a view's table lives: the device's address (network byte order) and community, and the OIDs of
// the plugin's `uses` list (for "accounting" entry 2 the table and 3 its clear object; for "vpn" entry 1).
struct TableTarget {
    uint32_t address = 0;
    std::string community;
    std::vector<SnmpOid> oids;
    uint16_t port = 161;
    uint32_t waitMs = 1000; // per attempt
    Clock* clock = nullptr; // null: the system clock
};
constexpr uint32_t kAccountingTableEntry = 2;
constexpr uint32_t kAccountingClearEntry = 3;
constexpr uint32_t kVpnTableEntry = 1;

// The plugin's OIDs of a device definition into `target->oids`. False when the device has no plugin of
// that name or the table entry does not resolve.
bool TableTargetFromDevice(const DeviceObject& device, TableKind kind, TableTarget* target);

// Blocking walks and the clear, on a job socket. The walks give the rows in table order; `answers`
// receives how many answers came (0: the device never answered). AccountingClear returns 1 when the
// device confirmed the set.
void AccountingWalk(UdpSocket* socket, const TableTarget& target, std::vector<AccountingRow>* rows, uint32_t* answers);
void VpnWalk(UdpSocket* socket, const TableTarget& target, std::vector<VpnRow>* rows, uint32_t* answers);
int AccountingClear(UdpSocket* socket, const TableTarget& target);

// What a view's window does for the logic; every call comes on the window thread.
class TableViewHost {
public:
    virtual ~TableViewHost() = default;
    // The rows changed: `from` is the first row that is new or different (0 after emptying or sorting).
    virtual void RowsChanged(size_t from) = 0;
    // A job of the view's kind started or ended (commands are enabled by TableView::CanRun...).
    virtual void JobChanged() = 0;
    virtual void TitleChanged() = 0;
    virtual void BringToFront() = 0;
    // The delete failed: the window shows ViewStrDeleteFailed.
    virtual void DeleteFailed() = 0;
};

class TableView {
public:
    TableKind Kind() const
    {
        return kind_;
    }
    bool IsFile() const
    {
        return file_;
    }
    const std::string& Title() const
    {
        return title_;
    }
    // The device's address as text, or "File"; the settings keys begin with it.
    const std::string& KeyPrefix() const
    {
        return keyPrefix_;
    }
    uint32_t Address() const
    {
        return target_.address;
    }
    const char* SettingsSection() const
    {
        return kind_ == TableKind::Accounting ? "AccountingWindow" : "VpnConnectionsWindow";
    }

    size_t RowCount() const
    {
        return kind_ == TableKind::Accounting ? accRows_.size() : vpnRows_.size();
    }
    const std::vector<AccountingRow>& AccountingRows() const
    {
        return accRows_;
    }
    const std::vector<VpnRow>& VpnRows() const
    {
        return vpnRows_;
    }
    std::vector<std::string> RowTexts(size_t row) const;
    int RowImage(size_t row) const;
    std::vector<std::string> ColumnTitles() const;

    // Whether the kind's job runs (the accounting view's refresh, load, save and delete wait for it).
    bool JobRunning() const;
    bool CanRefresh() const
    {
        return !file_ && !JobRunning();
    }
    bool CanDelete() const
    {
        return kind_ == TableKind::Accounting && !file_ && !JobRunning();
    }
    bool CanLoadSave() const
    {
        return kind_ == TableKind::Accounting && !JobRunning();
    }

    // Empties the list and starts the walk. False when the view shows a file or the job is busy (a VPN
    // refresh then waits and runs after the walk under way).
    bool Refresh();
    // Sets the clear object to the empty string; on success the view refreshes, else DeleteFailed. The
    // window asks ViewStrAskDelete first.
    bool Delete();
    // Shows the file (the title becomes ViewStrAccountingTitle with the file's name; a device's view then shows the
    // file, not the device); a file that is no accounting file leaves the list empty. False then, or when
    // it cannot be read.
    bool Load(const std::string& path);
    // Writes the rows as shown. False when the file cannot be written.
    bool Save(const std::string& path) const;
    bool Sort(size_t column);

    // Column widths and options in the settings file, under the view's section and key prefix.
    std::vector<int> ReadColumnWidths() const;
    void WriteColumnWidths(const std::vector<int>& widths) const;
    uint32_t ReadOptions() const; // bit 1: keep on top
    void WriteOptions(uint32_t options) const;
    std::string PlacementKey() const
    {
        return keyPrefix_ + "_WindowPos";
    }

    // The window is going: the view ends when its job has (ViewsProcess frees it).
    void Close();
    TableViewHost* host = nullptr;

private:
    friend struct ViewsState;
    friend TableView* ViewsOpenDevice(TableKind, const TableTarget&, const std::string&);
    friend TableView* AccountingOpenFile(const std::string&);
    friend size_t ViewsProcess();
    friend std::vector<TableView*> ViewsOpen();
    TableKind kind_ = TableKind::Accounting;
    bool file_ = false;
    bool closed_ = false;
    bool refreshWaiting_ = false; // a VPN refresh asked for while another view's walk ran
    std::string title_, keyPrefix_;
    TableTarget target_;
    std::vector<AccountingRow> accRows_;
    std::vector<VpnRow> vpnRows_;
};

constexpr uint32_t kViewKeepOnTop = 1;

struct ViewsConfig {
    std::string programDirectory; // the "Accounting" directory is made below it
    std::string settingsPath; // talvine.ini
    AccountingVersion version; // written into saved files
    uint16_t port = 161; // the devices' SNMP port (tests and the command line change it)
    uint32_t waitMs = 1000;
    Clock* clock = nullptr;
    // Any thread: ViewsProcess should run on the window thread soon.
    std::function<void()> wake;
    // The window of a new view (null: views without windows, for tests). Called on the window thread.
    std::function<TableViewHost*(TableView&)> createWindow;
};

// Opens the job sockets and creates the accounting directory. 1 on success.
int ViewsInit(const ViewsConfig& config);
// Waits for running jobs and frees every view (their windows must be gone).
void ViewsShutdown();
// Window thread: moves the rows jobs found into their views, ends finished jobs, starts waiting ones.
// Returns the number of events handled.
size_t ViewsProcess();
// The accounting directory (program directory joined with "Accounting"), and the last one used.
std::string ViewsAccountingDirectory();
std::string ViewsLastAccountingPath();
void ViewsRememberAccountingPath(const std::string& directory);
// Views open now, in opening order.
std::vector<TableView*> ViewsOpen();

// The script's plug-in action: "accounting" opens the accounting view, "vpn" with "" or "OpenView" the VPN
// view, with "RefreshView" refreshes an open one. False when nothing was done (no such plugin).
bool PluginCall(EngineDevice& device, const std::string& name, const std::string& argument);
// One view per device: an open one is brought to the front, a new one refreshes at once.
TableView* AccountingOpen(EngineDevice& device);
TableView* AccountingOpenFile(const std::string& path);
TableView* VpnOpen(EngineDevice& device);
bool VpnRefresh(EngineDevice& device);
// The same without an engine device (the title given): what the functions above call.
TableView* ViewsOpenDevice(TableKind kind, const TableTarget& target, const std::string& title);
