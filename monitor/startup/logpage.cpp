#include "monitor/startup/logpage.h"

#include "common/ini.h"
#include "monitor/log/log.h"

namespace {
constexpr const char* kSection = "Logging";

std::string Key(std::string_view address, const char* suffix)
{
    return std::string(address) + suffix;
}
} // namespace

LogPageState LogPageLoad(const std::string& settingsPath, std::string_view address)
{
    LogPageState s;
    s.mask = static_cast<uint32_t>(IniGetInt(settingsPath, kSection, Key(address, "_LogMask"), 0)) & 7u;
    std::string pattern = IniGetString(settingsPath, kSection, Key(address, "_FileName"), "");
    if (pattern.empty() || pattern == kLogMonthly) {
        s.naming = LogNaming::Monthly;
    } else if (pattern == kLogDaily) {
        s.naming = LogNaming::Daily;
    } else {
        s.naming = LogNaming::Custom;
        s.custom = pattern;
    }
    if (s.custom.empty())
        s.custom = std::string(address) + ".Log";
    return s;
}

std::string LogPagePattern(const LogPageState& state)
{
    switch (state.naming) {
    case LogNaming::Monthly:
        return kLogMonthly;
    case LogNaming::Daily:
        return kLogDaily;
    case LogNaming::Custom:
        break;
    }
    return state.custom;
}

int LogPageSave(const std::string& settingsPath, std::string_view address, const LogPageState& state)
{
    IniTransaction t(settingsPath);
    t->SetString(kSection, Key(address, "_Filename"), LogPagePattern(state));
    t->SetInt(kSection, Key(address, "_LogMask"), static_cast<int32_t>(state.mask & 7u));
    return t.Commit();
}

std::string LogPageExpandedName(LogNaming naming, std::string_view address, const std::tm& time)
{
    return LogFileName(naming == LogNaming::Daily ? kLogDaily : kLogMonthly, address, time);
}
