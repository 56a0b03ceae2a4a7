// talvine-cli monitor and remove: the monitor engine on the command line. The command line is the
// engine's front end: it prints every change of the shown tree and of the device lines, answers queries
// with Yes, prints balloons, plug-in calls and program starts (starting programs only with --exec), and
// at the end runs the exit actions and saves the device list, as the program does.
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/platform/process.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/engine/trend_store.h"
#include "monitor/log/log.h"
#include "monitor/snmp/snmp.h"
#include "monitor/startup/texts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>

namespace {
std::atomic<bool> g_stop { false };

void OnSignal(int)
{
    g_stop = true;
}

// Selects the string table whose string 2000 is the language (English when none is).
void SelectLanguage(const std::string& language)
{
    const StrCatalog& catalog = talvine_Strings();
    for (size_t i = 0; i < catalog.count; ++i) {
        StrSetLanguage(catalog.tables[i].lang);
        if (StrEqualNoCase(StrLoad(catalog, 2000), language))
            return;
    }
    StrSetLanguage(1033);
}

class CliFrontEnd : public EngineWaitingFrontEnd {
public:
    bool once = false;
    bool display = false;
    bool exec = false;
    int status = 0;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();

    void ItemInserted(EngineItem& item, EngineItem*) override
    {
        Changed();
        ItemUpdated(item);
    }
    void ItemUpdated(EngineItem& item) override
    {
        if (item.display && !display)
            return;
        std::string line = EngineItemLine(item);
        std::string& last = items_[&item];
        if (line == last)
            return;
        last = line;
        if (!once)
            Print(item.device->AddressText() + " " + line);
    }
    void ItemRemoved(EngineItem& item) override
    {
        Changed();
        items_.erase(&item);
        if (!once && (!item.display || display))
            Print(item.device->AddressText() + (item.display ? " display " : " ") + item.Name() + " removed");
    }
    void DeviceChanged(EngineDevice& d) override
    {
        std::string line = EngineDeviceLine(d);
        std::string& last = devices_[&d];
        if (line == last)
            return;
        last = line;
        Changed();
        if (!once)
            Print(line);
    }
    void DeviceAdded(EngineDevice& d) override
    {
        d.displayAttached = display; // the display items are polled while a display shows them
        DeviceChanged(d);
    }
    void DeviceRemoved(EngineDevice& d) override
    {
        devices_.erase(&d);
    }
    void DetectFailed(uint32_t, EngineDetectResult, const std::string& message) override
    {
        std::string first = message.substr(0, message.find_first_of("\r\n"));
        std::fprintf(stderr, "%s: %s\n", CliProgramName(), CliText(first).c_str());
        status = 1;
    }
    bool Query(EngineDevice& d, QueryStyle, const std::string& message, const std::string&, bool* checked) override
    {
        Print("query " + d.AddressText() + ": " + message);
        *checked = false;
        return true;
    }
    void Balloon(EngineDevice& d, uint32_t kind, const std::string& text) override
    {
        Print(StrFormat("balloon %s %u: %s", d.AddressText().c_str(), kind, text.c_str()));
    }
    void Plugin(EngineDevice& d, const std::string& name, const std::string& argument) override
    {
        Print("plugin " + d.AddressText() + " " + name + " " + argument);
    }
    void Run(EngineDevice& d, const std::string& program, const std::string& parameters, bool hidden) override
    {
        Print("run " + d.AddressText() + " " + program + " " + parameters);
        if (exec && ProcessStart(program, parameters, hidden) != 1)
            std::fprintf(stderr, "%s: cannot start %s\n", CliProgramName(), program.c_str());
    }
    void ErrorMessage(const std::string& text) override
    {
        std::fprintf(stderr, "%s: %s\n", CliProgramName(), CliText(text).c_str());
    }

    // The tree as shown: device lines, their shown items below in tree order, two blanks per level.
    void PrintTree(Engine& engine)
    {
        for (const std::string& line : EngineTreeLines(engine, display))
            Print(line);
    }

private:
    void Changed()
    {
        lastChange = std::chrono::steady_clock::now();
    }
    void Print(const std::string& line)
    {
        CliPrint(stdout, line + "\n");
        std::fflush(stdout);
    }

