// The device worker's jobs against simulated devices: a fleet of morvaksim's library on loopback
// addresses and a non-privileged port, served by a thread of its own. The device operations' pauses
// (4 s before the restart check, 2-3 s after firmware and clock commands) are skipped by a clock
// whose sleeps only move time forward; waiting for datagrams still takes real time, and the devices
// restart within 300 ms.
#include "common/clock.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_pattern.h"
#include "config/frontend/commands.h"
#include "config/frontend/jobs.h"
#include "config/frontend/jobs_diff.h"
#include "config/store/cfg_store.h"
#include "device/devicelist.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/firmware.h"
#include "device/tftp.h"
#include "sim/search.h"
#include "sim/simfleet.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {
uint16_t TestPort()
{
    return static_cast<uint16_t>(21000 + getpid() % 20000);
}

// Real time plus every sleep, which returns at once. `onSleep` lets a test act at a chosen moment of
// a job, as a user who presses Cancel while the device restarts.
class SkipClock : public Clock {
public:
    uint32_t TickMs() override
    {
        return SystemClock().TickMs() + skipped_.load();
    }
    void SleepMs(uint32_t ms) override
    {
        skipped_ += ms;
        if (onSleep)
            onSleep();
    }
    std::function<void()> onSleep;

private:
    std::atomic<uint32_t> skipped_ { 0 };
};

struct Fleet {
    SimFleet fleet;
    SimSearchResponder responder;
    std::atomic<bool> stop { false };
    std::thread thread;
    std::string dir;

    // `search`: the fleet also answers search requests broadcast to 127.255.255.255 on its port.
    Fleet(const char* name, uint32_t address, uint32_t count, const std::string& password = {}, bool search = false,
        const std::string& firmware = "3.10.0012")
    {
        dir = (std::filesystem::temp_directory_path() / StrFormat("jobs_it_%d_%s", static_cast<int>(getpid()), name))
                  .string();
        std::filesystem::remove_all(dir);
        SimSettings s;
        s.dir = dir;
        s.port = TestPort();
        s.count = count;
        s.address = address;
        s.password = password;
        s.firmware = firmware;
        s.device.restartMs = 300;
        std::string error;
        started = fleet.Start(s, &error);
        if (started && search) {
            SimSearchOptions o;
            o.port = s.port;
            started = responder.Start(fleet, o, &error);
        }
        EXPECT_EQ(started, 1) << error;
        if (started)
            thread = std::thread([this] { fleet.Run(stop); });
    }
    ~Fleet()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        responder.Stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    int started = 0;
};

class Jobs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        NetStartup();
        StrSetLanguage(1033);
        const char* source = std::getenv("SUITE_SOURCE_DIR");
        std::string data = std::string(source ? source : ".") + "/data/";
        CfgStartIndex(data + "qorv????.dsc", data + "qorv????.wiz");
        CfgWaitIndex();
    }
    static void TearDownTestSuite()
    {
        CfgStopIndex();
    }
    void SetUp() override
    {
        TftpEnvironment env;
        env.clock = &clock;
        TftpSetEnvironment(env);
        context.window = &window;
        context.options.easy_config = 0;
    }
    void TearDown() override
    {
        TftpSetEnvironment(TftpEnvironment {});
    }

    // An entry for the device at `address`, with a short time-out.
    std::unique_ptr<DeviceEntry> Entry(uint32_t address, const std::string& password = {})
    {
        auto e = std::make_unique<DeviceEntry>();
        e->address = address;
        e->address_list[0] = address;
        e->port = TestPort();
        e->timeout_s = 1;
        e->password = password;
        return e;
    }
    DeviceJob Job(std::vector<std::unique_ptr<DeviceEntry>>& entries)
    {
        std::vector<DeviceEntry*> chain;
        for (auto& e : entries)
            chain.push_back(e.get());
        return DeviceJobBuild(chain);
    }
    int32_t RunJob(uint32_t message, DeviceJob& job, uint32_t argument = 0)
    {
        return RunDeviceJob(message, job, argument, nullptr, context);
    }

    struct Window : JobWindow {
        std::vector<std::string> changed;
        void EntryChanged(DeviceEntry& entry) override
        {
            changed.push_back(entry.name.str());
        }
    };
    SkipClock clock;
    Window window;
    JobContext context;
};

