#include "config/frontend/history.h"

#include "common/calendar.h"
#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/file.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "device/deviceentry.h"
#include "device/sysinfo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kDefaultVersions = 100;

struct Civil {
    int64_t year;
    unsigned month, day, hour, minute, second;
};

Civil CivilFromTime(int64_t t)
{
    int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    int64_t secs = t - days * 86400;
    Civil c {};
    int year = 0;
    CivilFromDays(days, &year, &c.month, &c.day);
    c.year = year;
    c.hour = static_cast<unsigned>(secs / 3600);
    c.minute = static_cast<unsigned>(secs / 60 % 60);
    c.second = static_cast<unsigned>(secs % 60);
    return c;
}

std::string Sanitized(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_'))
            c = '_';
    return out;
}

bool Digits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

unsigned Number(std::string_view text)
{
    unsigned n = 0;
    for (char c : text)
        n = n * 10 + static_cast<unsigned>(c - '0');
    return n;
}

} // namespace

bool HistParseFileName(std::string_view name, HistVersion* v)
{
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".lcf") != 0)
        return false;
    std::string_view s(name.data(), name.size() - 4);
    size_t first = s.find('_');
    if (first == std::string_view::npos || first > 9 || !Digits(s.substr(0, first)))
        return false;
    std::string_view stamp = s.substr(first + 1, 15);
    if (stamp.size() != 15 || stamp[8] != '-' || !Digits(stamp.substr(0, 8)) || !Digits(stamp.substr(9, 6)))
        return false;
    if (s.size() < first + 17 || s[first + 16] != '_')
        return false;
    std::string_view source = s.substr(first + 17);
    if (source.empty() || Sanitized(source) != source)
        return false;
    unsigned year = Number(stamp.substr(0, 4)), month = Number(stamp.substr(4, 2)), day = Number(stamp.substr(6, 2));
    unsigned hour = Number(stamp.substr(9, 2)), minute = Number(stamp.substr(11, 2)),
             second = Number(stamp.substr(13, 2));
    static const unsigned kDays[] = { 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 || second > 59)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return false;
    v->number = Number(s.substr(0, first));
    v->time = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    v->source = std::string(source);
    return v->number != 0;
}

std::string HistFileName(uint32_t number, int64_t time, std::string_view source)
{
    Civil c = CivilFromTime(time);
    return StrFormat("%06u_%04lld%02u%02u-%02u%02u%02u_%s.lcf", number, static_cast<long long>(c.year), c.month, c.day,
        c.hour, c.minute, c.second, Sanitized(source).c_str());
}

namespace {
// The comment of a configuration file: its first line without the parentheses.
std::string CommentOf(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    char line[CfgMaxHeaderLine + 2];
    std::string out;
    if (std::fgets(line, sizeof(line), f)) {
        out = line;
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        if (!out.empty() && out.front() == '(')
            out.erase(0, 1);
        if (!out.empty() && out.back() == ')')
            out.pop_back();
    }
    std::fclose(f);
    return out;
}

// A writer killed before its rename leaves its new file ("NAME.lcf.~PID-N") beside the versions; it is
// no version. Those older than an hour, when no writer can still be at work on them, are removed.
void RemoveStaleTemporaries(const std::string& folder)
{
    std::error_code ec;
    const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.find(".lcf.~") == std::string::npos)
            continue;
        std::error_code timeError;
        auto written = it->last_write_time(timeError);
        if (!timeError && written < limit)
            fs::remove(it->path(), timeError);
    }
}

uint32_t FeatureMask(const DeviceEntry& e)
{
    return (e.flags & DevFlagFeatureWord) ? e.feature_word : 0xFFFFFFFFu;
}

uint32_t HardwareMask(const DeviceEntry& e)
{
    return (e.flags & DevFlagHwMask) ? e.hw_mask : 0;
}

