// qorvexal-cli update: the update package. Searches the network, then updates each device found as the
// update description (or the first suitable file of a list) says, printing each device's steps and a
// summary. The search runs as the search job of the device worker; the updates run in this thread once
// the worker is idle, one device after the other.
#include "cli/cli.h"
#include "cli/qorvexal/devices.h"
#include "cli/qorvexal/jobfront.h"
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/sysinfo.h"
#include "device/update.h"

#include <cstdio>

namespace {
#define UPDATE_USAGE                                                                                                   \
    "update [--yes] [--password PW] [--no-local] [--net ADDRESS/NETMASK]... [--port PORT] [-t SECONDS] "               \
    "(UPDATEINI | --files FILE[,FILE...])"

std::string Where(const DeviceEntry& e)
{
    return e.link == LinkSerial ? e.line_name.str() : e.AddressText();
}

// A device running a new image in test mode: with --yes it is activated, as after an upload.
bool ActivateTestImage(DeviceEntry& e, bool yes, const UpdateUi& ui)
{
    const FirmwareStatusInfo& images = e.fw_status;
    if (!(e.flags & DevFlagFirmwareImages) || images.number2 != images.number3 || images.number2 == images.active)
        return true;
    if (!yes) {
        ui.step(e, "activate: the new image runs in test mode (activate it with --yes)");
        return true;
    }
    e.status = DevStatusActivating;
    if (!DevOpActivateImage(e, images.number2)) {
        ui.step(e, "activate: " + DevStatusText(e.status.load()));
        return false;
    }
    e.cancel = 0;
    e.status = DevStatusRestarting;
    bool ok = DevOpWaitRestart(e, DevWaitRestarts, 0) != 0;
    ui.step(e, "activate: " + (ok ? "Ok, image " + std::to_string(images.number2) : DevStatusText(e.status.load())));
    return ok;
}

int RunUpdate(std::vector<std::string>& words)
{
    CliArgs a(words);
    bool yes = a.Flag("--yes", "-y");
    std::optional<std::string> password = a.Value("--password");
    CliSearchOptions search(a, 0, kTftpPort);
    std::optional<std::string> fileList = a.Value("--files");
    if (std::optional<std::string> unknown = a.UnknownOption())
        return CliFail(*unknown, 2);
    if (a.Rest().size() != (fileList ? 0u : 1u))
        return CliFail("usage: " UPDATE_USAGE, 2);
    if (!search.Check())
        return 2;

    // What to upload: the description, or the list of files. Nothing is sent when it cannot be read.
    UpdateDescription desc;
    std::vector<UpdateFile> files;
    std::string error;
    if (fileList) {
        std::vector<std::string> skipped;
        files = UpdateReadFileList(*fileList, &skipped);
        for (const std::string& s : skipped)
            std::fprintf(stderr, "%s: %s\n", CliProgramName(),
                (s + (FirmwareReadFile(s, nullptr) ? ": more than 32 files, left out" : ": not a firmware file"))
                    .c_str());
        if (files.empty())
            return CliFail("no firmware file in the list", 1);
    } else if (!UpdateReadDescription(a.Rest()[0], &desc, &error)) {
        return CliFail(error, 1);
    }

    IniFile ini;
    ini.Load(QvIniPath());
    QvJobFront front;
    if (int rc = front.Start(false))
        return rc;
    std::vector<DeviceEntry> found = front.SearchAll(search, ini);
    std::printf("%u device(s) found\n", static_cast<unsigned>(found.size()));

    bool passwordTried = false;
    UpdateUi ui;
    ui.step = [](const DeviceEntry& e, const std::string& text) {
        std::printf("%s: %s\n", Where(e).c_str(), CliText(text).c_str());
        std::fflush(stdout);
    };
    ui.askPassword = [&](DeviceEntry& e, std::string* pw) {
        // The password of the command line stands for the user's answer, once per device.
        if (!password || passwordTried)
            return false;
        passwordTried = true;
        ui.step(e, "password: " + std::string(password->empty() ? "(empty)" : "from --password"));
        *pw = *password;
        return true;
    };
    int passed = 0, leftAlone = 0, failed = 0;
    for (DeviceEntry& e : found) {
        passwordTried = false;
        ui.step(e, e.device_type.str() + ", firmware " + e.fw_version.str());
        int outcome = UpdateFailed;
        if (fileList) {
            const UpdateFile* f = UpdatePickFile(files, e);
            if (!f) {
                ui.step(e, "result: no file for this device, left alone");
                outcome = UpdateLeftAlone;
            } else {
                ui.step(e, "file: " + f->path);
                outcome = UpdateUploadFile(f->path, e, ui) ? UpdatePassed : UpdateFailed;
                ui.step(e, outcome == UpdatePassed ? "result: Ok, firmware " + e.fw_version.str() : "result: failed");
            }
        } else {
            outcome = UpdateDevice(desc, e, ui);
        }
        if (outcome == UpdatePassed && !ActivateTestImage(e, yes, ui))
            outcome = UpdateFailed;
        passed += outcome == UpdatePassed;
        leftAlone += outcome == UpdateLeftAlone;
        failed += outcome == UpdateFailed;
    }
    std::printf("%d updated, %d left alone, %d failed\n", passed, leftAlone, failed);
    return failed ? 1 : 0;
}

CliRegistrar g_update { { "update",
    "[--ini FILE] " UPDATE_USAGE
    "\n    search the network (as search does) and update every device found as the update "
    "description says (chains of files evaluated again after each restart), or with the first file of the list that "
    "suits it; prints each device's steps and a summary; exit 0 only when no device failed",
    RunUpdate } };
} // namespace
