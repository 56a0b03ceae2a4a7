// talvine-cli snmp get|getnext|walk|set and talvine-cli trap: the monitor's SNMP jobs and engine on the
// command line. Results go to standard output as "OID = TYPE: value" lines, each value whole and with its
// own wire type (SnmpBindingText); diagnostics and errors to standard error.
#include "cli/cli.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_ber.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {
// The one place where an SNMP status becomes a text.
std::string StatusText(int status)
{
    static const char* const kNames[] = { "noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr" };
    if (status == -1)
        return "no answer";
    if (status >= 0 && status <= 5)
        return kNames[status];
    return StrFormat("error status %d", status);
}

void PrintBinding(const SnmpBinding& binding)
{
    std::printf("%s = %s\n", SnmpOidText(binding.oid).c_str(), SnmpBindingText(binding).c_str());
}

// The wait of one attempt: the jobs try 10 times, each a tenth of the time limit.
uint32_t AttemptMs(uint32_t seconds)
{
    return seconds * 100 > 0 ? seconds * 100 : 1;
}

// The options every snmp command shares, and the host and OIDs after them.
struct Target {
    std::string community;
    uint16_t port = kSnmpAgentPort;
    uint32_t waitSeconds = 15;
    uint32_t address = 0; // network byte order
    std::string host;
    std::vector<SnmpOid> oids;
    std::vector<std::string> oidTexts; // as given
    std::vector<std::string> rest; // words after HOST OID (set: TYPE VALUE)
};

// Parses [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...; returns the exit code on error, else -1.
int ParseTarget(std::vector<std::string>& args, const char* usage, size_t minOids, size_t extra, Target* t)
{
    CliArgs opts(args);
    std::optional<std::string> community = opts.Value("-c", "--community");
    std::optional<std::string> port = opts.Value("-p", "--port");
    std::optional<std::string> wait = opts.Value("-t", "--timeout");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    unsigned long long portValue = kSnmpAgentPort, waitValue = 15;
    if (!CliNumber(port, 65535, &portValue, "port") || !CliNumber(wait, 3600, &waitValue, "time-out"))
        return 2;
    std::vector<std::string>& words = opts.Rest();
    if (!words.empty() && words[0] == "--")
        words.erase(words.begin());
    if (words.size() < 1 + minOids + extra || (extra > 0 && words.size() != 1 + minOids + extra))
        return CliFail(std::string("usage: ") + usage, 2);
    t->community = community.value_or("");
    t->port = static_cast<uint16_t>(portValue);
    t->waitSeconds = static_cast<uint32_t>(waitValue);
    t->host = words[0];
    auto ip = NetParseAddress(words[0]);
    if (!ip || *ip == 0)
        return CliFail("invalid host address '" + words[0] + "' (dotted IPv4 address expected)", 2);
    t->address = SnmpAddressFromHost(*ip);
    size_t oidCount = words.size() - 1 - extra;
    for (size_t i = 1; i <= oidCount; ++i) {
        SnmpOid oid;
        if (!SnmpOidFromText(words[i].c_str(), &oid) || SnmpOidText(oid).empty())
            return CliFail("invalid object identifier '" + words[i] + "'", 2);
        t->oids.push_back(oid);
        t->oidTexts.push_back(words[i]);
    }
    t->rest.assign(words.begin() + 1 + static_cast<long>(oidCount), words.end());
    return -1;
}

// The bindings cut into runs that each fit the 1024-byte request buffer (with the largest request id
// and the community the request carries), in order. Empty when a binding does not fit even alone.
std::vector<std::vector<SnmpBinding>> Batches(const Target& t, uint8_t pdu, const std::vector<SnmpBinding>& bindings)
{
    SnmpMessage probe;
    probe.pdu = pdu;
    probe.community = t.community.empty() ? std::string("public") : t.community;
    probe.requestId = 0x7FFFFFFFu;
    std::vector<std::vector<SnmpBinding>> batches;
    for (const SnmpBinding& b : bindings) {
        probe.bindings.push_back(b);
        if (SnmpEncodedSize(probe) <= kSnmpRequestBuffer)
            continue;
        probe.bindings.pop_back();
        if (probe.bindings.empty())
            return {};
        batches.push_back(std::move(probe.bindings));
        probe.bindings.assign(1, b);
        if (SnmpEncodedSize(probe) > kSnmpRequestBuffer)
            return {};
    }
    if (!probe.bindings.empty())
        batches.push_back(std::move(probe.bindings));
    return batches;
}