constexpr uint32_t kBase = 0x7f5a0000; // 127.90.0.0

TEST_F(Jobs, CheckWithStopFlagEndsAtTheFirstSilentDevice)
{
    Fleet fleet("stop", kBase + 1, 2);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 1));
    e.push_back(Entry(kBase + 9)); // nobody there
    e.push_back(Entry(kBase + 2));
    e[2]->status = DevStatusUnknown;
    DeviceJob job = Job(e);
    EXPECT_EQ(RunJob(JobCheck, job, CmdConfigure), static_cast<int32_t>(CmdConfigure));
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[0]->device_type.str(), "Morvak 1100");
    EXPECT_NE(e[1]->status.load(), DevStatusOk);
    EXPECT_EQ(e[2]->status.load(), DevStatusUnknown); // not reached: keeps its status

    // Without a stop flag every device is checked.
    EXPECT_EQ(RunJob(JobCheck, job, 0), 0);
    EXPECT_EQ(e[2]->status.load(), DevStatusOk);
}

TEST_F(Jobs, CheckAboveTheCommandRangeLeavesOkDevicesAlone)
{
    Fleet fleet("skipok", kBase + 17, 1);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 30)); // would not answer, but is "Ok" already
    e.push_back(Entry(kBase + 17));
    e[0]->status = DevStatusOk;
    e[0]->name = "kept";
    DeviceJob job = Job(e);
    EXPECT_EQ(RunJob(JobCheck, job, 0x10000u + CmdCheck), static_cast<int32_t>(CmdCheck));
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[0]->name.str(), "kept");
    EXPECT_EQ(e[1]->status.load(), DevStatusOk);
    EXPECT_EQ(e[1]->name.str(), "MORVAK-0001");

    // Check all and the start-up check (only the entries found locally).
    e[0]->status = DevStatusUnknown;
    e[1]->status = DevStatusUnknown;
    e[1]->local = 1;
    EXPECT_EQ(RunJob(JobStartupCheck, job), 0);
    EXPECT_EQ(e[0]->status.load(), DevStatusUnknown);
    EXPECT_EQ(e[1]->status.load(), DevStatusOk);
    EXPECT_EQ(RunJob(JobCheckAll, job), 0);
    EXPECT_NE(e[0]->status.load(), DevStatusUnknown);
}

// A dial-up entry dialled for the first time gets a phone-book entry named for it; the window hears
// that the list must keep the name (also when the dial itself then fails: the entry exists). Named
// entries are not reported again.
TEST_F(Jobs, FirstDialNamesThePhoneBookEntryForTheList)
{
    Fleet fleet("dialname", kBase + 40, 1);
    ASSERT_TRUE(fleet.started);
    DialupScript script(clock, { DialupScriptStep(), { DialupScriptStep::Fail, 100, 678 } });
    script.entries = { "Velquin Dial-Up Connection #1" };
    DialupSetEnvironment({ &script, &clock, [] { return 0x12345678u; }, {} });
    struct Restore {
        ~Restore()
        {
            DialupSetEnvironment({});
        }
    } restore;
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 40));
    e[0]->link = LinkDialUp;
    e[0]->phone_number = "0301234";
    e[0]->ras_idle_s = 0;
    DeviceJob job = Job(e);
    EXPECT_EQ(RunJob(JobCheck, job, 0), 0);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[0]->ras_entry.str(), "Velquin Dial-Up Connection #2");
    EXPECT_EQ(window.changed.size(), 1u);

    // Named already: nothing new to keep, whatever the dial's outcome.
    window.changed.clear();
    DialupHangUp();
    EXPECT_EQ(RunJob(JobCheck, job, 0), 0);
    EXPECT_EQ(e[0]->status.load(), DevStatusDialUpError);
    EXPECT_TRUE(window.changed.empty());

    // A failed first dial still names the entry it made.
    e[0]->ras_entry.clear();
    EXPECT_EQ(RunJob(JobCheck, job, 0), 0);
    EXPECT_EQ(e[0]->status.load(), DevStatusDialUpError);
    EXPECT_EQ(e[0]->ras_entry.str(), "Velquin Dial-Up Connection #3");
    EXPECT_EQ(window.changed.size(), 1u);
}

