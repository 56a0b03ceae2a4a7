// Options of qorvexal-cli that stand before the subcommand.
#pragma once

#include <string>
#include <vector>

struct QvGlobals {
    std::string iniFile; // --ini FILE: the settings file holding the device list ("" = the user's own)
    bool verbose = false; // -v: the description index's progress lines also when standard error is no terminal
};

QvGlobals& QvGlobal();
bool QvTakeGlobalOptions(std::vector<std::string>& args, std::string& error);

// The failure of a file that should be a configuration file: "Can't open file." when it cannot be
// read, "PATH: not a configuration file" when it can but its header lines do not parse. Exit code 1.
int QvNotConfigFile(const std::string& path);
