// talvine-cli snmp get|getnext|walk|set and talvine-cli trap: the monitor's SNMP engine and its jobs on
// the command line. Results go to standard output as "OID = TYPE: value" lines (TYPE is the kind of the
// engine's value: integer, address, string, none); diagnostics and errors to standard error.
#include "cli/cli.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "monitor/snmp/snmp.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {
const char* KindName(SnmpKind kind)
{
    switch (kind) {
    case kSnmpInteger:
        return "integer";
    case kSnmpIpAddress:
        return "address";
    case kSnmpString:
        return "string";
    default:
        return "none";
    }
}

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

void PrintBinding(const SnmpOid& oid, const SnmpValue& value)
{
    std::printf("%s = %s: %s\n", SnmpOidText(oid).c_str(), KindName(value.kind), SnmpValueText(value).c_str());
}

// The options every snmp command shares, and the host and OIDs after them.
struct Target {
    std::string community;
    uint16_t port = kSnmpAgentPort;
    uint32_t waitSeconds = 15;
    uint32_t address = 0; // network byte order
    std::string host;
    std::vector<SnmpOid> oids;
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
    }
    t->rest.assign(words.begin() + 1 + static_cast<long>(oidCount), words.end());
    return -1;
}

// Waits for the engine's callbacks: one slot per request.
struct Pending {
    std::mutex lock;
    std::condition_variable changed;
    size_t done = 0;
    struct Slot {
        Pending* owner = nullptr;
        SnmpOid oid;
        uint32_t address = 0;
        int status = 99;
        bool finished = false;
        SnmpValue value;
    };
    std::vector<Slot> slots;

    // Subscriber or completion callback (the engine's worker, with its lock held).
    static void Callback(void* context, int status)
    {
        Slot* s = static_cast<Slot*>(context);
        if (s->finished)
            return;
        if (status == 0 && s->value.kind == kSnmpNone)
            SnmpGetCached(s->oid, s->address, &s->value);
        std::lock_guard<std::mutex> guard(s->owner->lock);
        s->status = status;
        s->finished = true;
        ++s->owner->done;
        s->owner->changed.notify_all();
    }
    bool Wait(uint32_t seconds)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(seconds), [&] { return done == slots.size(); });
    }
};

int StartEngine(uint16_t agentPort)
{
    SnmpStartOptions options;
    options.agentPort = agentPort;
    if (!SnmpStartWith(options))
        return CliFail("cannot open a UDP socket");
    return -1;
}

int Report(const Target& t, Pending& pending, bool complete)
{
    int failures = 0;
    for (const Pending::Slot& s : pending.slots) {
        if (!s.finished) {
            CliFail(StrFormat(
                "%s: no answer from %s within %u s", SnmpOidText(s.oid).c_str(), t.host.c_str(), t.waitSeconds));
            ++failures;
        } else if (s.status == -1) {
            CliFail(StrFormat("%s: no answer from %s", SnmpOidText(s.oid).c_str(), t.host.c_str()));
            ++failures;
        } else if (s.status != 0) {
            CliFail(StrFormat("%s: %s", SnmpOidText(s.oid).c_str(), StatusText(s.status).c_str()));
            ++failures;
        } else {
            PrintBinding(s.oid, s.value);
        }
    }
    return failures || !complete ? 1 : 0;
}

