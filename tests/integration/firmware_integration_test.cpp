// Firmware uploads against the real programs: qorvexal-cli and morvaksim over loopback TFTP and over
// the simulator's console on a pseudo-terminal, and our XMODEM sender against lrzsz's rx (checksum
// mode) on a socat pseudo-terminal pair.
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/platform/serial.h"
#include "common/text.h"
#include "device/firmware.h"
#include "device/tftp.h"
#include "device/xmodem.h"
#include "tests/integration/child_process.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

using testing_child::Bin;
using testing_child::Child;
using testing_child::FreePort;

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
    std::unique_ptr<testing_child::Morvaksim> child;

    // `name`: the log and state of this simulator in the scratch directory; `at`: a port shared with
    // another simulator (0: a free one).
    Sim(const Scratch& s, uint32_t at, std::vector<std::string> extra, uint16_t shared = 0,
        const std::string& name = "sim")
        : address(at)
    {
        if (shared)
            port = shared;
        log = s.dir + "/" + name + ".log";
        std::vector<std::string> args
            = { "--dir", s.dir + "/" + name, "--port", std::to_string(port), "--restart-ms", "500", "--verbose" };
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(NetAddressText(at));
        child = std::make_unique<testing_child::Morvaksim>(args, log);
    }
    // Every device, and the console when one was asked for, listens.
    bool Ready()
    {
        return child->Ready();
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
    EXPECT_NE(out.find("0\nnot for this device\n"), std::string::npos) << out;
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
    ASSERT_TRUE(sim.Ready()) << ReadText(sim.log);
    std::string mine = MakeUpx(s, "new.upx", "--size 30000 'Morvak_1100[_Plus;]' 9.90 31122099");
    std::string out;
    EXPECT_EQ(Cli(s, "upload -p pw " + mine + " serial:" + link, &out), 0) << out;
    EXPECT_NE(out.find("Ok, firmware 9.90"), std::string::npos) << out;
    // Every block stored once and intact; a block sent again because its answer came late on a busy
    // machine (a duplicate the receiver drops) is the protocol's own recovery.
    EXPECT_NE(ReadText(sim.log).find(link + ": xmodem 235 blocks stored, 0 checksum errors, "), std::string::npos)
        << ReadText(sim.log);

    Scratch b;
    std::string bootLink = b.dir + "/tty";
    Sim boot(b, 0x7f004a31, { "--serial", bootLink, "--boot-loader" });
    ASSERT_TRUE(boot.Ready()) << ReadText(boot.log);
    std::string file = MakeUpx(b, "new.upx", "--size 5000 Morvak_1100 9.90 31122099");
    // The console is silent: without --force nothing is sent.
    EXPECT_EQ(Cli(b, "upload " + file + " serial:" + bootLink, &out), 1) << out;
    EXPECT_NE(out.find("force this upload"), std::string::npos) << out;
    EXPECT_EQ(ReadText(boot.log).find("xmodem"), std::string::npos);
    EXPECT_EQ(Cli(b, "upload --force " + file + " serial:" + bootLink, &out), 0) << out;
    EXPECT_NE(out.find("Ok, firmware 9.90"), std::string::npos) << out;
    EXPECT_NE(ReadText(boot.log).find("xmodem 40 blocks stored"), std::string::npos) << ReadText(boot.log);
}

TEST(FirmwareUpload, UpdatePackageOverALoopbackFleet)
{
    // An old Morvak 1100 with a password (a chain of two files), a Morvak 2400 that no section names and a
    // device whose new firmware fails to start, each on a port of its own (two simulators bound to one
    // port would not both hear the search's broadcast).
    Scratch s;
    Sim old(s, 0x7f004b11, { "--search", "--password", "secret" }, 0, "old");
    Sim other(s, 0x7f004b12, { "--search", "--type", "Morvak 2400" }, 0, "other");
    Sim broken(s, 0x7f004b13, { "--search", "--fw-fails-to-start" }, 0, "broken");
    ASSERT_TRUE(old.Ready() && other.Ready() && broken.Ready()) << ReadText(old.log);
    ASSERT_TRUE(fs::create_directories(s.dir + "/pkg"));
    MakeUpx(s, "pkg/m321.upx", "Morvak_1100 3.21 01012023");
    MakeUpx(s, "pkg/m35.upx", "Morvak_1100 3.50 01012025");
    std::string ini = s.dir + "/pkg/update.ini";
    ASSERT_TRUE(FileWriteAtomic(ini, "[Morvak_1100[_Plus;]]\r\nUpxFile=m35.upx, 3.20\r\nUpx.3.20=m321.upx\r\n"));
    std::string search = " --no-local --net 127.0.0.0/8 -t 2 --port ";
    std::string out;
    EXPECT_EQ(Cli(s, "update --yes --password secret" + search + std::to_string(old.port) + " " + ini, &out), 0) << out;
    std::string oldAt = old.Device() + ": ";
    for (const char* step : { "file: m321.upx (first of a chain)", "upload: Wrong password, trying again",
             "restart: Ok, firmware 3.21", "file: m35.upx", "result: Ok, firmware 3.50" })
        EXPECT_NE(out.find(oldAt + step), std::string::npos) << step << "\n" << out;
    EXPECT_NE(out.find("1 updated, 0 left alone, 0 failed"), std::string::npos) << out;
    EXPECT_NE(old.SysInfo().find("VERSION: 3.50 / 01.01.2025"), std::string::npos);
    EXPECT_EQ(Cli(s, "update" + search + std::to_string(other.port) + " " + ini, &out), 0) << out;
    EXPECT_NE(out.find(other.Device() + ": result: no section for Morvak 2400, left alone"), std::string::npos) << out;
    EXPECT_NE(out.find("0 updated, 1 left alone, 0 failed"), std::string::npos) << out;

    // Without the password the device ends with "Wrong password"; the new firmware that does not start
    // leaves the version unchanged, which ends the chain instead of uploading again.
    EXPECT_EQ(Cli(s, "update" + search + std::to_string(broken.port) + " " + ini, &out), 1) << out;
    EXPECT_NE(
        out.find(broken.Device() + ": result: the device still reports firmware 3.10.0012 after m321.upx, stopped"),
        std::string::npos)
        << out;
    EXPECT_EQ(Cli(s, "update --files " + s.dir + "/pkg/m35.upx" + search + std::to_string(old.port) + " " + ini, &out),
        2); // a description and a list together
    EXPECT_EQ(Cli(s, "update" + search + std::to_string(old.port) + " " + s.dir + "/missing.ini", &out), 1);
    EXPECT_NE(out.find("missing.ini: cannot be read"), std::string::npos) << out;
}

