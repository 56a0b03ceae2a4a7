// The monitor engine against the simulator's SNMP agent over loopback: detection, polling, states,
// clones, registration, queries and exit actions through the real SNMP client, in simulated time (one
// ManualClock moves the client's scheduler and the simulated devices).
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/scramble.h"
#include "monitor/engine/engine.h"
#include "monitor/log/log.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_ber.h"
#include "sim/snmp/sim_snmp.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {
std::string SourceDir()
{
    const char* s = std::getenv("SUITE_SOURCE_DIR");
    return s ? s : ".";
}

uint16_t FreePort(uint32_t ip)
{
    UdpSocket s;
    s.Open();
    s.Bind(ip, 0);
    return s.LocalAddress()->port;
}

// Records what the engine hands to its front end.
class Recorder : public EngineWaitingFrontEnd {
public:
    std::vector<std::string> events; // front end's thread only
    std::vector<std::pair<uint32_t, std::string>> failed;
    bool answer = true; // the answer to queries
    bool tick = false; // the check box's state at the answer
    int queries = 0;
    QueryStyle style;
    std::string checkText;

    void ItemInserted(EngineItem& item, EngineItem*) override
    {
        events.push_back("insert " + item.Name());
    }
    void ItemUpdated(EngineItem& item) override
    {
        ++updates[item.Name()];
    }
    std::map<std::string, int> updates;
    void ItemRemoved(EngineItem& item) override
    {
        events.push_back("remove " + item.Name());
    }
    void DeviceAdded(EngineDevice& d) override
    {
        events.push_back("added " + d.object->type);
    }
    void DetectFailed(uint32_t address, EngineDetectResult, const std::string& message) override
    {
        failed.emplace_back(address, message);
    }
    bool Query(
        EngineDevice&, QueryStyle s, const std::string& message, const std::string& check, bool* checked) override
    {
        ++queries;
        style = s;
        checkText = check;
        *checked = tick;
        events.push_back("query " + message);
        return answer;
    }
    void Balloon(EngineDevice&, uint32_t kind, const std::string& text) override
    {
        events.push_back("balloon " + std::to_string(kind) + " " + text);
    }
    void Plugin(EngineDevice&, const std::string& name, const std::string& argument) override
    {
        events.push_back("plugin " + name + " " + argument);
    }
    void Run(EngineDevice&, const std::string& program, const std::string& parameters, bool) override
    {
        events.push_back("run " + program + " " + parameters);
    }
    void ErrorMessage(const std::string& text) override
    {
        events.push_back("error " + text);
    }
};

const char* const kTestScript = R"(
device Plain
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Top

device Registering
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  register 600, enter:Register
  childs   Top

device Trapped
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  register 600, enter:Register
  childs   Line

device Refused
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  register 600, enter:RegisterReadOnly
  childs   Top

device Timed
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Timed, Evented

device Endless
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Row:1

item Row
  uses     2.1.5.0
  states   1
  flags    , clone

device Accounting
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Acc:1

device Follower
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Ports

device Quiet
  root     1.3.6.1.4.1.58127, 1.3.6.1.2.1
  childs   Steady

item Ports
  uses     2.2.1.0
  refresh  time:10
  childs   Port:$1

item Port
  uses     2.2.2.1.2.$i
  states   $1 == "WAN", $1 == "LAN"
  text     "port $i: $1"
  refresh  time:600

item Steady
  uses     2.1.5.0
  states   $1 == "other", $d == 4
  refresh  time:10

item Top
  uses     2.1.5.0
  states   $e
  text     "$1", "down"
  refresh  time:10
  action   menu:Ask menu:Clear menu:AskOnce exit:Bye
  childs   Child

item Line
  uses     1.2.5.0
  states   $1 == 1, $1 == 2, $1 == 3
  text     "line $1"

item Child
  uses     1.2.2.0
  text     "fw $1"
  refresh  time:600

item Timed
  uses     2.1.3.0
  states   1
  refresh  time:100, time:50

item Evented
  uses     2.1.5.0
  refresh  event:x
  action   menu:Poke

item Acc
  uses     1.3.1.1.4.$i
  states   $1 != ""
  text     , "row $i: $1"
  flags    hide, clone
  refresh  time:10

function Register
  set      1.2.7.0, "Travik"

function RegisterReadOnly
  set      2.1.1.0, "Travik"

function Bye
  set      1.2.7.0, "bye"

function Ask
  query    0x120, "Sure?"
  infotip  2, "ran"

function AskOnce
  query    0x21, "Wipe $a?", "Do not ask again", "Wipe_$a"
  infotip  3, "wiped"

function Clear
  set      1.3.2.0, ""

function Poke
  setevent x
)";

struct Rig {
    ManualClock clock { 1000 };
    SimSnmpServer server { clock };
    uint16_t port = 0;
    Recorder front;
    std::string dir;
    std::unique_ptr<Engine> engine;
    uint32_t first;

