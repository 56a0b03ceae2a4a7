// Firmware uploads against the real programs: qorvexal-cli and morvaksim over loopback TFTP and over
// the simulator's console on a pseudo-terminal, and our XMODEM sender against lrzsz's rx (checksum
// mode) on a socat pseudo-terminal pair.
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/platform/serial.h"
#include "common/text.h"
#include "config/device/firmware.h"
#include "config/device/tftp.h"
#include "config/device/xmodem.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    Child(std::vector<std::string> argv, const std::string& out)
    {
        pid = fork();
        if (pid == 0) {
            FILE* f = std::freopen(out.c_str(), "w", stdout);
            f = std::freopen(out.c_str(), "a", stderr);
            (void)f;
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::string Bin(const char* name)
{
    const char* dir = std::getenv("SUITE_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

uint16_t FreePort()
{
    UdpSocket s;
    if (!s.Open() || !s.Bind(0x7f000001, 0))
        return 0;
    std::optional<NetAddress> at = s.LocalAddress();
    return at ? at->port : 0;
}

std::string ReadText(const std::string& path)
{
    std::string text;
    FileReadAll(path, &text);
    return text;
}

// A scratch directory with a short relative name (a serial port name holds 15 characters).
struct Scratch {
    std::string dir;
    Scratch()
    {
        char pattern[] = "fwXXXXXX";
        dir = mkdtemp(pattern) ? pattern : "";
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

struct Sim {
    std::string log;
    uint16_t port = FreePort();
    uint32_t address;
    std::unique_ptr<Child> child;

    Sim(const Scratch& s, uint32_t at, std::vector<std::string> extra)
        : address(at)
    {
        log = s.dir + "/sim.log";
        std::vector<std::string> argv = { Bin("morvaksim"), "--dir", s.dir + "/state", "--port", std::to_string(port),
            "--restart-ms", "500", "--verbose" };
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(NetAddressText(at));
        child = std::make_unique<Child>(argv, log);
    }
    bool Ready(const std::string& link = {})
    {
        for (int i = 0; i < 50; ++i) {
            TftpMemoryStream s;
            if (TftpGet(address, port, "sysinfo", s, 200, 512) && (link.empty() || fs::is_symlink(link)))
                return true;
        }
        return false;
    }
    std::string Device() const
    {
        return NetAddressText(address) + ":" + std::to_string(port);
    }
    std::string SysInfo()
    {
        TftpMemoryStream s;
        TftpGet(address, port, "sysinfo", s, 2000, 512);
        return std::string(s.Data().begin(), s.Data().end());
    }
};

// Runs qorvexal-cli with HOME in the scratch directory; returns its exit code and output.
int Cli(const Scratch& s, const std::string& args, std::string* out)
{
    std::string file = s.dir + "/cli.out";
    std::string command
        = "HOME=" + fs::absolute(s.dir).string() + " " + Bin("qorvexal-cli") + " " + args + " > " + file + " 2>&1";
    int rc = std::system(command.c_str());
    *out = ReadText(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string MakeUpx(const Scratch& s, const std::string& name, const std::string& args)
{
    std::string path = s.dir + "/" + name;
    std::system((Bin("morvaksim") + " make-upx " + args + " " + path).c_str());
    return path;
}
} // namespace

TEST(FirmwareUpload, OverTftpTestModeActivationAndRefusals)
{
    Scratch s;
    Sim sim(s, 0x7f004a01, {});
    ASSERT_TRUE(sim.Ready()) << ReadText(sim.log);
    std::string mine = MakeUpx(s, "new.upx", "--size 20000 'Morvak_1100[_Plus;]' 9.90 31122099");
    std::string other = MakeUpx(s, "other.upx", "Morvak_2400 9.90 31122099");
    std::string old = MakeUpx(s, "old.upx", "Morvak_1100 2.00 01012001");
    std::string out;

    // Questions count as No: nothing is sent.
    EXPECT_EQ(Cli(s, "upload " + other + " " + sim.Device(), &out), 1) << out;
    EXPECT_NE(out.find("This isn't a firmware for a Morvak 1100."), std::string::npos) << out;
    EXPECT_EQ(Cli(s, "upload " + old + " " + sim.Device(), &out), 1) << out;
    EXPECT_NE(out.find("downgraded"), std::string::npos) << out;
    EXPECT_EQ(ReadText(sim.log).find("WRQ"), std::string::npos);
    // With --yes the device itself refuses a file for another type.
    EXPECT_EQ(Cli(s, "upload --yes " + other + " " + sim.Device(), &out), 1) << out;
    EXPECT_NE(out.find("Firmware for another device type"), std::string::npos) << out;

    // A two-image device runs the new image in test mode; without --yes it stays so.
    EXPECT_EQ(Cli(s, "upload " + mine + " " + sim.Device(), &out), 0) << out;
    EXPECT_NE(out.find("running in test mode"), std::string::npos) << out;
    std::string info = sim.SysInfo();
    EXPECT_NE(info.find("VERSION: 9.90 / 31.12.2099"), std::string::npos) << info;
    EXPECT_NE(info.find("FIRMWARE-STATUS: 0;1;1;"), std::string::npos) << info;
    EXPECT_EQ(Cli(s, "activate 1 " + sim.Device(), &out), 0) << out;
    info = sim.SysInfo();
    EXPECT_NE(info.find("FIRMWARE-STATUS: 1;1;1;"), std::string::npos) << info;

    // With --yes the activation follows the upload (image 0 written explicitly).
    std::string next = MakeUpx(s, "next.upx", "Morvak_1100 9.91 01012100");
    EXPECT_EQ(Cli(s, "upload --yes -i 0 " + next + " " + sim.Device(), &out), 0) << out;
    info = sim.SysInfo();
    EXPECT_NE(info.find("FIRMWARE-STATUS: 0;0;0;9.91."), std::string::npos) << info;

    // firmware info / match.
    EXPECT_EQ(Cli(s, "firmware match " + other + " " + sim.Device(), &out), 0) << out;
    EXPECT_EQ(out.substr(out.find_first_of("012")).substr(0, 1), "0");
    EXPECT_EQ(Cli(s, "firmware info " + mine + " " + sim.log, &out), 1) << out;
    EXPECT_NE(out.find("kind: 3\ntext: Firmware update, version 9.90 of "), std::string::npos) << out;
    EXPECT_NE(out.find("sim.log: not a firmware file"), std::string::npos) << out;
}

TEST(FirmwareUpload, OneImageDeviceAndNewFirmwareThatFailsToStart)
{
    Scratch s;
    Sim sim(s, 0x7f004a11, { "--images", "1", "--fw-fails-to-start", "--count", "1" });
    ASSERT_TRUE(sim.Ready()) << ReadText(sim.log);
    std::string mine = MakeUpx(s, "new.upx", "Morvak_1100 9.90 31122099");
    std::string out;
    EXPECT_EQ(Cli(s, "upload " + mine + " " + sim.Device(), &out), 1) << out;
    EXPECT_NE(out.find("has failed to start"), std::string::npos) << out;
    std::string info = sim.SysInfo();
    EXPECT_EQ(info.find("FIRMWARE-STATUS"), std::string::npos) << info;
    EXPECT_NE(info.find("VERSION: 3.10.0012"), std::string::npos) << info;
}

TEST(FirmwareUpload, OverTheConsoleAndIntoTheBootLoader)
{
    Scratch s;
    std::string link = s.dir + "/tty";
    Sim sim(s, 0x7f004a21, { "--serial", link, "--password", "pw" });
    ASSERT_TRUE(sim.Ready(link)) << ReadText(sim.log);
    std::string mine = MakeUpx(s, "new.upx", "--size 30000 'Morvak_1100[_Plus;]' 9.90 31122099");
    std::string out;
    EXPECT_EQ(Cli(s, "upload -p pw " + mine + " serial:" + link, &out), 0) << out;
    EXPECT_NE(out.find("Ok, firmware 9.90"), std::string::npos) << out;
    EXPECT_NE(
        ReadText(sim.log).find(link + ": xmodem 235 blocks stored, 0 checksum errors, 0 duplicates"), std::string::npos)
        << ReadText(sim.log);

    Scratch b;
    std::string bootLink = b.dir + "/tty";
    Sim boot(b, 0x7f004a31, { "--serial", bootLink, "--boot-loader" });
    ASSERT_TRUE(boot.Ready(bootLink)) << ReadText(boot.log);
    std::string file = MakeUpx(b, "new.upx", "--size 5000 Morvak_1100 9.90 31122099");
    // The console is silent: without --force nothing is sent.
    EXPECT_EQ(Cli(b, "upload " + file + " serial:" + bootLink, &out), 1) << out;
    EXPECT_NE(out.find("force this upload"), std::string::npos) << out;
    EXPECT_EQ(ReadText(boot.log).find("xmodem"), std::string::npos);
    EXPECT_EQ(Cli(b, "upload --force " + file + " serial:" + bootLink, &out), 0) << out;
    EXPECT_NE(out.find("Ok, firmware 9.90"), std::string::npos) << out;
    EXPECT_NE(ReadText(boot.log).find("xmodem 40 blocks stored"), std::string::npos) << ReadText(boot.log);
}

// Disabled: rx takes every block and reports the transfer complete, but now and then its answer to EOT does
// not come back across the socat pair (the sender then ends after ten EOTs); to be settled.
TEST(FirmwareUpload, DISABLED_OurSenderAgainstLrzszRx)
{
    if (!fs::exists("/usr/bin/rx") || !fs::exists("/usr/bin/socat"))
        GTEST_SKIP() << "lrzsz or socat is not installed";
    Scratch s;
    std::string a = s.dir + "/a", b = s.dir + "/b";
    Child socat({ "socat", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b }, s.dir + "/socat.log");
    for (int i = 0; i < 100 && !(fs::is_symlink(a) && fs::is_symlink(b)); ++i)
        usleep(20000);
    ASSERT_TRUE(fs::is_symlink(a) && fs::is_symlink(b));
    std::string received = s.dir + "/received.bin";
    // The shell keeps the terminal open after rx ends, so that socat does not end with it before rx's
    // last ACK (the answer to EOT) went across.
    Child rx({ "sh", "-c",
                 "exec 3<>" + b + "; rx -vv " + received + " <&3 >&3; echo $? > " + received + ".rc; exec sleep 60" },
        s.dir + "/rx.log");
    std::string error;
    SerialOptions options;
    options.rtsCts = false;
    std::unique_ptr<SerialPort> port = SerialOpen(a, options, &error);
    ASSERT_TRUE(port) << error;
    // rx drops what came before it started and then asks with NAK: the transfer begins once it asked,
    // as a device's upload begins after its prompt.
    uint8_t first = 0;
    ASSERT_EQ(port->Read(&first, 1, 15000), 1) << ReadText(s.dir + "/rx.log");
    std::string file;
    for (int i = 0; i < 70000; ++i)
        file += static_cast<char>((i * 31 + i / 251) & 0xff);
    size_t offset = 0;
    XmodemSender sender([&](void* out, size_t n) {
        n = std::min(n, file.size() - offset);
        std::memcpy(out, file.data() + offset, n);
        offset += n;
        return n;
    });
    bool failed = false;
    EXPECT_EQ(XmodemSend(sender, *port, SystemClock(), nullptr, &failed), XmodemSender::State::Done)
        << ReadText(s.dir + "/rx.log") << sender.Blocks() << " blocks, tries " << sender.Tries();
    EXPECT_FALSE(failed);
    for (int i = 0; i < 250 && !fs::exists(received + ".rc"); ++i)
        usleep(20000);
    EXPECT_EQ(ReadText(received + ".rc"), "0\n");
    std::string got = ReadText(received);
    ASSERT_GE(got.size(), file.size()) << ReadText(s.dir + "/rx.log");
    EXPECT_EQ(got.substr(0, file.size()), file);
    EXPECT_LT(got.size() - file.size(), kXmBlock);
    EXPECT_EQ(got.substr(file.size()).find_first_not_of('\0'), std::string::npos);
}
