// What setup-cli's script commands share: the operating system to choose sections for and one INF
// script, read and checked as the installer reads it (signature included).
#pragma once

#include "cli/cli.h"
#include "setup/inf.h"
#include "setup/setup_engine.h"

#include <optional>
#include <string>

// After the command took its own options: refuses unknown ones, a missing or second script and a
// bad --os value (exit 2), a script that cannot be read or is refused (exit 1, with the line).
// Returns 0 with `inf` and `os` filled.
int SetupCliReadInf(
    CliArgs& opts, const std::optional<std::string>& osText, const char* usage, InfText* inf, SetupOs* os);