// The request on a job socket, in as many requests as the bindings need to fit; prints the answers'
// bindings in order or says why there are none.
int Request(const Target& t, uint8_t pdu, const std::vector<SnmpBinding>& bindings)
{
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    if (!socket)
        return CliFail("cannot open a UDP socket");
    std::vector<std::vector<SnmpBinding>> batches = Batches(t, pdu, bindings);
    if (batches.empty())
        return CliFail("request too large");
    for (const std::vector<SnmpBinding>& batch : batches) {
        SnmpMessage answer;
        SnmpJobFault fault;
        if (!SnmpRequestJob(
                socket.get(), t.address, t.port, t.community, pdu, batch, AttemptMs(t.waitSeconds), &answer, &fault)) {
            if (fault.requestTooLarge)
                return CliFail("request too large");
            if (fault.answerTooLarge)
                return CliFail(
                    StrFormat("answer of %llu bytes too large", static_cast<unsigned long long>(fault.answerTooLarge)));
            return CliFail(StrFormat("no answer from %s within %u s", t.host.c_str(), t.waitSeconds));
        }
        if (answer.errorStatus != 0) {
            std::string where = answer.errorIndex >= 1 && answer.errorIndex <= batch.size()
                ? SnmpOidText(batch[answer.errorIndex - 1].oid) + ": "
                : std::string();
            return CliFail(where + StatusText(static_cast<int>(answer.errorStatus)));
        }
        for (const SnmpBinding& b : answer.bindings)
            PrintBinding(b);
        if (!answer.complete)
            return CliFail("answer ended at a value of an unknown type");
    }
    return 0;
}

std::vector<SnmpBinding> Bindings(const std::vector<SnmpOid>& oids)
{
    std::vector<SnmpBinding> bindings(oids.size());
    for (size_t i = 0; i < oids.size(); ++i)
        bindings[i].oid = oids[i];
    return bindings;
}

