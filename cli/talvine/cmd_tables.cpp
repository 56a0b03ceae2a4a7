// talvine-cli accounting and vpn: the accounting and VPN views on the command line. The device's table
// is walked as the views walk it (or an accounting file read), and the list is printed as the view shows
// it: the column titles separated by tabs, then per row the column texts and the row's image number.
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_ber.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/startup/texts.h"
#include "monitor/views/table_views.h"
#include "monitor/views/texts.h"

#include <cstdio>
#include <map>

namespace {

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

void PrintLine(const std::vector<std::string>& texts, const int* image)
{
    std::string line;
    for (size_t i = 0; i < texts.size(); ++i)
        line += (i ? "\t" : "") + texts[i];
    if (image)
        line += "\t" + std::to_string(*image);
    CliPrint(stdout, line + "\n");
}

template<typename Row>
void PrintRows(const std::vector<std::string>& titles, const std::vector<Row>& rows,
    std::vector<std::string> (*texts)(const Row&), int (*image)(const Row&))
{
    PrintLine(titles, nullptr);
    for (const Row& r : rows) {
        int n = image(r);
        PrintLine(texts(r), &n);
    }
    std::fflush(stdout);
}

// The type of the device as the engine detects it: the first detect entry whose object's value is the
// expected text. Empty when none matches; `answered` tells whether the device answered at all.
std::string DetectType(UdpSocket* socket, const TableTarget& t, bool* answered)
{
    *answered = false;
    std::map<std::string, SnmpMessage> answers; // per detect OID, asked once
    std::string oidText;
    for (size_t n = 0; ScriptDetectEntry(n, &oidText); ++n) {
        std::string expected, type;
        ScriptDetectValue(n, &expected);
        ScriptDetectType(n, &type);
        auto found = answers.find(oidText);
        if (found == answers.end()) {
            SnmpBinding b;
            if (SnmpOidFromText(oidText.c_str(), &b.oid) != 1)
                continue;
            SnmpMessage answer;
            if (!SnmpRequestJob(socket, t.address, t.port, t.community, kPduGet, { b }, t.waitMs, &answer))
                answer.errorStatus = UINT32_MAX;
            found = answers.emplace(oidText, answer).first;
        }
        const SnmpMessage& a = found->second;
        if (a.errorStatus == UINT32_MAX)
            continue;
        *answered = true;
        if (a.errorStatus == 0 && a.bindings.size() == 1 && SnmpValueText(a.bindings[0].value) == expected)
            return type;
    }
    return {};
}

struct TableCommand {
    std::string language = "English";
    std::optional<std::string> sort, save;
    size_t sortColumn = 0; // from 1; 0 = table order
};

// --sort COLUMN: 1 up to the list's columns.
bool ParseSort(TableCommand& c, size_t columns)
{
    if (!c.sort)
        return true;
    std::optional<uint32_t> n = ParseUnsignedStrict(*c.sort);
    if (!n || *n < 1 || *n > columns) {
        CliFail("invalid column '" + *c.sort + "' (1 to " + std::to_string(columns) + ")", 2);
        return false;
    }
    c.sortColumn = *n;
    return true;
}

AccountingVersion ProgramVersion()
{
    return { TALVINE_VERSION_MAJOR, TALVINE_VERSION_MINOR, TALVINE_VERSION_BUILD };
}

// The rows of a saved accounting file, sorted and saved again as asked.
int ShowSavedFile(const TableCommand& c, const std::string& file, const std::vector<std::string>& titles)
{
    std::vector<AccountingRow> rows;
    std::string data;
    if (FileReadAll(file, &data) != 1)
        return CliFail("cannot read " + file);
    if (!AccountingFileParse(data, &rows))
        return CliFail(file + " is not an accounting file (its first line is not \"" + kAccountingFileTag + ";...\")");
    if (c.sortColumn)
        AccountingSort(rows, c.sortColumn - 1);
    if (c.save && AccountingFileWrite(*c.save, rows, ProgramVersion()) != 1)
        return CliFail("cannot write " + *c.save);
    PrintRows(titles, rows, AccountingRowTexts, AccountingRowImage);
    return 0;
}

// The device's community in the monitor's device list in `dir`, else "public".
std::string CommunityFromList(const std::string& dir, uint32_t ip)
{
    std::string list;
    if (FileReadAll(dir + "/" + StrLoad(talvine_Strings(), TvStrListFile), &list) != 1)
        return "public";
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find('\n', at);
        std::string_view line
            = TrimLineEnd(std::string_view(list).substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? list.size() : end + 1;
        EngineListLine entry;
        if (EngineParseListLine(line, &entry) && NetParseAddress(entry.address) == ip)
            return entry.community.empty() ? "public" : entry.community;
    }
    return "public";
}

// Clears the accounting table when asked, then walks the table and prints its rows; the exit code.
int WalkTable(UdpSocket* socket, const TableTarget& t, const TableCommand& c, bool accounting, bool remove,
    const std::vector<std::string>& titles, const std::string& address)
{
    int status = 0;
    if (remove && AccountingClear(socket, t) != 1) {
        std::string text = StrLoad(talvine_Strings(), ViewStrDeleteFailed);
        for (char& ch : text)
            if (ch == '\r')
                ch = '\n';
        CliPrint(stderr, text + "\n");
        status = 1;
    }
    uint32_t answers = 0;
    if (accounting) {
        std::vector<AccountingRow> rows;
        AccountingWalk(socket, t, &rows, &answers);
        if (c.sortColumn)
            AccountingSort(rows, c.sortColumn - 1);
        if (c.save && AccountingFileWrite(*c.save, rows, ProgramVersion()) != 1)
            status = CliFail("cannot write " + *c.save);
        PrintRows(titles, rows, AccountingRowTexts, AccountingRowImage);
    } else {
        std::vector<VpnRow> rows;
        VpnWalk(socket, t, &rows, &answers);
        if (c.sortColumn)
            VpnSort(rows, c.sortColumn - 1);
        PrintRows(titles, rows, VpnRowTexts, VpnRowImage);
    }
    if (answers == 0)
        return CliFail(StrFormat("no answer from %s", address.c_str()));
    return status;
}

int RunTable(std::vector<std::string>& args, TableKind kind)
{
    const bool accounting = kind == TableKind::Accounting;
    const char* usage = accounting
        ? "accounting [--dir DIR] [--lang NAME] [-p PORT] [-c COMMUNITY] [--type TYPE] [--sort COLUMN] [--save FILE] "
          "[--delete] ADDRESS, or accounting [--lang NAME] [--sort COLUMN] [--save FILE] --file FILE"
        : "vpn [--dir DIR] [--lang NAME] [-p PORT] [-c COMMUNITY] [--type TYPE] [--sort COLUMN] ADDRESS";
    CliArgs opts(args);
    TableCommand c;
    std::optional<std::string> dirOption = opts.Value("--dir");
    c.language = opts.Value("--lang").value_or("English");
    std::optional<std::string> port = opts.Value("-p", "--port");
    std::optional<std::string> community = opts.Value("-c", "--community");
    std::optional<std::string> typeOption = opts.Value("--type");
    std::optional<std::string> seconds = opts.Value("-t", "--timeout");
    c.sort = opts.Value("--sort");
    std::optional<std::string> file;
    bool remove = false;
    if (accounting) {
        c.save = opts.Value("--save");
        file = opts.Value("--file");
        remove = opts.Flag("--delete");
    }
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string> words;
    for (const std::string& w : opts.Rest())
        if (w != "--")
            words.push_back(w);
    unsigned long long portValue = kSnmpAgentPort, secondsValue = 10;
    if (!CliNumber(port, 65535, &portValue, "port") || !CliNumber(seconds, 3600, &secondsValue, "time-out"))
        return 2;
    if (!ParseSort(c, accounting ? kAccountingListColumns : kVpnListColumns))
        return 2;
    SelectLanguage(c.language);
    std::vector<std::string> titles = accounting ? AccountingColumnTitles() : VpnColumnTitles();

    if (file) {
        if (!words.empty() || remove || dirOption || port || community || typeOption)
            return CliFail(std::string("usage: ") + usage, 2);
        return ShowSavedFile(c, *file, titles);
    }

    if (words.size() != 1)
        return CliFail(std::string("usage: ") + usage, 2);
    auto ip = NetParseAddress(words[0]);
    if (!ip || *ip == 0)
        return CliFail("invalid device address '" + words[0] + "'", 2);
    std::string dir = dirOption.value_or(CliShippedDirectory("talv", ".dsc"));
    // Without a script no device type is known and nothing would be asked: say so, not "no answer".
    if (ScriptLoadAll(dir + "/talv*.dsc", c.language) == 0)
        return CliFail("no object-tree script (talv*.dsc) in " + dir);

    TableTarget t;
    t.address = SnmpAddressFromHost(*ip);
    t.port = static_cast<uint16_t>(portValue);
    t.waitMs = static_cast<uint32_t>(secondsValue * 100 > 0 ? secondsValue * 100 : 1);
    // The community: as given, else the device's in the list, else "public".
    if (community) {
        t.community = *community;
    } else {
        t.community = CommunityFromList(dir, *ip);
    }
    std::unique_ptr<UdpSocket> socket = SnmpOpenJobSocket();
    if (!socket)
        return CliFail("cannot open a UDP socket");
    std::string type = typeOption.value_or("");
    if (type.empty()) {
        bool answered = false;
        type = DetectType(socket.get(), t, &answered);
        if (type.empty()) {
            PrintLine(titles, nullptr);
            if (!answered)
                return CliFail(StrFormat("no answer from %s", words[0].c_str()));
            return CliFail(StrFormat("the device at %s is of no type the scripts know", words[0].c_str()));
        }
    }
    std::unique_ptr<DeviceObject> device = ScriptInstantiate(type);
    if (!device)
        return CliFail("no script defines the device type '" + type + "'");
    if (!TableTargetFromDevice(*device, kind, &t))
        return CliFail(
            StrFormat("the device type '%s' has no %s plugin", type.c_str(), accounting ? "accounting" : "vpn"));

    return WalkTable(socket.get(), t, c, accounting, remove, titles, words[0]);
}

int RunAccounting(std::vector<std::string>& args)
{
    return RunTable(args, TableKind::Accounting);
}

int RunVpn(std::vector<std::string>& args)
{
    return RunTable(args, TableKind::Vpn);
}

CliRegistrar g_accounting { { "accounting",
    "accounting [--dir DIR] [--lang NAME] [-p PORT] [-c COMMUNITY] [-t SECONDS] [--type TYPE] [--sort COLUMN] "
    "[--save FILE] [--delete] ADDRESS | accounting [--lang NAME] [--sort COLUMN] [--save FILE] --file FILE",
    RunAccounting } };
CliRegistrar g_vpn { { "vpn",
    "vpn [--dir DIR] [--lang NAME] [-p PORT] [-c COMMUNITY] [-t SECONDS] [--type TYPE] [--sort COLUMN] ADDRESS",
    RunVpn } };
} // namespace
