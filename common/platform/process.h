// Starting a program for a script's action: on Windows through the shell (the program text may be a
// document or a program on the path, as the user would type it); elsewhere the parameters are split at
// blanks into arguments and the program is started directly, never through a shell, since the texts come
// from devices.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Starts `program` with `parameters` (hidden: no window, where the platform has windows). Returns 1
// when it started; the program is not waited for.
int ProcessStart(const std::string& program, const std::string& parameters, bool hidden);

// The parameters split at blanks and tabs, empty words dropped.
std::vector<std::string> ProcessSplitParameters(std::string_view parameters);