TEST_F(Jobs, ConfiguringThreeDevicesStopsAtTheSecondThatFails)
{
    Fleet fleet("three", kBase + 33, 3, "secret");
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 33, "secret"));
    e.push_back(Entry(kBase + 34, "wrong"));
    e.push_back(Entry(kBase + 35, "secret"));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    for (auto& entry : e)
        ASSERT_EQ(entry->status.load(), DevStatusOk);
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadFailed);
    ASSERT_TRUE(e[0]->config);
    EXPECT_EQ(JobConfigName(*e[0]->config), "MORVAK-0001");
    EXPECT_FALSE(e[1]->config); // freed after the failure
    EXPECT_EQ(e[1]->status.load(), DevStatusWrongPassword);
    EXPECT_FALSE(e[2]->config); // never read
    EXPECT_EQ(e[2]->status.load(), DevStatusOk);

    // With the right password the job goes on from where it stopped: the first keeps its description.
    CfgDescription* first = e[0]->config.get();
    e[1]->password = "secret";
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadOk);
    EXPECT_EQ(e[0]->config.get(), first);
    ASSERT_TRUE(e[1]->config && e[2]->config);
    EXPECT_EQ(JobConfigName(*e[2]->config), "MORVAK-0003"); // its own values, not the first one's
    EXPECT_NE(e[1]->config.get(), e[2]->config.get());

    EXPECT_EQ(RunJob(JobRelease, job), 0);
    for (auto& entry : e)
        EXPECT_FALSE(entry->config || entry->config_stream);
}

TEST_F(Jobs, DevicesThatCannotBeConfiguredTogetherOrLackADescription)
{
    Fleet fleet("together", kBase + 49, 1);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 49));
    e.push_back(Entry(kBase + 50));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    e[1]->status = DevStatusOk;
    e[1]->device_type = "Morvak 5000";
    e[1]->fw_version = "3.10.0012";
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadNotTogether);
    EXPECT_EQ(e[1]->status.load(), DevStatusOk);
    EXPECT_FALSE(e[1]->config);
    EXPECT_EQ(RunJob(JobRelease, job), 0);

    e[0]->fw_version = "0.01"; // no description for this version
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadNoDescription);
    EXPECT_EQ(JobResultMessage(JobReadConfig, JobReadNoDescription, job),
        "There is no configuration description available for a Morvak 1100 with firmware version 0.01.");
}

TEST_F(Jobs, ReadTakesTheVersionTheUserChoseForTheDevice)
{
    // A device whose firmware version has no description of its own ...
    Fleet fleet("override", kBase + 190, 1, {}, false, "3.05.0001");
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 190));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    ASSERT_EQ(std::string(e[0]->fw_version), "3.05.0001");
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadNoDescription);
    // ... is read with the description of the version the user chose for it in the settings
    // (OverrideVersion), and keeps reporting its own.
    CfgSetSettingsLookup([](std::string_view section, std::string_view key) -> std::optional<std::string> {
        if (section == "OverrideVersion" && key == "Morvak 1100 3.05")
            return std::string("3.22");
        return std::nullopt;
    });
    EXPECT_EQ(RunJob(JobReadConfig, job), JobReadOk);
    CfgSetSettingsLookup({});
    ASSERT_TRUE(e[0]->config);
    EXPECT_EQ(std::string(e[0]->fw_version), "3.05.0001");
    EXPECT_EQ(RunJob(JobRelease, job), 0);
}

