// Shared frame of the command-line tools: a table of subcommands, each with a synopsis, over the option
// parser of common/cliargs.h. Results go to standard output, diagnostics and errors to standard error.
#pragma once

#include "common/cliargs.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct CliCommand {
    const char* name; // "describe", or "tftp get" for a two-word command
    const char* synopsis; // the line shown by --help, without the program name
    int (*run)(std::vector<std::string>& args); // args: what follows the command's words; returns the exit code
};

// Registers a command at start-up: `static CliRegistrar reg{{"describe", "...", RunDescribe}};`
struct CliRegistrar {
    explicit CliRegistrar(const CliCommand& command);
};

// Runs the program: global options are taken by `globals` (it removes what it takes), then the command
// named by the next one or two words runs. Prints the help for --help / -h / no command.
int CliMain(const char* program, const char* summary, int argc, char** argv,
    const std::function<bool(std::vector<std::string>& args, std::string& error)>& globals = {});

// A text of the suite (ANSI, Windows-1252: string tables, scripts, device texts) as the terminal shows
// it: UTF-8 on Linux, unchanged on Windows, whose console and files take the ANSI bytes.
std::string CliText(std::string_view ansi);
// Writes such a text to `to` as CliText gives it.
void CliPrint(std::FILE* to, std::string_view ansi);
// Prints "PROGRAM: message" to standard error and returns `code`.
int CliFail(const std::string& message, int code = 1);
// Reads a number option: false with an error message when the text is not a number.
bool CliNumber(
    const std::optional<std::string>& text, unsigned long long maxValue, unsigned long long* out, const char* what);
const char* CliProgramName();
// A network option's value: "a.b.c.d/m.m.m.m" or "a.b.c.d/bits".
bool CliParseNetwork(const std::string& text, uint32_t* address, uint32_t* mask);

// The options of the commands that search for devices: --no-local, --net ADDRESS/MASK (repeatable),
// --port and -t/--timeout. Taken from the arguments with the command's own options; Check reads them
// once no unknown option is left.
struct CliSearchOptions {
    CliSearchOptions(CliArgs& a, unsigned long long defaultTimeout, unsigned long long defaultPort);
    // False, with the error printed (exit code 2), for a bad number or network, or for --no-local without
    // --net when no other source is searched (`other`: named `otherName` in the message, e.g. "--serial").
    bool Check(bool other = false, const char* otherName = nullptr);

    bool noLocal = false;
    std::optional<std::string> timeoutText; // -t as given (empty: the default holds)
    unsigned long long timeout = 0, port = 0; // seconds; the devices' port
    std::vector<std::pair<uint32_t, uint32_t>> remote; // address and mask of each --net
private:
    std::optional<std::string> portText_;
    std::vector<std::string> nets_;
};

// The folder of the shipped files whose names begin with `prefix` and end with `suffix` ("qorv",
// ".dsc"): the tool's own folder, or, when that holds none of them and the folder above it does (the
// CD, whose tools lie in tools/ below the programs and their files), the folder above it.
std::string CliShippedDirectory(std::string_view prefix, std::string_view suffix);

// Where a tool reads its shipped files (scripts, descriptions) and where it writes its own (settings,
// device list, logs), without trailing separators: the folder given for both, else the shipped files'
// folder (CliShippedDirectory) and the data folder common/datafolder.h chooses for the product from
// the tool's own folder, seeded with `seed`.
struct CliFolders {
    std::string read;
    std::string write;
};
CliFolders CliDataFolders(const std::optional<std::string>& given, std::string_view product, const std::string& seed,
    std::string_view prefix, std::string_view suffix);
