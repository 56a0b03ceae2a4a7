// qorvexal-cli wizard list, show and run: the set-up wizards of a device type or of a device, a loaded
// wizard in the text form of describe, and a wizard run to Finish on a configuration file or on a
// device, with answers in place of a user. The run goes through the same sheet logic as the window's
// wizard (config/wizard/wiz_runner.h); on a device through the same jobs and command rules as "set".
#include "cli/cli.h"
#include "cli/qorvexal/dscopts.h"
#include "cli/qorvexal/jobfront.h"
#include "common/locale.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"
#include "config/wizard/wiz_dump.h"
#include "config/wizard/wiz_runner.h"

#include <cstdio>
#include <filesystem>
#include <map>

namespace {
#define LIST_USAGE "wizard list " QV_DSC_USAGE " [--unconfigured] (TYPE VERSION | DEVICE)"
#define SHOW_USAGE "wizard show " QV_DSC_USAGE " TYPE VERSION [NAME]"
#define RUN_USAGE                                                                                                      \
    "wizard run " QV_DSC_USAGE                                                                                         \
    " [--unconfigured] [--name NAME] [--answer ITEM=VALUE]... [--device-var NAME=VALUE]... "                           \
    "[--host-var NAME=VALUE]... [--yes] [--out LCFFILE] [--no-backup] (LCFFILE | DEVICE)"

int NoWizard()
{
    return CliFail(StrLoad(qorvexal_Strings(), WizStrNoWizard), 1);
}

void PrintList(const std::vector<WizListEntry>& list)
{
    for (const WizListEntry& e : list)
        std::printf("%s\t%s\n", CliText(e.name).c_str(), CliText(e.title).c_str());
}

// ---- list ----

int RunList(std::vector<std::string>& words)
{
    CliArgs args(words);
    bool unconfigured = args.Flag("--unconfigured");
    // TYPE VERSION: the description options only; a DEVICE: the job options too.
    bool device = false;
    {
        std::vector<std::string> probe = args.Rest();
        CliArgs p(probe);
        QvDscOptions ignored;
        p.Value("-p");
        p.Value("-t");
        if (QvTakeDscOptions(p, &ignored))
            return 2;
        device = p.Rest().size() == 1;
    }
    if (device) {
        QvJobFront front;
        if (int rc = front.TakeOptions(args))
            return rc;
        if (args.Rest().size() != 1)
            return CliFail("usage: " LIST_USAGE, 2);
        DeviceEntry* e = nullptr;
        if (int rc = front.StartOne(args.Rest()[0], "wizard list", &e))
            return rc;
        front.Job(JobCheck, { e }, 0);
        if (QvReportFailure(*e, "checking"))
            return 1;
        bool includeDefault = unconfigured || (e->flags & DevFlagUnconfigured);
        const std::string& lang = front.Dsc().language;
        PrintList(WizList(e->device_type.str(), e->fw_version.str(), lang.empty() ? nullptr : lang.c_str(),
            e->feature_word, includeDefault));
        return 0;
    }
    QvDscOptions dsc;
    if (int rc = QvTakeDscOptions(args, &dsc))
        return rc;
    if (auto unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.Rest().size() != 2)
        return CliFail("usage: " LIST_USAGE, 2);
    QvDescriptionIndex index;
    if (int rc = index.Start(dsc))
        return rc;
    PrintList(WizList(args.Rest()[0], args.Rest()[1], dsc.language.empty() ? nullptr : dsc.language.c_str(),
        dsc.featureMask, unconfigured));
    return 0;
}

// ---- show ----

int RunShow(std::vector<std::string>& words)
{
    CliArgs args(words);
    QvDscOptions dsc;
    if (int rc = QvTakeDscOptions(args, &dsc))
        return rc;
    if (auto unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string>& rest = args.Rest();
    if (rest.size() != 2 && rest.size() != 3)
        return CliFail("usage: " SHOW_USAGE, 2);
    QvDescriptionIndex index;
    if (int rc = index.Start(dsc))
        return rc;
    const char* language = dsc.language.empty() ? nullptr : dsc.language.c_str();
    const char* name = rest.size() == 3 ? rest[2].c_str() : nullptr;
    WizScriptPtr wiz = WizLoad(name, rest[0], rest[1], language, dsc.featureMask);
    if (!wiz && language)
        wiz = WizLoad(name, rest[0], rest[1], nullptr, dsc.featureMask);
    if (!wiz)
        return NoWizard();
    CliPrint(stdout, WizDumpScript(*wiz));
    return 0;
}

// ---- run ----

struct RunOptions {
    bool unconfigured = false;
    bool yes = false;
    bool noBackup = false;
    std::optional<std::string> name;
    std::vector<std::pair<std::string, std::string>> answers; // item, value in command-line order
    std::vector<std::pair<std::string, std::string>> deviceVars;
    std::vector<std::pair<std::string, std::string>> hostVars;
    std::optional<std::string> out;
    std::string language;
};

bool SplitAssignments(const std::vector<std::string>& words, const char* option,
    std::vector<std::pair<std::string, std::string>>* out, std::string* error)
{
    for (const std::string& w : words) {
        size_t eq = w.find('=');
        if (eq == std::string::npos || eq == 0) {
            *error = StrFormat("%s needs NAME=VALUE: %s", option, w.c_str());
            return false;
        }
        out->emplace_back(w.substr(0, eq), w.substr(eq + 1));
    }
    return true;
}

// The device variables named on the command line, into the entry they are read from.
bool ApplyDeviceVars(DeviceEntry& e, const RunOptions& o, std::string* error)
{
    for (const auto& var : o.deviceVars) {
        // Named references, not a structured binding: clang 14 cannot capture those in a lambda.
        const std::string& name = var.first;
        const std::string& value = var.second;
        auto bit = [&](uint32_t mask) {
            if (value == "1")
                e.flags |= mask;
            else
                e.flags &= ~mask;
        };
        if (StrEqualNoCase(name, "type")) {
            e.device_type = value;
        } else if (StrEqualNoCase(name, "ipaddr")) {
            std::optional<uint32_t> ip = NetParseAddress(value);
            if (!ip) {
                *error = "not an address: " + value;
                return false;
            }
            e.address = *ip;
        } else if (StrEqualNoCase(name, "flags.empty_cfg")) {
            bit(0x0001);
        } else if (StrEqualNoCase(name, "flags.auto_dhcp")) {
            bit(0x0040);
        } else if (StrEqualNoCase(name, "flags.dhcp_addr")) {
            bit(0x0080);
        } else if (StrEqualNoCase(name, "features")) {
            std::optional<uint32_t> mask = ParseUnsignedStrict(value);
            if (!mask) {
                *error = "not a feature mask: " + value;
                return false;
            }
            e.feature_word = *mask;
            e.flags |= DevFlagFeatureWord;
        } else {
            *error = "unknown device variable: " + name
                + " (type, ipaddr, flags.empty_cfg, flags.auto_dhcp, "
                  "flags.dhcp_addr, features)";
            return false;
        }
    }
    return true;
}

// The host variables named on the command line replace the computer's own for this run.
class HostVars {
public:
    bool Apply(const RunOptions& o, std::string* error)
    {
        LocalePatterns p;
        p.languageName = CurrentLocale().LanguageName();
        p.countryName = CurrentLocale().CountryName();
        p.countryCode = CurrentLocale().CountryCode();
        bool names = false;
        for (const auto& [name, value] : o.hostVars) {
            if (StrEqualNoCase(name, "ipaddr")) {
                std::vector<uint32_t> list;
                size_t from = 0;
                while (from <= value.size()) {
                    size_t comma = value.find(',', from);
                    std::string one(
                        Trim(value.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
                    std::optional<uint32_t> ip = NetParseAddress(one);
                    if (!ip) {
                        *error = "not an address: " + one;
                        return false;
                    }
                    list.push_back(*ip);
                    if (comma == std::string::npos)
                        break;
                    from = comma + 1;
                }
                WizSetHostAddressSource([list] { return list; });
            } else if (StrEqualNoCase(name, "language.name")) {
                p.languageName = value;
                names = true;
            } else if (StrEqualNoCase(name, "country.name")) {
                p.countryName = value;
                names = true;
            } else if (StrEqualNoCase(name, "country.code")) {
                p.countryCode = ParseDecimal(value);
                names = true;
            } else {
                *error = "unknown host variable: " + name + " (ipaddr, language.name, country.name, country.code)";
                return false;
            }
        }
        if (names) {
            locale_ = std::make_unique<PatternLocale>(p);
            InstallLocale(locale_.get());
        }
        return true;
    }
    ~HostVars()
    {
        if (locale_)
            InstallLocale(nullptr);
        WizSetHostAddressSource({});
    }

private:
    std::unique_ptr<PatternLocale> locale_;
};

// Drives the sheet from the first page to Finish. Returns 0, or the exit code after the message.
int DriveWizard(DeviceEntry& e, const RunOptions& o)
{
    WizRunner runner(e, o.language);
    WizRunner::Opened opened = runner.Open();
    if (opened == WizRunner::Opened::NoWizard || opened == WizRunner::Opened::MarkCleared)
        return NoWizard();
    if (o.name && !(opened == WizRunner::Opened::Running && StrEqualNoCase(*o.name, "DEFAULT"))) {
        bool listed = false;
        for (const WizListEntry& w : runner.List())
            listed = listed || w.name == *o.name;
        if (!listed)
            return CliFail(StrFormat("no wizard %s for this device (wizard list names them)", o.name->c_str()), 1);
        if (!runner.Choose(*o.name))
            return CliFail(StrFormat("wizard %s: no page to show", o.name->c_str()), 1);
    } else if (opened == WizRunner::Opened::Selection) {
        if (runner.List().size() != 1) {
            std::string names;
            for (const WizListEntry& w : runner.List())
                names += (names.empty() ? "" : ", ") + w.name;
            return CliFail("several wizards (" + names + "): choose one with --name", 1);
        }
        if (!runner.Choose(runner.List().front().name))
            return CliFail(StrFormat("wizard %s: no page to show", runner.List().front().name.c_str()), 1);
    }
    WizScript& wiz = *runner.Wizard();
    // Every answer must name an item with a control on the wizard's pages.
    std::map<CfgItem*, std::string> answers;
    for (const auto& [item, value] : o.answers) {
        CfgItem* found = CfgFindItem(wiz.pages, item);
        if (!found || !CfgKindIsColumn(found->kind) || found->kind == CfgKindReadonlyText)
            return CliFail(StrFormat("no item %s on the pages of wizard %s", item.c_str(), wiz.name.c_str()), 1);
        answers[found] = value;
    }
    std::string question; // a question of the value rules answered No
    WizAskFn ask = [&](const CfgTakeResult& q, CfgAnswers& a) {
        if (q.status == CfgTakeStatus::AskRepeat) {
            WizControl* c = runner.ControlOf(q.focus);
            if (!c)
                return false;
            a.repeated = CfgControlValue(*c->item, c->state); // a secret answer counts as repeated
            return true;
        }
        if (!o.yes)
            question = q.message;
        if (q.messageId == CfgStrDevicesDiffer)
            a.changeAll = o.yes;
        else
            a.keepInput = o.yes;
        return true;
    };
    auto rejected = [&](const CfgTakeResult& r) {
        std::string text = !r.message.empty() ? r.message : question;
        if (text.empty())
            text = "a value was refused";
        return CliFail(QvMessageLines(text), 1);
    };
    size_t count = wiz.pages.sections.size();
    std::vector<std::string> lines;
    for (;;) {
        for (int skipped : runner.Skipped())
            lines.push_back("skip " + wiz.pages.sections[static_cast<size_t>(skipped)]->name);
        const CfgSection* page = runner.PageSection();
        lines.push_back((page->IsPlugin() ? "plugin " : "page ") + page->name);
        if (!page->IsPlugin()) {
            for (WizControl& c : runner.Controls()) {
                auto a = answers.find(c.item);
                if (a != answers.end() && !WizControlFromAnswer(*c.item, a->second, &c.state))
                    return CliFail(
                        StrFormat("%s: not a value for this item: %s", c.item->name->c_str(), a->second.c_str()), 1);
            }
        }
        int at = runner.Page();
        if (runner.Buttons().finish) {
            for (size_t i = static_cast<size_t>(at) + 1; i < count; ++i)
                lines.push_back("skip " + wiz.pages.sections[i]->name);
            CfgTakeResult r;
            if (!runner.Finish(ask, &r))
                return rejected(r);
            break;
        }
        CfgTakeResult r;
        if (!runner.Next(ask, &r)) {
            if (r.status != CfgTakeStatus::Kept)
                return rejected(r);
            // No later page took the activation after all: Finish here.
            for (size_t i = static_cast<size_t>(at) + 1; i < count; ++i)
                lines.push_back("skip " + wiz.pages.sections[i]->name);
            if (!runner.Finish(ask, &r))
                return rejected(r);
            break;
        }
    }
    for (const std::string& l : lines)
        CliPrint(stdout, l + "\n");
    return 0;
}

int RunOnFile(const std::string& path, const CfgFileHeader& header, const QvDscOptions& dsc, RunOptions& o)
{
    if (o.out) {
        std::error_code ec;
        if (std::filesystem::equivalent(*o.out, path, ec))
            return CliFail("--out must not name the input file: " + *o.out, 2);
    }
    QvDescriptionIndex index;
    if (int rc = index.Start(dsc))
        return rc;
    const char* language = dsc.language.empty() ? nullptr : dsc.language.c_str();
    CfgDescriptionPtr desc = CfgLoadDescription(
        header.deviceType, header.version, language, header.featureMask, header.hardwareMask, dsc.easy);
    if (!desc)
        return QvNoDescription(header.deviceType, header.version);
    CfgTempStream text = CfgImportFile(path);
    if (!text.IsOpen())
        return CliFail("cannot read " + path, 1);
    CfgReadFile(text, *desc);
    DeviceEntry e;
    e.device_type = header.deviceType;
    e.fw_version = header.version;
    if (header.featureMask != 0xFFFFFFFFu) {
        e.flags |= DevFlagFeatureWord;
        e.feature_word = header.featureMask;
    }
    if (o.unconfigured)
        e.flags |= DevFlagUnconfigured;
    std::string error;
    if (!ApplyDeviceVars(e, o, &error))
        return CliFail(error, 2);
    e.config = std::shared_ptr<CfgDescription>(std::move(desc));
    std::fflush(stdout);
    // The page lines wait until the run succeeded: on an error nothing is written.
    if (int rc = DriveWizard(e, o))
        return rc;
    CfgTempStream written = CfgWriteFile(std::move(text), *e.config);
    if (o.out) {
        if (!CfgExportFile(written, header.deviceType, header.version, header.featureMask, header.hardwareMask, *o.out,
                header.comment))
            return CliFail("cannot write " + *o.out, 1);
        return 0;
    }
    std::printf("text\n");
    char buffer[4096];
    size_t n;
    while ((n = written.Read(buffer, sizeof buffer)) > 0)
        std::fwrite(buffer, 1, n, stdout);
    return 0;
}

int RunOnDevice(const std::string& word, QvJobFront& front, RunOptions& o)
{
    DeviceEntry* e = nullptr;
    if (int rc = front.StartOne(word, "wizard run", &e))
        return rc;
    // The check, then the read for the wizard (job 1032), through the command rules.
    if (front.Command(CmdSetupWizard, { e }) != JobReadOk || !e->config) {
        front.Job(JobRelease, { e });
        return 1;
    }
    if (o.unconfigured)
        e->flags |= DevFlagUnconfigured;
    std::string error;
    if (!ApplyDeviceVars(*e, o, &error)) {
        front.Job(JobRelease, { e });
        return CliFail(error, 2);
    }
    std::fflush(stdout);
    if (int rc = DriveWizard(*e, o)) {
        front.Job(JobRelease, { e });
        return rc;
    }
    // As "set" does: the configuration being replaced is kept first.
    if (!o.noBackup && front.BackupBeforeWrite(*e))
        return 1;
    std::fflush(stdout);
    int32_t result = front.Job(JobWriteConfig, { e });
    front.Job(JobRelease, { e });
    front.SaveListIfChanged();
    if (result != JobWriteOk)
        return 1;
    std::printf("%s: written, back at %s\n", QvDeviceLabel(*e).c_str(), e->AddressText().c_str());
    return 0;
}

int RunRun(std::vector<std::string>& words)
{
    CliArgs args(words);
    RunOptions o;
    o.unconfigured = args.Flag("--unconfigured");
    o.yes = args.Flag("--yes", "-y");
    o.noBackup = args.Flag("--no-backup");
    o.name = args.Value("--name");
    o.out = args.Value("--out", "-o");
    std::string error;
    if (!SplitAssignments(args.Values("--answer"), "--answer", &o.answers, &error)
        || !SplitAssignments(args.Values("--device-var"), "--device-var", &o.deviceVars, &error)
        || !SplitAssignments(args.Values("--host-var"), "--host-var", &o.hostVars, &error))
        return CliFail(error, 2);
    HostVars host;
    if (!host.Apply(o, &error))
        return CliFail(error, 2);
    // A configuration file (its header parses) or a device: what is left after the options.
    std::vector<std::string> rest = args.Rest();
    {
        CliArgs probe(rest);
        QvDscOptions ignored;
        probe.Value("-p");
        probe.Value("-t");
        if (QvTakeDscOptions(probe, &ignored))
            return 2;
    }
    CfgFileHeader header;
    if (rest.size() == 1 && CfgReadFileHeader(rest[0], &header)) {
        QvDscOptions dsc;
        if (int rc = QvTakeDscOptions(args, &dsc))
            return rc;
        if (auto unknown = args.UnknownOption())
            return CliFail(*unknown, 2);
        if (args.Rest().size() != 1)
            return CliFail("usage: " RUN_USAGE, 2);
        o.language = dsc.language;
        return RunOnFile(rest[0], header, dsc, o);
    }
    if (o.out)
        return CliFail("--out is for a configuration file; a device gets the configuration written", 2);
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() != 1)
        return CliFail("usage: " RUN_USAGE, 2);
    o.language = front.Dsc().language;
    return RunOnDevice(args.Rest()[0], front, o);
}

CliRegistrar g_list { { "wizard list",
    LIST_USAGE "    the wizards of a device type (DEFAULT with --unconfigured) or of a device after its check, one "
               "NAME<TAB>TITLE line each",
    RunList } };
CliRegistrar g_show { { "wizard show",
    SHOW_USAGE "    a wizard (DEFAULT without NAME) as loaded: its pages in describe's form with their conditions "
               "and action lists, then on_init and on_apply",
    RunShow } };
CliRegistrar g_run { { "wizard run",
    RUN_USAGE "    run a wizard to Finish with the answers (ITEM=VALUE as typed: a choice's text, 0/1/2 for a "
              "switch); prints page/skip/plugin NAME per page; a configuration file's result goes to --out (or "
              "after a line \"text\" to standard output), a device's is written (after a backup of the configuration "
              "it replaces, unless --no-backup) and its restart "
              "awaited",
    RunRun } };
} // namespace
