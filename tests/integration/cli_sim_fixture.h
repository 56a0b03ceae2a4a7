// qorvexal-cli against a morvaksim of its own on loopback: two devices from the fixture's first address
// (the first unconfigured) on a port the kernel says is free, the simulator's state and the program's
// settings in a fresh folder that goes when the test ends.
#pragma once

#include "common/text.h"
#include "tests/integration/child_process.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

class CliAgainstMorvaksim : public ::testing::Test {
protected:
    // `firstIp` in host order; `tag` names the folder; `restartMs` is how long a device takes to restart.
    CliAgainstMorvaksim(uint32_t firstIp, const char* tag, int restartMs)
        : firstIp_(firstIp)
        , tag_(tag)
        , restartMs_(restartMs)
    {
    }
    void SetUp() override
    {
        namespace fs = std::filesystem;
        dir = (fs::temp_directory_path() / StrFormat("%s-%d", tag_, getpid())).string();
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string first
            = StrFormat("%u.%u.%u.%u", firstIp_ >> 24, (firstIp_ >> 16) & 255, (firstIp_ >> 8) & 255, firstIp_ & 255);
        // Another free port if the simulator could not take the first after all.
        for (int attempt = 0; attempt < 5 && !sim; ++attempt) {
            port = testing_child::FreePort(firstIp_);
            ASSERT_NE(port, 0);
            sim = std::make_unique<testing_child::Morvaksim>(
                std::vector<std::string> { "--dir", dir + "/state", "--port", std::to_string(port), "--count", "2",
                    "--unconfigured", "1", "--restart-ms", std::to_string(restartMs_), first });
            if (!sim->Ready())
                sim.reset();
        }
        ASSERT_TRUE(sim);
        cli = testing_child::Bin("qorvexal-cli") + " --ini " + dir + "/qorvexal.ini";
    }
    void TearDown() override
    {
        sim.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string Device(const char* ip) const
    {
        return StrFormat("%s:%u", ip, port);
    }

    std::string dir;
    uint16_t port = 0;
    std::unique_ptr<testing_child::Morvaksim> sim;
    std::string cli;

private:
    uint32_t firstIp_;
    const char* tag_;
    int restartMs_;
};