TEST_F(Jobs, WriteTakesTheNewNameAndFindsTheDeviceAtItsNewAddress)
{
    Fleet fleet("write", kBase + 65, 1);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 65));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    ASSERT_EQ(RunJob(JobReadConfig, job), JobReadOk);
    std::string error;
    ASSERT_EQ(CfgAssign(*e[0]->config, "/sys/name=BRANCH-7", &error), 1) << error;
    ASSERT_EQ(CfgAssign(*e[0]->config, "/ip/address=" + NetAddressText(kBase + 66), &error), 1) << error;
    EXPECT_EQ(RunJob(JobWriteConfig, job), JobWriteOk);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[0]->address, kBase + 66);
    EXPECT_EQ(e[0]->name.str(), "BRANCH-7");
    EXPECT_EQ(window.changed, std::vector<std::string> { "BRANCH-7" });
    EXPECT_FALSE(e[0]->config); // freed: no wizard runs
    EXPECT_EQ(fleet.fleet.Device(0).name, "BRANCH-7");

    // While a wizard runs on the first entry, it keeps its configuration after the write.
    ASSERT_EQ(RunJob(JobReadForWizard, job), JobReadOk);
    e[0]->wizard_config = std::shared_ptr<WizScript>(
        reinterpret_cast<WizScript*>(new int(0)), [](WizScript* p) { delete reinterpret_cast<int*>(p); });
    EXPECT_EQ(RunJob(JobWriteConfig, job), JobWriteOk);
    EXPECT_TRUE(e[0]->config && e[0]->config_stream);
    EXPECT_EQ(RunJob(JobRelease, job), 0);
    EXPECT_FALSE(e[0]->wizard_config);
}

TEST_F(Jobs, CancelDuringTheWaitAfterAWriteEndsTheJob)
{
    Fleet fleet("cancel", kBase + 81, 2);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 81));
    e.push_back(Entry(kBase + 82));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    ASSERT_EQ(RunJob(JobReadConfig, job), JobReadOk);
    // The user presses Cancel once the first device restarts.
    clock.onSleep = [&] {
        if (e[0]->status.load() == DevStatusRestarting && !e[0]->cancel.load())
            e[0]->cancel = 1;
    };
    EXPECT_EQ(RunJob(JobWriteConfig, job), JobWriteNoRestart);
    clock.onSleep = nullptr;
    EXPECT_EQ(e[0]->status.load(), DevStatusCancelled);
    EXPECT_EQ(DevStatusText(e[0]->status.load()), "");
    EXPECT_EQ(e[1]->status.load(), DevStatusOk); // never written
    EXPECT_TRUE(e[1]->config);
}

TEST_F(Jobs, UploadStopsAtTheFirstDeviceThatFails)
{
    Fleet fleet("upload", kBase + 97, 3, "secret");
    ASSERT_TRUE(fleet.started);
    std::string firmware = fleet.dir + "/fw.upx";
    FirmwareHeader fw;
    fw.letter = 'F';
    fw.pattern = "Morvak_1100";
    fw.version = "3.30";
    fw.date = "01012024";
    std::string header = FirmwareBuildHeader(fw);
    std::ofstream(firmware, std::ios::binary) << header << std::string(4000 - header.size(), 'x');

    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 97, "secret"));
    e.push_back(Entry(kBase + 98, "wrong"));
    e.push_back(Entry(kBase + 99, "secret"));
    DeviceJob job = Job(e);
    e[0]->file_name = fleet.dir + "/missing.upx";
    EXPECT_EQ(RunJob(JobUploadFirmware, job), JobUploadNoFile);
    e[0]->file_name = firmware;
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    EXPECT_EQ(RunJob(JobUploadFirmware, job), JobUploadFailed);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(fleet.fleet.Device(0).images[static_cast<size_t>(fleet.fleet.Device(0).runningImage)].version, "3.30");
    EXPECT_EQ(e[1]->status.load(), DevStatusWrongPassword);
    EXPECT_EQ(e[2]->status.load(), DevStatusOk);
    EXPECT_EQ(e[2]->progress.load(), 0); // never started
    EXPECT_EQ(fleet.fleet.Device(2).images[static_cast<size_t>(fleet.fleet.Device(2).runningImage)].version,
        fleet.fleet.Device(1).images[static_cast<size_t>(fleet.fleet.Device(1).runningImage)].version);

    // One device alone: uploaded and back.
    std::vector<std::unique_ptr<DeviceEntry>> one;
    one.push_back(Entry(kBase + 99, "secret"));
    one[0]->file_name = firmware;
    DeviceJob single = Job(one);
    EXPECT_EQ(RunJob(JobUploadFirmware, single), JobUploadOk);
    EXPECT_EQ(one[0]->fw_version.str(), "3.30");
}

