// The worker's queue and lifecycle, the command rules and result messages, firmware kinds, and the
// configuration diff and assignments. The jobs against simulated devices are in
// tests/integration/jobs_integration_test.cpp.
#include "common/ini.h"
#include "common/strings.h"
#include "common/tempstream.h"
#include "config/frontend/commands.h"
#include "config/frontend/jobs.h"
#include "config/frontend/jobs_diff.h"
#include "config/store/cfg_store.h"
#include "device/devicelist.h"
#include "device/devstatus.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {
std::string TempPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / (std::string("jobs_test_") + name)).string();
}

// A description with a name, a secret, an address, a choice and a table with a key column.
CfgDescriptionPtr MakeDescription()
{
    auto desc = std::make_unique<CfgDescription>();
    CfgSection* s = desc->AddSection("system", std::string("System"));
    auto add = [&](uint32_t kind, const char* name) {
        CfgItem* item = CfgAddItem(s, kind);
        item->name = name;
        return item;
    };
    add(CfgKindEntryText, "/sys/name")->SetNumber(CfgAttrMaxLen, 31);
    add(CfgKindEntryText, "/sys/password")->SetNumber(CfgAttrHidden, 1);
    add(CfgKindEntryIpAddress, "/ip/address");
    CfgItem* choice = add(CfgKindSelectionList, "/time/dst");
    choice->SetList(CfgAttrItemValue, CfgArgList::FromTexts({ "0", "1", "2" }));
    CfgItem* table = add(CfgKindTable, "/ip/routes");
    for (const char* column : { "net", "mask", "router" }) {
        CfgItem* c = CfgAddColumn(table, CfgKindEntryIpAddress);
        c->name = column;
    }
    table->SetNumber(CfgAttrMaxItems, 8);
    CfgIndexNames(*desc);
    return desc;
}

TEST(JobsDiff, PlainItemsTablesAndSecrets)
{
    CfgDescriptionPtr a = MakeDescription();
    CfgDescriptionPtr b = MakeDescription();
    std::string error;
    struct Row {
        const char* assignment;
        bool both; // given to both: no difference
    } rows[] = {
        { "/sys/name=alpha", true },
        { "/ip/address=127.0.0.5", true },
        { "/ip/routes[10.0.0.0].mask=255.0.0.0", true },
        { "/ip/routes[10.1.0.0].mask=255.255.0.0", false },
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(CfgAssign(*a, row.assignment, &error)) << error;
        if (row.both) {
            ASSERT_TRUE(CfgAssign(*b, row.assignment, &error)) << error;
        }
    }
    ASSERT_TRUE(CfgAssign(*b, "/sys/name=beta", &error));
    ASSERT_TRUE(CfgAssign(*b, "/sys/password=s3cret", &error));
    ASSERT_TRUE(CfgAssign(*b, "/ip/routes[10.0.0.0].router=10.0.0.1", &error));
    ASSERT_TRUE(CfgAssign(*b, "/ip/routes[10.2.0.0].mask=255.255.0.0", &error));

    std::string text = CfgDiffText(CfgDiff(*a, *b));
    EXPECT_EQ(text,
        "/sys/name: \"alpha\" -> \"beta\"\n"
        "/sys/password: (secret value changed)\n"
        "/ip/routes[10.0.0.0].router: \"\" -> \"10.0.0.1\"\n"
        "/ip/routes[10.1.0.0]: removed (mask=255.255.0.0, router=)\n"
        "/ip/routes[10.2.0.0]: added (mask=255.255.0.0, router=)\n");
    EXPECT_TRUE(CfgDiff(*a, *a).empty());
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
}