// The path of the next version, the folder created. "" when there is no folder for the device.
std::string NextPath(const HistSettings& settings, const DeviceEntry& entry, std::string_view source, HistVersion* v)
{
    if (settings.root.empty())
        return {};
    std::string folder = HistDeviceFolder(settings.root, entry);
    if (folder.empty()) {
        Diag("history: %s reported no serial number and no MAC address, its configuration is not kept\n",
            entry.AddressText().c_str());
        return {};
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    RemoveStaleTemporaries(folder);
    uint32_t last = 0;
    for (const HistVersion& old : HistList(folder, false))
        last = std::max(last, old.number);
    v->number = last + 1;
    v->time = static_cast<int64_t>(std::time(nullptr));
    v->source = Sanitized(source);
    v->path = (fs::path(folder) / HistFileName(v->number, v->time, v->source)).string();
    return v->path;
}

// "device.txt" of a device folder: the name, address and type the device had when it was last kept,
// so that its history is found by name or address while it cannot be asked for its serial number.
void NoteDevice(const std::string& folder, const DeviceEntry& entry)
{
    std::string text = "name=" + entry.name.str() + "\r\naddress=" + entry.AddressText()
        + "\r\ntype=" + entry.device_type.str() + "\r\nfirmware=" + entry.fw_version.str() + "\r\n";
    std::string old;
    std::string path = (fs::path(folder) / "device.txt").string();
    if (FileReadAll(path, &old) && old == text)
        return;
    FileWriteAtomic(path, text);
}

void Finish(const HistSettings& settings, const DeviceEntry& entry, HistVersion* v, HistVersion* kept)
{
    NoteDevice(fs::path(v->path).parent_path().string(), entry);
    std::error_code ec;
    v->size = fs::file_size(v->path, ec);
    v->comment = CommentOf(v->path);
    HistPrune(fs::path(v->path).parent_path().string(), settings.maxVersions, settings.maxBytes);
    if (kept)
        *kept = *v;
}
} // namespace

std::string HistFolderBeside(const std::string& settingsFile)
{
    fs::path dir = fs::path(settingsFile).parent_path();
    return (dir.empty() ? fs::path("History") : dir / "History").string();
}

HistSettings HistSettingsFrom(const std::string& settingsFile)
{
    HistSettings s;
    s.root = HistFolderBeside(settingsFile);
    int32_t versions = IniGetInt(settingsFile, "Options", "HistoryVersions", static_cast<int32_t>(kDefaultVersions));
    s.maxVersions = versions < 1 ? 1u : static_cast<uint32_t>(versions);
    int32_t kb = IniGetInt(settingsFile, "Options", "HistorySizeLimit", 0);
    s.maxBytes = kb > 0 ? static_cast<uint64_t>(kb) * 1024u : 0u;
    return s;
}

std::string HistDeviceKey(const DeviceEntry& entry)
{
    const std::string serial = entry.serial_no.str();
    if (!Trim(serial).empty())
        return "SN-" + Sanitized(Trim(serial));
    const std::string mac = entry.mac_address.str();
    if (!Trim(mac).empty())
        return "MAC-" + Sanitized(StrLower(mac));
    return {};
}

std::string HistDeviceFolder(const std::string& root, const DeviceEntry& entry)
{
    std::string key = HistDeviceKey(entry);
    if (root.empty() || key.empty())
        return {};
    return (fs::path(root) / key).string();
}

int HistKeepText(const HistSettings& settings, const DeviceEntry& entry, CfgTempStream& text,
    const CfgDescription* desc, std::string_view source, std::string_view comment, HistVersion* kept)
{
    HistVersion v;
    if (NextPath(settings, entry, source, &v).empty() || !text.IsOpen())
        return 0;
    // The export writes a new file and renames it into place: a writer killed on the way leaves only
    // its temporary file, which is no version and goes with the next write of that name.
    bool ok = desc ? CfgExportFileWith(text, desc, entry.device_type.str(), entry.fw_version.str(), FeatureMask(entry),
                  HardwareMask(entry), v.path, comment, settings.noCrypt)
                   : CfgExportFile(text, entry.device_type.str(), entry.fw_version.str(), FeatureMask(entry),
                       HardwareMask(entry), v.path, comment, settings.noCrypt);
    text.Rewind();
    if (!ok) {
        Diag("history: cannot write %s\n", v.path.c_str());
        return 0;
    }
    Finish(settings, entry, &v, kept);
    return 1;
}

