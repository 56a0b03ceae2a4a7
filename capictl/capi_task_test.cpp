#include "capictl/capi_keys.h"
#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "capictl/capi_testrecords.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
// An in-process driver: answers a too small buffer at once with ERROR_MORE_DATA, the first fitting
// request after each open with the current status, later ones when the status changes; fails requests
// while told to; keeps every control buffer.
struct FakeDriver {
    std::mutex mutex;
    std::condition_variable changed;
    std::string status;
    uint64_t generation = 1;
    int failures = 0; // the next requests that fail (pending ones too)
    std::vector<uint32_t> sizes; // of every status request
    std::vector<uint32_t> times; // the clock at every status request
    std::vector<std::string> controls;
    uint32_t controlError = 0;
    int notifications = 0;
    ManualClock clock { 5000 };

    void Push(const std::string& s)
    {
        std::lock_guard<std::mutex> lock(mutex);
        status = s;
        ++generation;
        changed.notify_all();
    }
    void Fail(int count)
    {
        std::lock_guard<std::mutex> lock(mutex);
        failures = count;
        changed.notify_all();
    }
    // Waits (bounded) until `done` holds under the lock.
    template<class F> bool WaitFor(F done)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), done);
    }
};

class FakeDevice : public CapiDevice {
public:
    explicit FakeDevice(FakeDriver& d)
        : d_(d)
    {
    }
    uint32_t GetStatus(uint8_t* buffer, uint32_t size, uint32_t* bytes) override
    {
        std::unique_lock<std::mutex> lock(d_.mutex);
        d_.sizes.push_back(size);
        d_.times.push_back(d_.clock.TickMs());
        d_.changed.notify_all();
        for (;;) {
            if (cancelled_)
                return kCapiErrorAborted;
            if (d_.failures > 0) {
                --d_.failures;
                return 31; // ERROR_GEN_FAILURE
            }
            if (seen_ != d_.generation) {
                if (size < d_.status.size())
                    return kCapiErrorMoreData;
                std::copy(d_.status.begin(), d_.status.end(), buffer);
                *bytes = static_cast<uint32_t>(d_.status.size());
                seen_ = d_.generation;
                return 0;
            }
            d_.changed.wait(lock);
        }
    }
    uint32_t Control(const uint8_t* data, uint32_t size) override
    {
        std::lock_guard<std::mutex> lock(d_.mutex);
        if (d_.controlError)
            return d_.controlError;
        d_.controls.emplace_back(reinterpret_cast<const char*>(data), size);
        return 0;
    }
    void Cancel() override
    {
        std::lock_guard<std::mutex> lock(d_.mutex);
        cancelled_ = true;
        d_.changed.notify_all();
    }

private:
    FakeDriver& d_;
    uint64_t seen_ = 0;
    bool cancelled_ = false;
};

class CapiTask : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegUseMemory(true);
        RegMemoryClear();
        UsePlatform(false);
    }
    void TearDown() override
    {
        CapiClose();
        RegUseMemory(false);
    }
    void UsePlatform(bool windows9x, std::string alt = "")
    {
        CapiPlatform p;
        p.open = [this](const std::string& name, uint32_t* error) -> std::unique_ptr<CapiDevice> {
            opened.push_back(name);
            if (name != available) {
                *error = 2;
                return nullptr;
            }
            return std::make_unique<FakeDevice>(driver);
        };
        p.notify = [this] {
            std::lock_guard<std::mutex> lock(driver.mutex);
            ++driver.notifications;
            driver.changed.notify_all();
        };
        p.clock = &driver.clock;
        p.windows9x = windows9x;
        p.altDevice = alt;
        CapiSetPlatform(p);
    }
    // Waits until the status thread has issued `n` requests in all.
    bool Requests(size_t n)
    {
        return driver.WaitFor([&] { return driver.sizes.size() >= n; });
    }

    FakeDriver driver;
    std::string available = "\\\\.\\CAPI201";
    std::vector<std::string> opened;
};

TEST_F(CapiTask, BufferGrowsByStepsAndIsNeverShrunk)
{
    std::string status = CapiTestDevice(1, 1, 1, "", std::string(1400, 'n')) + CapiTestApplication();
    ASSERT_EQ(status.size(), 1459u);
    driver.status = status + std::string(41, '\0'); // 1500 bytes: a record walk stops at the zero header
    ASSERT_EQ(CapiOpen(), 1);
    ASSERT_TRUE(Requests(3)); // 1024 fails, 2048 answered, the third one waits
    EXPECT_EQ(driver.sizes, (std::vector<uint32_t> { 1024, 2048, 2048 }));
    ASSERT_TRUE(driver.WaitFor([&] { return driver.notifications == 1; }));
    EXPECT_EQ(CapiStatus().Bytes(), 1500u);
    EXPECT_EQ(CapiCountDevices(true), 1u);
    EXPECT_EQ(CapiCountApplications(), 1u);

    // A small status later: the request still offers the whole 2048 bytes, and each buffer handed back
    // is grown again before use.
    driver.Push(CapiTestApplication());
    ASSERT_TRUE(Requests(4));
    driver.Push(CapiTestApplication() + CapiTestApplication());
    ASSERT_TRUE(Requests(5));
    EXPECT_EQ(driver.sizes.back(), 2048u);
    ASSERT_TRUE(driver.WaitFor([&] { return driver.notifications == 3; }));
    EXPECT_EQ(CapiCountApplications(), 2u);
    // Nothing changed: no further request completed, nothing more was notified.
    EXPECT_EQ(driver.sizes.size(), 5u);
    EXPECT_EQ(driver.notifications, 3);
}

