#include "config/frontend/mainview.h"

#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/frontend/commands.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/search.h"
#include "device/texts.h"

#include <algorithm>

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

constexpr std::string_view kWindow = "Window";
constexpr int32_t kWidthMax = 4000;
} // namespace

std::string DeviceStatusCellText(const DeviceEntry& e)
{
    int32_t status = e.status.load();
    if (status == DevStatusCancelled)
        return std::string();
    if (status == DevStatusDialUpError)
        return DevStatusText(status) + ": " + DialupErrorText(e.ras_error);
    // What the device said belongs to the failure it ended with, not to the next operation's run.
    if (status > DevStatusOk && !e.status_text.empty())
        return DevStatusText(status) + ": " + e.status_text;
    return DevStatusText(status);
}

int DeviceProgressPercent(const DeviceEntry& e)
{
    if (e.progress_kind.load() != 202)
        return -1;
    int64_t total = e.progress_total.load();
    if (total <= 0)
        return -1;
    int64_t done = std::clamp<int64_t>(e.progress.load(), 0, total);
    return static_cast<int>(done * 100 / total);
}

int DeviceStatusBarPercent(const DeviceEntry& e)
{
    int32_t s = e.status.load();
    return s >= DevStatusChecking && s < DevStatusOk ? DeviceProgressPercent(e) : -1;
}

std::string DeviceRowShown::Content(const std::string& text, int barPercent)
{
    // A text never holds a control character: the per cent after one cannot be mistaken for text.
    return barPercent < 0 ? text : text + '\x1f' + std::to_string(barPercent);
}

void DeviceRowShown::Drawn(int column, const std::string& text, int barPercent)
{
    if (column < 0 || column >= kDeviceColumnCount)
        return;
    cells_[column] = Content(text, barPercent);
    drawn_ |= 1u << column;
}

void DeviceRowShown::DrawnImage(int image)
{
    image_ = image;
}

uint32_t DeviceRowShown::Changed(const DeviceEntry& entry, int image) const
{
    uint32_t changed = image_ < 0 || image != image_ ? kImage : 0;
    for (int c = 0; c < kDeviceColumnCount; ++c) {
        if (!(drawn_ & (1u << c))
            || cells_[c] != Content(DeviceCellText(entry, c), c == ColStatus ? DeviceStatusBarPercent(entry) : -1))
            changed |= 1u << c;
    }
    return changed;
}

std::string DeviceCellText(const DeviceEntry& e, int column)
{
    switch (column) {
    case ColName:
        return e.name.str();
    case ColStatus: {
        // A running transfer shows its progress (lines, bytes, per cent, the number dialled) in place
        // of the status.
        int32_t busy = e.status.load();
        bool running = busy >= DevStatusChecking && busy < DevStatusOk;
        if (running && e.progress_kind.load() != DevProgressNone) {
            std::string text = DevProgressText(
                e.progress_kind.load(), e.progress.load(), e.progress_total.load(), 0, e.phone_number.str());
            if (!text.empty())
                return text;
        }
        return DeviceStatusCellText(e);
    }
    case ColAddress:
        if (e.link == LinkSerial)
            return e.line_name.str();
        if (e.link == LinkDialUp)
            return e.phone_number.empty() ? e.ras_entry.str() : e.phone_number.str();
        return e.address ? e.AddressText() : std::string();
    case ColType:
        return e.device_type.str();
    case ColFirmware:
        if (e.fw_version.empty())
            return std::string();
        return e.fw_date.empty() ? e.fw_version.str() : e.fw_version.str() + " (" + e.fw_date.str() + ")";
    case ColSerial:
        return e.serial_no.str();
    case ColMac:
        return e.MacText();
    case ColDescription:
        return e.description.str();
    default:
        return std::string();
    }
}

