// A serial port substitute for the console's and the upload's tests, in simulated time: what the peer
// sends arrives at a moment of a manual clock; a read takes what has arrived by its deadline (the clock
// runs to the arrival, or to the deadline when nothing comes), a break lets its time pass, and Discard
// drops only what has arrived by now. The tests' ports add their peer and their log of writes.
#pragma once

#include "common/clock.h"
#include "common/platform/serial.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

class TimedTestPort : public SerialPort {
public:
    explicit TimedTestPort(ManualClock& clock)
        : clock_(clock)
    {
    }
    uint32_t baud = 0;

    // `bytes` arrive `delayMs` from now; `inOrder`: not before what is queued already.
    void Arrive(std::string bytes, uint32_t delayMs, bool inOrder = false)
    {
        if (bytes.empty())
            return;
        uint32_t at = clock_.TickMs() + delayMs;
        if (inOrder && !queue_.empty() && static_cast<int32_t>(queue_.back().first - at) > 0)
            at = queue_.back().first;
        queue_.push_back({ at, std::move(bytes) });
    }

    int SetBaud(uint32_t b) override
    {
        baud = b;
        return 1;
    }
    int Read(void* data, size_t size, uint32_t timeoutMs) override
    {
        if (queue_.empty() || static_cast<int32_t>(queue_.front().first - (clock_.TickMs() + timeoutMs)) > 0) {
            clock_.Advance(timeoutMs);
            return 0;
        }
        auto& [at, text] = queue_.front();
        if (static_cast<int32_t>(at - clock_.TickMs()) > 0)
            clock_.Advance(at - clock_.TickMs());
        size_t n = std::min(size, text.size());
        std::memcpy(data, text.data(), n);
        text.erase(0, n);
        if (text.empty())
            queue_.pop_front();
        return static_cast<int>(n);
    }
    void SendBreak(uint32_t ms) override
    {
        clock_.Advance(ms);
    }
    void Discard() override
    {
        while (!queue_.empty() && static_cast<int32_t>(queue_.front().first - clock_.TickMs()) <= 0)
            queue_.pop_front();
    }

protected:
    ManualClock& clock_;

private:
    std::deque<std::pair<uint32_t, std::string>> queue_;
};
