// morvaksim: simulated Morvak devices on loopback addresses. Each answers the TFTP device commands at
// its own address; the fleet runs in the foreground until SIGINT or SIGTERM.
#include "common/cliargs.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "device/firmware.h"
#include "monitor/snmp/snmp_ber.h"
#include "sim/console.h"
#include "sim/search.h"
#include "sim/simfleet.h"
#include "sim/snmp/sim_snmp.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/resource.h>

namespace {
std::atomic<bool> g_stop { false };

void OnSignal(int)
{
    g_stop = true;
}

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "morvaksim: %s\n", message.c_str());
    return code;
}

void PrintHelp()
{
    std::printf("morvaksim - simulated Morvak devices on loopback addresses\n"
                "\n"
                "Usage: morvaksim [options] ADDRESS\n"
                "       morvaksim make-upx [--kind L|F|U|D] [--applies VERSION] [--country N] [--size BYTES]\n"
                "                          PATTERN VERSION DDMMYYYY OUT\n"
                "\n"
                "Starts N devices at consecutive addresses from ADDRESS (127.x.y.z) and answers their TFTP\n"
                "commands until stopped with Ctrl-C (SIGINT) or SIGTERM.\n"
                "\n"
                "  --dir DIR             device state (one folder per device, kept across runs);\n"
                "                        default: a new temporary directory, removed at the end\n"
                "  --port PORT           TFTP port of every device (default 69, which needs root)\n"
                "  --count N             number of devices (default 1)\n"
                "  --type TYPE           device type of new devices (default \"Morvak 1100\")\n"
                "  --firmware VERSION    firmware version of new devices (default 3.10.0012)\n"
                "  --password TEXT       configuration password of new devices (default none)\n"
                "  --restart-ms MS       silence after a written configuration or firmware (default 3000)\n"
                "  --no-restart          apply written configurations at once, without a restart\n"
                "  --solvane             report a Solvane server (SOLVANE-PORT 4000)\n"
                "  --echo-wrong-password answer a configuration read with a wrong password by the echo of the\n"
                "                        request instead of ERROR 4\n"
                "  --refuse-access       refuse every command with a password (ERROR 2)\n"
                "  --truncated-oack      answer the block-size option with the two bytes \"bl\"\n"
                "  --max-blksize N       largest block size agreed to (default 8192)\n"
                "  --images N            firmware images of new devices, 1 or 2 (default 2): a device with two\n"
                "                        reports FIRMWARE-STATUS and runs new firmware in test mode until\n"
                "                        \"activateimage\"; a device with one replaces its firmware\n"
                "  --verbose, -v         one line per request on standard output\n"
                "\n"
                "Device search (answers the search's broadcast to 127.255.255.255 from each device's address):\n"
                "  --search              answer device searches\n"
                "  --search-limited      ... and the limited broadcast 255.255.255.255 too (in a test's network\n"
                "                        namespace whose loopback carries it)\n"
                "  --unconfigured N      the first N devices report IP-ADDRESS 0.0.0.0 (not configured yet), to\n"
                "                        searches and to \"sysinfo\", until a written configuration gives an address\n"
                "  --no-probe            ... and CONFIG-STATUS bit 0x80 (never probed on a pseudo address)\n"
                "  --shipping N          the next N devices share one address (shipping state)\n"
                "  --shipping-address A  that address (default: the first of them)\n"
                "  --full-block N        the next N devices send a text that fills a whole 512-byte block\n"
                "\n"
                "SNMPv1 agent (one per device, MIB from snmp/<type>.mib beside the program):\n"
                "  --snmp-port PORT      serve SNMP on each device's address at PORT (devices use 161, which\n"
                "                        needs root; default: no SNMP agent)\n"
                "  --snmp-read TEXT      read community (default public)\n"
                "  --snmp-write TEXT     write community (default private)\n"
                "  --snmp-max BYTES      answers larger than this are refused with tooBig (default 1472)\n"
                "  --trap HOST:PORT      send enterprise traps (generic 6, specific 1) to the monitor there\n"
                "  --mib-dir DIR         where the MIB files are (default: snmp/ beside the program)\n"
                "  --accounting-rows N   each device's accounting table holds N generated rows instead (every\n"
                "                        type, LANUSER- users, plain and empty ones, counters past 2^20 and 2^30 KB)\n"
                "\n"
                "Serial console of the first device (a pseudo-terminal):\n"
                "  --serial PATH         link the terminal side at PATH (removed at exit); a client opens PATH\n"
                "                        as its serial port\n"
                "  --console-baud BAUD   the console's speed (default 115200); the probe is answered only at it\n"
                "  --console-silent      the console never answers\n"
                "  --banner unquoted|partner  the name line without quotes, or a partner brand in the banner\n"
                "  --boot-loader         the device sits in its boot loader: the console is silent, and at 38400\n"
                "                        baud CAN or CR bring the upload prompt \"FLASHROM-Upload\"\n"
                "  Firmware over the console: \"do f/f\" answers \"FLASHROM-Upload\", then an XMODEM receiver\n"
                "  (8-bit checksum) takes the file. Faults: --xmodem-cancel-after N (CAN after block N),\n"
                "  --xmodem-silent-after N (no answer after block N), --xmodem-naks N (each block NAKed N times).\n"
                "  With --verbose each change of the client's line settings is printed as\n"
                "  \"PATH: line BAUD 8N1 rtscts=on|off\", and after each upload\n"
                "  \"PATH: xmodem N blocks stored, E checksum errors, D duplicates\".\n"
                "\n"
                "Faults, for tests of clients:\n"
                "  --drop-every N        drop every N-th datagram sent\n"
                "  --duplicate-every N   send every N-th datagram twice\n"
                "  --delay-ms MS         hold every datagram MS milliseconds\n"
                "  --silent-after N      stop answering in a transfer after N packets\n"
                "  --stray-port          send one packet of each transfer from another port as well\n"
                "  --fw-fails-to-start   new firmware does not start: the previous one runs again\n"
                "  --fw-no-return        after a firmware upload the device never answers again\n"
                "\n"
                "Firmware uploads refuse a file that is no firmware file or names another device type (TFTP\n"
                "ERROR 0; over the console CAN). After the restart the device reports the file's version and date.\n"
                "\n"
                "make-upx writes a firmware file for tests (no real firmware ships): the 128-byte header (kind\n"
                "letter, default F; PATTERN with \"_\" for blanks and [a;b] alternatives; VERSION of at most 4\n"
                "characters; the date; --applies for kind U; --country code) and filler up to --size bytes\n"
                "(default 65536).\n"
                "\n"
                "Device options given here also apply to devices loaded from --dir.\n"
                "Device types: ");
    for (size_t i = 0; i < SimDeviceTypes().size(); ++i)
        std::printf("%s\"%s\"", i ? ", " : "", SimDeviceTypes()[i].name);
    std::printf("\nFirmware versions: ");
    for (size_t i = 0; i < SimFirmwareVersions().size(); ++i)
        std::printf("%s%s", i ? ", " : "", SimFirmwareVersions()[i].c_str());
    std::printf("\n");
}