int CompareDeviceEntries(const DeviceEntry& a, const DeviceEntry& b, int column)
{
    int c = 0;
    if (column == ColAddress && a.link == LinkIp && b.link == LinkIp) {
        c = a.address < b.address ? -1 : a.address > b.address ? 1 : a.port < b.port ? -1 : a.port > b.port ? 1 : 0;
    } else if (column == ColAddress && a.link != b.link) {
        c = a.link < b.link ? -1 : 1;
    } else {
        c = StrCompareNoCase(DeviceCellText(a, column), DeviceCellText(b, column));
    }
    if (c == 0 && column != ColName)
        c = StrCompareNoCase(a.name.str(), b.name.str());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void SortDeviceRows(std::vector<DeviceEntry*>& rows, int column, bool descending)
{
    std::stable_sort(rows.begin(), rows.end(), [&](const DeviceEntry* a, const DeviceEntry* b) {
        int c = CompareDeviceEntries(*a, *b, column);
        return descending ? c > 0 : c < 0;
    });
}

void MainWindowFirstSize(int32_t workWidth, int32_t workHeight, int32_t wanted, int32_t* width, int32_t* height)
{
    const int32_t maxWidth = std::max<int32_t>(1, workWidth / 10 * 9);
    const int32_t maxHeight = std::max<int32_t>(1, workHeight / 10 * 9);
    *width = std::min(std::max<int32_t>(wanted, 640), maxWidth);
    *height = std::min(std::max<int32_t>(workHeight * 2 / 3, 480), maxHeight);
}

std::string DeviceShownName(DeviceList& list, const DeviceEntry& entry)
{
    std::string where = DeviceCellText(entry, ColAddress);
    if (entry.name.empty())
        return where;
    for (const DeviceEntry* other : list.All())
        if (other != &entry && StrEqualNoCase(other->name, entry.name))
            return entry.name.str() + " (" + where + ")";
    return entry.name.str();
}

std::vector<int32_t> DefaultColumnWidths()
{
    return { 140, 110, 110, 110, 110, 100, 120, 180 };
}

std::vector<int32_t> ListColumnsParse(std::string_view text)
{
    std::vector<int32_t> widths = DefaultColumnWidths();
    size_t pos = 0;
    for (size_t i = 0; i < widths.size() && pos <= text.size(); ++i) {
        size_t end = text.find(',', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view field = Trim(text.substr(pos, end - pos));
        std::optional<uint32_t> value = field.empty() ? std::nullopt : ParseUnsignedStrict(field);
        if (value && *value <= static_cast<uint32_t>(kWidthMax))
            widths[i] = static_cast<int32_t>(*value);
        pos = end + 1;
    }
    return widths;
}

std::string ListColumnsFormat(const std::vector<int32_t>& widths)
{
    std::string text;
    for (size_t i = 0; i < widths.size(); ++i) {
        if (i)
            text += ',';
        text += std::to_string(std::clamp(widths[i], 0, kWidthMax));
    }
    return text;
}

std::vector<std::string> FolderTreeParse(std::string_view text)
{
    std::vector<std::string> paths;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > pos)
            paths.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return paths;
}

std::string FolderTreeFormat(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& p : paths)
        text += p + ";";
    return text;
}

MainViewSettings MainViewRead(const IniFile& ini)
{
    MainViewSettings s;
    s.show_tool_bar = ini.GetInt(kWindow, "ShowToolBar", 1) ? 1 : 0;
    s.show_status_bar = ini.GetInt(kWindow, "ShowStatusBar", 1) ? 1 : 0;
    int32_t style = ini.GetInt(kWindow, "ViewStyle", kViewDetails);
    s.view_style = style >= kViewIcons && style <= kViewList ? style : kViewDetails;
    s.auto_arrange = ini.GetInt(kWindow, "AutoArrange", 0) ? 1 : 0;
    s.columns = ListColumnsParse(ini.GetString(kWindow, "ListColumns", ""));
    s.expanded = FolderTreeParse(ini.GetString(kWindow, "FolderTree", ""));
    return s;
}

void MainViewStore(const MainViewSettings& s, IniFile& ini)
{
    ini.SetInt(kWindow, "ShowToolBar", s.show_tool_bar);
    ini.SetInt(kWindow, "ShowStatusBar", s.show_status_bar);
    ini.SetInt(kWindow, "ViewStyle", s.view_style);
    ini.SetInt(kWindow, "AutoArrange", s.auto_arrange);
    ini.SetString(kWindow, "ListColumns", ListColumnsFormat(s.columns));
    ini.SetString(kWindow, "FolderTree", FolderTreeFormat(s.expanded));
}

bool FolderNameValid(const DeviceFolder& parent, std::string_view name, const DeviceFolder* self)
{
    if (Trim(name).empty() || name.find('/') != std::string_view::npos || name.find(';') != std::string_view::npos
        || name.find(']') != std::string_view::npos || name.size() > 200)
        return false;
    for (const auto& f : parent.folders)
        if (f.get() != self && StrEqualNoCase(f->name, name))
            return false;
    return true;
}

