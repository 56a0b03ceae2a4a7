#include "monitor/views/table_views.h"

#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/expr.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/views/texts.h"

#include <filesystem>
#include <mutex>
#include <thread>

namespace {

// A walk with a function per row (the jobs hand rows to the window thread, the command line collects).
template<typename RowFn>
void Walk(UdpSocket* socket, const TableTarget& target, uint32_t entry, const uint32_t* columns, size_t count, RowFn fn,
    uint32_t* answers)
{
    std::vector<SnmpWalkColumn> cols(count);
    for (size_t i = 0; i < count; ++i)
        cols[i].column = columns[i];
    SnmpWalkParams p;
    p.rowContext = &fn;
    p.socket = socket;
    p.address = target.address;
    p.community = target.community;
    p.oidTable = target.oids.data();
    p.entry = entry;
    p.columns = cols.data();
    p.columnCount = static_cast<uint32_t>(count);
    p.row = [](void* context, SnmpWalkColumn* c, uint32_t) { (*static_cast<RowFn*>(context))(c); };
    p.port = target.port;
    p.waitMs = target.waitMs;
    p.clock = target.clock;
    if (entry < target.oids.size() && socket)
        SnmpWalkJob(&p);
    if (answers)
        *answers = p.answers;
}

} // namespace

bool TableTargetFromDevice(const DeviceObject& device, TableKind kind, TableTarget* target)
{
    const char* name = kind == TableKind::Accounting ? "accounting" : "vpn";
    uint32_t entry = kind == TableKind::Accounting ? kAccountingTableEntry : kVpnTableEntry;
    for (const PluginObject& plugin : device.plugins) {
        if (!StrEqualNoCase(plugin.name, name))
            continue;
        if (entry >= plugin.uses.size() || !plugin.uses[entry].valid)
            return false;
        target->oids.clear();
        for (const ItemUse& use : plugin.uses)
            target->oids.push_back(use.valid ? use.oid : SnmpOid {});
        return true;
    }
    return false;
}

void AccountingWalk(UdpSocket* socket, const TableTarget& target, std::vector<AccountingRow>* rows, uint32_t* answers)
{
    rows->clear();
    Walk(
        socket, target, kAccountingTableEntry, kAccountingColumns, kAccountingColumnCount,
        [rows](const SnmpWalkColumn* c) { rows->push_back(AccountingRowFromWalk(c)); }, answers);
}

void VpnWalk(UdpSocket* socket, const TableTarget& target, std::vector<VpnRow>* rows, uint32_t* answers)
{
    rows->clear();
    Walk(
        socket, target, kVpnTableEntry, kVpnColumns, kVpnColumnCount,
        [rows](const SnmpWalkColumn* c) { rows->push_back(VpnRowFromWalk(c)); }, answers);
}

