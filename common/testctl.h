// The test control channel of a program with windows: a client on 127.0.0.1 sends one command a line
// and gets "ok" (a multi-line answer follows it and ends with a line "."), or "error TEXT". In texts,
// both ways, a line break is written "\n" and a backslash "\\". This part holds the wire format and
// the server; what the commands do on the windows is the Win32 side's (common/ui/testctl_win.h).
#pragma once

#include "common/platform/tcpline.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A text as one line: "\" as "\\", CR LF, CR and LF as "\n", other control characters as blanks.
std::string TestCtlEscape(std::string_view text);
// The reverse: "\n" a line break (LF), "\\" a backslash; any other "\" stays.
std::string TestCtlUnescape(std::string_view text);
// A label as shown: "&&" is "&", a single "&" (the mnemonic mark) is dropped.
std::string TestCtlLabel(std::string_view text);
// A menu item's text for matching: the label, without the accelerator after a tab and without a
// trailing "...".
std::string TestCtlMenuText(std::string_view text);
// The names of a command, separated by blanks; a name with blanks is written in double quotes.
std::vector<std::string> TestCtlWords(std::string_view text);

// A command line split into its verb and the rest (the blanks after the verb dropped).
struct TestCtlCommand {
    std::string verb;
    std::string rest;
};
TestCtlCommand TestCtlParse(std::string_view line);

// The answers.
std::string TestCtlOk();
std::string TestCtlOkLines(const std::vector<std::string>& lines);
std::string TestCtlError(std::string_view text);
// "0x%X" of a handle and its reverse (0 when the text is not a handle).
std::string TestCtlHandle(uintptr_t handle);
uintptr_t TestCtlParseHandle(std::string_view text);

// The server: every line is parsed and handed to `run` on the server's thread, which returns the
// whole answer. A command `idle` is asked of `isIdle` again and again (every 20 ms, at most 300 s)
// until it says so, so that the window thread is never held while waiting.
class TestCtlServer {
public:
    using Runner = std::function<std::string(const TestCtlCommand&)>;
    // Returns the port listened on, 0 when it cannot listen.
    uint16_t Start(uint16_t port, Runner run, std::function<bool()> isIdle, uint32_t idleLimitMs = 300000);
    void Stop();

private:
    TcpLineServer server_;
};
