// Whole-file reads and crash-safe whole-file writes for settings and list files: a write produces the
// complete new file beside the old one and renames it over it, so that a crash or a kill at any moment
// leaves either the old or the new file, never a mixture.
#pragma once

#include <string>
#include <string_view>

// Reads the whole file. Returns 1 on success; 0 when it cannot be opened or read (`missing` is set
// when the file does not exist, which settings readers treat as an empty file).
int FileReadAll(const std::string& path, std::string* data, bool* missing = nullptr);

// Writes `data` to a new file beside `path`, flushes it to the disk and renames it over `path`
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING on Windows, rename elsewhere). Returns 1 on success; on
// failure the old file is untouched and the new one removed. A file the user may not write (no write
// permission; no write bit at all, even for root; the read-only attribute on Windows) is never replaced:
// 0. The new files that killed writers left beside `path` ("NAME.~PID-N" of processes that no longer
// run) are removed first.
int FileWriteAtomic(const std::string& path, std::string_view data);

// True when the path names an existing file or directory.
bool FileExists(const std::string& path);

// The directory of the running program's own file, with no trailing separator ("." when unknown):
// the programs read their data files (descriptions, wizards, scripts) from there.
std::string FileProgramDirectory();
