// qorvexal-cli's wizards against morvaksim on loopback: the wizards listed for a configured and for an
// unconfigured device, and the DEFAULT wizard run on the unconfigured one, which writes what the wizard
// set and brings the device back at the LAN address the wizard gave it.
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "device/deviceentry.h"
#include "device/sysinfo.h"
#include "device/tftp.h"
#include "tests/integration/cli_sim_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

using testing_child::Bin;
using testing_child::FreePort;

using testing_child::Shell;

// The device's system information, read directly (the simulator listens; the tries are for a lost
// datagram).
bool SysInfo(uint32_t ip, uint16_t port, DeviceEntry* entry)
{
    for (int i = 0; i < 3; ++i) {
        TftpMemoryStream s;
        if (TftpGet(ip, port, "sysinfo", s, 2000, 512))
            return SysInfoParseInto(s.Data(), *entry) == 1;
    }
    return false;
}

class WizardAgainstMorvaksim : public CliAgainstMorvaksim {
protected:
    WizardAgainstMorvaksim()
        : CliAgainstMorvaksim(0x7f002e01, "wiz-it", 1000)
    {
    }
};

TEST_F(WizardAgainstMorvaksim, ListAndRunTheDefaultWizard)
{
    // The unconfigured device says so to a direct sysinfo; the configured one does not.
    DeviceEntry before;
    ASSERT_TRUE(SysInfo(0x7f002e01, port, &before));
    EXPECT_TRUE(before.flags & DevFlagUnconfigured);
    DeviceEntry other;
    ASSERT_TRUE(SysInfo(0x7f002e02, port, &other));
    EXPECT_FALSE(other.flags & DevFlagUnconfigured);

    std::string out, err;
    ASSERT_EQ(Shell(cli + " wizard list " + Device("127.0.46.2"), &out, &err), 0) << err;
    EXPECT_EQ(out, "IPFILTER\tIP filter\nLAN\tLocal network\n");
    ASSERT_EQ(Shell(cli + " wizard list --lang German " + Device("127.0.46.1"), &out, &err), 0) << err;
    EXPECT_EQ(out, "DEFAULT\tGrundeinstellung\nIPFILTER\tIP-Filter\nLAN\tLokales Netz\n");

    // Errors write nothing: an answer naming no item, an answer its value rule refuses.
    EXPECT_EQ(Shell(cli + " wizard run --answer nosuch=1 " + Device("127.0.46.1"), &out, &err), 1);
    EXPECT_NE(err.find("no item nosuch"), std::string::npos) << err;
    EXPECT_EQ(
        Shell(cli + " wizard run --answer name= --answer address=127.0.46.9 " + Device("127.0.46.1"), &out, &err), 1);
    EXPECT_NE(err.find("Please enter a value for 'Device name'!"), std::string::npos) << err;
    EXPECT_EQ(Shell(cli + " wizard run " + Device("127.0.46.2"), &out, &err), 1); // two task wizards, no --name
    EXPECT_NE(err.find("choose one with --name"), std::string::npos) << err;
    DeviceEntry still;
    ASSERT_TRUE(SysInfo(0x7f002e01, port, &still));
    EXPECT_TRUE(still.flags & DevFlagUnconfigured);

    // The DEFAULT wizard on the unconfigured device: name, password, LAN address and netmask.
    ASSERT_EQ(Shell(cli + " wizard run --answer name=office --answer password=pw1 --answer address=127.0.46.9"
                      + " --answer netmask=255.255.255.0 " + Device("127.0.46.1"),
                  &out, &err),
        0)
        << out << err;
    EXPECT_EQ(out.rfind("page Device\npage Local network\npage DHCP server\npage Ready\n", 0), 0u) << out;
    EXPECT_NE(out.find("office: written, back at " + Device("127.0.46.9")), std::string::npos) << out << err;
    EXPECT_NE(out.find("backup: "), std::string::npos) << out; // the configuration it replaced is kept

    // Back at the address the wizard gave it, configured, with what the wizard set.
    DeviceEntry after;
    ASSERT_TRUE(SysInfo(0x7f002e09, port, &after));
    EXPECT_FALSE(after.flags & DevFlagUnconfigured);
    EXPECT_EQ(after.name.str(), "office");
    ASSERT_EQ(Shell(cli + " read -p pw1 " + Device("127.0.46.9") + " " + dir + "/after.txt", &out, &err), 0) << err;
    std::string config;
    ASSERT_TRUE(FileReadAll(dir + "/after.txt", &config));
    for (const char* line : { "/sys/name = office", "/ip/address = 127.0.46.9", "/ip/netmask = 255.255.255.0",
             "/ip/dhcp/pool_start = 127.0.46.100", "/ip/dhcp/pool_end = 127.0.46.199" })
        EXPECT_NE(config.find(line), std::string::npos) << line << "\n" << config;
}

} // namespace