    // `types`: the simulated device types at first, first + 1, ...; `customScript`: the test's script
    // instead of the shipped ones.
    Rig(uint32_t firstAddress, const std::vector<std::string>& types, bool customScript)
        : first(firstAddress)
    {
        dir = (std::filesystem::temp_directory_path()
            / ("engine-test-" + std::to_string(getpid()) + "-" + std::to_string(firstAddress)))
                  .string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ScriptGlobal().Clear();
        if (customScript)
            ScriptGlobal().LoadText(kTestScript, "talvtest.dsc", "English");
        else
            ScriptLoadAll(SourceDir() + "/data/talv*.dsc", "English");
        port = FreePort(firstAddress);
        for (size_t i = 0; i < types.size(); ++i)
            AddAgent(firstAddress + static_cast<uint32_t>(i), types[i]);
        EXPECT_EQ(server.Start(), 1);
        SnmpStartOptions options;
        options.agentPort = port;
        options.clock = &clock;
        EXPECT_EQ(SnmpStartWith(options), 1);
        EngineSettings settings;
        settings.listPath = dir + "/talvine.lst";
        settings.settingsPath = dir + "/talvine.ini";
        settings.clock = &clock;
        engine = std::make_unique<Engine>(settings, &front);
    }
    ~Rig()
    {
        engine.reset();
        SnmpStop();
        server.Stop();
        std::filesystem::remove_all(dir);
    }
    void AddAgent(uint32_t address, const std::string& type)
    {
        std::string error;
        auto mib = SimMibLoad(SourceDir() + "/sim/snmp/data/" + SimMibFileFor(type), &error);
        ASSERT_TRUE(mib) << error;
        SimSnmpDeviceConfig c;
        c.address = address;
        c.port = port;
        c.name = "sim";
        ASSERT_EQ(server.AddDevice(c, mib), 1);
    }
    uint32_t Address(uint32_t n) const
    {
        return SnmpAddressFromHost(first + n);
    }
    // One scheduler tick: the clock moves 100 ms and the test waits until the worker ran it.
    void Tick()
    {
        uint32_t before = SnmpTickCount();
        clock.Advance(kSnmpTickMs);
        for (int i = 0; i < 5000 && SnmpTickCount() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_NE(SnmpTickCount(), before) << "the SNMP worker did not tick";
    }
    // Handles notifications until `done` holds, moving the clock a tick whenever nothing arrives for a
    // while; false after `ticks` ticks.
    template<class F> bool Until(F done, int ticks)
    {
        for (int t = 0; t <= ticks; ++t) {
            for (int i = 0; i < 200; ++i) {
                engine->Process();
                if (done())
                    return true;
                if (!front.WaitMs(i == 0 ? 30 : 15))
                    break;
            }
            Tick();
        }
        engine->Process();
        return done();
    }
    // Handles what arrives for a few ticks' worth of answers without moving the clock.
    void Settle()
    {
        while (front.WaitMs(50))
            engine->Process();
        engine->Process();
    }
    EngineItem* Find(EngineDevice& d, const std::string& name)
    {
        std::function<EngineItem*(std::vector<std::unique_ptr<EngineItem>>&)> walk
            = [&](std::vector<std::unique_ptr<EngineItem>>& items) -> EngineItem* {
            for (auto& i : items) {
                if (i->Name() == name)
                    return i.get();
                if (EngineItem* c = walk(i->children))
                    return c;
            }
            return nullptr;
        };
        return walk(d.items);
    }
    std::vector<std::string> Shown(const std::vector<std::unique_ptr<EngineItem>>& items)
    {
        std::vector<std::string> out;
        for (auto& i : items) {
            if (i->shown)
                out.push_back(i->Name());
            for (auto& s : Shown(i->children))
                out.push_back(s);
        }
        return out;
    }
    const ActionObject* Menu(EngineItem& item, const std::string& function)
    {
        for (const ActionObject& a : *item.object->Actions(item.state))
            if (a.function == function)
                return &a;
        return nullptr;
    }
    // The agent's value of an object, read with a request of its own.
    std::string Get(uint32_t n, const std::string& oidText)
    {
        UdpSocket s;
        s.Open();
        s.Bind(0x7F000001, 0);
        SnmpBinding b;
        SnmpOidFromText(oidText.c_str(), &b.oid);
        SnmpMessage answer;
        if (SnmpRequestJob(&s, SnmpAddressFromHost(first + n), port, "private", kPduGet, { b }, 1000, &answer) != 1
            || answer.bindings.empty())
            return "<none>";
        return SnmpValueText(answer.bindings[0].value);
    }
};
} // namespace