int RunGet(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp get [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...", 1, 0, &t); rc >= 0)
        return rc;
    return Request(t, kPduGet, Bindings(t.oids));
}

// A decimal integer of 32 bits with its sign, as an INTEGER carries it.
std::optional<int32_t> ParseInteger(const std::string& text)
{
    std::string_view digits = text;
    bool negative = !digits.empty() && digits[0] == '-';
    if (negative || (!digits.empty() && digits[0] == '+'))
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    n = negative ? -n : n;
    if (n < INT32_MIN || n > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(n);
}

int RunSet(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp set [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID TYPE VALUE", 1, 2, &t);
        rc >= 0)
        return rc;
    const std::string& type = t.rest[0];
    const std::string& text = t.rest[1];
    SnmpValue value;
    if (type == "i") {
        std::optional<int32_t> n = ParseInteger(text);
        if (!n)
            return CliFail("invalid integer '" + text + "' (-2147483648 to 2147483647)", 2);
        value = SnmpValue::Integer(static_cast<uint32_t>(*n));
    } else if (type == "s") {
        if (text.size() > kSnmpMaxText)
            return CliFail("text longer than 255 characters", 2);
        value = SnmpValue::String(text);
    } else if (type == "a") {
        auto ip = NetParseAddress(text);
        if (!ip)
            return CliFail("invalid address '" + text + "'", 2);
        value = SnmpValue::Address(SnmpAddressFromHost(*ip));
    } else {
        return CliFail("invalid type '" + type + "' (i integer, s string, a address)", 2);
    }
    // The community defaults to "public" as the monitor's sets do; the value goes as the monitor sends it.
    std::vector<SnmpBinding> bindings(1);
    bindings[0].oid = t.oids[0];
    SnmpEncodeSetValue(value, &bindings[0]);
    return Request(t, kPduSet, bindings);
}

int RunGetNext(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp getnext [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...", 1, 0, &t); rc >= 0)
        return rc;
    return Request(t, kPduGetNext, Bindings(t.oids));
}

// The arcs of a numeric OID text ("1", ".1.3.6.1.2"), or none when it is not one.
std::optional<std::vector<uint32_t>> Arcs(std::string_view rest)
{
    std::vector<uint32_t> arcs;
    if (!rest.empty() && rest[0] == '.')
        rest.remove_prefix(1);
    for (;;) {
        size_t dot = rest.find('.');
        std::string_view part = rest.substr(0, dot);
        // Plain decimal: no sign, no leading zero (which would read as octal elsewhere), at most 2^32 - 1.
        if (part.empty() || part.size() > 10 || part.find_first_not_of("0123456789") != std::string_view::npos
            || (part.size() > 1 && part[0] == '0'))
            return std::nullopt;
        uint64_t arc = 0;
        for (char c : part)
            arc = arc * 10 + static_cast<uint64_t>(c - '0');
        if (arc > UINT32_MAX)
            return std::nullopt;
        arcs.push_back(static_cast<uint32_t>(arc));
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    if (arcs[0] > 2 || (arcs.size() > 1 && arcs[0] < 2 && arcs[1] >= 40))
        return std::nullopt;
    return arcs;
}

void PrintRow(void*, const SnmpBinding& binding)
{
    PrintBinding(binding);
    std::fflush(stdout);
}

int RunWalk(std::vector<std::string>& args)
{
    const char* usage = "snmp walk [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID";
    Target t;
    if (int rc = ParseTarget(args, usage, 1, 0, &t); rc >= 0)
        return rc;
    if (t.oids.size() != 1)
        return CliFail(std::string("usage: ") + usage, 2);
    std::optional<std::vector<uint32_t>> prefix = Arcs(t.oidTexts[0]);
    if (!prefix)
        return CliFail("invalid object identifier '" + t.oidTexts[0] + "' (numbers and dots expected)", 2);
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    if (!socket)
        return CliFail("cannot open a UDP socket");
    uint32_t status = 0;
    SnmpOid last;
    switch (SnmpWalkSubtree(socket.get(), t.address, t.port, t.community, *prefix, AttemptMs(t.waitSeconds), PrintRow,
        nullptr, &status, &last)) {
    case kSnmpSubtreeDone:
        return 0;
    case kSnmpSubtreeNoAnswer:
        return CliFail(StrFormat("no answer from %s within %u s", t.host.c_str(), t.waitSeconds));
    case kSnmpSubtreeErrorStatus:
        return CliFail(SnmpOidText(last) + ": " + StatusText(static_cast<int>(status)));
    case kSnmpSubtreeNotIncreasing:
        return CliFail("walk stopped: the agent's answer to " + SnmpOidText(last)
            + " is not after it (it would be walked for ever)");
    default:
        return CliFail("walk stopped: an answer to " + SnmpOidText(last) + " without exactly one binding");
    }
}

std::atomic<bool> g_interrupted { false };

void OnSignal(int)
{
    g_interrupted = true;
}

struct TrapPrinter {
    std::atomic<uint32_t> count { 0 };
    static void Observe(void* context, const SnmpTrapInfo& trap)
    {
        auto* p = static_cast<TrapPrinter*>(context);
        const SnmpMessage& m = *trap.message;
        std::printf("trap from %s: enterprise %s, agent %s, generic %u, specific %u, uptime %u\n",
            SnmpAddressText(trap.sender).c_str(), SnmpOidText(m.enterprise).c_str(),
            SnmpAddressText(m.agentAddress).c_str(), m.genericTrap, m.specificTrap, m.timeStamp);
        for (const SnmpBinding& b : m.bindings) {
            std::printf("  ");
            PrintBinding(b);
        }
        if (!m.complete)
            std::printf("  (the rest could not be read)\n");
        std::fflush(stdout);
        ++p->count;
    }
};

int RunTrap(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> port = opts.Value("-p", "--port");
    std::optional<std::string> count = opts.Value("-n", "--count");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (!opts.Rest().empty())
        return CliFail("usage: trap [-p PORT] [-n COUNT]", 2);
    unsigned long long portValue = 162, countValue = 0;
    if (!CliNumber(port, 65535, &portValue, "port") || !CliNumber(count, 1000000, &countValue, "count"))
        return 2;
    if (!SnmpStart(static_cast<uint16_t>(portValue)))
        return CliFail(StrFormat("cannot listen on UDP port %llu", portValue));
    TrapPrinter printer;
    SnmpSetTrapObserver(TrapPrinter::Observe, &printer);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::fprintf(stderr, "%s: waiting for traps on UDP port %u\n", CliProgramName(), SnmpLocalPort());
    while (!g_interrupted && (countValue == 0 || printer.count < countValue))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SnmpStop();
    return 0;
}

CliRegistrar g_get { { "snmp get",
    "snmp get [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...   read objects (one GetRequest; -t: how long to "
    "wait, default 15)",
    RunGet } };
CliRegistrar g_getNext { { "snmp getnext",
    "snmp getnext [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...   the objects after each OID", RunGetNext } };
CliRegistrar g_walk { { "snmp walk",
    "snmp walk [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID   every object under OID (-t: how long to wait for "
    "each answer, default 15)",
    RunWalk } };
CliRegistrar g_set { { "snmp set",
    "snmp set [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID TYPE VALUE   TYPE i integer, s string, a address "
    "(sent as its dotted text in an OCTET STRING, as the monitor does); community default public",
    RunSet } };
CliRegistrar g_trap { { "trap",
    "trap [-p PORT] [-n COUNT]   print every trap received (default port 162; -n: stop after COUNT traps)", RunTrap } };
} // namespace
