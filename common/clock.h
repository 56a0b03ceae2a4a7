// Time is injected: every retransmission schedule, restart wait and search time-out reads a Clock, so
// tests run them in simulated time instead of sleeping for real seconds.
#pragma once

#include <atomic>
#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
    virtual uint32_t TickMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// The real clock (monotonic).
Clock& SystemClock();

// A clock moved by hand: SleepMs advances it at once. Safe to read from several threads.
class ManualClock : public Clock {
public:
    explicit ManualClock(uint32_t start = 0)
        : now_(start)
    {
    }
    uint32_t TickMs() override
    {
        return now_.load();
    }
    void SleepMs(uint32_t ms) override
    {
        now_ += ms;
    }
    void Advance(uint32_t ms)
    {
        now_ += ms;
    }

private:
    std::atomic<uint32_t> now_;
};
