// Libraries loaded at run time: by full path only, never through the platform's search path, so that a
// same-named library in the current directory or on PATH is never taken for the program's own.
#pragma once

#include <string>

// Loads the library at `fullPath`; nullptr when it cannot be loaded (or the path is not absolute).
void* ModuleLoad(const std::string& fullPath);
// The address of an exported symbol, or nullptr.
void* ModuleSymbol(void* module, const char* name);
// Gives a library back (once per successful ModuleLoad).
void ModuleFree(void* module);
// The running program's file name without directory and extension ("qorvexal").
std::string ModuleProgramBaseName();
// What the platform adds to a library name without extension (".dll" on Windows, ".so" elsewhere).
const char* ModuleDefaultExtension();
