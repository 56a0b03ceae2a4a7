// The dial-up link over the scripted platform, in simulated time: the phone-book entry, the device and
// local address chosen, the dial's outcomes, reuse, the idle hang-up and its lock.
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/texts.h"
#include "device/tftp.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {
uint32_t Ip(int a, int b, int c, int d)
{
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | uint32_t(d);
}

TEST(DialupLocalAddress, NetworksAndHostPart)
{
    const uint32_t random = 0x12345600; // lowest byte 0: made 2
    struct Case {
        std::optional<std::vector<uint32_t>> own;
        uint32_t expected;
    } cases[] = {
        { std::vector<uint32_t> {}, Ip(10, 0x34, 0x56, 2) },
        { std::vector<uint32_t> { Ip(192, 168, 1, 5) }, Ip(10, 0x34, 0x56, 2) },
        { std::vector<uint32_t> { Ip(10, 1, 2, 3), Ip(172, 16, 0, 9) }, Ip(172, 17, 0x56, 2) },
        { std::vector<uint32_t> { Ip(10, 1, 2, 3), Ip(172, 17, 3, 3) }, Ip(172, 16, 0x56, 2) },
        { std::nullopt, Ip(172, 17, 17, 17) }, // the PC's addresses are unknown
    };
    for (const Case& c : cases)
        EXPECT_EQ(NetAddressText(DialupLocalAddress(random, c.own)), NetAddressText(c.expected));

    // Every 172.16-31 network used: the first free 192.168.i/24.
    std::vector<uint32_t> own { Ip(10, 0, 0, 1) };
    for (int i = 16; i < 32; ++i)
        own.push_back(Ip(172, i, 1, 1));
    own.push_back(Ip(192, 168, 0, 1));
    EXPECT_EQ(NetAddressText(DialupLocalAddress(random | 0xFF, own)), "192.168.1.253"); // 255 made 253
    // Every network used.
    for (int i = 1; i < 256; ++i)
        own.push_back(Ip(192, 168, i, 1));
    EXPECT_EQ(NetAddressText(DialupLocalAddress(random, own)), "172.17.17.17");
    // The lowest byte stays within 2..253 for every value.
    for (uint32_t low = 0; low < 256; ++low) {
        uint32_t a = DialupLocalAddress(low, std::vector<uint32_t> {}) & 0xFF;
        EXPECT_GE(a, 2u);
        EXPECT_LT(a, 254u);
    }
}

struct DialupTest : ::testing::Test {
    ManualClock clock { 10000 };
    std::unique_ptr<DialupScript> script = std::make_unique<DialupScript>(clock);
    DeviceEntry entry;

