#include "monitor/startup/options.h"

#include "common/cmdline.h"
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/snmp/snmp_types.h"

#include <cstring>

namespace {
constexpr size_t kCommunityMax = 255;
} // namespace

std::optional<TalvineAdd> ParseAddValue(std::string_view value)
{
    size_t colon = value.find(':');
    std::optional<uint32_t> ip = NetParseAddress(value.substr(0, colon));
    if (!ip || *ip == 0)
        return std::nullopt;
    TalvineAdd add;
    add.address = SnmpAddressFromHost(*ip);
    if (colon != std::string_view::npos) {
        std::string_view community = value.substr(colon + 1);
        community = community.substr(0, community.find('\0')); // a text ends at its terminator
        add.community = std::string(community.substr(0, kCommunityMax));
    }
    return add;
}

TalvineOptions ParseTalvineOptions(std::string_view commandLine)
{
    TalvineOptions options;
    for (const std::string& token : SplitCommandLine(commandLine)) {
        std::optional<std::string_view> text = OptionText(token);
        if (!text)
            continue;
        if (std::optional<uint16_t> lang = LanguageOption(*text)) {
            options.language = *lang;
        } else if (StrStartsWithNoCase(*text, "port:")) {
            std::optional<uint32_t> port = ParseUnsignedStrict(text->substr(5));
            if (port && *port <= 65535)
                options.port = static_cast<uint16_t>(*port);
        } else if (StrStartsWithNoCase(*text, "log2s")) {
            options.log2stdout = true;
        } else if (StrStartsWithNoCase(*text, "add:")) {
            if (std::optional<TalvineAdd> add = ParseAddValue(StripEnclosingQuotes(text->substr(4))))
                options.adds.push_back(std::move(*add));
        } else if (StrStartsWithNoCase(*text, "testctl:")) {
            std::optional<uint32_t> port = ParseUnsignedStrict(text->substr(8));
            if (port && *port <= 65535)
                options.testControlPort = static_cast<uint16_t>(*port);
        }
    }
    return options;
}

std::vector<uint8_t> PackAddRecords(const std::vector<TalvineAdd>& adds)
{
    std::vector<uint8_t> out;
    for (const TalvineAdd& add : adds) {
        std::string community = add.community.substr(0, std::min(add.community.find('\0'), kCommunityMax));
        uint32_t length = static_cast<uint32_t>(12 + community.size());
        size_t at = out.size();
        // 12 plus the text: the length, the address, the text, its terminator and three spare bytes.
        out.resize(at + length, 0);
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
        std::memcpy(out.data() + at + 4, &add.address, 4);
        std::memcpy(out.data() + at + 8, community.data(), community.size());
    }
    return out;
}

std::vector<TalvineAdd> UnpackAddRecords(const uint8_t* data, size_t size)
{
    std::vector<TalvineAdd> out;
    for (auto& [address, community] : EngineParseAddRecords(data, size))
        out.push_back(TalvineAdd { address, std::move(community) });
    return out;
}

TalvineSettings ReadTalvineSettings(const std::string& iniPath)
{
    TalvineSettings s;
    s.showTrayStatus = IniGetInt(iniPath, kSectionMainWindow, "ShowTrayStatus", 0) != 0;
    s.detailsMask = static_cast<uint32_t>(IniGetInt(iniPath, kSectionMainWindow, "DetailsMask", 1)) & 7u;
    s.dontAskForExit = IniGetInt(iniPath, kSectionOptions, "DontAskForExit", 0) != 0;
    s.dontAskForDeviceDelete = IniGetInt(iniPath, kSectionOptions, "DontAskForDeviceDelete", 0) != 0;
    s.deviceAddressMru = IniGetString(iniPath, kSectionOptions, "DeviceAddressMRU", "");
    return s;
}

int WriteTalvineSettings(const std::string& iniPath, const TalvineSettings& s)
{
    int ok = IniWriteInt(iniPath, kSectionMainWindow, "ShowTrayStatus", s.showTrayStatus ? 1 : 0);
    ok &= IniWriteInt(iniPath, kSectionMainWindow, "DetailsMask", static_cast<int32_t>(s.detailsMask));
    ok &= IniWriteInt(iniPath, kSectionOptions, "DontAskForExit", s.dontAskForExit ? 1 : 0);
    ok &= IniWriteInt(iniPath, kSectionOptions, "DontAskForDeviceDelete", s.dontAskForDeviceDelete ? 1 : 0);
    return ok;
}