TEST(JobsDiff, AssignmentsThatAreRefused)
{
    CfgDescriptionPtr d = MakeDescription();
    const char* refused[] = {
        "/sys/name", // no value
        "=x", // no name
        "/no/such=1",
        "/ip/routes=1", // a table needs a cell
        "/ip/routes[1]=1", // no column
        "/ip/routes[1].nosuch=1", "/ip/address=300.1.2.3",
        "/time/dst=7", // not one of the choices
        "/sys/name=0123456789012345678901234567890123", // longer than 31
    };
    for (const char* assignment : refused) {
        std::string error;
        EXPECT_EQ(CfgAssign(*d, assignment, &error), 0) << assignment;
        EXPECT_FALSE(error.empty()) << assignment;
    }
    EXPECT_FALSE(CfgIsModified(*d));
    std::string error;
    EXPECT_EQ(CfgAssign(*d, "/time/dst=2", &error), 1);
    EXPECT_TRUE(CfgIsModified(*d));
    EXPECT_EQ(CfgAssign(*d, "/sys/name=a=b", &error), 1); // the value may hold "="
    EXPECT_EQ(*CfgFindItem(*d, "/sys/name")->value, "a=b");
}

TEST(JobsCommands, JobsOfCommandsAndTheirConfirmations)
{
    struct Row {
        uint32_t command;
        uint32_t job;
        const char* key;
    } rows[] = {
        { CmdConfigure, JobReadConfig, nullptr },
        { CmdCheck, JobCheck, nullptr },
        { CmdNewDevice, JobCheck, nullptr },
        { CmdCheckAll, JobCheckAll, nullptr },
        { CmdPrint, JobReadForPrint, nullptr },
        { CmdSaveConfig, JobSaveToFile, nullptr },
        { CmdRestoreConfig, JobRestoreFromFile, "DontAskForUploadConfig" },
        { CmdUploadFirmware, JobUploadFirmware, "DontAskForUploadFirmware" },
        { CmdUploadFirmwareMany, JobUploadFirmware, "DontAskForUploadFirmware" },
        { CmdActivateTestImage, JobActivateImage, "DontAskForActivateFirmware" },
        { CmdActivateLast, JobActivateImage, "DontAskForActivateFirmware" },
        { CmdSetupWizard, JobReadForWizard, nullptr },
        { CmdSetTime, JobSetTime, nullptr },
        { CmdMonitor, 0, nullptr },
        { CmdActivateLast + 1, 0, nullptr },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CommandJob(row.command), row.job) << row.command;
        EXPECT_STREQ(CommandConfirmKey(row.command) ? CommandConfirmKey(row.command) : "", row.key ? row.key : "")
            << row.command;
    }
}