int HistKeepFile(const HistSettings& settings, const DeviceEntry& entry, const std::string& path,
    std::string_view source, HistVersion* kept)
{
    std::string data;
    if (settings.root.empty() || !FileReadAll(path, &data))
        return 0;
    HistVersion v;
    if (NextPath(settings, entry, source, &v).empty())
        return 0;
    if (FileWriteAtomic(v.path, data) != 1) {
        Diag("history: cannot write %s\n", v.path.c_str());
        return 0;
    }
    Finish(settings, entry, &v, kept);
    return 1;
}

std::vector<HistVersion> HistList(const std::string& folder, bool comments)
{
    std::vector<HistVersion> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        HistVersion v;
        std::string name = it->path().filename().string();
        if (!HistParseFileName(name, &v) || !it->is_regular_file(ec))
            continue;
        v.path = it->path().string();
        v.size = it->file_size(ec);
        out.push_back(std::move(v));
    }
    std::sort(out.begin(), out.end(), [](const HistVersion& a, const HistVersion& b) { return a.number < b.number; });
    if (comments)
        for (HistVersion& v : out)
            v.comment = CommentOf(v.path);
    return out;
}

std::optional<HistVersion> HistFind(const std::string& folder, uint32_t number)
{
    for (HistVersion& v : HistList(folder, false))
        if (v.number == number) {
            v.comment = CommentOf(v.path);
            return v;
        }
    return std::nullopt;
}

size_t HistPrune(const std::string& folder, uint32_t maxVersions, uint64_t maxBytes)
{
    std::vector<HistVersion> versions = HistList(folder, false);
    uint64_t total = 0;
    for (const HistVersion& v : versions)
        total += v.size;
    size_t removed = 0;
    maxVersions = std::max(maxVersions, 1u);
    std::error_code ec;
    for (size_t i = 0; i + 1 < versions.size(); ++i) {
        size_t left = versions.size() - i;
        if (left <= maxVersions && (maxBytes == 0 || total <= maxBytes))
            break;
        if (fs::remove(versions[i].path, ec))
            ++removed;
        total -= versions[i].size;
    }
    return removed;
}

std::string HistTimeText(int64_t time)
{
    Civil c = CivilFromTime(time);
    return StrFormat(
        "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
}

std::string HistTimeIso(int64_t time)
{
    Civil c = CivilFromTime(time);
    return StrFormat(
        "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
}

std::string HistFolderByNote(const std::string& root, std::string_view name, std::string_view address)
{
    std::error_code ec;
    std::string found;
    fs::file_time_type newest {};
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::string text;
        std::string path = (it->path() / "device.txt").string();
        if (!FileReadAll(path, &text))
            continue;
        bool match = false;
        std::string_view rest = text;
        while (!rest.empty()) {
            size_t lineEnd = rest.find('\n');
            std::string_view line = TrimLineEnd(rest.substr(0, lineEnd));
            rest = lineEnd == std::string_view::npos ? std::string_view() : rest.substr(lineEnd + 1);
            size_t eq = line.find('=');
            if (eq == std::string_view::npos)
                continue;
            std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
            if ((key == "name" && !name.empty() && StrEqualNoCase(value, name))
                || (key == "address" && !address.empty() && value == address))
                match = true;
        }
        std::error_code timeError;
        fs::file_time_type written = fs::last_write_time(path, timeError);
        if (match && (found.empty() || written > newest)) {
            found = it->path().string();
            newest = written;
        }
    }
    return found;
}