    void Use(std::vector<DialupScriptStep> steps)
    {
        DialupSetEnvironment({});
        script = std::make_unique<DialupScript>(clock, std::move(steps));
        Install();
    }
    void Install()
    {
        DialupSetEnvironment({ script.get(), &clock, [] { return 0x0a0b0c0du; },
            [] { return std::optional<std::vector<uint32_t>>(std::vector<uint32_t> { Ip(10, 1, 1, 1) }); } });
    }
    void SetUp() override
    {
        TftpSetEnvironment({ &clock, {} });
        Install();
        entry.link = LinkDialUp;
        entry.phone_number = "0301234";
        entry.password = "secret";
        entry.ras_idle_s = 20;
    }
    void TearDown() override
    {
        DialupSetEnvironment({});
        TftpSetEnvironment({});
    }
    // Waits (bounded) until the idle thread has hung up.
    bool HungUpSoon()
    {
        for (int i = 0; i < 200 && DialupIsConnected(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return !DialupIsConnected();
    }
};

TEST_F(DialupTest, PreparesTheEntryAndDials)
{
    script->refuse_names = 2;
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    EXPECT_EQ(entry.ras_entry.str(), "Velquin Dial-Up Connection #3");
    EXPECT_NE(entry.ras_connection, 0u);
    const DialupEntryProperties& p = script->last_set;
    EXPECT_EQ(p.options,
        uint32_t(DialupOptUseCountryAndAreaCodes | DialupOptSpecificIpAddr | DialupOptIpHeaderCompression
            | DialupOptSwCompression));
    EXPECT_EQ(p.local_phone, "0301234");
    EXPECT_EQ(p.protocols, kDialupProtocolIp);
    EXPECT_EQ(p.framing, kDialupFramingPpp);
    EXPECT_EQ(p.device_type, "isdn"); // isdn before modem, whatever the order
    EXPECT_EQ(p.device_name, "Scripted ISDN 1");
    EXPECT_EQ(NetAddressText(p.ip_address), "172.16.12.13"); // 10/8 is used; 0x0d is within 2..253: kept
    ASSERT_FALSE(script->log.empty());
    EXPECT_EQ(script->log.back(), "dial Velquin Dial-Up Connection #3 0301234 ADMIN secret");

    // A named entry keeps its name; without isdn the first modem.
    DialupHangUp();
    script->devices = { { "vpn", "Tunnel" }, { "Modem", "Modem A" }, { "modem", "Modem B" } };
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    EXPECT_EQ(entry.ras_entry.str(), "Velquin Dial-Up Connection #3");
    EXPECT_EQ(script->last_set.device_name, "Modem A");
}

TEST_F(DialupTest, FailuresGiveDialUpErrorWithText)
{
    // The platform reports a failure: its code and text.
    Use({ { DialupScriptStep::Fail, 3000, 678 } });
    EXPECT_EQ(DialupConnect(entry), DevStatusDialUpError);
    EXPECT_EQ(entry.ras_error, 678);
    EXPECT_EQ(DialupErrorText(entry.ras_error), "scripted error 678");
    EXPECT_EQ(script->log.back(), "hangup");
    EXPECT_EQ(entry.progress_kind.load(), 0);

    // No outcome ever: given up after 90 seconds.
    Use({ { DialupScriptStep::Never } });
    uint32_t start = clock.TickMs();
    EXPECT_EQ(DialupConnect(entry), DevStatusDialUpError);
    EXPECT_EQ(clock.TickMs() - start, kDialupOutcomeMs);
    EXPECT_EQ(entry.ras_error, DialupErrorNoOutcome);
    EXPECT_EQ(DialupErrorText(entry.ras_error), DeviceText(1743));
    EXPECT_NE(DialupErrorText(entry.ras_error).find("90 seconds"), std::string::npos);

    // Connected without IP.
    Use({ { DialupScriptStep::Connect, 0, 0, 0, true } });
    EXPECT_EQ(DialupConnect(entry), DevStatusDialUpError);
    EXPECT_EQ(entry.ras_error, kDialupErrorNoIp);

    // No isdn or modem device; no entry name accepted.
    Use({ DialupScriptStep() });
    script->devices = { { "vpn", "Tunnel" } };
    EXPECT_EQ(DialupConnect(entry), DevStatusDialUpError);
    EXPECT_EQ(entry.ras_error, DialupErrorNoDevice);
    EXPECT_FALSE(DialupErrorText(entry.ras_error).empty());
    DeviceEntry unnamed = entry;
    unnamed.ras_entry.clear();
    script->refuse_names = 254;
    EXPECT_EQ(DialupConnect(unnamed), DevStatusDialUpError);
    EXPECT_EQ(unnamed.ras_error, DialupErrorNoEntryName);
    EXPECT_EQ(script->Dials(), 0);

    // A platform without dial-up functions: every dial-up operation ends with 114.
    script->available = false;
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusDialUpError);
    EXPECT_EQ(entry.ras_error, DialupErrorNoSupport);
    EXPECT_EQ(DialupErrorText(entry.ras_error), DeviceText(1740));
}

// A clock that sets the entry's cancel flag once the dial has waited a while (as the window would).
struct CancellingClock : Clock {
    ManualClock& base;
    DeviceEntry& entry;
    uint32_t at;
    CancellingClock(ManualClock& b, DeviceEntry& e, uint32_t when)
        : base(b)
        , entry(e)
        , at(when)
    {
    }
    uint32_t TickMs() override
    {
        return base.TickMs();
    }
    void SleepMs(uint32_t ms) override
    {
        base.SleepMs(ms);
        if (base.TickMs() >= at)
            entry.cancel = 1;
    }
};

TEST_F(DialupTest, CancelWhileDialling)
{
    Use({ { DialupScriptStep::Never } });
    CancellingClock cancelling(clock, entry, clock.TickMs() + 5000);
    DialupSetEnvironment({ script.get(), &cancelling, [] { return 7u; }, {} });
    uint32_t start = clock.TickMs();
    EXPECT_EQ(DialupConnect(entry), DevStatusCancelled);
    EXPECT_EQ(clock.TickMs() - start, 5000u);
    EXPECT_EQ(script->log.back(), "hangup");
    EXPECT_FALSE(DialupIsConnected());
}

TEST_F(DialupTest, ReuseAndIdleHangUp)
{
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    DialupStartIdleHangUp(entry);
    clock.Advance(19000);
    ASSERT_EQ(DialupConnect(entry), DevStatusOk); // still up: reused
    EXPECT_EQ(script->Dials(), 1);

    // Idle for ras_idle_s: the thread hangs up.
    DialupStartIdleHangUp(entry);
    clock.Advance(19000);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(DialupIsConnected());
    clock.Advance(1000);
    EXPECT_TRUE(HungUpSoon());
    EXPECT_EQ(script->log.back(), "hangup");
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    EXPECT_EQ(script->Dials(), 2);

    // Another entry's operation: one connection at a time.
    DeviceEntry other = entry;
    other.ras_connection = 0;
    other.phone_number = "0409876";
    ASSERT_EQ(DialupConnect(other), DevStatusOk);
    EXPECT_EQ(script->Dials(), 3);
    EXPECT_NE(std::find(script->log.begin(), script->log.end(), "hangup"), script->log.end());

    // A line that dropped is dialled again.
    Use({ { DialupScriptStep::Connect, 0, 0, 5000 } });
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    clock.Advance(6000);
    ASSERT_EQ(DialupConnect(entry), DevStatusOk);
    EXPECT_EQ(script->Dials(), 2);

    // An explicit hang-up closes at once.
    DialupHangUp(&entry);
    EXPECT_FALSE(DialupIsConnected());
    EXPECT_EQ(entry.ras_connection, 0u);
}

TEST_F(DialupTest, ReuseCheckNeverRacesTheIdleHangUp)
{
    // With no idle time the thread hangs up at once, while the next operation checks for reuse: the
    // connection an operation is given is always up.
    entry.ras_idle_s = 0;
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(DialupConnect(entry), DevStatusOk);
        ASSERT_TRUE(script->IsConnected(entry.ras_connection)) << i;
        DialupStartIdleHangUp(entry);
        if (i % 3 == 0)
            std::this_thread::yield();
    }
}
} // namespace