bool Number(CliArgs& args, const char* name, unsigned long long max, uint32_t* out)
{
    std::optional<std::string> text = args.Value(name);
    if (!text)
        return true;
    std::optional<uint32_t> value = ParseUnsignedStrict(*text);
    if (!value || *value > max) {
        Fail(StrFormat("invalid %s: %s", name + 2, text->c_str()), 2);
        return false;
    }
    *out = *value;
    return true;
}

// One SNMP agent per device on the fleet's loop, with the MIB of the device's type; it follows the device
// to a new address after a restart.
bool StartSnmp(SimFleet& fleet, const SimSnmpDeviceConfig& base, const std::optional<std::string>& mibDir,
    std::optional<uint32_t> accountingRows, std::vector<std::unique_ptr<SimSnmpEndpoint>>& agents, std::string* error)
{
    std::string dir = mibDir.value_or(std::string());
    if (dir.empty()) {
        std::error_code ec;
        dir = (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "snmp").string();
    }
    std::map<std::string, std::shared_ptr<SimMib>> mibs;
    uint32_t now = SystemClock().TickMs();
    for (size_t i = 0; i < fleet.Count(); ++i) {
        SimDevice& device = fleet.Device(i);
        std::shared_ptr<SimMib>& mib = mibs[device.type];
        if (!mib) {
            if (!(mib = SimMibLoad(dir + "/" + SimMibFileFor(device.type), error)))
                return false;
            if (accountingRows)
                SimMibGenerateAccounting(*mib, *accountingRows);
        }
        SimSnmpDeviceConfig config = base;
        config.address = device.address;
        config.name = device.name.empty() ? device.serial : device.name;
        auto agent = std::make_unique<SimSnmpEndpoint>();
        if (!agent->Open(config, mib, now)) {
            *error = StrFormat("cannot open the SNMP port %s:%u", NetAddressText(config.address).c_str(), base.port);
            return false;
        }
        SimSnmpEndpoint* raw = agent.get();
        fleet.AddSocket(raw->Socket(), [raw](uint32_t at) { raw->OnReadable(at); });
        fleet.AddTicker([raw](uint32_t at) { raw->OnTick(at); });
        agents.push_back(std::move(agent));
    }
    fleet.onAddressChange.push_back([&agents, &fleet](size_t index, uint32_t oldAddress, uint32_t address) {
        if (index >= agents.size())
            return;
        if (address != oldAddress && !agents[index]->Rebind(address))
            std::fprintf(stderr, "morvaksim: SNMP agent stays at its old address\n");
        // sysName follows the name the written configuration gave the device, the communities its
        // /snmp/communities rows (they replace --snmp-read and --snmp-write for this device).
        const SimDevice& device = fleet.Device(index);
        std::string read, write;
        if (SimCommunitiesFromConfig(device.config, &read, &write))
            agents[index]->Agent()->SetCommunities(read, write);
        if (!device.name.empty())
            agents[index]->Agent()->SetValue(
                { 1, 3, 6, 1, 2, 1, 1, 5, 0 }, kBerOctetString, SnmpValue::String(device.name));
    });
    return true;
}

