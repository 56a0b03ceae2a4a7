// What the command-line tests of qorvexal-cli share: running the tool as a user does, and a scratch
// folder holding one configuration file.
#pragma once

#include "common/platform/file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace qv_cli_test {

inline std::string Bin(const char* name)
{
    const char* dir = std::getenv("SUITE_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

// Runs a shell command; its standard output into `out`; returns its wait status.
inline int RunCommand(const std::string& command, std::string* out)
{
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out->append(buf, n);
    return ::pclose(p);
}

// Runs the tool; its standard output into `out`, its errors into `err`; returns the exit code.
inline int Cli(const std::string& args, std::string* out = nullptr, std::string* err = nullptr)
{
    namespace fs = std::filesystem;
    std::string errFile = fs::temp_directory_path() / ("qorvexal_cli_err_" + std::to_string(::getpid()));
    std::string text;
    int status = RunCommand(Bin("qorvexal-cli") + " " + args + " 2>" + errFile, &text);
    if (out)
        *out = text;
    std::string errors;
    FileReadAll(errFile, &errors);
    std::remove(errFile.c_str());
    if (err)
        *err = errors;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Read(const std::string& path)
{
    std::string data;
    FileReadAll(path, &data);
    return data;
}

// A fresh folder `dir` (removed again after the test) with `lcf`, a Morvak 1100 3.10 configuration
// file exported from a configuration text.
struct LcfTest : ::testing::Test {
    std::string dir;
    std::string lcf;

    void MakeFile(const std::string& prefix, const std::string& text)
    {
        namespace fs = std::filesystem;
        dir = (fs::temp_directory_path() / (prefix + "_" + std::to_string(::getpid()))).string();
        fs::remove_all(dir);
        fs::create_directories(dir);
        lcf = dir + "/a.lcf";
        FileWriteAtomic(dir + "/text.txt", text);
        ASSERT_EQ(Cli("export \"Morvak 1100\" 3.10 " + dir + "/text.txt " + lcf), 0);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

} // namespace qv_cli_test