int RunGet(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp get [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...", 1, 0, &t); rc >= 0)
        return rc;
    if (int rc = StartEngine(t.port); rc >= 0)
        return rc;
    Pending pending;
    pending.slots.resize(t.oids.size());
    for (size_t i = 0; i < t.oids.size(); ++i) {
        Pending::Slot& s = pending.slots[i];
        s.owner = &pending;
        s.oid = t.oids[i];
        s.address = t.address;
    }
    // Interval 1 ms: polled on the next tick; every OID of the host goes in one request.
    for (Pending::Slot& s : pending.slots)
        if (!SnmpSubscribe(s.oid, t.address, t.community.c_str(), 1, &s, Pending::Callback))
            Pending::Callback(&s, 99);
    bool complete = pending.Wait(t.waitSeconds);
    for (Pending::Slot& s : pending.slots)
        SnmpUnsubscribe(s.oid, t.address, &s);
    SnmpStop();
    return Report(t, pending, complete);
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
        int32_t n = ParseDecimal(text);
        std::optional<uint32_t> u = ParseUnsignedStrict(text);
        bool negative = !text.empty() && text[0] == '-' && ParseUnsignedStrict(text.substr(1));
        if (!u && !negative)
            return CliFail("invalid integer '" + text + "'", 2);
        value = SnmpValue::Integer(u ? *u : static_cast<uint32_t>(n));
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
    if (int rc = StartEngine(t.port); rc >= 0)
        return rc;
    Pending pending;
    pending.slots.resize(1);
    Pending::Slot& s = pending.slots[0];
    s.owner = &pending;
    s.oid = t.oids[0];
    s.address = t.address;
    s.value = value; // printed on success: what the device took
    SnmpQueueSet(s.oid, t.address, t.community.c_str(), value, &s, Pending::Callback, 1);
    bool complete = pending.Wait(t.waitSeconds);
    SnmpCancelSets(t.address);
    SnmpStop();
    return Report(t, pending, complete);
}

int RunGetNext(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp getnext [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID...", 1, 0, &t); rc >= 0)
        return rc;
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    if (!socket)
        return CliFail("cannot open a UDP socket");
    SnmpMessage answer;
    // The job tries 10 times, waiting a tenth of the time limit each time.
    uint32_t waitMs = t.waitSeconds * 100 > 0 ? t.waitSeconds * 100 : 1;
    if (!SnmpGetNextJob(socket.get(), t.address, t.port, t.community, t.oids, waitMs, &answer))
        return CliFail("no answer from " + t.host);
    if (answer.errorStatus != 0) {
        std::string where = answer.errorIndex >= 1 && answer.errorIndex <= t.oids.size()
            ? SnmpOidText(t.oids[answer.errorIndex - 1]) + ": "
            : std::string();
        return CliFail(where + StatusText(static_cast<int>(answer.errorStatus)));
    }
    for (const SnmpBinding& b : answer.bindings)
        PrintBinding(b.oid, b.value);
    return answer.complete ? 0 : CliFail("answer ended at a value of an unknown type");
}

void PrintRow(void*, SnmpWalkColumn* columns, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        std::printf(
            "%s = %s: %s\n", SnmpOidText(columns[i].oid).c_str(), KindName(columns[i].kind), columns[i].text.c_str());
    std::fflush(stdout);
}

int RunWalk(std::vector<std::string>& args)
{
    Target t;
    if (int rc = ParseTarget(args, "snmp walk [-c COMMUNITY] [-p PORT] HOST OID", 1, 0, &t); rc >= 0)
        return rc;
    if (t.oids.size() != 1)
        return CliFail("usage: snmp walk [-c COMMUNITY] [-p PORT] HOST OID", 2);
    // The walk job walks column C of table T: the OID's last subidentifier is the column, the rest the table.
    SnmpOid table = t.oids[0];
    uint32_t start = table.length - 1; // the last byte ends the last subidentifier
    while (start > 0 && (table.bytes[start - 1] & 0x80))
        --start;
    uint32_t column = 0;
    for (uint32_t i = start; i < table.length; ++i)
        column = column << 7 | (table.bytes[i] & 0x7Fu);
    table.length = start;
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    if (!socket)
        return CliFail("cannot open a UDP socket");
    SnmpWalkColumn col;
    col.column = column;
    SnmpWalkParams p;
    p.socket = socket.get();
    p.address = t.address;
    p.community = t.community;
    p.oidTable = &table;
    p.entry = 0;
    p.columns = &col;
    p.columnCount = 1;
    p.row = PrintRow;
    p.port = t.port;
    std::thread job(SnmpWalkJob, &p);
    job.join();
    if (p.answers == 0)
        return CliFail("no answer from " + t.host);
    return 0;
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
            PrintBinding(b.oid, b.value);
        }
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
CliRegistrar g_walk { { "snmp walk", "snmp walk [-c COMMUNITY] [-p PORT] HOST OID   every object under OID",
    RunWalk } };
CliRegistrar g_set { { "snmp set",
    "snmp set [-c COMMUNITY] [-p PORT] [-t SECONDS] HOST OID TYPE VALUE   TYPE i integer, s string, a address "
    "(sent as its dotted text in an OCTET STRING, as the monitor does); community default public",
    RunSet } };
CliRegistrar g_trap { { "trap",
    "trap [-p PORT] [-n COUNT]   print every trap received (default port 162; -n: stop after COUNT traps)", RunTrap } };
} // namespace
