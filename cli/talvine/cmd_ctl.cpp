// talvine-cli ctl: one command to a running monitor's test control channel (talvine.exe started with
// /testctl:PORT). Prints the answer without its framing: exit 0 for "ok", 1 for "error" (its text on
// standard error), 2 when no answer came within 10 s.
#include "cli/cli.h"
#include "common/platform/tcpline.h"
#include "common/testctl.h"

#include <cstdio>
#include <cstdlib>

namespace {
constexpr uint32_t kAnswerTimeoutMs = 10000;

// The commands whose answer is a list: "ok", its lines, then ".".
bool ListAnswer(const std::string& verb)
{
    return verb == "windows" || verb == "controls" || verb == "tree" || verb == "list" || verb == "treeview"
        || verb == "views" || verb == "traymenu";
}

int RunCtl(std::vector<std::string>& args)
{
    CliArgs a(args);
    std::optional<std::string> portText = a.Value("--port");
    if (!portText) {
        const char* env = std::getenv("TALVINE_TESTCTL_PORT");
        if (env && *env)
            portText = env;
    }
    std::vector<std::string> words;
    for (const std::string& w : a.Rest())
        if (w != "--")
            words.push_back(w);
    unsigned long long port = 0;
    if (!CliNumber(portText, 65535, &port, "port"))
        return 2;
    if (port == 0 || words.empty())
        return CliFail("usage: ctl --port PORT COMMAND [ARGUMENT...] (or TALVINE_TESTCTL_PORT)", 2);
    // Arguments with blanks travel in double quotes, as the channel splits its names.
    std::string line = words[0];
    for (size_t i = 1; i < words.size(); ++i)
        line += " " + (words[i].find_first_of(" \t") == std::string::npos ? words[i] : "\"" + words[i] + "\"");

    TcpLineClient client;
    if (!client.Connect(static_cast<uint16_t>(port)))
        return CliFail("cannot connect to 127.0.0.1:" + std::to_string(port), 2);
    std::string answer;
    if (!client.SendLine(line) || !client.ReadLine(&answer, kAnswerTimeoutMs))
        return CliFail("no answer to: " + line, 2);
    if (answer.rfind("error", 0) == 0) {
        std::string text = answer.size() > 6 ? TestCtlUnescape(answer.substr(6)) : std::string();
        std::fprintf(stderr, "%s: %s\n", CliProgramName(), text.c_str());
        return 1;
    }
    if (answer != "ok" && answer.rfind("ok ", 0) != 0)
        return CliFail("unexpected answer: " + answer, 2);
    if (answer.size() > 3)
        std::printf("%s\n", TestCtlUnescape(answer.substr(3)).c_str());
    if (answer == "ok" && ListAnswer(words[0])) {
        std::string item;
        while (true) {
            if (!client.ReadLine(&item, kAnswerTimeoutMs))
                return CliFail("the list ended early: " + line, 2);
            if (item == ".")
                break;
            std::printf("%s\n", item == "\\." ? "." : TestCtlUnescape(item).c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}

CliRegistrar g_ctl { { "ctl",
    "ctl [--port PORT] COMMAND [ARGUMENT...]   send one command to a running talvine.exe's test control channel "
    "(/testctl:PORT; default port from TALVINE_TESTCTL_PORT) and print its answer",
    RunCtl } };
} // namespace