namespace {
// The port to rx: rx takes the last block and the EOT, writes its ACK and ends, and now and then that
// ACK never comes out of the pseudo-terminal pair (rx drops its pending output as it leaves). Once rx
// has ended, reads fail, so that the sender does not wait out its ten EOTs for an answer rx can no
// longer give; the test then holds rx's own verdict against the blocks the sender saw acknowledged.
class RxPort : public SerialPort {
public:
    RxPort(std::unique_ptr<SerialPort> port, std::string rcFile)
        : port_(std::move(port))
        , rcFile_(std::move(rcFile))
    {
    }
    int SetBaud(uint32_t baud) override
    {
        return port_->SetBaud(baud);
    }
    int Write(const void* data, size_t size) override
    {
        return port_->Write(data, size);
    }
    int Read(void* data, size_t size, uint32_t timeoutMs) override
    {
        for (uint32_t waited = 0;; waited += 100) {
            int n = port_->Read(data, size, std::min<uint32_t>(100, timeoutMs - std::min(waited, timeoutMs)));
            if (n != 0 || waited >= timeoutMs)
                return n;
            if (fs::exists(rcFile_))
                return -1;
        }
    }
    void SendBreak(uint32_t ms) override
    {
        port_->SendBreak(ms);
    }
    void Discard() override
    {
        port_->Discard();
    }

private:
    std::unique_ptr<SerialPort> port_;
    std::string rcFile_;
};
} // namespace

TEST(FirmwareUpload, OurSenderAgainstLrzszRx)
{
    if (!fs::exists("/usr/bin/rx") || !fs::exists("/usr/bin/socat"))
        GTEST_SKIP() << "lrzsz or socat is not installed";
    Scratch s;
    std::string a = s.dir + "/a", b = s.dir + "/b";
    // socat says when both ends are there and it passes data.
    Child socat({ "socat", "-d", "-d", "pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b }, s.dir + "/socat.log");
    ASSERT_TRUE(socat.WaitFor("starting data transfer loop", 60000)) << socat.All();
    ASSERT_TRUE(fs::is_symlink(a) && fs::is_symlink(b));
    std::string received = s.dir + "/received.bin";
    // The shell keeps the terminal open after rx ends, so that socat does not end with it before rx's
    // last ACK (the answer to EOT) went across.
    Child rx({ "sh", "-c",
                 "exec 3<>" + b + "; rx -vv " + received + " <&3 >&3 2>/dev/null; echo $? > " + received
                     + ".rc; echo rx ended; exec sleep 60" },
        s.dir + "/rx.log");
    std::string error;
    SerialOptions options;
    options.rtsCts = false;
    std::unique_ptr<SerialPort> opened = SerialOpen(a, options, &error);
    ASSERT_TRUE(opened) << error;
    std::unique_ptr<SerialPort> port = std::make_unique<RxPort>(std::move(opened), received + ".rc");
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
    XmodemSender::State state = XmodemSend(sender, *port, SystemClock(), nullptr, &failed);
    EXPECT_TRUE(rx.WaitFor("rx ended", 60000)) << rx.All();
    EXPECT_EQ(ReadText(received + ".rc"), "0\n") << ReadText(s.dir + "/rx.log");
    // Every block acknowledged; the transfer done, or rx gone after the EOT (its ACK lost on the pair).
    EXPECT_EQ(sender.Blocks(), (file.size() + kXmBlock - 1) / kXmBlock);
    EXPECT_TRUE(state == XmodemSender::State::Done || (failed && sender.Acknowledged() == file.size()))
        << static_cast<int>(state) << " tries " << sender.Tries() << "\n"
        << ReadText(s.dir + "/rx.log");
    std::string got = ReadText(received);
    ASSERT_GE(got.size(), file.size()) << ReadText(s.dir + "/rx.log");
    EXPECT_EQ(got.substr(0, file.size()), file);
    EXPECT_LT(got.size() - file.size(), kXmBlock);
    EXPECT_EQ(got.substr(file.size()).find_first_not_of('\0'), std::string::npos);
}
