// Carrying a menu script inside kardell.exe: the RCDATA resource "INIFILE" (Windows only).
#pragma once

#include <string>

// Writes a copy of `program` to `out` that carries the bytes of `script` as the RCDATA resource
// "INIFILE" (replacing one it may carry). Returns 1 on success; otherwise 0 with the cause in `error`.
int CdEmbedScript(const std::string& program, const std::string& script, const std::string& out, std::string* error);
// True where CdEmbedScript can work (Windows).
bool CdCanEmbedScript();
