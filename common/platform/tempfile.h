// Temporary files that delete themselves: created in the system's temporary directory with a name
// prefix, opened for binary reading and writing, and gone once closed (or once the process ends).
#pragma once

#include <cstdio>
#include <string>

// Creates and opens a new temporary file ("w+b"). `prefix` is at most three characters (the Windows
// naming rule). `path` (optional) receives the name it was created under. Returns null on failure.
// On Windows: GetTempPathA (the Windows directory when that fails), GetTempFileNameA and a handle that
// deletes the file when closed. Elsewhere: mkstemp in $TMPDIR or /tmp, the name removed at once so
// that nothing is left behind even when the process is killed.
FILE* TempFileOpen(const char* prefix, std::string* path);
