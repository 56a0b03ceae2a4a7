#include "common/platform/serial.h"

#include <algorithm>

namespace {
// Time left until `deadline` (0 once it passed); the tick wraps like GetTickCount.
uint32_t Remaining(Clock& clock, uint32_t deadline)
{
    int32_t left = static_cast<int32_t>(deadline - clock.TickMs());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}
} // namespace

int SerialLineReader::Fill(uint32_t ms)
{
    char buffer[512];
    int n = port_.Read(buffer, sizeof buffer, ms);
    if (n < 0)
        return -1;
    pending_.append(buffer, static_cast<size_t>(n));
    return n > 0 ? 1 : 0;
}

int SerialLineReader::ReadLine(std::string* line, size_t limit, uint32_t timeoutMs)
{
    line->clear();
    lastCut_ = false;
    uint32_t deadline = clock_.TickMs() + timeoutMs;
    size_t scanned = 0;
    for (;;) {
        size_t lf = pending_.find('\n', scanned);
        if (lf != std::string::npos && lf <= limit) {
            line->assign(pending_, 0, lf);
            pending_.erase(0, lf + 1);
            return SerialLine;
        }
        if (pending_.size() >= limit) {
            // A line longer than the limit is handed out in pieces of `limit` characters.
            line->assign(pending_, 0, limit);
            pending_.erase(0, limit);
            lastCut_ = true;
            return SerialLine;
        }
        scanned = pending_.size();
        uint32_t left = Remaining(clock_, deadline);
        if (left == 0) {
            if (pending_.empty())
                return SerialSilence;
            line->swap(pending_);
            pending_.clear();
            return SerialLine;
        }
        if (Fill(left) < 0)
            return SerialLineError;
    }
}

int SerialLineReader::WaitFor(const std::vector<std::string_view>& texts, uint32_t timeoutMs)
{
    uint32_t deadline = clock_.TickMs() + timeoutMs;
    size_t longest = 0;
    for (std::string_view t : texts)
        longest = std::max(longest, t.size());
    for (;;) {
        size_t best = std::string::npos;
        int found = -1;
        for (size_t i = 0; i < texts.size(); ++i) {
            size_t at = texts[i].empty() ? std::string::npos : pending_.find(texts[i]);
            if (at != std::string::npos && (best == std::string::npos || at < best)) {
                best = at;
                found = static_cast<int>(i);
            }
        }
        if (found >= 0) {
            pending_.erase(0, best + texts[static_cast<size_t>(found)].size());
            return found;
        }
        // Keep only a tail that may still begin one of the texts.
        if (longest > 1 && pending_.size() >= longest)
            pending_.erase(0, pending_.size() - (longest - 1));
        else if (longest <= 1)
            pending_.clear();
        uint32_t left = Remaining(clock_, deadline);
        if (left == 0 || Fill(left) < 0)
            return -1;
    }
}

void SerialLineReader::Discard()
{
    pending_.clear();
    port_.Discard();
}

void SerialLineReader::PauseAndDiscard(uint32_t ms)
{
    clock_.SleepMs(ms);
    Discard();
}
