// ostrel-cli view: a status buffer as the CAPI task shows it (tray icon and tip, counters, the status
// tree with its tooltips); state, activate, deactivate, reload: the running task's window messages.
#include "capictl/ostrel_task.h"
#include "capictl/ostrel_tree.h"
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/strings.h"

#include <cstdio>

#ifdef _WIN32
#include "capictl/win32/ostrel_send.h"
#endif

namespace {
int RunView(std::vector<std::string>& args)
{
    CliArgs options(args);
    std::optional<std::string> name = options.Value("--name");
    bool deactivated = options.Flag("--deactivated");
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    if (args.size() != 1)
        return CliFail("usage: view [--name TEXT] [--deactivated] FILE", 2);
    std::string buffer;
    if (!FileReadAll(args[0], &buffer))
        return CliFail("cannot read " + args[0]);
    std::string text = OstrelViewText(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size(),
        name.value_or(StrLoad(ostrel_Strings(), kOstrelStrName)), deactivated);
    CliPrint(stdout, text);
    return 0;
}

// Sends one or two messages to the task's window and prints the state it answers.
int SendAndPrint(std::vector<std::string>& args, const char* usage, bool reload, int wanted, bool allowForce)
{
    CliArgs options(args);
    bool force = allowForce && options.Flag("--force");
    if (auto unknown = options.UnknownOption())
        return CliFail(*unknown, 2);
    if (!args.empty())
        return CliFail(std::string("usage: ") + usage, 2);
#ifdef _WIN32
    intptr_t result = 0;
    bool sent = true;
    if (reload)
        sent = OstrelSendToTask(kOstrelMsgPushSettings, 0, &result);
    if (sent && wanted < 0)
        sent = OstrelSendToTask(kOstrelMsgQueryState, 0, &result);
    else if (sent)
        sent = OstrelSendToTask(kOstrelMsgSetState, uintptr_t(wanted) | (force ? 0x10000u : 0u), &result);
    if (!sent)
        return CliFail("no CAPI task is running (no window of class RemoteCapiClass)", 1);
    uint32_t state = static_cast<uint32_t>(result);
    std::printf("calls %u, %s\n", state >> 16, (state & 1) ? "deactivated" : "active");
    return 0;
#else
    (void)reload;
    (void)wanted;
    (void)force;
    return CliFail("not available on this system", 2);
#endif
}

int RunState(std::vector<std::string>& args)
{
    return SendAndPrint(args, "state", false, -1, false);
}
int RunActivate(std::vector<std::string>& args)
{
    return SendAndPrint(args, "activate", false, 0, false);
}
int RunDeactivate(std::vector<std::string>& args)
{
    return SendAndPrint(args, "deactivate [--force]", false, 1, true);
}
int RunReload(std::vector<std::string>& args)
{
    return SendAndPrint(args, "reload", true, -1, false);
}

CliRegistrar viewReg { { "view", "view [--name TEXT] [--deactivated] FILE   a status buffer as the task shows it",
    RunView } };
CliRegistrar stateReg { { "state", "state                    the running task's calls and activation (Windows)",
    RunState } };
CliRegistrar activateReg { { "activate", "activate                 activate the CAPI (Windows)", RunActivate } };
CliRegistrar deactivateReg { { "deactivate",
    "deactivate [--force]     deactivate the CAPI; without --force the task asks while calls are open (Windows)",
    RunDeactivate } };
CliRegistrar reloadReg { { "reload", "reload                   hand the driver its parameters again (Windows)",
    RunReload } };
} // namespace
