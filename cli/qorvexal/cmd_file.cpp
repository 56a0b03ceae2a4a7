// qorvexal-cli rewrite, export, import, show, print, header: offline work on configuration texts and configuration
// files (".lcf"), with the descriptions chosen as by describe.
#include "cli/cli.h"
#include "cli/qorvexal/dscopts.h"
#include "cli/qorvexal/globals.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/frontend/commands.h"
#include "config/frontend/printout.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"

#include <cstdio>

namespace {

// Reads a whole text file into a temporary stream; false after printing the error.
bool ReadTextFile(const std::string& path, CfgTempStream* out)
{
    std::string data;
    if (!FileReadAll(path, &data)) {
        CliFail(StrFormat("cannot read %s", path.c_str()));
        return false;
    }
    if (!out->Open()) {
        CliFail("cannot create a temporary file");
        return false;
    }
    out->Write(data);
    out->Rewind();
    return true;
}

// A configuration text as it is stored (the output of rewrite and import is read back as a file).
void Print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Text for the user to read.
void Show(const std::string& text)
{
    CliPrint(stdout, text);
    std::fflush(stdout);
}

int CantOpen()
{
    return CliFail(StrLoad(qorvexal_Strings(), CmdStrCantOpenFile), 1);
}

// Takes the description options and exactly `positional` words; 0 or the exit code.
int TakeArgs(CliArgs& opts, QvDscOptions* dsc, size_t positional, const char* usage)
{
    if (int rc = QvTakeDscOptions(opts, dsc))
        return rc;
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (opts.Rest().size() != positional)
        return CliFail(std::string("usage: ") + usage, 2);
    return 0;
}

#define REWRITE_USAGE "rewrite " QV_DSC_USAGE " TYPE VERSION TEXTFILE"
#define EXPORT_USAGE "export [--comment TEXT] [--nocrypt] " QV_DSC_USAGE " TYPE VERSION TEXTFILE LCFFILE"
#define IMPORT_USAGE "import " QV_DSC_USAGE " LCFFILE"
#define SHOW_USAGE "show [--unmasked] " QV_DSC_USAGE " LCFFILE"
#define PRINT_USAGE "print " QV_DSC_USAGE " [--show-passwords] [--width COLUMNS] LCFFILE"
#define HEADER_USAGE "header LCFFILE"

int RunRewrite(std::vector<std::string>& args)
{
    CliArgs opts(args);
    QvDscOptions dsc;
    if (int rc = TakeArgs(opts, &dsc, 3, REWRITE_USAGE))
        return rc;
    const std::string& type = opts.Rest()[0];
    const std::string& version = opts.Rest()[1];
    QvDescriptionIndex index;
    if (int rc = index.Start(dsc))
        return rc;
    CfgDescriptionPtr desc
        = CfgLoadDescription(type, version, dsc.language.c_str(), dsc.featureMask, dsc.hardwareMask, dsc.easy);
    if (!desc)
        return QvNoDescription(type, version);
    CfgTempStream text;
    if (!ReadTextFile(opts.Rest()[2], &text))
        return 1;
    CfgReadFile(text, *desc);
    CfgTempStream out = CfgWriteFile(std::move(text), *desc);
    Print(out.Contents());
    return 0;
}

int RunExport(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> comment = opts.Value("--comment");
    bool noCrypt = opts.Flag("--nocrypt");
    QvDscOptions dsc;
    if (int rc = TakeArgs(opts, &dsc, 4, EXPORT_USAGE))
        return rc;
    const std::string& type = opts.Rest()[0];
    const std::string& version = opts.Rest()[1];
    QvDescriptionIndex index;
    if (int rc = index.Start(dsc))
        return rc;
    // Which items are secret comes from the description in full mode, whatever the language.
    CfgDescriptionPtr desc = CfgLoadDescription(type, version, nullptr, dsc.featureMask, dsc.hardwareMask, false);
    if (!desc)
        return QvNoDescription(type, version);
    CfgTempStream text;
    if (!ReadTextFile(opts.Rest()[2], &text))
        return 1;
    const std::string& target = opts.Rest()[3];
    if (!CfgExportFileWith(text, desc.get(), type, version, dsc.featureMask, dsc.hardwareMask, target,
            comment.value_or(std::string()), noCrypt))
        return CliFail(StrFormat("cannot write %s", target.c_str()));
    return 0;
}

// A configuration file opened for reading: its header, the description of its device and its text.
struct OpenedFile {
    QvDscOptions dsc;
    QvDescriptionIndex index;
    CfgFileHeader header;
    CfgDescriptionPtr desc;
    CfgTempStream text;
};

// Reads the header of a configuration file, loads the description of its device and imports its text.
int OpenConfigFile(CliArgs& opts, const char* usage, OpenedFile* file)
{
    QvDscOptions* dsc = &file->dsc;
    CfgFileHeader* header = &file->header;
    if (int rc = TakeArgs(opts, dsc, 1, usage))
        return rc;
    if (!CfgReadFileHeader(opts.Rest()[0], header))
        return QvNotConfigFile(opts.Rest()[0]);
    if (!dsc->featuresGiven)
        dsc->featureMask = header->featureMask;
    if (!dsc->hardwareGiven)
        dsc->hardwareMask = header->hardwareMask;
    if (int rc = file->index.Start(*dsc))
        return rc;
    file->desc = CfgLoadDescription(
        header->deviceType, header->version, dsc->language.c_str(), dsc->featureMask, dsc->hardwareMask, dsc->easy);
    if (!file->desc)
        return QvNoDescription(header->deviceType, header->version);
    file->text = CfgImportFile(opts.Rest()[0]);
    if (!file->text.IsOpen())
        return CantOpen();
    return 0;
}

int RunImport(std::vector<std::string>& args)
{
    CliArgs opts(args);
    OpenedFile file;
    if (int rc = OpenConfigFile(opts, IMPORT_USAGE, &file))
        return rc;
    Print(file.text.Contents());
    return 0;
}

int RunShow(std::vector<std::string>& args)
{
    CliArgs opts(args);
    // Values show as the table lists show them ("On"/"Off", secrets as "*"); --unmasked shows secrets
    // as a printout does with hidden passwords off.
    bool mask = !opts.Flag("--unmasked");
    const std::string on = StrLoad(qorvexal_Strings(), CfgStrOn);
    const std::string off = StrLoad(qorvexal_Strings(), CfgStrOff);
    OpenedFile file;
    if (int rc = OpenConfigFile(opts, SHOW_USAGE, &file))
        return rc;
    CfgDescriptionPtr& desc = file.desc;
    CfgReadFile(file.text, *desc);
    std::string out;
    std::vector<CfgBitPart> parts;
    // Plain items as the writer names them: the first item of each name, same-named bit fields combined.
    for (const auto& section : desc->sections) {
        for (const auto& item : section->items) {
            if (item->IsTable() || !item->name || CfgFindItem(*desc, *item->name) != item.get())
                continue;
            parts.clear();
            auto named = desc->names.byName.find(StrLower(*item->name));
            if (named != desc->names.byName.end())
                for (const CfgItem* same : named->second)
                    if (!same->IsTable())
                        parts.push_back(CfgBitPart { same->id, &same->value });
            if (parts.empty())
                parts.push_back(CfgBitPart { item->id, &item->value });
            std::optional<std::string> value = CfgCombineBits(parts);
            // Bit fields shared by several items show their combined number.
            std::optional<std::string> shown
                = parts.size() == 1 ? CfgDisplayText(*item, value, on, off, mask) : std::nullopt;
            out += *item->name + " = " + shown.value_or(value.value_or(std::string())) + "\n";
        }
    }
    // Tables row by row: "table[row].column = value", the column by its name or its number.
    for (const auto& section : desc->sections) {
        for (const auto& item : section->items) {
            if (!item->IsTable() || !item->name)
                continue;
            size_t count = std::min(item->columns.size(), CfgMaxColumns);
            size_t rowNumber = 0;
            for (const CfgRow& row : item->rows) {
                ++rowNumber;
                for (size_t c = 0; c < count; ++c) {
                    const CfgItem& col = *item->columns[c];
                    std::string column = col.name ? *col.name : std::to_string(c + 1);
                    std::optional<std::string> shown = CfgDisplayText(col, row.cells[c], on, off, mask);
                    out += *item->name + "[" + std::to_string(rowNumber) + "]." + column + " = "
                        + shown.value_or(row.cells[c].value_or(std::string())) + "\n";
                }
            }
        }
    }
    Show(out);
    return 0;
}

// The printout of a configuration file as text: the pages the printer gets, at COLUMNS characters a
// line, separated by form feeds.
int RunPrint(std::vector<std::string>& args)
{
    CliArgs opts(args);
    PrintOptions options;
    options.hidePasswords = !opts.Flag("--show-passwords");
    if (std::optional<std::string> width = opts.Value("--width")) {
        std::optional<uint32_t> n = ParseUnsignedStrict(*width);
        if (!n || *n < static_cast<uint32_t>(PrintMinColumns) || *n > 1000)
            return CliFail(StrFormat("--width takes a number of columns from %d to 1000", PrintMinColumns), 2);
        options.columns = static_cast<int>(*n);
    }
    OpenedFile file;
    if (int rc = OpenConfigFile(opts, PRINT_USAGE, &file))
        return rc;
    CfgReadFile(file.text, *file.desc);
    PrintHeader header = CfgPrintHeader(*file.desc, file.header.deviceType, file.header.version, opts.Rest()[0]);
    Show(CfgPrintoutText(CfgLayoutPrintout(*file.desc, header, options)));
    return 0;
}

// The three header lines of a configuration file as read: comment, device type, firmware version and
// the masks.
int RunHeader(std::vector<std::string>& args)
{
    CliArgs opts(args);
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (opts.Rest().size() != 1)
        return CliFail("usage: " HEADER_USAGE, 2);
    CfgFileHeader header;
    if (!CfgReadFileHeader(opts.Rest()[0], &header))
        return QvNotConfigFile(opts.Rest()[0]);
    Show(StrFormat("comment: %s\ndevice type: %s\nfirmware version: %s\nfeature mask: 0x%08x\nhardware mask: 0x%08x\n",
        header.comment.c_str(), header.deviceType.c_str(), header.version.c_str(), header.featureMask,
        header.hardwareMask));
    return 0;
}

CliRegistrar g_rewrite { { "rewrite", REWRITE_USAGE, RunRewrite } };
CliRegistrar g_export { { "export", EXPORT_USAGE, RunExport } };
CliRegistrar g_import { { "import", IMPORT_USAGE, RunImport } };
CliRegistrar g_show { { "show", SHOW_USAGE, RunShow } };
CliRegistrar g_print { { "print", PRINT_USAGE, RunPrint } };
CliRegistrar g_header { { "header", HEADER_USAGE "    the header lines of a configuration file", RunHeader } };

} // namespace
