// Device logs: file-name patterns, the shared open file and the conversion of older settings.
#include "monitor/log/log.h"

#include "common/ini.h"
#include "common/locale.h"
#include "common/platform/file.h"
#include "common/text.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace {
struct LogState {
    std::mutex lock; // the open file and its name, shared by the SNMP worker and the front end
    std::string directory; // the Log directory
    std::string settings;
    bool toStdout = false;
    std::FILE* file = nullptr;
    std::string name; // of the open file
    std::function<std::time_t()> now;
};

LogState& State()
{
    static LogState state;
    return state;
}

std::tm LocalTime(std::time_t t)
{
    std::tm tm {};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

// The conversions every C library knows; anything else stays literal (some libraries abort on an
// unknown conversion).
bool KnownConversion(char c)
{
    return c && std::strchr("aAbBcdHIjmMpSUwWxXyY", c) != nullptr;
}

std::string Key(std::string_view address, const char* suffix)
{
    return std::string(address) + suffix;
}

// The addresses of the device list (the second field of each line with at least three).
std::vector<std::string> ListAddresses(const std::string& path)
{
    std::vector<std::string> out;
    std::string data;
    if (!FileReadAll(path, &data))
        return out;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos)
            end = data.size();
        std::string_view line(data.data() + pos, end - pos);
        pos = end + 1;
        size_t a = line.find(';');
        if (a == std::string_view::npos)
            continue;
        size_t b = line.find(';', a + 1);
        if (b == std::string_view::npos)
            continue;
        std::string address(Trim(line.substr(a + 1, b - a - 1)));
        if (!address.empty())
            out.push_back(address);
    }
    return out;
}

void CloseLocked(LogState& s)
{
    if (s.file)
        std::fclose(s.file);
    s.file = nullptr;
    s.name.clear();
}
} // namespace

std::string LogFileName(std::string_view pattern, std::string_view address, const std::tm& time)
{
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        char conv = pattern[i + 1];
        if (conv == 'N') {
            out += address;
            ++i;
        } else if (conv == '%') {
            out += '%';
            ++i;
        } else if (KnownConversion(conv)) {
            char format[3] = { '%', conv, 0 };
            char buffer[128];
            size_t n = std::strftime(buffer, sizeof buffer, format, &time);
            out.append(buffer, n);
            ++i;
        } else {
            out += '%';
        }
    }
    if (out.empty() || out == "." || out == ".." || out.find_first_of("/\\:") != std::string::npos)
        return {};
    return out;
}

int LogInit(const std::string& directory, const std::string& settingsPath, bool toStdout)
{
    LogState& s = State();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        CloseLocked(s);
        s.toStdout = toStdout;
        s.settings = settingsPath;
        s.directory = (std::filesystem::path(directory) / "Log").string();
    }
    std::error_code ec;
    std::filesystem::create_directories(LogDirectory(), ec);

    IniTransaction t(settingsPath);
    std::string oldName = t->GetString("Logging", "FileName", "");
    if (!oldName.empty()) {
        uint32_t mask = (t->GetInt("Logging", "LogRouter", 0) ? kLogDeviceEvents : 0)
            | (t->GetInt("Logging", "LogAbPorts", 0) ? kLogAbPorts : 0)
            | (t->GetInt("Logging", "LogSolvane", 0) ? kLogSolvane : 0);
        for (const char* key : { "LogRouter", "LogAbPorts", "LogSolvane", "FileName" })
            t->DeleteKey("Logging", key);
        for (const std::string& address : ListAddresses((std::filesystem::path(directory) / "talvine.lst").string())) {
            t->SetString("Logging", Key(address, "_Filename"), "%N-" + oldName);
            t->SetInt("Logging", Key(address, "_LogMask"), static_cast<int32_t>(mask));
        }
        t.Commit();
    }
    return std::filesystem::is_directory(LogDirectory(), ec) ? 1 : 0;
}

int LogWrite(std::string_view address, uint32_t mask, std::string_view text)
{
    LogState& s = State();
    std::string settings, directory;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        settings = s.settings;
        directory = s.directory;
    }
    if (settings.empty())
        return 0;
    IniFile ini(settings);
    ini.Load();
    uint32_t deviceMask = static_cast<uint32_t>(ini.GetInt("Logging", Key(address, "_LogMask"), 0));
    std::string pattern = ini.GetString("Logging", Key(address, "_FileName"), "");
    if (!(deviceMask & mask) || pattern.empty())
        return 0;

    std::lock_guard<std::mutex> guard(s.lock);
    std::time_t t = s.now ? s.now() : std::time(nullptr);
    std::tm tm = LocalTime(t);
    std::string name = LogFileName(pattern, address, tm);
    if (name.empty())
        return 0;
    if (name != s.name)
        CloseLocked(s);
    if (!s.file) {
        std::string path = (std::filesystem::path(directory) / name).string();
        s.file = std::fopen(path.c_str(), "ab");
        if (!s.file)
            return 0;
        s.name = name;
    }
    LocaleDate date { static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
        static_cast<uint16_t>(tm.tm_mday) };
    LocaleTime time { static_cast<uint16_t>(tm.tm_hour), static_cast<uint16_t>(tm.tm_min),
        static_cast<uint16_t>(tm.tm_sec) };
    std::string line = "[" + LocaleShortDate(date) + " " + LocaleTimeText(time) + "] ";
    line.append(text);
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), s.file);
    std::fflush(s.file);
    if (s.toStdout) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return 1;
}

void LogClose()
{
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    CloseLocked(s);
}

std::string LogDirectory()
{
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.directory;
}

std::string LogOpenFile()
{
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.name;
}

void LogWriteDeviceKeys(const std::string& settingsPath, std::string_view address, bool on)
{
    IniTransaction t(settingsPath);
    t->SetString("Logging", Key(address, "_Filename"), on ? kLogMonthly : "");
    t->SetInt("Logging", Key(address, "_LogMask"), on ? 7 : 0);
    t.Commit();
}

void LogDeleteDeviceKeys(const std::string& settingsPath, std::string_view address)
{
    IniTransaction t(settingsPath);
    t->DeleteKey("Logging", Key(address, "_Filename"));
    t->DeleteKey("Logging", Key(address, "_LogMask"));
    t.Commit();
}

void LogSetTimeSource(std::function<std::time_t()> source)
{
    LogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.now = std::move(source);
}
