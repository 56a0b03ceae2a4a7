// Options of qorvexal-cli that stand before the subcommand.
#pragma once

#include <string>
#include <vector>

struct QvGlobals {
    std::string iniFile; // --ini FILE: the settings file holding the device list ("" = the user's own)
};

QvGlobals& QvGlobal();
bool QvTakeGlobalOptions(std::vector<std::string>& args, std::string& error);
