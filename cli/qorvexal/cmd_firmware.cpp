// qorvexal-cli firmware info / firmware match / upload / activate: firmware files and their upload
// through the window's command rules. A command is the user's consent to its own confirmation; the
// questions that warn of a mismatch or a downgrade count as No unless --yes, the serial force question
// needs --force, and the question after an upload whether to activate the image in test mode is Yes
// with --yes.
#include "cli/qorvexal/jobfront.h"
#include "common/strings.h"
#include "device/devstatus.h"
#include "device/firmware.h"
#include "device/texts.h"

#include <cstdio>

namespace {
#define FIRMWARE_USAGE "firmware info FILE... | firmware match [-p PASSWORD] [-t SECONDS] FILE DEVICE"
#define UPLOAD_USAGE "upload [-i IMAGE] [--yes] [--force] [-p PASSWORD] [-t SECONDS] FILE DEVICE..."
#define ACTIVATE_USAGE "activate [--yes] [-p PASSWORD] [-t SECONDS] IMAGE DEVICE"

int NotFirmware(const std::string& path)
{
    return CliFail(path + ": not a firmware file", 1);
}

int RunInfo(const std::vector<std::string>& files)
{
    int rc = 0;
    bool first = true;
    for (const std::string& path : files) {
        FirmwareHeader h;
        if (!FirmwareReadFile(path, &h)) {
            std::fflush(stdout);
            rc = NotFirmware(path);
            continue;
        }
        std::printf("%skind: %d\ntext: %s\npattern: %s\nversion: %s\ndate: %s\napplies: %s\n", first ? "" : "\n",
            h.kind, FirmwareDescribe(h).c_str(), h.pattern.c_str(), h.version.c_str(), h.date.c_str(),
            h.applies.c_str());
        first = false;
    }
    return rc;
}

int RunFirmware(std::vector<std::string>& words)
{
    if (words.empty())
        return CliFail("usage: " FIRMWARE_USAGE, 2);
    std::string what = words[0];
    words.erase(words.begin());
    if (what == "info") {
        CliArgs args(words);
        if (std::optional<std::string> unknown = args.UnknownOption())
            return CliFail(*unknown, 2);
        if (args.Rest().empty())
            return CliFail("usage: " FIRMWARE_USAGE, 2);
        return RunInfo(args.Rest());
    }
    if (what != "match")
        return CliFail("usage: " FIRMWARE_USAGE, 2);
    CliArgs args(words);
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() != 2)
        return CliFail("usage: " FIRMWARE_USAGE, 2);
    FirmwareHeader h;
    if (!FirmwareReadFile(args.Rest()[0], &h))
        return NotFirmware(args.Rest()[0]);
    DeviceEntry* entry = nullptr;
    if (int rc = front.StartOne(args.Rest()[1], "firmware match", &entry))
        return rc;
    front.Job(JobCheck, { entry }, 0);
    if (QvReportFailure(*entry, "check"))
        return 1;
    int match = FirmwareMatch(h, *entry);
    std::printf("%d\n%s\n", match, FirmwareMatchMeaning(match));
    return 0;
}

int RunUpload(std::vector<std::string>& words)
{
    CliArgs args(words);
    std::optional<std::string> imageText = args.Value("-i", "--image");
    bool yes = args.Flag("--yes", "-y");
    bool force = args.Flag("--force");
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() < 2)
        return CliFail("usage: " UPLOAD_USAGE, 2);
    unsigned long long image = 0;
    if (imageText && !CliNumber(imageText, 9, &image, "image"))
        return 2;
    std::string path = args.Rest()[0];
    FirmwareHeader h;
    if (!FirmwareReadFile(path, &h))
        return NotFirmware(path);
    std::vector<std::string> devices(args.Rest().begin() + 1, args.Rest().end());
    if (int rc = front.Select(devices))
        return rc;
    if (int rc = front.Start(false))
        return rc;
    const std::string forceText = StrLoad(qorvexal_Strings(), CmdStrForceSerialUpload);
    const std::string testModeText = DeviceText(FwStrActivateTestMode);
    front.answer = [&](const std::string& text) {
        if (text == forceText || text == testModeText) {
            QvPrintMessage(text);
            int answer = text == forceText ? force : yes;
            std::fprintf(stderr, "%s\n", answer ? "Yes" : "No");
            return answer;
        }
        return 1;
    };
    bool refused = false;
    int32_t result = front.Command(CmdUploadFirmware, {}, [&](DeviceJob& job) {
        // The checks before the upload; a device that failed its check (a forced serial upload) has
        // nothing to compare.
        std::vector<const DeviceEntry*> checked;
        for (DeviceEntry* e = job.first; e; e = e->next)
            if (e->status.load() == DevStatusOk)
                checked.push_back(e);
        for (const std::string& question : FirmwareUploadQuestions(h, checked)) {
            QvPrintMessage(question);
            std::fprintf(stderr, "%s\n", yes ? "Yes" : "No");
            if (!yes) {
                refused = true;
                return 0;
            }
        }
        for (DeviceEntry* e = job.first; e; e = e->next) {
            e->file_name = path;
            e->image_number = static_cast<int32_t>(imageText ? FirmwareImageParam(static_cast<int>(image)) : 0);
        }
        return 1;
    });
    (void)result;
    if (refused)
        return 1;
    int failed = 0;
    for (DeviceEntry* e : front.Selected()) {
        failed += e->status.load() != DevStatusOk;
        std::printf("%s: %s%s%s\n", e->link == LinkSerial ? e->line_name.c_str() : e->AddressText().c_str(),
            QvStatusText(*e).c_str(), e->fw_version.str().empty() ? "" : ", firmware ", e->fw_version.c_str());
    }
    bool ok = front.LastMessage() == JobUploadFirmware
        ? front.LastResult() == JobUploadOk
        : front.LastMessage() == JobActivateImage && front.LastResult() == JobActivateOk;
    return ok && !failed && front.errors == 0 ? 0 : 1;
}

int RunActivate(std::vector<std::string>& words)
{
    CliArgs args(words);
    args.Flag("--yes", "-y"); // the command is the consent to its own warning
    QvJobFront front;
    if (int rc = front.TakeOptions(args))
        return rc;
    if (args.Rest().size() != 2)
        return CliFail("usage: " ACTIVATE_USAGE, 2);
    unsigned long long image = 0;
    if (!CliNumber(args.Rest()[0], CmdActivateLast - CmdActivateImage0, &image, "image"))
        return 2;
    DeviceEntry* entry = nullptr;
    if (int rc = front.StartOne(args.Rest()[1], "activate", &entry))
        return rc;
    int32_t result = front.Command(CmdActivateImage0 + static_cast<uint32_t>(image));
    std::printf("%s%s%s\n", QvStatusText(*entry).c_str(), entry->fw_version.str().empty() ? "" : ", firmware ",
        entry->fw_version.c_str());
    return result == JobActivateOk ? 0 : 1;
}

CliRegistrar g_firmware { { "firmware",
    FIRMWARE_USAGE "\n    the header of firmware files (kind, dialog text, pattern, version, date, applies),\n"
                   "    or whether a file suits a device (0 not for it, 1 older than its firmware, 2 suitable)",
    RunFirmware } };
CliRegistrar g_upload { { "upload",
    UPLOAD_USAGE "\n    upload a firmware file (IMAGE: the image to write on devices with several); mismatch and\n"
                 "    downgrade questions count as No unless --yes, the serial force question needs --force",
    RunUpload } };
CliRegistrar g_activate { { "activate", ACTIVATE_USAGE "    activate a firmware image of a device", RunActivate } };
} // namespace
