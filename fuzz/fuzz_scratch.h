// A private folder for the files a fuzz target writes, on a memory file system where there is one, so
// that creating, flushing and renaming files costs no disk writes; temporary streams go there too
// (TMPDIR). Removed with everything in it when the target ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

inline const std::string& FuzzScratchDir()
{
    static const std::string dir = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string made = base + "/fuzz-XXXXXX";
        if (!mkdtemp(made.data()))
            std::abort();
        setenv("TMPDIR", made.c_str(), 1);
        // A copy of its own: the static below is gone by the time exit handlers run.
        static const std::string* removeAtExit = new std::string(made);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*removeAtExit, ec);
        });
        return made;
    }();
    return dir;
}
