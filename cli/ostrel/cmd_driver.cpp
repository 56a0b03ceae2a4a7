// ostrel-cli watch, settings, suspend, disconnect: the driver opened as the CAPI task opens it (Windows).
#include "capictl/capi_format.h"
#include "capictl/capi_keys.h"
#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "cli/cli.h"
#include "common/text.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

#ifdef _WIN32
#include "capictl/win32/capi_win.h"
#endif

namespace {
#ifdef _WIN32
int DriverFail(const char* what)
{
    uint32_t error = CapiLastError();
    return CliFail(StrFormat("%s: %s", what, CapiErrorText(error).c_str()), 1);
}

// Opens the device "\\.\NAME" as the task does (no status buffers wanted).
int OpenDriver(const std::optional<std::string>& name)
{
    std::string device = name.value_or("CAPI201");
    CapiSetPlatform(CapiWin32Platform(device, "", {}));
    if (!CapiOpen())
        return DriverFail(("cannot open \\\\.\\" + device).c_str());
    return 0;
}

int RunWatch(std::vector<std::string>& args)
{
    CliArgs options(args);
    std::string device = options.Value("--device").value_or("CAPI201");
    unsigned long long count = 0;
    if (!CliNumber(options.Value("--count"), 0xFFFFFFFFu, &count, "count"))
        return 2;
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    if (!args.empty())
        return CliFail("usage: watch [--device NAME] [--count N]", 2);
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t buffers = 0;
    CapiSetPlatform(CapiWin32Platform(device, "", [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++buffers;
        arrived.notify_all();
    }));
    if (!CapiOpen())
        return DriverFail(("cannot open \\\\.\\" + device).c_str());
    // One line per buffer the status thread published (count 0: until the program is ended).
    for (uint64_t shown = 0; count == 0 || shown < count; ++shown) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            arrived.wait(lock, [&] { return buffers > shown; });
        }
        std::string line = CapiStatus().With(CapiFormatSummary);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    CapiClose();
    return 0;
}

int RunSettings(std::vector<std::string>& args)
{
    CliArgs options(args);
    bool send = options.Flag("--send");
    std::optional<std::string> device = options.Value("--device");
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    if (!args.empty())
        return CliFail("usage: settings [--send] [--device NAME]", 2);
    if (!CapiFindDriverKey(CapiSystemFamily()))
        return CliFail("the driver's registry key was not found", 1);
    std::string records;
    if (!CapiBuildSettings(RegRoot::LocalMachine, CapiGetKeys().parameters, &records))
        return CliFail("cannot read HKEY_LOCAL_MACHINE\\" + CapiGetKeys().parameters, 1);
    CapiWalker walk(reinterpret_cast<const uint8_t*>(records.data()), records.size());
    for (CapiRecordView record; walk.Next(&record);)
        std::printf("%s\n", CapiFormatControlRecord(record).c_str());
    std::fflush(stdout);
    if (!send)
        return 0;
    if (int rc = OpenDriver(device))
        return rc;
    int ok = CapiSendControl(records);
    CapiClose();
    return ok ? 0 : DriverFail("the driver refused the settings");
}

// suspend 0|1 and disconnect ID: one number, one control request.
int RunNumbered(std::vector<std::string>& args, const char* usage, uint32_t maxValue, int (*request)(uint32_t))
{
    CliArgs options(args);
    std::optional<std::string> device = options.Value("--device");
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    std::optional<uint32_t> value = args.size() == 1 ? ParseUnsignedStrict(args[0]) : std::nullopt;
    if (!value || *value > maxValue)
        return CliFail(usage, 2);
    if (int rc = OpenDriver(device))
        return rc;
    int ok = request(*value);
    CapiClose();
    return ok ? 0 : DriverFail("the driver refused the request");
}

int RunSuspend(std::vector<std::string>& args)
{
    return RunNumbered(args, "usage: suspend [--device NAME] 0|1", 1, CapiSetSuspended);
}

int RunDisconnect(std::vector<std::string>& args)
{
    return RunNumbered(args, "usage: disconnect [--device NAME] ID", 0xFFFFFFFFu, CapiDisconnect);
}
#else
int NotAvailable(std::vector<std::string>&)
{
    return CliFail("not available on this system", 2);
}
#define RunWatch NotAvailable
#define RunSettings NotAvailable
#define RunSuspend NotAvailable
#define RunDisconnect NotAvailable
#endif

CliRegistrar watchReg { { "watch",
    "watch [--device NAME] [--count N]   the counts after each new status buffer "
    "(Windows)",
    RunWatch } };
CliRegistrar settingsReg { { "settings",
    "settings [--send] [--device NAME]   the settings records of the driver's parameters key (Windows)",
    RunSettings } };
CliRegistrar suspendReg { { "suspend", "suspend [--device NAME] 0|1   tell the driver RCapiSuspended (Windows)",
    RunSuspend } };
CliRegistrar disconnectReg { { "disconnect", "disconnect [--device NAME] ID   drop a call (Windows)", RunDisconnect } };
} // namespace