TEST_F(Jobs, UploadToThreeStopsWhenTheSecondDoesNotComeBack)
{
    Fleet fleet("noreturn", kBase + 180, 3);
    ASSERT_TRUE(fleet.started);
    fleet.fleet.Device(1).options.firmwareNoReturn = true;
    std::string firmware = fleet.dir + "/fw.upx";
    FirmwareHeader fw;
    fw.letter = 'F';
    fw.pattern = "Morvak_1100";
    fw.version = "3.30";
    fw.date = "01012024";
    std::ofstream(firmware, std::ios::binary) << FirmwareBuildHeader(fw) << std::string(3000, 'x');
    std::vector<std::unique_ptr<DeviceEntry>> e;
    for (uint32_t i = 0; i < 3; ++i) {
        e.push_back(Entry(kBase + 180 + i));
        e.back()->timeout_s = 1; // the wait for the lost device: 1 s plus the restart's 10
    }
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    e[0]->file_name = firmware;
    EXPECT_EQ(RunJob(JobUploadFirmware, job), JobUploadNoRestart);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[0]->fw_version.str(), "3.30");
    EXPECT_EQ(e[1]->status.load(), DevStatusNoResponse);
    EXPECT_EQ(e[2]->fw_version.str(), "3.10.0012"); // never uploaded to
    EXPECT_EQ(
        fleet.fleet.Device(2).images[static_cast<size_t>(fleet.fleet.Device(2).runningImage)].version, "3.10.0012");
    EXPECT_EQ(JobResultMessage(JobUploadFirmware, JobUploadNoRestart, job),
        "Couldn't reach the device after uploading the new firmware.");
}

TEST_F(Jobs, SaveRestoreClockAndImages)
{
    Fleet fleet("files", kBase + 113, 1);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 113));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);

    e[0]->file_name = fleet.dir + "/no/such/dir/x.lcf";
    EXPECT_EQ(RunJob(JobSaveToFile, job), JobSaveFileFailed);
    std::string saved = fleet.dir + "/saved.lcf";
    e[0]->file_name = saved;
    ASSERT_EQ(RunJob(JobSaveToFile, job), JobSaveOk);
    CfgFileHeader header;
    ASSERT_TRUE(CfgReadFileHeader(saved, &header));
    EXPECT_EQ(header.deviceType, "Morvak 1100");

    // Change the device, then restore the saved file: the old name comes back.
    fleet.fleet.Device(0).config
        = SimInitialConfig("Morvak 1100", "CHANGED", fleet.fleet.Device(0).serial, kBase + 113);
    e[0]->file_name = fleet.dir + "/missing.lcf";
    EXPECT_EQ(RunJob(JobRestoreFromFile, job), JobRestoreNoFile);
    e[0]->file_name = saved;
    EXPECT_EQ(RunJob(JobRestoreFromFile, job), JobRestoreOk);
    EXPECT_EQ(fleet.fleet.Device(0).name, "MORVAK-0001");
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);

    e[0]->cSysTime = "120000010120300"; // cut to 15 characters: not a moment the device takes
    EXPECT_EQ(RunJob(JobSetTime, job), JobTimeFailed);
    e[0]->cSysTime = "12000001012030";
    EXPECT_EQ(RunJob(JobSetTime, job), JobTimeOk);
    EXPECT_EQ(e[0]->cSysTime.str().substr(6), "01012030"); // the device's clock, read back by the check

    e[0]->image_number = 7;
    EXPECT_EQ(RunJob(JobActivateImage, job), JobActivateFailed);
    e[0]->image_number = 0;
    EXPECT_EQ(RunJob(JobActivateImage, job), JobActivateOk);
}