TEST(JobsCommands, ResultMessages)
{
    StrSetLanguage(1033);
    DeviceEntry entry;
    entry.device_type = "Morvak 1100";
    entry.fw_version = "3.10.0012";
    DeviceJob job { 1, &entry };
    struct Row {
        uint32_t message;
        int32_t result;
        const char* text; // "" for success
    } rows[] = {
        { JobReadConfig, 1,
            "There is no configuration description available for a Morvak 1100 with firmware version 3.10.0012." },
        { JobReadConfig, 2,
            "The selected devices cannot be configured together.\r\rPlease select devices of the same type with "
            "identical firmware versions." },
        { JobReadForPrint, 3, "Couldn't get configuration data from this device." },
        { JobReadConfig, 4, "" },
        { JobWriteConfig, 1, "Couldn't write configuration data to this device." },
        { JobWriteConfig, 2, "Couldn't reach the device after writing the new configuration." },
        { JobWriteConfig, 3, "" },
        { JobSaveToFile, 1, "Couldn't get configuration data from this device." },
        { JobSaveToFile, 2, "Can't create file." },
        { JobRestoreFromFile, 1, "Can't open file." },
        { JobRestoreFromFile, 2, "Couldn't write configuration data to this device." },
        { JobRestoreFromFile, 3, "Couldn't reach the device after writing the new configuration." },
        { JobRestoreFromFile, 4, "" },
        { JobUploadFirmware, 1, "Can't open file." },
        { JobUploadFirmware, 2, "Couldn't upload new firmware to this device." },
        { JobUploadFirmware, 3,
            "The firmware upload couldn't complete successfully, so the device may now be inoperable.\r\rPlease refer "
            "to the 'Firmware Upload' in the online help for further information." },
        { JobUploadFirmware, 4, "Couldn't reach the device after uploading the new firmware." },
        { JobUploadFirmware, 5, "" },
        { JobActivateImage, 1, "Couldn't activate the selected firmware image." },
        { JobActivateImage, 2, "Couldn't reach the device after activating the selected firmware image." },
        { JobSetTime, 1, "Couldn't set date and time for this device." },
        { JobSetTime, 2, "" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(JobResultMessage(row.message, row.result, job), row.text) << row.message << " " << row.result;
    // A restore from a file that reads but has no configuration header says so, naming the file.
    std::string text = TempPath("not-a-config.txt");
    {
        std::ofstream out(text);
        out << "just some text\n";
    }
    entry.file_name = text;
    EXPECT_EQ(JobResultMessage(JobRestoreFromFile, 1, job), text + " is not a configuration file.");
    EXPECT_EQ(CfgFileOpenFailure(text), text + " is not a configuration file.");
    std::filesystem::remove(text);
    EXPECT_EQ(JobResultMessage(JobRestoreFromFile, 1, job), "Can't open file.");
    EXPECT_EQ(CfgFileOpenFailure(""), "Can't open file.");
    // A device that keeps several images still has a working one after a broken upload.
    entry.flags = DevFlagFirmwareImages;
    entry.status = DevStatusNoResponse;
    EXPECT_EQ(JobResultMessage(JobUploadFirmware, 3, job), "Couldn't upload new firmware to this device.");
}

TEST(JobsCommands, ShellCommands)
{
    StrSetLanguage(1033);
    DeviceEntry a, b, serial;
    a.address = 0x7f000001;
    a.password = "pw";
    b.address = 0x7f000002;
    b.port = 6969;
    serial.link = LinkSerial;
    ShellCommand monitor = MonitorCommand({ &a, &serial, &b });
    EXPECT_EQ(monitor.program, "talvine.exe");
    EXPECT_EQ(monitor.arguments, "/add:127.0.0.1:pw /add:127.0.0.2:6969: ");
    // A password with a blank keeps the option one word.
    a.password = "my pw";
    EXPECT_EQ(MonitorCommand({ &a }).arguments, "\"/add:127.0.0.1:my pw\" ");
    EXPECT_EQ(BrowserCommand(a).program, "http://127.0.0.1/");
    std::string ini = TempPath("telnet.ini");
    std::remove(ini.c_str());
    EXPECT_EQ(TelnetCommand(a, ini).program, "telnet.exe");
    IniWriteString(ini, "Options", "TelnetClient", "putty.exe");
    EXPECT_EQ(TelnetCommand(a, ini).program, "putty.exe");
    EXPECT_EQ(TelnetCommand(a, ini).arguments, "127.0.0.1");
    std::remove(ini.c_str());
}

// A front end whose questions are answered from a script.
struct ScriptUi : CommandUi {
    int answer = 1;
    bool tick = false;
    int asked = 0;
    std::vector<std::string> errors;
    std::vector<std::pair<uint32_t, int32_t>> finished;
    int Ask(const std::string&, const char*, bool* dontAskAgain) override
    {
        ++asked;
        if (dontAskAgain)
            *dontAskAgain = tick;
        return answer;
    }
    void Error(const std::string& text) override
    {
        errors.push_back(text);
    }
    void Finished(uint32_t message, int32_t result, DeviceJob&) override
    {
        finished.emplace_back(message, result);
    }
};

TEST(JobsCommands, ConfirmationKeysAreKept)
{
    std::string ini = TempPath("confirm.ini");
    std::remove(ini.c_str());
    ScriptUi ui;
    DeviceCommands commands(ui, ini);
    ui.answer = 0;
    EXPECT_EQ(commands.Confirm("?", "DontAskForUploadConfig"), 0);
    ui.answer = 1;
    ui.tick = true;
    EXPECT_EQ(commands.Confirm("?", "DontAskForUploadConfig"), 1);
    EXPECT_EQ(IniGetInt(ini, "Options", "DontAskForUploadConfig", 0), 1);
    ui.answer = 0;
    EXPECT_EQ(commands.Confirm("?", "DontAskForUploadConfig"), 1); // not asked again
    EXPECT_EQ(ui.asked, 2);
    std::remove(ini.c_str());
}

TEST(JobsCommands, CheckCommandThatSucceededEndsQuietly)
{
    std::string ini = TempPath("checkok.ini");
    ScriptUi ui;
    DeviceCommands commands(ui, ini);
    DeviceEntry e;
    e.status = DevStatusOk;
    // No worker runs: the job is formed, nothing is posted.
    EXPECT_EQ(commands.Issue(CmdNewDevice, { &e }), 0);
    // The check's result comes back with every device "Ok": the command ends without a message.
    commands.OnJobNotice(JobNotice { JobCheck, static_cast<int32_t>(CmdNewDevice), &commands.Job() });
    EXPECT_TRUE(ui.errors.empty());
    ASSERT_EQ(ui.finished.size(), 1u);
    EXPECT_EQ(ui.finished[0].first, static_cast<uint32_t>(JobCheck));
    // A device that did not answer is reported.
    e.status = DevStatusNoResponse;
    commands.OnJobNotice(JobNotice { JobCheck, static_cast<int32_t>(CmdCheck), &commands.Job() });
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0], "Couldn't get system information from this device.");
}

