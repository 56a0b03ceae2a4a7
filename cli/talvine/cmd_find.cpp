// talvine-cli find: the main window's Find without a window. Devices answer the search broadcast with
// their system information; each is printed as ADDRESS<TAB>TYPE<TAB>NAME. With --add they are then
// detected and added to the device list as the window adds the chosen ones (no community).
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "device/search.h"
#include "monitor/engine/engine.h"
#include "monitor/log/log.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/texts.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {
// The engine's front end while devices are added: failures go to standard error, nothing is asked.
class AddFrontEnd : public EngineWaitingFrontEnd {
public:
    int failed = 0;

    void DeviceAdded(EngineDevice& d) override
    {
        std::printf("added %s %s\n", d.AddressText().c_str(), d.object->type.c_str());
    }
    void DetectFailed(uint32_t, EngineDetectResult, const std::string& message) override
    {
        // The message box's text on one line.
        std::string line;
        for (char c : message)
            if (c != '\r' || (!line.empty() && line.back() != ' '))
                line += c == '\r' ? ' ' : c;
        std::fprintf(stderr, "%s: %s\n", CliProgramName(), CliText(line).c_str());
        ++failed;
    }
    void ErrorMessage(const std::string& text) override
    {
        std::fprintf(stderr, "%s: %s\n", CliProgramName(), CliText(text).c_str());
    }
};

// Adds the devices through the engine (type detection, logging off) and saves the list.
int AddFound(const std::optional<std::string>& dirOption, const std::vector<uint32_t>& hosts, uint16_t agentPort)
{
    CliFolders folders
        = CliDataFolders(dirOption, "Travik", StrLoad(talvine_Strings(), TvStrSettingsFile), "talv", ".dsc");
    const std::string list = folders.write + "/" + StrLoad(talvine_Strings(), TvStrListFile);
    const std::string settingsPath = folders.write + "/" + StrLoad(talvine_Strings(), TvStrSettingsFile);
    ScriptLoadAll(folders.read + "/" + StrLoad(talvine_Strings(), TvStrScriptPattern),
        StrLoad(talvine_Strings(), TvStrLanguageName));
    LogInit(folders.write, settingsPath, false);
    SnmpStartOptions snmp;
    snmp.agentPort = agentPort;
    if (SnmpStartWith(snmp) != 1)
        return CliFail("cannot start the SNMP client");
    int status = 0;
    {
        AddFrontEnd front;
        EngineSettings settings;
        settings.listPath = list;
        settings.settingsPath = settingsPath;
        Engine engine(settings, &front);
        engine.LoadDevices();
        for (uint32_t host : hosts)
            if (!engine.AddDevice(SnmpAddressFromHost(host), "", false))
                std::fprintf(stderr, "%s: %s is listed already\n", CliProgramName(), NetAddressText(host).c_str());
        // Each detection ends by itself (answer, refusal or the SNMP time-outs); the bound only guards
        // against a detection that never reports.
        auto start = std::chrono::steady_clock::now();
        while (engine.Detecting() > 0 && std::chrono::steady_clock::now() - start < std::chrono::minutes(5)) {
            engine.Process();
            front.WaitMs(std::min<uint32_t>(100, engine.NextTimerMs()));
        }
        engine.Process();
        if (engine.SaveDevices() != 1)
            status = CliFail("cannot write " + list);
        status = status ? status : (front.failed ? 1 : 0);
    }
    LogClose();
    SnmpStop();
    ScriptFreeAll();
    return status;
}

int RunFind(std::vector<std::string>& args)
{
    CliArgs a(args);
    std::optional<std::string> dir = a.Value("--dir");
    CliSearchOptions search(a, 3, kTftpPort);
    std::optional<std::string> agentText = a.Value("-p");
    bool add = a.Flag("--add");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    if (!a.Rest().empty())
        return CliFail("find takes no arguments besides its options (see --help)", 2);
    unsigned long long agentPort = kSnmpAgentPort;
    if (!search.Check() || !CliNumber(agentText, 65535, &agentPort, "agents' port"))
        return 2;
    if (NetStartup() != 1)
        return CliFail("the network is not available");

    SearchSettings settings;
    settings.timeout_lan_s = static_cast<int32_t>(search.timeout);
    settings.timeout_wan_s = static_cast<int32_t>(search.timeout);
    SearchEnv env;
    env.port = static_cast<uint16_t>(search.port);
    std::vector<DeviceEntry> results;
    if (!search.noLocal) {
        SearchRequest request;
        request.what = SearchLocalNet;
        DeviceSearch(request, results, settings, env);
    }
    for (const auto& [address, mask] : search.remote) {
        SearchRequest request;
        request.what = SearchRemoteNet;
        request.remote_address = address;
        request.remote_netmask = mask;
        DeviceSearch(request, results, settings, env);
    }
    // One line per device; a device that answered more than one search is listed once.
    std::vector<uint32_t> hosts;
    for (const DeviceEntry& e : results) {
        if (std::find(hosts.begin(), hosts.end(), e.address) != hosts.end())
            continue;
        hosts.push_back(e.address);
        std::printf(
            "%s\t%s\t%s\n", NetAddressText(e.address).c_str(), CliText(e.device_type).c_str(), CliText(e.name).c_str());
    }
    std::fprintf(stderr, "%s\n",
        CliText(StrFormat(StrLoad(talvine_Strings(), FindStrFound).c_str(), static_cast<int>(hosts.size()))).c_str());
    std::fflush(stdout);
    if (!add || hosts.empty())
        return 0;
    return AddFound(dir, hosts, static_cast<uint16_t>(agentPort));
}

CliRegistrar g_find { { "find",
    "find [--dir DIR] [-t SECONDS] [--no-local] [--net ADDRESS/NETMASK]... [--port PORT] [-p PORT] [--add]   find "
    "devices by broadcast as the main window's Find does (-t default 3; --port the devices' TFTP port); prints "
    "ADDRESS<TAB>TYPE<TAB>NAME per device; --add detects and adds each to the device list (-p the agents' SNMP "
    "port)",
    RunFind } };
} // namespace