// The save job's comment line: the entry's name by default, else the one the user gave (also an
// empty one); secret values scrambled unless the program runs with "nocrypt".
TEST_F(Jobs, SaveWritesTheGivenCommentAndHonoursNoCrypt)
{
    Fleet fleet("comment", kBase + 117, 1, "Geheim7");
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 117, "Geheim7"));
    DeviceJob job = Job(e);
    ASSERT_EQ(RunJob(JobCheck, job, 0), 0);
    auto save = [&](const std::string& file) {
        e[0]->file_name = fleet.dir + "/" + file;
        EXPECT_EQ(RunJob(JobSaveToFile, job), JobSaveOk);
        CfgFileHeader header;
        EXPECT_TRUE(CfgReadFileHeader(e[0]->file_name, &header));
        std::ifstream in(e[0]->file_name, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return std::make_pair(header.comment, text);
    };

    auto [comment, text] = save("default.lcf");
    EXPECT_EQ(comment, "MORVAK-0001");
    EXPECT_EQ(text.find("Geheim7"), std::string::npos) << "the password is scrambled";
    EXPECT_NE(text.find("/sys/password == "), std::string::npos);

    e[0]->file_comment = "Configuration of 'MORVAK-0001' before the move";
    std::tie(comment, text) = save("typed.lcf");
    EXPECT_EQ(comment, "Configuration of 'MORVAK-0001' before the move");
    e[0]->file_comment = "";
    EXPECT_EQ(save("empty.lcf").first, "");

    context.options.no_crypt = true;
    std::tie(comment, text) = save("plain.lcf");
    EXPECT_NE(text.find("/sys/password = Geheim7\r\n"), std::string::npos) << text.substr(0, 400);
}

// The whole path of a command through the worker thread: check first, then the command's own job.
TEST_F(Jobs, ConfigureCommandChecksFirstThroughTheWorker)
{
    Fleet fleet("command", kBase + 129, 2);
    ASSERT_TRUE(fleet.started);
    struct Ui : CommandUi {
        std::vector<std::string> errors;
        std::vector<std::pair<uint32_t, int32_t>> finished;
        int Ask(const std::string&, const char*, bool*) override
        {
            return 1;
        }
        void Error(const std::string& text) override
        {
            errors.push_back(text);
        }
        void Finished(uint32_t message, int32_t result, DeviceJob&) override
        {
            finished.emplace_back(message, result);
        }
    } ui;
    std::string ini = fleet.dir + "/q.ini";
    DeviceCommands commands(ui, ini);
    JobOptions options;
    options.easy_config = 1;
    ASSERT_EQ(StartDeviceWorker(window, options), 1);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 129));
    e.push_back(Entry(kBase + 130));
    std::vector<DeviceEntry*> selected { e[0].get(), e[1].get() };
    ASSERT_EQ(commands.Issue(CmdConfigure, selected), 1);
    EXPECT_EQ(commands.Issue(CmdCheck, selected), 0); // a job runs
    std::vector<uint32_t> seen;
    JobNotice notice;
    while (ui.finished.empty() && window.notices.Wait(&notice, 20000)) {
        seen.push_back(notice.message);
        commands.OnJobNotice(notice);
    }
    EXPECT_EQ(seen, (std::vector<uint32_t> { JobCheck, JobReadConfig }));
    ASSERT_EQ(ui.finished.size(), 1u);
    EXPECT_EQ(ui.finished[0], (std::pair<uint32_t, int32_t>(JobReadConfig, JobReadOk)));
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(e[0]->config && e[1]->config);

    // A device that does not answer ends the command with the message for several devices.
    ui.finished.clear();
    e[1]->address = kBase + 140;
    e[1]->status = DevStatusUnknown;
    ASSERT_EQ(commands.Issue(CmdSetTime, selected), 1);
    while (ui.finished.empty() && window.notices.Wait(&notice, 20000))
        commands.OnJobNotice(notice);
    EXPECT_EQ(
        ui.errors, std::vector<std::string> { "Couldn't get system information from one of the selected devices." });
    EXPECT_EQ(StopDeviceWorker(nullptr), 1);
}
// The start-up check with a search record: only the devices marked local are checked, then the
// search (here the start-up search of a remote network, the loopback network's directed broadcast)
// finds the fleet.
TEST_F(Jobs, StartupCheckChecksLocalDevicesThenSearches)
{
    Fleet fleet("startup", kBase + 150, 3, {}, true);
    ASSERT_TRUE(fleet.started);
    std::vector<std::unique_ptr<DeviceEntry>> e;
    e.push_back(Entry(kBase + 150));
    e.push_back(Entry(kBase + 151));
    e.push_back(Entry(kBase + 160)); // nobody there
    e[0]->local = 1;
    e[2]->local = 1;
    e[1]->status = DevStatusUnknown;
    DeviceJob job = Job(e);

    // Without a search record only the check runs, and the job has no result.
    EXPECT_EQ(RunJob(JobStartupCheck, job), 0);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[1]->status.load(), DevStatusUnknown);
    EXPECT_EQ(e[2]->status.load(), DevStatusNoResponse);

    JobSearchRecord search;
    search.request.what = SearchStartup;
    search.settings.startup_lan = 0;
    search.settings.startup_wan = 1;
    search.settings.startup_wan_list = { { 0x7f000000u, 0xff000000u } };
    search.settings.timeout_wan_s = 1;
    search.env.port = TestPort();
    e[0]->status = DevStatusUnknown;
    EXPECT_EQ(RunDeviceJob(JobStartupCheck, job, 0, &search, context), JobSearchDone);
    EXPECT_EQ(e[0]->status.load(), DevStatusOk);
    EXPECT_EQ(e[1]->status.load(), DevStatusUnknown);
    std::vector<uint32_t> found;
    for (const DeviceEntry& r : search.results) {
        found.push_back(r.address);
        EXPECT_EQ(r.local, 0); // a remote network's devices
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<uint32_t> { kBase + 150, kBase + 151, kBase + 152 }));
    EXPECT_EQ(search.request.found.load(), 3);
    EXPECT_EQ(search.request.phase.load(), SearchPhaseDone);
}