std::string FolderNewName(const DeviceFolder& parent, std::string_view base)
{
    if (FolderNameValid(parent, base))
        return std::string(base);
    for (int n = 2;; ++n) {
        std::string name = StrFormat("%.*s (%d)", static_cast<int>(base.size()), base.data(), n);
        if (FolderNameValid(parent, name))
            return name;
    }
}

DeviceFolder* FolderCreate(DeviceFolder& parent, std::string_view name)
{
    if (!FolderNameValid(parent, name))
        return nullptr;
    auto folder = std::make_unique<DeviceFolder>();
    folder->name = std::string(Trim(name));
    folder->parent = &parent;
    parent.folders.push_back(std::move(folder));
    return parent.folders.back().get();
}

int FolderRename(DeviceFolder& folder, std::string_view name)
{
    if (!folder.parent || !FolderNameValid(*folder.parent, name, &folder))
        return 0;
    folder.name = std::string(Trim(name));
    return 1;
}

bool FolderInside(const DeviceFolder* folder, const DeviceFolder* ancestor)
{
    for (const DeviceFolder* f = folder; f; f = f->parent)
        if (f == ancestor)
            return true;
    return false;
}

namespace {
// Moves everything `from` holds into `to` (sub-folders of the same name merge).
void MergeInto(DeviceFolder& from, DeviceFolder& to)
{
    for (auto& e : from.entries)
        to.entries.push_back(std::move(e));
    from.entries.clear();
    for (auto& sub : from.folders) {
        DeviceFolder* same = nullptr;
        for (auto& f : to.folders)
            if (StrEqualNoCase(f->name, sub->name))
                same = f.get();
        if (same) {
            MergeInto(*sub, *same);
        } else {
            sub->parent = &to;
            to.folders.push_back(std::move(sub));
        }
    }
    from.folders.clear();
}
} // namespace

int FolderDelete(DeviceList& list, DeviceFolder& folder)
{
    DeviceFolder* parent = folder.parent;
    if (!parent)
        return 0;
    DeviceFolder* current = list.FindFolder(list.current_folder);
    bool currentInside = current && FolderInside(current, &folder);
    std::string parentPath = DeviceList::FolderPath(*parent);
    auto it = std::find_if(
        parent->folders.begin(), parent->folders.end(), [&](const auto& f) { return f.get() == &folder; });
    if (it == parent->folders.end())
        return 0;
    std::unique_ptr<DeviceFolder> owned = std::move(*it);
    parent->folders.erase(it);
    MergeInto(*owned, *parent);
    if (currentInside)
        list.current_folder = parentPath;
    return 1;
}

int DeviceMove(DeviceList& list, DeviceEntry* entry, DeviceFolder& to)
{
    DeviceFolder* from = list.FolderOf(entry);
    if (!from)
        return 0;
    if (from == &to)
        return 1;
    auto it = std::find_if(from->entries.begin(), from->entries.end(), [&](const auto& e) { return e.get() == entry; });
    std::unique_ptr<DeviceEntry> owned = std::move(*it);
    from->entries.erase(it);
    to.entries.push_back(std::move(owned));
    return 1;
}

std::string MainStatusText(size_t devices, size_t selected, const SearchRequest* search)
{
    std::string text = selected ? StrFormat(Text(MainStrSelected).c_str(), static_cast<int>(selected))
                                : StrFormat(Text(MainStrCount).c_str(), static_cast<int>(devices));
    if (search) {
        int32_t phase = search->phase.load();
        if (phase != SearchPhaseDone) {
            std::string what = DeviceText(static_cast<unsigned>(phase));
            text = StrFormat(Text(MainStrSearching).c_str(), what.c_str(), static_cast<int>(search->found.load()));
        }
    }
    return text;
}

uint32_t DroppedFileCommand(std::string_view fileName, std::string_view head)
{
    (void)fileName;
    // A firmware file carries its magic in the fixed header; a configuration file begins with its
    // three header lines.
    if (head.size() >= 66 && head.substr(62, 3) == "QTX")
        return CmdUploadFirmware;
    CfgFileHeader header;
    if (CfgParseFileHeader(head, &header))
        return CmdRestoreConfig;
    return 0;
}