TEST_F(CapiTask, CloseEndsAPendingRequestAndEmptiesTheStatus)
{
    driver.status = CapiTestApplication();
    ASSERT_EQ(CapiOpen(), 1);
    ASSERT_TRUE(Requests(2)); // the second one is pending
    EXPECT_EQ(CapiOpen(), 0); // already open
    CapiClose();
    EXPECT_FALSE(CapiIsOpen());
    EXPECT_EQ(CapiCountApplications(), 0u);
    EXPECT_EQ(CapiDisconnect(1), 0);
    EXPECT_EQ(CapiLastError(), kCapiErrorNotOpen);
    // Open again: the first request is answered at once.
    ASSERT_EQ(CapiOpen(), 1);
    ASSERT_TRUE(driver.WaitFor([&] { return driver.notifications == 2; }));
    EXPECT_EQ(CapiCountApplications(), 1u);
}

TEST_F(CapiTask, FailuresArePausedWithGrowingPauses)
{
    driver.status = CapiTestApplication();
    driver.failures = 8;
    ASSERT_EQ(CapiOpen(), 1);
    ASSERT_TRUE(driver.WaitFor([&] { return driver.notifications == 1; }));
    ASSERT_TRUE(Requests(10));
    std::vector<uint32_t> gaps;
    for (size_t i = 1; i < driver.times.size(); ++i)
        gaps.push_back(driver.times[i] - driver.times[i - 1]);
    // Eight failures, the answer, then the pending request right after it.
    EXPECT_EQ(gaps, (std::vector<uint32_t> { 100, 200, 400, 800, 1600, 2000, 2000, 2000, 0 }));

    // A success starts the pauses over; a pending request that fails counts as a failure.
    driver.Fail(2);
    driver.Push(CapiTestApplication() + CapiTestApplication());
    ASSERT_TRUE(driver.WaitFor([&] { return driver.notifications == 2; }));
    ASSERT_TRUE(Requests(13));
    EXPECT_EQ(driver.times[10] - driver.times[9], 100u);
    EXPECT_EQ(driver.times[11] - driver.times[10], 200u);
    EXPECT_EQ(CapiCountApplications(), 2u);
}

TEST_F(CapiTask, CloseCutsAPauseShort)
{
    // A clock that does not move: the pause would last for ever.
    CapiPlatform p;
    p.open = [this](const std::string&, uint32_t*) -> std::unique_ptr<CapiDevice> {
        return std::make_unique<FakeDevice>(driver);
    };
    struct StillClock : Clock {
        std::atomic<int> sleeps { 0 };
        uint32_t TickMs() override
        {
            return 0;
        }
        void SleepMs(uint32_t) override
        {
            ++sleeps;
        }
    } clock;
    p.clock = &clock;
    CapiSetPlatform(p);
    driver.failures = 1;
    ASSERT_EQ(CapiOpen(), 1);
    while (clock.sleeps < 3) {
        std::this_thread::yield();
    }
    CapiClose(); // returns: the pause looks at the handle between its slices
    EXPECT_EQ(driver.sizes.size(), 1u);
}

TEST_F(CapiTask, AlternativeDeviceOnlyOnWindows9x)
{
    available = "\\\\.\\RCAPIVXD";
    UsePlatform(false, "\\\\.\\RCAPIVXD");
    EXPECT_EQ(CapiOpen(), 0);
    EXPECT_EQ(CapiLastError(), 2u);
    EXPECT_EQ(opened, std::vector<std::string> { "\\\\.\\CAPI201" });
    UsePlatform(true, "\\\\.\\RCAPIVXD");
    ASSERT_EQ(CapiOpen(), 1);
    EXPECT_EQ(opened.back(), "\\\\.\\RCAPIVXD");
    CapiClose();
    UsePlatform(true, "");
    EXPECT_EQ(CapiOpen(), 0);
}

TEST_F(CapiTask, ControlRequestsCarryTheirRecords)
{
    RegKey params;
    ASSERT_EQ(params.Create(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters"),
        RegStatus::Ok);
    params.WriteDword("Flags", 3);
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::WindowsNT), 1);
    ASSERT_EQ(CapiOpen(), 1);
    EXPECT_EQ(CapiPushSettings(), 1);
    EXPECT_EQ(CapiSetSuspended(1), 1);
    EXPECT_EQ(CapiDisconnect(77), 1);
    std::string settings;
    CapiBuildSettings(RegRoot::LocalMachine, CapiGetKeys().parameters, &settings);
    std::string drop;
    CapiAppendCommand(&drop, 77);
    EXPECT_EQ(driver.controls, (std::vector<std::string> { settings, CapiSuspendRecords(1), drop }));

    // A refused request is a failure with the driver's error, and is not repeated.
    driver.controlError = 87;
    EXPECT_EQ(CapiDisconnect(78), 0);
    EXPECT_EQ(CapiLastError(), 87u);
    EXPECT_EQ(driver.controls.size(), 3u);
    // Without a parameters key nothing is sent.
    driver.controlError = 0;
    RegKeyDeleteTree(RegRoot::LocalMachine, CapiGetKeys().parameters);
    EXPECT_EQ(CapiPushSettings(), 0);
    EXPECT_EQ(driver.controls.size(), 3u);
}
} // namespace