// A thousand devices need more descriptors than the usual soft limit of 1024.
void RaiseFileLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}
// morvaksim make-upx: a firmware file with the given header and filler that changes from byte to byte.
int MakeUpx(std::vector<std::string> words)
{
    CliArgs args(words);
    FirmwareHeader h;
    std::string kind = args.Value("--kind").value_or("F");
    if (kind.size() != 1 || std::string("LFUD").find(kind[0]) == std::string::npos)
        return Fail("--kind takes L, F, U or D: " + kind, 2);
    h.letter = kind[0];
    h.applies = args.Value("--applies").value_or("");
    uint32_t country = 0, size = 65536;
    if (!Number(args, "--country", 999, &country) || !Number(args, "--size", 1u << 30, &size))
        return 2;
    h.country = static_cast<int>(country);
    if (std::optional<std::string> unknown = args.UnknownOption())
        return Fail(*unknown + " (see --help)", 2);
    if (args.Rest().size() != 4)
        return Fail("make-upx takes PATTERN VERSION DDMMYYYY OUT (see --help)", 2);
    h.pattern = args.Rest()[0];
    h.version = args.Rest()[1];
    h.date = args.Rest()[2];
    if (h.pattern.size() > kFirmwarePatternWidth || h.version.size() > kFirmwareVersionWidth
        || h.applies.size() > kFirmwareAppliesWidth || h.date.size() != kFirmwareDateWidth)
        return Fail("a field is longer than its place in the header (pattern 39, versions 4, date 8)", 2);
    std::string bytes = FirmwareBuildHeader(h);
    if (size < bytes.size())
        return Fail("--size is smaller than the 128-byte header", 2);
    uint32_t x = 0x12345678u;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        bytes += static_cast<char>(x >> 16);
    }
    if (!FileWriteAtomic(args.Rest()[3], bytes))
        return Fail("cannot write " + args.Rest()[3], 1);
    return 0;
}
} // namespace