TEST(EngineWithSimulator, DetectsEachShippedTypeAndRefusesAnAddressTwice)
{
    std::vector<std::string> types = { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" };
    Rig rig(0x7F005101, types, false); // 127.0.81.1 ...
    for (uint32_t i = 0; i < types.size(); ++i)
        EXPECT_TRUE(rig.engine->AddDevice(rig.Address(i), "public", false));
    EXPECT_FALSE(rig.engine->AddDevice(rig.Address(0), "public", false)) << "being detected";
    ASSERT_TRUE(rig.Until([&] { return rig.engine->Devices().size() == 4 && rig.engine->Detecting() == 0; }, 50));
    for (uint32_t i = 0; i < types.size(); ++i) {
        EngineDevice* d = rig.engine->FindDevice(rig.Address(i));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->object->type, types[i]);
    }
    EXPECT_FALSE(rig.engine->AddDevice(rig.Address(2), "other", false)) << "listed";
    EXPECT_EQ(rig.engine->Devices().size(), 4u);
    EXPECT_TRUE(rig.front.failed.empty());
    // Logging settings of an added device: switched off.
    EXPECT_EQ(IniGetInt(rig.dir + "/talvine.ini", "Logging", "127.0.81.1_LogMask", 99), 0);
}

TEST(EngineWithSimulator, WrongCommunityGivesNoAnswerAndAnUnknownDeviceIsNotSupported)
{
    Rig rig(0x7F005201, { "Morvak 1100", "Morvak 2400" }, false);
    // The agent ignores a request with a community it does not know: no answer at all.
    ASSERT_TRUE(rig.engine->AddDevice(rig.Address(0), "wrong", false));
    // A device that answers with a description no script knows.
    rig.server.SetValue(0x7F005202, "1.3.6.1.2.1.1.1.0", 0x04, SnmpValue::String("Another router"));
    ASSERT_TRUE(rig.engine->AddDevice(rig.Address(1), "public", false));
    ASSERT_TRUE(rig.Until([&] { return rig.front.failed.size() == 2; }, 800));
    EXPECT_TRUE(rig.engine->Devices().empty());
    std::map<uint32_t, std::string> byAddress(rig.front.failed.begin(), rig.front.failed.end());
    EXPECT_EQ(byAddress[rig.Address(0)].substr(0, 47), "No device responded at IP address 127.0.82.1.\r\r");
    EXPECT_EQ(byAddress[rig.Address(1)], "The device at 127.0.82.2 is not supported.");
}

TEST(EngineWithSimulator, CancelledDetectionAddsNothingAndSaysNothing)
{
    Rig rig(0x7F005301, { "Morvak 1100" }, false);
    // Cancelled while its outcome waits in the queue: the device answered, yet nothing is added.
    ASSERT_TRUE(rig.engine->AddDevice(rig.Address(0), "public", false));
    bool woken = false;
    for (int t = 0; t < 50 && !woken; ++t) {
        rig.Tick();
        woken = rig.front.WaitMs(30);
    }
    ASSERT_TRUE(woken) << "the detection's outcome was never queued";
    EXPECT_TRUE(rig.engine->Detecting(rig.Address(0)));
    EXPECT_TRUE(rig.engine->CancelDetection(rig.Address(0)));
    EXPECT_FALSE(rig.engine->Detecting(rig.Address(0)));
    EXPECT_FALSE(rig.engine->CancelDetection(rig.Address(0))) << "cancelled twice";
    rig.Settle();
    EXPECT_TRUE(rig.engine->Devices().empty());
    EXPECT_TRUE(rig.front.failed.empty());

    // Cancelled while no answer has come (a community the agent ignores): no message later either.
    ASSERT_TRUE(rig.engine->AddDevice(rig.Address(0), "wrong", false));
    rig.Tick();
    EXPECT_TRUE(rig.engine->CancelDetection(rig.Address(0)));
    EXPECT_EQ(rig.engine->Detecting(), 0u);
    EXPECT_FALSE(rig.Until([&] { return !rig.front.failed.empty(); }, 60));

    // Detected again at once with the right community: added, although the request sent with the wrong one
    // is still waiting for its answer.
    ASSERT_TRUE(rig.engine->AddDevice(rig.Address(0), "public", false));
    ASSERT_TRUE(rig.Until([&] { return rig.engine->Devices().size() == 1 || !rig.front.failed.empty(); }, 300));
    EXPECT_TRUE(rig.front.failed.empty());
    EXPECT_EQ(rig.engine->Devices().size(), 1u);
}