// The worker records what it was told; jobs that need no device run on it for real.
struct RecordingWindow : JobWindow {
    std::mutex mutex;
    std::vector<int> busy;
    std::vector<uint32_t> done;
    std::thread::id startedOn;
    void OnWorkerStart() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        startedOn = std::this_thread::get_id();
    }
    void OnBusy(int b) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        busy.push_back(b);
    }
    void JobDone(uint32_t message, int32_t, DeviceJob*) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        done.push_back(message);
        notices.Post(JobNotice { JobMsgBusy, static_cast<int32_t>(message), nullptr });
    }
};

TEST(JobsWorker, LifecycleBusyAndRelease)
{
    RecordingWindow window;
    EXPECT_EQ(StopDeviceWorker(nullptr), 1); // none runs
    EXPECT_EQ(PostDeviceJob(JobRelease, nullptr, 0), 0);
    ASSERT_EQ(StartDeviceWorker(window, JobOptions {}), 1);
    EXPECT_EQ(StartDeviceWorker(window, JobOptions {}), 0);
    EXPECT_EQ(CancelDeviceJob(), 1); // nothing to cancel
    {
        // The worker prepared its own thread (its locale) before the start returned.
        std::lock_guard<std::mutex> lock(window.mutex);
        EXPECT_NE(window.startedOn, std::thread::id());
        EXPECT_NE(window.startedOn, std::this_thread::get_id());
    }

    DeviceEntry a, b;
    a.config = std::make_shared<CfgDescription>();
    b.config = std::make_shared<CfgDescription>();
    a.config_stream = std::make_shared<CfgTempStream>();
    b.wizard_config = std::shared_ptr<WizScript>(
        reinterpret_cast<WizScript*>(new int(0)), [](WizScript* p) { delete reinterpret_cast<int*>(p); });
    std::vector<DeviceEntry*> entries { &a, &b };
    DeviceJob job = DeviceJobBuild(entries);
    ASSERT_EQ(PostDeviceJob(JobRelease, &job, 0), 1);
    JobNotice notice;
    ASSERT_TRUE(window.notices.Wait(&notice, 5000));
    EXPECT_EQ(notice.message, static_cast<uint32_t>(JobMsgBusy)); // release has no result to post
    EXPECT_FALSE(a.config || a.config_stream || b.config || b.wizard_config);
    {
        std::lock_guard<std::mutex> lock(window.mutex);
        EXPECT_EQ(window.busy, (std::vector<int> { 1, 0 }));
    }

    // A release posted by the commands (after a sheet) posts no result: its end completes it.
    ScriptUi ui;
    DeviceCommands commands(ui, TempPath("release.ini"));
    a.config = std::make_shared<CfgDescription>();
    commands.Job() = DeviceJobBuild(entries);
    ASSERT_EQ(commands.PostJob(JobRelease), 1);
    EXPECT_TRUE(commands.Waiting());
    ASSERT_TRUE(window.notices.Wait(&notice, 5000));
    commands.OnJobNotice(JobNotice { JobMsgBusy, static_cast<int32_t>(JobCheck), nullptr }); // another job's end
    EXPECT_TRUE(commands.Waiting());
    commands.OnJobNotice(notice);
    EXPECT_FALSE(commands.Waiting());
    EXPECT_FALSE(a.config);
    ASSERT_EQ(ui.finished.size(), 1u);
    EXPECT_EQ(ui.finished[0].first, static_cast<uint32_t>(JobRelease));

    // Stopping with a window: the window hears JobMsgEnded once the worker has gone.
    EXPECT_EQ(StopDeviceWorker(&window), 0);
    ASSERT_TRUE(window.notices.Wait(&notice, 5000));
    EXPECT_EQ(notice.message, static_cast<uint32_t>(JobMsgEnded));
    EXPECT_EQ(StopDeviceWorker(nullptr), 1);
    EXPECT_EQ(DeviceWorkerRunning(), 0);

    // A new worker after the old one.
    ASSERT_EQ(StartDeviceWorker(window, JobOptions {}), 1);
    EXPECT_EQ(StopDeviceWorker(nullptr), 1);
}