int AccountingClear(UdpSocket* socket, const TableTarget& target)
{
    if (!socket || kAccountingClearEntry >= target.oids.size() || target.oids[kAccountingClearEntry].length == 0)
        return 0;
    int result = 0;
    SnmpSetParams p;
    p.socket = socket;
    p.result = &result;
    p.address = target.address;
    p.community = target.community;
    p.oidTable = target.oids.data();
    p.entry = kAccountingClearEntry;
    p.port = target.port;
    p.waitMs = target.waitMs;
    p.clock = target.clock;
    SnmpSetJob(&p);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// The views and their jobs.

struct ViewsState {
    // A job under way: filled on its thread under `lock`, emptied on the window thread.
    struct Job {
        enum class Op : uint8_t { Walk, Clear } op = Op::Walk;
        TableView* view = nullptr;
        TableTarget target;
        std::thread thread;
        std::mutex lock;
        std::vector<AccountingRow> accPending;
        std::vector<VpnRow> vpnPending;
        bool done = false;
        int result = 0;
    };

    ViewsConfig config;
    bool ready = false;
    std::unique_ptr<UdpSocket> accSocket, vpnSocket;
    std::vector<std::unique_ptr<TableView>> views;
    std::unique_ptr<Job> accJob, vpnJob;

    void Wake()
    {
        if (config.wake)
            config.wake();
    }
    std::unique_ptr<Job>& SlotOf(TableKind kind)
    {
        return kind == TableKind::Accounting ? accJob : vpnJob;
    }
    void NotifyJob(TableKind kind)
    {
        for (auto& v : views)
            if (v->kind_ == kind && !v->closed_ && v->host)
                v->host->JobChanged();
    }
    bool Start(TableView& view, Job::Op op);
    size_t Finish(std::unique_ptr<Job>& slot);
    size_t Take(Job& job);
    TableView* Add(std::unique_ptr<TableView> view);
};

namespace {

ViewsState& State()
{
    static ViewsState state;
    return state;
}

} // namespace

bool ViewsState::Start(TableView& view, Job::Op op)
{
    std::unique_ptr<Job>& slot = SlotOf(view.kind_);
    if (slot)
        return false;
    auto job = std::make_unique<Job>();
    job->op = op;
    job->view = &view;
    job->target = view.target_;
    Job* raw = job.get();
    UdpSocket* socket = view.kind_ == TableKind::Accounting ? accSocket.get() : vpnSocket.get();
    slot = std::move(job);
    if (op == Job::Op::Walk) {
        if (view.kind_ == TableKind::Accounting)
            view.accRows_.clear();
        else
            view.vpnRows_.clear();
        if (view.host)
            view.host->RowsChanged(0);
    }
    raw->thread = std::thread([this, raw, socket, kind = view.kind_] {
        auto deliver = [this, raw](auto&& add) {
            bool first;
            {
                std::lock_guard<std::mutex> guard(raw->lock);
                first = raw->accPending.empty() && raw->vpnPending.empty();
                add();
            }
            if (first)
                Wake();
        };
        if (raw->op == Job::Op::Clear) {
            raw->result = AccountingClear(socket, raw->target);
        } else if (kind == TableKind::Accounting) {
            Walk(
                socket, raw->target, kAccountingTableEntry, kAccountingColumns, kAccountingColumnCount,
                [&](const SnmpWalkColumn* c) {
                    AccountingRow row = AccountingRowFromWalk(c);
                    deliver([&] { raw->accPending.push_back(std::move(row)); });
                },
                nullptr);
        } else {
            Walk(
                socket, raw->target, kVpnTableEntry, kVpnColumns, kVpnColumnCount,
                [&](const SnmpWalkColumn* c) {
                    VpnRow row = VpnRowFromWalk(c);
                    deliver([&] { raw->vpnPending.push_back(std::move(row)); });
                },
                nullptr);
        }
        {
            std::lock_guard<std::mutex> guard(raw->lock);
            raw->done = true;
        }
        Wake();
    });
    NotifyJob(view.kind_);
    return true;
}

// Moves the rows a job found into its view.
size_t ViewsState::Take(Job& job)
{
    std::vector<AccountingRow> acc;
    std::vector<VpnRow> vpn;
    {
        std::lock_guard<std::mutex> guard(job.lock);
        acc.swap(job.accPending);
        vpn.swap(job.vpnPending);
    }
    if (acc.empty() && vpn.empty())
        return 0;
    TableView& v = *job.view;
    if (v.closed_)
        return 1;
    size_t from = v.RowCount();
    for (auto& r : acc)
        v.accRows_.push_back(std::move(r));
    for (auto& r : vpn)
        v.vpnRows_.push_back(std::move(r));
    if (v.host)
        v.host->RowsChanged(from);
    return 1;
}

size_t ViewsState::Finish(std::unique_ptr<Job>& slot)
{
    if (!slot)
        return 0;
    size_t handled = Take(*slot);
    {
        std::lock_guard<std::mutex> guard(slot->lock);
        if (!slot->done)
            return handled;
    }
    slot->thread.join();
    Take(*slot); // rows that came after the last look
    std::unique_ptr<Job> job = std::move(slot);
    TableView& v = *job->view;
    TableKind kind = v.kind_;
    bool refreshAfter = false;
    if (job->op == Job::Op::Clear && !v.closed_) {
        if (job->result)
            refreshAfter = true;
        else if (v.host)
            v.host->DeleteFailed();
    }
    if (refreshAfter)
        Start(v, Job::Op::Walk);
    else if (kind == TableKind::Vpn) {
        // VPN refreshes asked for while the walk ran, one after the other.
        for (auto& w : views)
            if (w->kind_ == TableKind::Vpn && w->refreshWaiting_ && !w->closed_) {
                w->refreshWaiting_ = false;
                Start(*w, Job::Op::Walk);
                break;
            }
    }
    if (!SlotOf(kind))
        NotifyJob(kind);
    return handled + 1;
}

TableView* ViewsState::Add(std::unique_ptr<TableView> view)
{
    TableView* raw = view.get();
    views.push_back(std::move(view));
    if (config.createWindow)
        raw->host = config.createWindow(*raw);
    return raw;
}

int ViewsInit(const ViewsConfig& config)
{
    ViewsState& s = State();
    s.config = config;
    s.accSocket = SnmpOpenJobSocket();
    s.vpnSocket = SnmpOpenJobSocket();
    std::error_code ec;
    std::filesystem::create_directories(ViewsAccountingDirectory(), ec);
    s.ready = s.accSocket && s.vpnSocket;
    return s.ready && std::filesystem::is_directory(ViewsAccountingDirectory(), ec) ? 1 : 0;
}

void ViewsShutdown()
{
    ViewsState& s = State();
    for (auto* slot : { &s.accJob, &s.vpnJob }) {
        if (*slot) {
            (*slot)->thread.join();
            slot->reset();
        }
    }
    s.views.clear();
    s.accSocket.reset();
    s.vpnSocket.reset();
    s.ready = false;
}

size_t ViewsProcess()
{
    ViewsState& s = State();
    size_t handled = s.Finish(s.accJob) + s.Finish(s.vpnJob);
    // Views whose window went and whose job ended.
    for (size_t i = 0; i < s.views.size();) {
        TableView* v = s.views[i].get();
        bool busy = (s.accJob && s.accJob->view == v) || (s.vpnJob && s.vpnJob->view == v);
        if (v->closed_ && !busy)
            s.views.erase(s.views.begin() + static_cast<long>(i));
        else
            ++i;
    }
    return handled;
}

std::string ViewsAccountingDirectory()
{
    return State().config.programDirectory + "/" + StrLoad(talvine_Strings(), ViewStrAccountingFolder);
}

std::string ViewsLastAccountingPath()
{
    const ViewsConfig& c = State().config;
    std::string path = IniGetString(c.settingsPath, "Options", "ACCPath", "");
    return path.empty() ? ViewsAccountingDirectory() : path;
}

void ViewsRememberAccountingPath(const std::string& directory)
{
    IniWriteString(State().config.settingsPath, "Options", "ACCPath", directory.c_str());
}

std::vector<TableView*> ViewsOpen()
{
    std::vector<TableView*> out;
    for (auto& v : State().views)
        if (!v->closed_)
            out.push_back(v.get());
    return out;
}

TableView* ViewsOpenDevice(TableKind kind, const TableTarget& given, const std::string& title)
{
    ViewsState& s = State();
    for (auto& v : s.views) {
        if (v->kind_ == kind && !v->file_ && !v->closed_ && v->target_.address == given.address) {
            if (v->host)
                v->host->BringToFront();
            return v.get();
        }
    }
    auto view = std::make_unique<TableView>();
    view->kind_ = kind;
    view->target_ = given;
    view->target_.port = s.config.port;
    view->target_.waitMs = s.config.waitMs;
    view->target_.clock = s.config.clock;
    view->title_ = title;
    view->keyPrefix_ = SnmpAddressText(given.address);
    TableView* raw = s.Add(std::move(view));
    raw->Refresh();
    return raw;
}

namespace {

std::string DeviceTitle(EngineDevice& d)
{
    if (d.items.empty() || !d.items[0]->object)
        return d.AddressText();
    EngineItem& item = *d.items[0];
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = d.object.get();
    ctx.runtime = &d;
    return ItemText(*item.object, item.state, ctx);
}

TableView* OpenFor(EngineDevice& d, TableKind kind)
{
    TableTarget t;
    if (!d.object || !TableTargetFromDevice(*d.object, kind, &t))
        return nullptr;
    t.address = d.address;
    t.community = d.community;
    // A title of its own: the view and the device ("... - Accounting Information", "... - VPN Connections"),
    // so that it differs from the display window's and from the other view's.
    std::string title = StrFormat(
        StrLoad(talvine_Strings(), kind == TableKind::Accounting ? ViewStrAccountingTitle : ViewStrVpnTitle).c_str(),
        DeviceTitle(d).c_str());
    return ViewsOpenDevice(kind, t, title);
}

} // namespace

TableView* AccountingOpen(EngineDevice& device)
{
    return OpenFor(device, TableKind::Accounting);
}

TableView* AccountingOpenFile(const std::string& path)
{
    auto view = std::make_unique<TableView>();
    view->kind_ = TableKind::Accounting;
    view->file_ = true;
    view->keyPrefix_ = "File";
    TableView* raw = State().Add(std::move(view));
    raw->Load(path);
    return raw;
}

TableView* VpnOpen(EngineDevice& device)
{
    return OpenFor(device, TableKind::Vpn);
}

bool VpnRefresh(EngineDevice& device)
{
    for (TableView* v : ViewsOpen())
        if (v->Kind() == TableKind::Vpn && !v->IsFile() && v->Address() == device.address)
            return v->Refresh();
    return false;
}

bool PluginCall(EngineDevice& device, const std::string& name, const std::string& argument)
{
    if (StrEqualNoCase(name, "accounting"))
        return AccountingOpen(device) != nullptr;
    if (StrEqualNoCase(name, "vpn")) {
        if (argument.empty() || StrEqualNoCase(argument, "OpenView"))
            return VpnOpen(device) != nullptr;
        if (StrEqualNoCase(argument, "RefreshView"))
            return VpnRefresh(device);
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------
// TableView

std::vector<std::string> TableView::RowTexts(size_t row) const
{
    return kind_ == TableKind::Accounting ? AccountingRowTexts(accRows_[row]) : VpnRowTexts(vpnRows_[row]);
}

int TableView::RowImage(size_t row) const
{
    return kind_ == TableKind::Accounting ? AccountingRowImage(accRows_[row]) : VpnRowImage(vpnRows_[row]);
}

std::vector<std::string> TableView::ColumnTitles() const
{
    return kind_ == TableKind::Accounting ? AccountingColumnTitles() : VpnColumnTitles();
}

bool TableView::JobRunning() const
{
    return State().SlotOf(kind_) != nullptr;
}

bool TableView::Refresh()
{
    if (file_ || closed_)
        return false;
    if (JobRunning()) {
        if (kind_ == TableKind::Vpn)
            refreshWaiting_ = true;
        return false;
    }
    return State().Start(*this, ViewsState::Job::Op::Walk);
}

bool TableView::Delete()
{
    if (!CanDelete() || closed_)
        return false;
    return State().Start(*this, ViewsState::Job::Op::Clear);
}

bool TableView::Load(const std::string& path)
{
    if (kind_ != TableKind::Accounting || JobRunning())
        return false;
    int ok = AccountingFileRead(path, &accRows_);
    file_ = true; // from now on the view shows the file: nothing to refresh or delete
    refreshWaiting_ = false;
    std::string name = std::filesystem::path(path).filename().string();
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    title_ = ViewsFill(StrLoad(talvine_Strings(), ViewStrAccountingTitle), { name });
    if (host) {
        host->RowsChanged(0);
        host->TitleChanged();
    }
    return ok == 1;
}

bool TableView::Save(const std::string& path) const
{
    return kind_ == TableKind::Accounting && AccountingFileWrite(path, accRows_, State().config.version) == 1;
}

bool TableView::Sort(size_t column)
{
    bool ok = kind_ == TableKind::Accounting ? AccountingSort(accRows_, column) : VpnSort(vpnRows_, column);
    if (ok && host)
        host->RowsChanged(0);
    return ok;
}

std::vector<int> TableView::ReadColumnWidths() const
{
    std::string text = IniGetString(State().config.settingsPath, SettingsSection(), keyPrefix_ + "_ColSize", "");
    std::vector<int> widths;
    size_t at = 0;
    while (at < text.size()) {
        size_t comma = text.find(',', at);
        std::string_view part = std::string_view(text).substr(at, comma == std::string::npos ? comma : comma - at);
        widths.push_back(ParseDecimal(part));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return widths;
}

void TableView::WriteColumnWidths(const std::vector<int>& widths) const
{
    std::string text;
    for (int w : widths)
        text += (text.empty() ? "" : ",") + std::to_string(w);
    IniWriteString(State().config.settingsPath, SettingsSection(), (keyPrefix_ + "_ColSize").c_str(), text.c_str());
}

uint32_t TableView::ReadOptions() const
{
    return static_cast<uint32_t>(IniGetInt(State().config.settingsPath, SettingsSection(), keyPrefix_ + "_Options", 0));
}

void TableView::WriteOptions(uint32_t options) const
{
    IniWriteInt(State().config.settingsPath, SettingsSection(), keyPrefix_ + "_Options", static_cast<int32_t>(options));
}

void TableView::Close()
{
    closed_ = true;
    host = nullptr;
    refreshWaiting_ = false;
    State().Wake();
}