    std::map<EngineItem*, std::string> items_;
    std::map<EngineDevice*, std::string> devices_;
};

// The scripts in `dir`; the list, the settings and the "Log" folder in `data` (the same folder with
// --dir; otherwise the monitor's data folder beside the program or in the user's folder).
struct MonitorDir {
    std::string dir;
    std::string data;
    std::string list, settings;
};

MonitorDir Dir(const std::optional<std::string>& given)
{
    MonitorDir m;
    CliFolders folders = CliDataFolders(given, "Travik", StrLoad(talvine_Strings(), TvStrSettingsFile), "talv", ".dsc");
    m.dir = folders.read;
    m.data = folders.write;
    m.list = m.data + "/" + StrLoad(talvine_Strings(), TvStrListFile);
    m.settings = m.data + "/" + StrLoad(talvine_Strings(), TvStrSettingsFile);
    return m;
}

int RunMonitor(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> dirOption = opts.Value("--dir");
    std::string language = opts.Value("--lang").value_or("English");
    std::optional<std::string> port = opts.Value("-p", "--port");
    std::optional<std::string> localPort = opts.Value("--local-port");
    std::optional<std::string> seconds = opts.Value("-t", "--timeout");
    CliFrontEnd front;
    front.once = opts.Flag("--once");
    bool logging = opts.Flag("--log");
    bool toStdout = opts.Flag("--log2stdout");
    front.display = opts.Flag("--display");
    front.exec = opts.Flag("--exec");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    unsigned long long portValue = kSnmpAgentPort, localValue = 0, secondsValue = front.once ? 30 : 0;
    if (!CliNumber(port, 65535, &portValue, "port") || !CliNumber(localPort, 65535, &localValue, "local port")
        || !CliNumber(seconds, 86400, &secondsValue, "time-out"))
        return 2;
    std::vector<std::pair<uint32_t, std::string>> adds;
    for (const std::string& word : opts.Rest()) {
        if (word == "--")
            continue;
        size_t colon = word.find(':');
        auto ip = NetParseAddress(word.substr(0, colon));
        if (!ip || *ip == 0)
            return CliFail("invalid device address '" + word + "' (ADDRESS[:COMMUNITY] expected)", 2);
        adds.emplace_back(SnmpAddressFromHost(*ip), colon == std::string::npos ? "" : word.substr(colon + 1));
    }

    SelectLanguage(language);
    MonitorDir m = Dir(dirOption);
    ScriptLoadAll(m.dir + "/talv*.dsc", language);
    LogInit(m.data, m.settings, toStdout);
    SnmpStartOptions snmp;
    snmp.agentPort = static_cast<uint16_t>(portValue);
    snmp.localPort = static_cast<uint16_t>(localValue);
    if (SnmpStartWith(snmp) != 1)
        return CliFail(StrFormat("cannot open the SNMP client's port %llu", localValue));

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    int status = 0;
    {
        // The polled values are kept as the monitor's window keeps them (written every five seconds, the
        // rest when the engine is gone).
        TrendStore trends(TrendStoreDir(m.dir));
        trends.StartWriter();
        EngineSettings settings;
        settings.listPath = m.list;
        settings.settingsPath = m.settings;
        settings.trends = &trends;
        Engine engine(settings, &front);
        engine.LoadDevices();
        engine.StartAll();
        for (const auto& [address, community] : adds)
            engine.AddDevice(address, community, logging);

        auto start = std::chrono::steady_clock::now();
        auto elapsed = [](std::chrono::steady_clock::time_point since) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
                .count();
        };
        while (!g_stop) {
            engine.Process();
            if (secondsValue && elapsed(start) >= static_cast<long long>(secondsValue) * 1000)
                break;
            if (front.once && engine.Detecting() == 0 && elapsed(front.lastChange) >= 2000)
                break;
            front.WaitMs(static_cast<uint32_t>(std::min<uint32_t>(100, engine.NextTimerMs())));
        }
        if (front.once)
            front.PrintTree(engine);
        engine.RunExitActions();
        if (engine.SaveDevices() != 1)
            status = CliFail("cannot write " + m.list);
        status = status ? status : front.status;
    }
    LogClose();
    SnmpStop();
    return status;
}

int RunRemove(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> dirOption = opts.Value("--dir");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string> words;
    for (const std::string& w : opts.Rest())
        if (w != "--")
            words.push_back(w);
    if (words.size() != 1)
        return CliFail("usage: remove [--dir DIR] ADDRESS", 2);
    auto ip = NetParseAddress(words[0]);
    if (!ip || *ip == 0)
        return CliFail("invalid device address '" + words[0] + "'", 2);
    MonitorDir m = Dir(dirOption);
    ScriptLoadAll(m.dir + "/talv*.dsc", "English");
    CliFrontEnd front;
    front.once = true; // prints nothing while loading
    EngineSettings settings;
    settings.listPath = m.list;
    settings.settingsPath = m.settings;
    Engine engine(settings, &front);
    if (engine.LoadDevices() != 1)
        return CliFail("cannot read " + m.list);
    EngineDevice* d = engine.FindDevice(SnmpAddressFromHost(*ip));
    if (!d)
        return CliFail("no device with the address " + words[0]);
    engine.RemoveDevice(d);
    if (engine.SaveDevices() != 1)
        return CliFail("cannot write " + m.list);
    return 0;
}

CliRegistrar g_monitor { { "monitor",
    "monitor [--dir DIR] [--lang NAME] [-p PORT] [--local-port PORT] [-t SECONDS] [--once] [--log] [--log2stdout] "
    "[--display] [--exec] [ADDRESS[:COMMUNITY]]...",
    RunMonitor } };
CliRegistrar g_remove { { "remove", "remove [--dir DIR] ADDRESS", RunRemove } };
} // namespace