// The main window ends once it hears JobMsgEnded, with nothing joining the ended thread: the program
// still ends normally, not with an abort from the thread left behind. (The child process of a death test
// does not start under Wine; windows_mainwin_test covers the window's end there.)
#ifndef _WIN32
TEST(JobsWorkerDeathTest, ProgramEndingAfterTheWorkerEndedExitsNormally)
{
    EXPECT_EXIT(
        {
            RecordingWindow window;
            if (StartDeviceWorker(window, JobOptions {}) != 1 || StopDeviceWorker(&window) != 0)
                std::exit(2);
            JobNotice notice;
            if (!window.notices.Wait(&notice, 5000) || notice.message != JobMsgEnded)
                std::exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

// The release after a configure or print flow posts no result: its end completes the command, so that
// the window is free for the next one.
TEST(JobsWorker, ReleaseEndsTheCommand)
{
    std::string ini = TempPath("release.ini");
    ScriptUi ui;
    DeviceCommands commands(ui, ini);
    DeviceEntry e;
    e.status = DevStatusOk;
    EXPECT_EQ(commands.Issue(CmdPrint, { &e }), 0); // forms the job; no worker runs yet
    RecordingWindow window;
    ASSERT_EQ(StartDeviceWorker(window, JobOptions {}), 1);
    e.config = std::make_shared<CfgDescription>();
    ASSERT_EQ(commands.PostJob(JobRelease), 1);
    EXPECT_TRUE(commands.Waiting());
    JobNotice notice;
    ASSERT_TRUE(window.notices.Wait(&notice, 5000));
    commands.OnJobNotice(notice);
    EXPECT_FALSE(commands.Waiting());
    EXPECT_FALSE(e.config);
    ASSERT_FALSE(ui.finished.empty());
    EXPECT_EQ(ui.finished.back().first, static_cast<uint32_t>(JobRelease));
    EXPECT_EQ(StopDeviceWorker(nullptr), 1);
    std::remove(ini.c_str());
}

TEST(JobsWorker, QueueKeepsOrderAcrossThreads)
{
    MessageQueue<int> queue;
    std::thread producer([&] {
        for (int i = 0; i < 1000; ++i)
            queue.Post(i);
    });
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(queue.Get(), i);
    producer.join();
    int none = 0;
    EXPECT_FALSE(queue.Wait(&none, 1));
}
} // namespace