TEST(EngineWithSimulator, DeviceWithoutAnswerShowsTopLevelOnlyUntilItAnswers)
{
    Rig rig(0x7F005301, {}, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Plain");
    ASSERT_TRUE(d);
    rig.engine->StartDevice(*d);
    rig.Settle();
    EXPECT_EQ(rig.Shown(d->items), std::vector<std::string> { "Top" });
    EXPECT_TRUE(d->Error());
    // The client gives up: still the top-level item only, "error" 1 (state 1).
    ASSERT_TRUE(rig.Until([&] { return d->noAnswer.load() && rig.Find(*d, "Top")->state == 1; }, 800));
    EXPECT_EQ(rig.Shown(d->items), std::vector<std::string> { "Top" });
    // The device comes up: its first answer brings the children.
    rig.AddAgent(0x7F005301, "Morvak 1100");
    ASSERT_TRUE(rig.Until([&] { return rig.Shown(d->items).size() == 2; }, 800));
    EXPECT_FALSE(d->Error());
    EXPECT_EQ(rig.Find(*d, "Top")->state, 0u);
    EXPECT_EQ(rig.Shown(d->items), (std::vector<std::string> { "Top", "Child" }));
}

TEST(EngineWithSimulator, RegistrationSetsAndARefusedOneHidesSubItems)
{
    Rig rig(0x7F005401, { "Morvak 1100", "Morvak 1100" }, true);
    EngineDevice* ok = rig.engine->AddKnownDevice(rig.Address(0), "private", "Registering");
    EngineDevice* refused = rig.engine->AddKnownDevice(rig.Address(1), "private", "Refused");
    ASSERT_TRUE(ok && refused);
    EXPECT_FALSE(ok->registered);
    rig.engine->StartAll();
    ASSERT_TRUE(rig.Until([&] { return rig.Shown(ok->items).size() == 2 && !refused->noAnswer.load(); }, 50));
    EXPECT_TRUE(ok->registered);
    EXPECT_EQ(rig.Get(0, "1.3.6.1.4.1.58127.2.7.0"), "Travik");
    rig.Until([&] { return false; }, 5);
    EXPECT_FALSE(refused->registered);
    EXPECT_TRUE(refused->Error());
    EXPECT_EQ(rig.Shown(refused->items), std::vector<std::string> { "Top" });
}

// The shipped script's device item tells the causes of "error" apart: a device that answers its polls but
// refuses the registration (a read-only community; none at all, as Find adds devices) is not shown as not
// answering, and says what to give; the write community given through the properties registers it at once.
TEST(EngineWithSimulator, DeviceRefusingRegistrationAnswersAndSaysSo)
{
    Rig rig(0x7F005B01, { "Morvak 1100", "Morvak 1100" }, false);
    EngineDevice* readOnly = rig.engine->AddKnownDevice(rig.Address(0), "public", "Morvak 1100");
    EngineDevice* none = rig.engine->AddKnownDevice(rig.Address(1), "", "Morvak 1100");
    EngineDevice* silent = rig.engine->AddKnownDevice(SnmpAddressFromHost(0x7F005B09), "public", "Morvak 1100");
    ASSERT_TRUE(readOnly && none && silent);
    rig.engine->StartAll();
    EngineItem* top = rig.Find(*readOnly, "Device");
    EngineItem* topNone = rig.Find(*none, "Device");
    EngineItem* topSilent = rig.Find(*silent, "Device");
    ASSERT_TRUE(top && topNone && topSilent);
    ASSERT_TRUE(rig.Until([&] { return top->state == 2 && topNone->state == 2 && topSilent->state == 1; }, 800))
        << EngineItemLine(*top) << "\n"
        << EngineItemLine(*topNone) << "\n"
        << EngineItemLine(*topSilent);
    for (EngineDevice* d : { readOnly, none }) {
        EngineItem* item = rig.Find(*d, "Device");
        std::string line = EngineItemLine(*item);
        EXPECT_FALSE(d->noAnswer.load());
        EXPECT_FALSE(d->registered);
        EXPECT_TRUE(d->Refused());
        EXPECT_EQ(line.find("not answering"), std::string::npos) << line;
        EXPECT_NE(line.find("answers, but refused the registration"), std::string::npos) << line;
        EXPECT_NE(line.find("write community"), std::string::npos) << line;
        EXPECT_NE(line.find("image=13"), std::string::npos) << line;
        // Its details stay hidden while it is not registered.
        EXPECT_EQ(rig.Shown(d->items), std::vector<std::string> { "Device" });
        EXPECT_NE(EngineDeviceLine(*d).find("noanswer=0 registered=0"), std::string::npos) << EngineDeviceLine(*d);
        EXPECT_NE(EngineDeviceLine(*d).find("refused=1"), std::string::npos) << EngineDeviceLine(*d);
    }
    // A device that does not answer at all is still shown as such, and is not "refused".
    std::string silentLine = EngineItemLine(*topSilent);
    EXPECT_NE(silentLine.find("(127.0.91.9) not answering"), std::string::npos) << silentLine;
    EXPECT_NE(silentLine.find("image=1 "), std::string::npos) << silentLine;
    EXPECT_FALSE(silent->Refused());

    // The write community: registered without waiting for the next interval (a minute), details shown.
    rig.engine->SetCommunity(*readOnly, "private");
    ASSERT_TRUE(rig.Until([&] { return readOnly->registered && top->state == 0; }, 30)) << EngineItemLine(*top);
    EXPECT_FALSE(readOnly->Refused());
    EXPECT_GT(rig.Shown(readOnly->items).size(), 1u);
    EXPECT_EQ(EngineItemLine(*top).find("refused"), std::string::npos) << EngineItemLine(*top);
    EXPECT_EQ(rig.Get(0, "1.3.6.1.4.1.58127.2.7.0"), "Travik");
}

TEST(EngineWithSimulator, RegisteredDeviceSendsItsTrapsToTheMonitor)
{
    Rig rig(0x7F005A01, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "private", "Trapped");
    rig.engine->StartDevice(*d);
    EngineItem* line = rig.Find(*d, "Line");
    ASSERT_TRUE(rig.Until([&] { return d->registered && line->shown && line->state != 0; }, 50));
    // Polled once at start and never again (no refresh): a change of the line (every 20 s in the simulated
    // device) reaches the item only by the device's trap to the address that registered.
    uint32_t first = line->state;
    uint64_t requests = rig.server.Requests();
    ASSERT_TRUE(rig.Until([&] { return line->state != first; }, 1200));
    EXPECT_LE(rig.server.Requests(), requests + 2) << "no polls of the line (the registration may be repeated)";
}

TEST(EngineWithSimulator, QueryWithNoRunsTheActionOnlyWithFlag0x100)
{
    Rig rig(0x7F005501, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Plain");
    rig.engine->StartDevice(*d);
    EngineItem* top = rig.Find(*d, "Top");
    const ActionObject* ask = rig.Menu(*top, "Ask");
    ASSERT_TRUE(ask);
    rig.front.answer = false;
    int status = -5;
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(rig.front.queries, 1);
    // Low byte 0x20: Yes and No; low four bits 0: the information icon; no key, no check box.
    EXPECT_EQ(rig.front.style.buttons, QueryButtons::YesNo);
    EXPECT_EQ(rig.front.style.icon, QueryIcon::Information);
    EXPECT_EQ(rig.front.checkText, "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rig.front.events.back(), "balloon 2 ran");
    // Yes with 0x120: nothing runs, the completion gets 1.
    rig.front.answer = true;
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rig.front.events.back(), "query Sure?");
}

TEST(EngineWithSimulator, QueryCheckBoxStoresItsKeyAndSkipsTheDialogAfterwards)
{
    Rig rig(0x7F005502, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Plain");
    rig.engine->StartDevice(*d);
    EngineItem* top = rig.Find(*d, "Top");
    const ActionObject* ask = rig.Menu(*top, "AskOnce");
    ASSERT_TRUE(ask);
    std::string ini = rig.dir + "/talvine.ini";
    std::string key = "Wipe_" + d->AddressText();
    int status = -5;
    // No with the box ticked: nothing runs and nothing is stored.
    rig.front.answer = false;
    rig.front.tick = true;
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rig.front.events.back(), "query Wipe " + d->AddressText() + "?");
    EXPECT_EQ(rig.front.checkText, "Do not ask again");
    EXPECT_EQ(rig.front.style.buttons, QueryButtons::YesNo);
    EXPECT_EQ(rig.front.style.icon, QueryIcon::Warning);
    EXPECT_EQ(IniGetInt(ini, "Options", key, 0), 0);
    // Yes without the box: runs, still asks next time.
    rig.front.answer = true;
    rig.front.tick = false;
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rig.front.events.back(), "balloon 3 wiped");
    EXPECT_EQ(IniGetInt(ini, "Options", key, 0), 0);
    // Yes with the box: runs and stores 1; afterwards the dialog is not shown and counts as Yes.
    rig.front.tick = true;
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(IniGetInt(ini, "Options", key, 0), 1);
    EXPECT_EQ(rig.front.queries, 3);
    rig.front.answer = false;
    rig.front.events.clear();
    rig.engine->ActionRun(top, *d, *ask, [&](int s) { status = s; });
    EXPECT_EQ(rig.front.queries, 3);
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(rig.front.events.empty());
    EXPECT_EQ(rig.front.events.back(), "balloon 3 wiped");
}

TEST(EngineQuery, FlagsChooseIconAndButtons)
{
    struct Case {
        uint32_t flags;
        QueryIcon icon;
        QueryButtons buttons;
    };
    const Case cases[] = {
        { 0x00, QueryIcon::Information, QueryButtons::Ok },
        { 0x0F, QueryIcon::None, QueryButtons::Ok },
        { 0x10, QueryIcon::Information, QueryButtons::OkCancel },
        { 0x12, QueryIcon::Error, QueryButtons::OkCancel },
        { 0x1F, QueryIcon::None, QueryButtons::OkCancel },
        { 0x20, QueryIcon::Information, QueryButtons::YesNo },
        { 0x21, QueryIcon::Warning, QueryButtons::YesNo },
        { 0x2F, QueryIcon::None, QueryButtons::YesNo },
        { 0x30, QueryIcon::Information, QueryButtons::Ok },
        { 0xFF, QueryIcon::None, QueryButtons::Ok },
        // Bits above the low byte (0x100: act on No) choose nothing of the look.
        { 0x120, QueryIcon::Information, QueryButtons::YesNo },
        { 0x111, QueryIcon::Warning, QueryButtons::OkCancel },
        { 0x100, QueryIcon::Information, QueryButtons::Ok },
    };
    for (const Case& c : cases) {
        QueryStyle s = QueryStyleOf(c.flags);
        EXPECT_EQ(s.icon, c.icon) << std::hex << c.flags;
        EXPECT_EQ(s.buttons, c.buttons) << std::hex << c.flags;
    }
}

TEST(EngineWithSimulator, RefreshTimeAndEvent)
{
    Rig rig(0x7F005601, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Timed");
    rig.engine->StartDevice(*d);
    EngineItem* timed = rig.Find(*d, "Timed");
    EngineItem* evented = rig.Find(*d, "Evented");
    ASSERT_TRUE(rig.Until([&] { return !d->noAnswer.load() && evented->shown; }, 20));
    rig.Until([&] { return false; }, 3); // the at-once polls are answered
    // Polled at once; its answer re-arms the poll with the interval of state 1.
    int updates = rig.front.updates["Timed"];
    rig.engine->Refresh(timed);
    ASSERT_TRUE(rig.Until([&] { return rig.front.updates["Timed"] == updates + 1; }, 3));
    EXPECT_EQ(timed->state, 1u);
    uint64_t before = rig.server.Requests();
    // State 1 refreshes with time:50: one request in 5 s (the other item waits for its event).
    for (int i = 0; i < 49; ++i)
        rig.Tick();
    rig.Settle();
    EXPECT_EQ(rig.server.Requests(), before);
    ASSERT_TRUE(rig.Until([&] { return rig.server.Requests() == before + 1; }, 3));
    rig.Until([&] { return false; }, 2);
    EXPECT_EQ(rig.server.Requests(), before + 1);
    // The event polls the evented item at once.
    const ActionObject* poke = rig.Menu(*evented, "Poke");
    ASSERT_TRUE(poke);
    uint64_t beforeEvent = rig.server.Requests();
    rig.engine->ActionRun(evented, *d, *poke);
    rig.Tick();
    ASSERT_TRUE(rig.Until([&] { return rig.server.Requests() == beforeEvent + 1; }, 3));
}

TEST(EngineWithSimulator, ClonesGrowRowByRowAndShrinkWhenARowGoes)
{
    Rig rig(0x7F005701, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "private", "Accounting");
    rig.engine->StartDevice(*d);
    // Three rows: three shown, the fourth row's clone hidden and no fifth.
    ASSERT_TRUE(rig.Until([&] { return rig.Shown(d->items).size() == 3 && d->items.size() == 4; }, 50));
    rig.Until([&] { return false; }, 5);
    EXPECT_EQ(rig.Shown(d->items), (std::vector<std::string> { "Acc:1", "Acc:1+1", "Acc:1+2" }));
    EXPECT_EQ(d->items.size(), 4u);
    // The table is cleared and two rows come back: row 3 answers noSuchName.
    ActionObject clear;
    clear.kind = ActionKind::SnmpSet;
    clear.setOid = "1.3.6.1.4.1.58127.3.2.0";
    clear.setValue = "\"\"";
    std::atomic<int> status { -5 }; // the set's completion comes on the SNMP worker
    rig.engine->ActionRun(nullptr, *d, clear, [&](int s) { status = s; });
    ASSERT_TRUE(rig.Until([&] { return status != -5; }, 20));
    EXPECT_EQ(status, 0);
    rig.server.SetValue(0x7F005701, "1.3.6.1.4.1.58127.3.1.1.4.1", 0x02, SnmpValue::Integer(6));
    rig.server.SetValue(0x7F005701, "1.3.6.1.4.1.58127.3.1.1.4.2", 0x02, SnmpValue::Integer(7));
    ASSERT_TRUE(rig.Until([&] { return d->items.size() == 3; }, 50));
    rig.Until([&] { return false; }, 20);
    EXPECT_EQ(rig.Shown(d->items), (std::vector<std::string> { "Acc:1", "Acc:1+1" }));
    EXPECT_EQ(d->items.size(), 3u) << "no clone after the row that went";
}

TEST(EngineWithSimulator, ClonesStopAtRow99)
{
    Rig rig(0x7F005C01, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Endless");
    rig.engine->StartDevice(*d);
    // Every row answers with the clone flag: the item and 99 clones, no more.
    ASSERT_TRUE(rig.Until([&] { return rig.Shown(d->items).size() == 100; }, 400));
    rig.Until([&] { return false; }, 5);
    EXPECT_EQ(d->items.size(), 100u);
    EXPECT_EQ(d->items.back()->Name(), "Row:1+99");
}

TEST(EngineWithSimulator, ExitActionsWaitForTheirSet)
{
    Rig rig(0x7F005801, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "private", "Plain");
    rig.engine->StartDevice(*d);
    ASSERT_TRUE(rig.Until([&] { return !d->noAnswer.load(); }, 20));
    // The client's worker sends the set on its next tick: move the clock from another thread while
    // RunExitActions waits.
    std::atomic<bool> done { false };
    std::thread ticker([&] {
        for (int i = 0; i < 200 && !done; ++i)
            rig.Tick();
    });
    rig.engine->RunExitActions();
    done = true;
    ticker.join();
    EXPECT_EQ(rig.Get(0, "1.3.6.1.4.1.58127.2.7.0"), "bye");
}

TEST(EngineWithSimulator, DeviceListKeepsTypesWithoutScriptAndTheTreeState)
{
    Rig rig(0x7F005901, {}, true);
    std::ofstream(rig.dir + "/talvine.lst", std::ios::binary) << "Plain;127.0.89.1; ;2;\r\n"
                                                                 "Gone Type;127.0.89.2;0102;0;@\r\n"
                                                                 "short;127.0.89.3\r\n"
                                                                 "Timed;127.0.89.4;"
                                                              << CfgScramble("secret") << ";0;\r\n";
    ASSERT_EQ(rig.engine->LoadDevices(), 1);
    ASSERT_EQ(rig.engine->Devices().size(), 2u);
    EngineDevice& plain = *rig.engine->Devices()[0];
    EXPECT_EQ(plain.community, "");
    EXPECT_EQ(plain.mode, 2u);
    EXPECT_TRUE(plain.noAnswer.load());
    EXPECT_EQ(rig.engine->Devices()[1]->community, "secret");
    plain.items[0]->expanded = true;
    ASSERT_EQ(rig.engine->SaveDevices(), 1);
    std::ifstream in(rig.dir + "/talvine.lst", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
        "Plain;127.0.89.1; ;2;" + EngineTreeStateEncode(plain.items) + "\r\n" + "Timed;127.0.89.4;"
            + CfgScramble("secret") + ";0;" + EngineTreeStateEncode(rig.engine->Devices()[1]->items)
            + "\r\nGone Type;127.0.89.2;0102;0;@\r\n");
    // Read back: the same expansion.
    Recorder front2;
    EngineSettings settings = rig.engine->Settings();
    Engine again(settings, &front2);
    ASSERT_EQ(again.LoadDevices(), 1);
    EXPECT_TRUE(again.Devices()[0]->items[0]->expanded);
    EXPECT_FALSE(again.Devices()[0]->items[0]->children[0]->expanded);
}

TEST(EngineWithSimulator, AnotherInstancesRecordsLogActionsOptionsDisplayAndRemoval)
{
    Rig rig(0x7F005B01, { "Morvak 1100", "Morvak 2400" }, false); // 127.0.91.1, .2
    std::string ini = rig.dir + "/talvine.ini";
    ASSERT_EQ(LogInit(rig.dir, ini, false), 1);
    auto record = [](uint32_t address, const std::string& community) {
        std::string r(8, '\0');
        uint32_t length = static_cast<uint32_t>(8 + community.size() + 1);
        for (int i = 0; i < 4; ++i)
            r[static_cast<size_t>(i)] = static_cast<char>(length >> (8 * i));
        std::memcpy(&r[4], &address, 4);
        return r + community + std::string(1, '\0');
    };
    std::string data = record(rig.Address(0), "private") + record(rig.Address(1), "private");
    EXPECT_EQ(rig.engine->AddDevicesFromMessage(reinterpret_cast<const uint8_t*>(data.data()), data.size()), 2);
    ASSERT_TRUE(rig.Until([&] { return rig.engine->Devices().size() == 2 && rig.engine->Detecting() == 0; }, 50));
    EXPECT_EQ(rig.engine->AddDevicesFromMessage(reinterpret_cast<const uint8_t*>(data.data()), data.size()), 0)
        << "listed already";
    EXPECT_EQ(IniGetString(ini, "Logging", "127.0.91.1_Filename", "-"), "") << "added with logging off";
    EngineDevice* d = rig.engine->FindDevice(rig.Address(0));
    ASSERT_TRUE(d);

    // Logging on: the line's enter actions write the device's log (category: the option LogLine, 1).
    LogWriteDeviceKeys(ini, "127.0.91.1", true);
    rig.server.SetValue(0x7F005B01, "1.3.6.1.4.1.58127.2.5.0", 0x02, SnmpValue::Integer(3));
    EngineItem* line = rig.Find(*d, "Line");
    ASSERT_TRUE(line);
    rig.engine->Refresh(line);
    ASSERT_TRUE(rig.Until([&] { return line->state == 4; }, 50));
    rig.server.SetValue(0x7F005B01, "1.3.6.1.4.1.58127.2.5.0", 0x02, SnmpValue::Integer(1));
    rig.engine->Refresh(line);
    ASSERT_TRUE(rig.Until([&] { return line->state == 1; }, 50)) << "line lost, with a balloon (option Warn 1)";
    EXPECT_NE(std::find(rig.front.events.begin(), rig.front.events.end(),
                  "balloon 3 The line of the device has been disconnected."),
        rig.front.events.end());
    std::string logName = LogOpenFile();
    ASSERT_FALSE(logName.empty());
    LogClose();
    std::ifstream log(rig.dir + "/Log/" + logName, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("] Line connected\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] Line disconnected\r\n"), std::string::npos) << text;

    // The option Warn at 0: the same answer gives state 2 (no balloon); the value is kept per device.
    rig.engine->SetOption(*d, "Warn", 0);
    EXPECT_EQ(line->state, 2u);
    EXPECT_EQ(IniGetInt(ini, "Advanced", "127.0.91.1_Warn", 9), 0);

    // A display attached: its items are polled and shown.
    EngineDevice* other = rig.engine->FindDevice(rig.Address(1));
    rig.engine->AttachDisplay(*other, true);
    ASSERT_TRUE(rig.Until(
        [&] {
            return std::all_of(other->display.begin(), other->display.end(), [](const auto& i) { return i->shown; });
        },
        50));
    EXPECT_EQ(other->display.size(), 3u);

    // Removal: its items leave the tree, its option and logging keys go, the other device stays.
    size_t shown = rig.Shown(d->items).size();
    size_t removedBefore = static_cast<size_t>(std::count_if(rig.front.events.begin(), rig.front.events.end(),
        [](const std::string& e) { return e.rfind("remove ", 0) == 0; }));
    ASSERT_TRUE(rig.engine->RemoveDevice(d));
    size_t removedAfter = static_cast<size_t>(std::count_if(rig.front.events.begin(), rig.front.events.end(),
        [](const std::string& e) { return e.rfind("remove ", 0) == 0; }));
    EXPECT_GE(removedAfter - removedBefore, shown);
    EXPECT_EQ(IniGetString(ini, "Advanced", "127.0.91.1_Warn", "-"), "-");
    EXPECT_EQ(IniGetString(ini, "Logging", "127.0.91.1_Filename", "-"), "-");
    EXPECT_EQ(rig.engine->Devices().size(), 1u);
    rig.Until([&] { return false; }, 5); // nothing of the removed device arrives any more
}

TEST(EngineWithSimulator, ChildWhoseRowComesFromItsParentFollowsTheParentsValue)
{
    Rig rig(0x7F005D01, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Follower");
    rig.engine->StartDevice(*d);
    EngineItem* port = rig.Find(*d, "Port:$1");
    ASSERT_TRUE(port);
    ASSERT_TRUE(rig.Until([&] { return port->shown && port->state == 1; }, 30)) << "row 2 (the interface count)";
    // The parent's value names another row: the child, polled only once a minute by itself, reads and
    // polls that row at once with the parent's next answer.
    rig.server.SetValue(0x7F005D01, "1.3.6.1.2.1.2.1.0", 0x02, SnmpValue::Integer(1));
    ASSERT_TRUE(rig.Until([&] { return port->state == 2; }, 40));
    EXPECT_TRUE(SnmpOidEqual(port->oids[0].oid, [] {
        SnmpOid o;
        SnmpOidFromText("1.3.6.1.2.1.2.2.1.2.1", &o);
        return o;
    }()));
}

TEST(EngineWithSimulator, AnswersBringingNothingNewKeepThePollGoingWithoutUpdates)
{
    Rig rig(0x7F005E01, { "Morvak 1100" }, true);
    EngineDevice* d = rig.engine->AddKnownDevice(rig.Address(0), "public", "Quiet");
    rig.engine->StartDevice(*d);
    EngineItem* steady = rig.Find(*d, "Steady");
    ASSERT_TRUE(rig.Until([&] { return steady->shown && !d->noAnswer.load(); }, 20));
    rig.Until([&] { return false; }, 15);
    // The details mask is read at once (no answer brings it).
    rig.engine->SetDetails(4);
    EXPECT_EQ(steady->state, 2u);
    rig.engine->SetDetails(0);
    EXPECT_EQ(steady->state, 0u);
    // Polled once a second, the same name every time: the poll goes on, the front end hears nothing.
    int updates = rig.front.updates["Steady"];
    uint64_t requests = rig.server.Requests();
    rig.Until([&] { return false; }, 50);
    EXPECT_GE(rig.server.Requests(), requests + 4);
    EXPECT_EQ(rig.front.updates["Steady"], updates);
    // A new value is an update (and a state) at the next poll.
    rig.server.SetValue(0x7F005E01, "1.3.6.1.2.1.1.5.0", 0x04, SnmpValue::String("other"));
    ASSERT_TRUE(rig.Until([&] { return steady->state == 1; }, 20));
    EXPECT_EQ(rig.front.updates["Steady"], updates + 1);
    // A refresh command updates the item whatever its answer brings.
    rig.engine->Refresh(steady);
    ASSERT_TRUE(rig.Until([&] { return rig.front.updates["Steady"] == updates + 2; }, 5));
    requests = rig.server.Requests();
    ASSERT_TRUE(rig.Until([&] { return rig.server.Requests() >= requests + 3; }, 40)) << "polled on after it";
    EXPECT_EQ(rig.front.updates["Steady"], updates + 2);
}