// The search job on the worker: its result comes back as the job's message, and a cancel ends a
// long search at once (a second cancel reports that one is requested already).
TEST_F(Jobs, SearchJobOnTheWorkerFindsTheFleetAndCanBeCancelled)
{
    Fleet fleet("search", kBase + 170, 4, {}, true);
    ASSERT_TRUE(fleet.started);
    ASSERT_EQ(StartDeviceWorker(window, JobOptions {}), 1);
    auto record = [](int32_t seconds) {
        auto r = std::make_unique<JobSearchRecord>();
        r->request.what = SearchRemoteNet;
        r->request.remote_address = 0x7f000000u;
        r->request.remote_netmask = 0xff000000u;
        r->settings.timeout_wan_s = seconds;
        r->env.port = TestPort();
        return r;
    };
    auto waitFor = [&](uint32_t message, int32_t* result) {
        JobNotice notice;
        while (window.notices.Wait(&notice, 20000))
            if (notice.message == message) {
                *result = notice.result;
                return true;
            }
        return false;
    };
    DeviceJob none;
    std::unique_ptr<JobSearchRecord> quick = record(1);
    ASSERT_EQ(PostDeviceSearch(JobSearch, &none, quick.get()), 1);
    int32_t result = 0;
    ASSERT_TRUE(waitFor(JobSearch, &result));
    EXPECT_EQ(result, JobSearchDone);
    EXPECT_EQ(quick->results.size(), 4u);

    std::unique_ptr<JobSearchRecord> slow = record(60);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(PostDeviceSearch(JobSearch, &none, slow.get()), 1);
    while (slow->request.found.load() < 4 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(slow->request.phase.load(), SearchPhaseRemote);
    EXPECT_EQ(CancelDeviceJob(), 1);
    EXPECT_EQ(CancelDeviceJob(), 0);
    ASSERT_TRUE(waitFor(JobSearch, &result));
    EXPECT_EQ(result, JobSearchDone);
    EXPECT_EQ(slow->results.size(), 4u);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(15));
    EXPECT_EQ(CancelDeviceJob(), 1); // nothing runs
    EXPECT_EQ(StopDeviceWorker(nullptr), 1);
}
} // namespace
