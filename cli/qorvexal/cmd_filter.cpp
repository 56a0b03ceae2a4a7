// qorvexal-cli filter show, add, delete, pack, correct: the IP filter of a configuration file, read and
// written through the plug-in interface's nine functions, as the filter plug-in's pages do.
#include "cli/cli.h"
#include "cli/qorvexal/dscopts.h"
#include "cli/qorvexal/globals.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/frontend/commands.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"
#include "filterplugin/filter.h"
#include "filterplugin/filter_tables.h"

#include <algorithm>
#include <cstdio>

namespace {

#define FILTER_SHOW_USAGE "filter show " QV_DSC_USAGE " LCFFILE"
#define FILTER_ADD_USAGE                                                                                               \
    "filter add " QV_DSC_USAGE " [--out FILE] [--action drop|notconnected|defaultroute|transfer] [--proto LIST] "      \
    "[--sport LIST] [--dport LIST] [--src STATION]... [--dst STATION]... NAME LCFFILE"
#define FILTER_DELETE_USAGE "filter delete " QV_DSC_USAGE " [--out FILE] [--drop-unreadable] NAME LCFFILE"
#define FILTER_PACK_USAGE "filter pack " QV_DSC_USAGE " [--out FILE] [--drop-unreadable] LCFFILE"
#define FILTER_CORRECT_USAGE "filter correct " QV_DSC_USAGE " [--out FILE] NAME TEXT LCFFILE"

void Print(const std::string& text)
{
    CliPrint(stdout, text);
    std::fflush(stdout);
}

// A message box text on a terminal: its carriage returns as line ends.
std::string TerminalText(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

bool IsFilterTable(const CfgItem& item, const char* name)
{
    return item.IsTable() && item.name && StrEqualNoCase(*item.name, name);
}

// A configuration file with its filter: the description, the values, and the plug-in page's context on
// the section that holds RuleTable and ObjectTable.
struct FilterFile {
    std::string path;
    QvDscOptions dsc;
    QvDescriptionIndex index;
    CfgFileHeader header;
    DeviceEntry device;
    CfgTempStream text;
    PluginContext context;
    FilterHost host;

    int Open(CliArgs& opts, size_t positional, const char* usage)
    {
        if (int rc = QvTakeDscOptions(opts, &dsc))
            return rc;
        if (auto unknown = opts.UnknownOption())
            return CliFail(*unknown, 2);
        if (opts.Rest().size() != positional)
            return CliFail(std::string("usage: ") + usage, 2);
        path = opts.Rest().back();
        if (!CfgReadFileHeader(path, &header))
            return QvNotConfigFile(path);
        if (!dsc.featuresGiven)
            dsc.featureMask = header.featureMask;
        if (!dsc.hardwareGiven)
            dsc.hardwareMask = header.hardwareMask;
        if (int rc = index.Start(dsc))
            return rc;
        CfgDescriptionPtr desc = CfgLoadDescription(
            header.deviceType, header.version, dsc.language.c_str(), dsc.featureMask, dsc.hardwareMask, dsc.easy);
        if (!desc)
            return QvNoDescription(header.deviceType, header.version);
        text = CfgImportFile(path);
        if (!text.IsOpen())
            return CliFail(StrLoad(qorvexal_Strings(), CmdStrCantOpenFile), 1);
        CfgReadFile(text, *desc);
        device.config = std::shared_ptr<CfgDescription>(desc.release());
        device.device_type = header.deviceType;
        device.fw_version = header.version;
        device.feature_word = dsc.featureMask;
        for (const auto& section : device.config->sections) {
            bool rules = false, objects = false;
            for (const auto& item : section->items) {
                rules = rules || IsFilterTable(*item, "RuleTable");
                objects = objects || IsFilterTable(*item, "ObjectTable");
            }
            if (section->IsPlugin() && rules && objects) {
                context.section = section.get();
                break;
            }
        }
        if (!context.section)
            return CliFail("the configuration has no IP filter (RuleTable and ObjectTable)", 1);
        context.device = &device;
        context.kind = PluginKindConfig;
        host = FilterHostDirect(&context);
        return 0;
    }

    // Writes the configuration (header kept, secrets scrambled) to `out`, or in place of the input.
    int Save(const std::optional<std::string>& out)
    {
        // Which items are secret comes from the description in full mode, whatever the language.
        CfgDescriptionPtr secrets
            = CfgLoadDescription(header.deviceType, header.version, nullptr, dsc.featureMask, dsc.hardwareMask, false);
        CfgTempStream written = CfgWriteFile(std::move(text), *device.config);
        std::string target = out ? *out : path;
        if (!CfgExportFileWith(written, secrets.get(), header.deviceType, header.version, header.featureMask,
                header.hardwareMask, target, header.comment, false))
            return CliFail(StrFormat("cannot write %s", target.c_str()));
        return 0;
    }

    // The RuleTable row whose name is `name` (ignoring case), or -1.
    int32_t RuleRow(const std::string& name)
    {
        return host.findTabRow(host.context, "RuleTable", 0, name.c_str());
    }
};

std::string ListText(const std::string& list)
{
    return list.empty() ? "all" : list;
}

std::string StationsText(const std::vector<FilterStation>& stations)
{
    if (stations.empty())
        return "all";
    std::string out;
    for (const FilterStation& s : stations)
        out += (out.empty() ? "" : "; ") + FilterStationText(s);
    return out;
}

std::string RuleLine(const FilterRule& r)
{
    return r.name + "\t" + FilterActionText(r.action) + "\t" + ListText(r.protocols) + "\t" + ListText(r.source_ports)
        + "\t" + ListText(r.dest_ports) + "\t" + StationsText(r.sources) + "\t" + StationsText(r.dests) + "\n";
}

std::string UnreadableLine(const std::string& name, const FilterReadError& e)
{
    return name + "\tunreadable\t" + FilterWhereText(e) + "\t" + std::to_string(e.position) + "\t" + e.text + "\n";
}

std::string RuleName(FilterFile& file, int32_t row)
{
    std::vector<std::string> cells;
    return FilterGetRow(file.host, "RuleTable", row, 1, &cells) ? cells[0] : std::string();
}

int RunShow(std::vector<std::string>& args)
{
    CliArgs opts(args);
    FilterFile file;
    if (int rc = file.Open(opts, 1, FILTER_SHOW_USAGE))
        return rc;
    std::string out;
    FilterRule rule;
    FilterReadError error;
    for (int32_t row = 0;; ++row) {
        int rc = FilterReadRow(file.host, row, &rule, &error);
        if (rc < 0)
            break;
        out += rc > 0 ? RuleLine(rule) : UnreadableLine(RuleName(file, row), error);
    }
    Print(out);
    return 0;
}

// "--proto", "--sport", "--dport": a list read as the definition language reads it after "%P"/"%S".
bool TakeList(FilterFile& file, const std::optional<std::string>& text, int32_t cell, const char* prefix,
    FilterRule* rule, const char* option)
{
    if (!text)
        return true;
    FilterReadError error;
    std::string definition = prefix + *text;
    if (text->empty() || text->find_first_of(" \t+%") != std::string::npos
        || !FilterParseCell(file.host, cell, definition, rule, &error)) {
        CliFail(StrFormat("%s: not a list of numbers: %s", option, text->c_str()), 2);
        return false;
    }
    return true;
}

int RunAdd(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> out = opts.Value("--out");
    std::optional<std::string> action = opts.Value("--action");
    std::optional<std::string> proto = opts.Value("--proto");
    std::optional<std::string> sport = opts.Value("--sport");
    std::optional<std::string> dport = opts.Value("--dport");
    std::vector<std::string> src = opts.Values("--src");
    std::vector<std::string> dst = opts.Values("--dst");
    FilterFile file;
    if (int rc = file.Open(opts, 2, FILTER_ADD_USAGE))
        return rc;
    FilterRule rule;
    rule.name = opts.Rest()[0];
    if (rule.name.empty() || rule.name.size() > FilterRuleNameMax)
        return CliFail(
            StrFormat("a rule name has 1 to %d characters: %s", static_cast<int>(FilterRuleNameMax), rule.name.c_str()),
            2);
    static const struct {
        const char* word;
        uint32_t action;
    } kActions[] = { { "drop", FilterActionDrop }, { "notconnected", FilterActionDropNotConnected },
        { "defaultroute", FilterActionDropDefaultRoute }, { "transfer", FilterActionTransfer } };
    if (action) {
        auto it
            = std::find_if(std::begin(kActions), std::end(kActions), [&](const auto& a) { return *action == a.word; });
        if (it == std::end(kActions))
            return CliFail("--action: drop, notconnected, defaultroute or transfer", 2);
        rule.action = it->action;
    }
    // The ports go to the list of the cell they are read in.
    FilterRule dest;
    if (!TakeList(file, proto, FilterInProtocol, "%P", &rule, "--proto")
        || !TakeList(file, sport, FilterInSource, "%S", &rule, "--sport")
        || !TakeList(file, dport, FilterInDestination, "%S", &rule, "--dport"))
        return 2;
    for (const auto& [list, stations] : { std::pair { &src, &rule.sources }, std::pair { &dst, &rule.dests } }) {
        for (const std::string& text : *list) {
            FilterStation s;
            if (!FilterParseStationArg(text, &s))
                return CliFail("not a station (local, host:NAME, mac:HEX, ip:A[-B], net:A/MASK): " + text, 2);
            stations->push_back(s);
        }
    }
    if (file.RuleRow(rule.name) >= 0)
        return CliFail(FilterMsgDuplicateName, 1);
    FilterNormalize(&rule);
    if (!FilterAppendRule(file.host, rule, FilterReadLimits(file.host)))
        return CliFail(TerminalText(FilterMsgNotAllWritten), 1);
    return file.Save(out);
}

// Writes the whole filter; 0, or the exit code after the refusal.
int WriteAll(FilterFile& file, const FilterList& list, bool dropUnreadable)
{
    int failed
        = FilterWrite(file.host, list.rules, list.unreadable.size(), dropUnreadable, FilterReadLimits(file.host));
    if (failed < 0) {
        std::string names;
        for (const FilterUnreadable& u : list.unreadable)
            names += (names.empty() ? "" : ", ") + u.name;
        return CliFail("rules that cannot be read would be dropped: " + names + " (--drop-unreadable drops them)", 1);
    }
    if (failed > 0)
        return CliFail(TerminalText(FilterMsgNotAllWritten), 1);
    return 0;
}

int RunDelete(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> out = opts.Value("--out");
    bool drop = opts.Flag("--drop-unreadable");
    FilterFile file;
    if (int rc = file.Open(opts, 2, FILTER_DELETE_USAGE))
        return rc;
    const std::string name = opts.Rest()[0];
    FilterList list = FilterRead(file.host);
    size_t before = list.rules.size() + list.unreadable.size();
    // The named rule goes whether it can be read or not: dropping it is what was asked for.
    std::erase_if(list.rules, [&](const FilterRule& r) { return StrEqualNoCase(r.name, name); });
    std::erase_if(list.unreadable, [&](const FilterUnreadable& u) { return StrEqualNoCase(u.name, name); });
    if (list.rules.size() + list.unreadable.size() == before)
        return CliFail("no rule " + name, 1);
    if (int rc = WriteAll(file, list, drop))
        return rc;
    return file.Save(out);
}

std::string TableLines(FilterFile& file, const char* table, int32_t columns)
{
    std::string out;
    std::vector<std::string> cells(static_cast<size_t>(columns));
    std::vector<std::vector<char>> storage(static_cast<size_t>(columns), std::vector<char>(1024));
    std::vector<char*> buffers;
    std::vector<int32_t> sizes(static_cast<size_t>(columns), 1024);
    for (auto& b : storage)
        buffers.push_back(b.data());
    for (int32_t row = 0;
         file.host.getTabRow(file.host.context, table, row, columns - 1, buffers.data(), sizes.data()) > 0; ++row) {
        out += std::string(table) + "\t";
        for (int32_t c = 0; c < columns; ++c)
            out += (c ? " | " : "") + std::string(buffers[c]);
        out += "\n";
    }
    return out;
}

int RunPack(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> out = opts.Value("--out");
    bool drop = opts.Flag("--drop-unreadable");
    FilterFile file;
    if (int rc = file.Open(opts, 1, FILTER_PACK_USAGE))
        return rc;
    FilterList list = FilterRead(file.host);
    if (int rc = WriteAll(file, list, drop))
        return rc;
    if (int rc = file.Save(out))
        return rc;
    Print(TableLines(file, "RuleTable", 6) + TableLines(file, "ObjectTable", 2));
    return 0;
}

int RunCorrect(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> out = opts.Value("--out");
    FilterFile file;
    if (int rc = file.Open(opts, 3, FILTER_CORRECT_USAGE))
        return rc;
    const std::string name = opts.Rest()[0];
    const std::string text = opts.Rest()[1];
    int32_t row = file.RuleRow(name);
    if (row < 0)
        return CliFail("no rule " + name, 1);
    FilterRule rule;
    FilterReadError error;
    if (FilterReadRow(file.host, row, &rule, &error) != 0)
        return CliFail("rule " + name + " can be read: nothing to correct", 1);
    FilterReadError again;
    int rc = FilterCorrectRow(file.host, row, error, text, &rule, &again);
    if (rc != 1) {
        CliFail("the corrected rule still cannot be read", 1);
        Print(UnreadableLine(name, again));
        return 1;
    }
    if (int saved = file.Save(out))
        return saved;
    Print(RuleLine(rule));
    return 0;
}

CliRegistrar g_show { { "filter show", FILTER_SHOW_USAGE, RunShow } };
CliRegistrar g_add { { "filter add", FILTER_ADD_USAGE, RunAdd } };
CliRegistrar g_delete { { "filter delete", FILTER_DELETE_USAGE, RunDelete } };
CliRegistrar g_pack { { "filter pack", FILTER_PACK_USAGE, RunPack } };
CliRegistrar g_correct { { "filter correct", FILTER_CORRECT_USAGE, RunCorrect } };

} // namespace