namespace {
// What the command line asks for: the fleet's settings and the services beside it.
struct SimOptions {
    SimSettings fleet;
    std::optional<std::string> dir;
    bool search = false;
    SimSearchOptions search_options;
    SimSnmpDeviceConfig snmp;
    std::optional<std::string> mibDir;
    std::optional<uint32_t> accountingRows;
    SimConsoleOptions console;
    std::optional<std::string> consolePath;
};

bool Refuse(const std::string& message)
{
    Fail(message, 2);
    return false;
}

bool Given(CliArgs& args, const char* name)
{
    return args.Rest().end() != std::find(args.Rest().begin(), args.Rest().end(), name);
}

// The devices: how many, their port, type, firmware and password, their faults and the state folder.
bool ReadDeviceOptions(CliArgs& args, SimOptions& o)
{
    SimSettings& s = o.fleet;
    uint32_t port = 69, count = 1, restartMs = s.device.restartMs, maxBlock = 8192, silentAfter = 0;
    bool hadSilent = Given(args, "--silent-after");
    if (!Number(args, "--port", 65535, &port) || !Number(args, "--count", 65536, &count)
        || !Number(args, "--restart-ms", 3600000, &restartMs) || !Number(args, "--max-blksize", 65464, &maxBlock)
        || !Number(args, "--drop-every", 1000000, &s.faults.dropEvery)
        || !Number(args, "--duplicate-every", 1000000, &s.faults.duplicateEvery)
        || !Number(args, "--delay-ms", 60000, &s.faults.delayMs)
        || !Number(args, "--silent-after", 1000000, &silentAfter))
        return false;
    uint32_t images = 2;
    if (!Number(args, "--images", 2, &images))
        return false;
    if (images == 0)
        return Refuse("--images takes 1 or 2");
    s.device.images = images;
    bool optionGiven = false;
    auto flag = [&](const char* name, bool* target) {
        if (args.Flag(name)) {
            *target = true;
            optionGiven = true;
        }
    };
    s.port = static_cast<uint16_t>(port);
    s.count = count;
    if (restartMs != s.device.restartMs || maxBlock != 8192)
        optionGiven = true;
    s.device.restartMs = restartMs;
    s.device.maxBlockSize = maxBlock;
    if (hadSilent)
        s.faults.silentAfter = static_cast<int>(silentAfter);
    flag("--no-restart", &s.device.noRestart);
    flag("--solvane", &s.device.solvane);
    flag("--echo-wrong-password", &s.device.echoWrongPassword);
    flag("--refuse-access", &s.device.refuseAccess);
    flag("--truncated-oack", &s.device.truncatedOack);
    flag("--fw-fails-to-start", &s.device.firmwareFailsToStart);
    flag("--fw-no-return", &s.device.firmwareNoReturn);
    s.overrideOptions = optionGiven;
    s.faults.strayPort = args.Flag("--stray-port");
    s.verbose = args.Flag("--verbose", "-v");
    o.dir = args.Value("--dir");
    if (std::optional<std::string> type = args.Value("--type")) {
        const SimDeviceType* known = SimFindDeviceType(*type);
        if (!known)
            return Refuse("unknown device type \"" + *type + "\" (see --help)");
        s.type = known->name;
    }
    if (std::optional<std::string> firmware = args.Value("--firmware")) {
        auto& versions = SimFirmwareVersions();
        if (std::find(versions.begin(), versions.end(), *firmware) == versions.end())
            return Refuse("unknown firmware version " + *firmware + " (see --help)");
        s.firmware = *firmware;
    }
    if (std::optional<std::string> password = args.Value("--password"))
        s.password = *password;
    return true;
}

// Device search: answers to the broadcast of the search on 127.255.255.255.
bool ReadSearchOptions(CliArgs& args, SimOptions& o)
{
    SimSearchOptions& so = o.search_options;
    o.search = args.Flag("--search");
    if (!Number(args, "--unconfigured", 65536, &so.unconfigured) || !Number(args, "--shipping", 65536, &so.shipping)
        || !Number(args, "--full-block", 65536, &so.full_block))
        return false;
    so.no_probe = args.Flag("--no-probe");
    if (args.Flag("--search-limited"))
        so.bind.push_back(0xFFFFFFFFu);
    if (std::optional<std::string> shipping = args.Value("--shipping-address")) {
        std::optional<uint32_t> at = NetParseAddress(*shipping);
        if (!at || *at >> 24 != 127)
            return Refuse("--shipping-address must be a loopback address: " + *shipping);
        so.shipping_address = *at;
    }
    return true;
}

// SNMP agents on the devices' addresses.
bool ReadSnmpOptions(CliArgs& args, SimOptions& o)
{
    uint32_t snmpPort = 0, snmpMax = 1472;
    if (!Number(args, "--snmp-port", 65535, &snmpPort) || !Number(args, "--snmp-max", 65535, &snmpMax))
        return false;
    SimSnmpDeviceConfig& snmp = o.snmp;
    snmp.port = static_cast<uint16_t>(snmpPort);
    snmp.maxResponse = snmpMax;
    snmp.readCommunity = args.Value("--snmp-read").value_or("public");
    snmp.writeCommunity = args.Value("--snmp-write").value_or("private");
    if (std::optional<std::string> trap = args.Value("--trap")) {
        size_t colon = trap->rfind(':');
        std::optional<uint32_t> host = NetParseAddress(trap->substr(0, colon));
        std::optional<uint32_t> trapPort
            = colon == std::string::npos ? std::nullopt : ParseUnsignedStrict(trap->substr(colon + 1));
        if (!host || !trapPort || *trapPort == 0 || *trapPort > 65535 || *host >> 24 != 127)
            return Refuse("--trap needs a loopback HOST:PORT: " + *trap);
        snmp.trapTo = NetAddress { *host, static_cast<uint16_t>(*trapPort) };
    }
    o.mibDir = args.Value("--mib-dir");
    uint32_t rowsGiven = UINT32_MAX;
    if (!Number(args, "--accounting-rows", 1000000, &rowsGiven))
        return false;
    if (rowsGiven != UINT32_MAX)
        o.accountingRows = rowsGiven;
    return true;
}

// The serial console of the first device: speed, banner, boot loader and the XMODEM receiver's faults.
bool ReadConsoleOptions(CliArgs& args, SimOptions& o)
{
    SimConsoleOptions& console = o.console;
    o.consolePath = args.Value("--serial");
    uint32_t consoleBaud = 115200;
    if (!Number(args, "--console-baud", 4000000, &consoleBaud))
        return false;
    static const uint32_t kSpeeds[] = { 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400 };
    if (std::find(std::begin(kSpeeds), std::end(kSpeeds), consoleBaud) == std::end(kSpeeds))
        return Refuse(StrFormat("unsupported --console-baud: %u", consoleBaud));
    console.baud = consoleBaud;
    console.silent = args.Flag("--console-silent");
    console.bootLoader = args.Flag("--boot-loader");
    uint32_t cancelAfter = 0, silentAfterBlock = 0, naks = 0;
    bool hadCancel = Given(args, "--xmodem-cancel-after");
    bool hadSilentBlock = Given(args, "--xmodem-silent-after");
    if (!Number(args, "--xmodem-cancel-after", 1000000, &cancelAfter)
        || !Number(args, "--xmodem-silent-after", 1000000, &silentAfterBlock)
        || !Number(args, "--xmodem-naks", 1000, &naks))
        return false;
    console.xmodem.cancelAfter = hadCancel ? static_cast<int>(cancelAfter) : -1;
    console.xmodem.silentAfter = hadSilentBlock ? static_cast<int>(silentAfterBlock) : -1;
    console.xmodem.naksPerBlock = static_cast<int>(naks);
    if (std::optional<std::string> banner = args.Value("--banner")) {
        if (*banner == "unquoted")
            console.banner = SimConsoleOptions::Banner::Unquoted;
        else if (*banner == "partner")
            console.banner = SimConsoleOptions::Banner::Partner;
        else
            return Refuse("--banner takes unquoted or partner: " + *banner);
    }
    console.verbose = o.fleet.verbose;
    console.path = o.consolePath.value_or(std::string());
    return true;
}

// What is left after the options: the first device's address, with room for every device on loopback.
bool ReadAddress(CliArgs& args, SimOptions& o)
{
    if (std::optional<std::string> unknown = args.UnknownOption())
        return Refuse(*unknown + " (see --help)");
    if (args.Rest().size() != 1)
        return Refuse(args.Rest().empty() ? "which ADDRESS? (see --help)" : "one ADDRESS only (see --help)");
    std::optional<uint32_t> address = NetParseAddress(args.Rest()[0]);
    if (!address)
        return Refuse("not an IPv4 address: " + args.Rest()[0]);
    uint32_t count = o.fleet.count;
    if (*address >> 24 != 127 || (*address + (count ? count - 1 : 0)) >> 24 != 127 || count == 0)
        return Refuse("the devices must fit into the loopback network 127.0.0.0/8");
    o.fleet.address = *address;
    return true;
}

// Starts the fleet and the services asked for, serves until SIGINT or SIGTERM; the exit code.
int Serve(SimOptions& o)
{
    SimSettings& s = o.fleet;
    SimSearchOptions& so = o.search_options;
    so.port = s.port;
    RaiseFileLimit();
    NetStartup();
    SimFleet fleet;
    SimSearchResponder responder;
    std::vector<std::unique_ptr<SimSnmpEndpoint>> snmpAgents;
    SimConsole serialConsole;
    std::string error;
    bool started = fleet.Start(s, &error);
    // Unconfigured devices say so to a direct "sysinfo" too, with or without the search responder.
    for (size_t i = 0; started && i < so.unconfigured && i < fleet.Count(); ++i)
        fleet.Device(i).unconfigured = true;
    if (!started)
        return Fail(error, 1);
    if (o.consolePath && !serialConsole.Start(fleet, 0, o.console, &error))
        return Fail(error, 1);
    if (o.search && !responder.Start(fleet, so, &error))
        return Fail(error, 1);
    if (o.snmp.port && !StartSnmp(fleet, o.snmp, o.mibDir, o.accountingRows, snmpAgents, &error))
        return Fail(error, 1);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("morvaksim: %zu device(s) from %s, TFTP port %u, state in %s\n", fleet.Count(),
        NetAddressText(fleet.Device(0).address).c_str(), s.port, s.dir.c_str());
    if (o.snmp.port)
        std::printf("morvaksim: SNMP agents on port %u%s\n", o.snmp.port,
            o.snmp.trapTo
                ? StrFormat(", traps to %s:%u", NetAddressText(o.snmp.trapTo->ip).c_str(), o.snmp.trapTo->port).c_str()
                : "");
    if (o.consolePath)
        std::printf("morvaksim: serial console of %s on %s at %u baud\n",
            NetAddressText(fleet.Device(0).address).c_str(), o.consolePath->c_str(), o.console.baud);
    std::fflush(stdout);
    fleet.Run(g_stop);
    std::printf("morvaksim: stopped\n");
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    if (!words.empty() && words[0] == "make-upx")
        return MakeUpx(std::vector<std::string>(words.begin() + 1, words.end()));
    CliArgs args(words);
    if (args.Flag("--help", "-h")) {
        PrintHelp();
        return 0;
    }
    SimOptions o;
    if (!ReadDeviceOptions(args, o) || !ReadSearchOptions(args, o) || !ReadSnmpOptions(args, o)
        || !ReadConsoleOptions(args, o) || !ReadAddress(args, o))
        return 2;

    bool temporary = !o.dir;
    if (temporary) {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvaksim-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return Fail("cannot create a temporary directory", 1);
        o.dir = pattern;
    }
    o.fleet.dir = *o.dir;
    int code = Serve(o);
    if (temporary) {
        std::error_code ec;
        std::filesystem::remove_all(o.fleet.dir, ec);
    }
    return code;
}
