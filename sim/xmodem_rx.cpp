#include "sim/xmodem_rx.h"

namespace {
constexpr char kSoh = 0x01, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18;
constexpr size_t kBlock = 128;
constexpr size_t kPacket = 3 + kBlock + 1;
constexpr uint32_t kNakEveryMs = 1000; // while waiting for the first block
constexpr int kWaitingNaks = 60; // then it gives up
constexpr uint32_t kPartialMs = 1000; // a packet cut short
} // namespace

std::string SimXmodemReceiver::Packet()
{
    const auto* p = reinterpret_cast<const unsigned char*>(packet_.data());
    uint8_t sum = 0;
    for (size_t i = 3; i < 3 + kBlock; ++i)
        sum = static_cast<uint8_t>(sum + p[i]);
    uint8_t number = p[1];
    if (static_cast<uint8_t>(0xff - number) != p[2] || sum != p[3 + kBlock]) {
        ++checksumErrors;
        return std::string(1, kNak);
    }
    if (number == static_cast<uint8_t>(expected_ - 1) && stored > 0) {
        ++duplicates;
        return std::string(1, kAck);
    }
    if (number != static_cast<uint8_t>(expected_))
        return std::string(1, kNak);
    if (faults_.cancelAfter >= 0 && stored >= static_cast<uint32_t>(faults_.cancelAfter)) {
        state_ = State::Cancelled;
        return std::string(2, kCan);
    }
    if (naks_ < faults_.naksPerBlock) {
        ++naks_;
        return std::string(1, kNak);
    }
    std::string block = packet_.substr(3, kBlock);
    if (stored == 0 && accept && !accept(block)) {
        state_ = State::Cancelled;
        return std::string(2, kCan);
    }
    data_ += block;
    ++stored;
    ++expected_;
    naks_ = 0;
    state_ = State::Receiving;
    return std::string(1, kAck);
}

std::string SimXmodemReceiver::Input(std::string_view bytes, uint32_t now)
{
    std::string out;
    for (char c : bytes) {
        if (state_ != State::Waiting && state_ != State::Receiving)
            break;
        lastByteAt_ = now;
        bool silent = faults_.silentAfter >= 0 && stored >= static_cast<uint32_t>(faults_.silentAfter);
        if (packet_.empty()) {
            if (c == kSoh) {
                packet_ += c;
            } else if (c == kEot) {
                if (silent)
                    continue;
                state_ = State::Done;
                out += kAck;
            } else if (c == kCan) {
                state_ = State::Cancelled;
            }
            continue; // anything else between packets is line noise
        }
        packet_ += c;
        if (packet_.size() < kPacket)
            continue;
        std::string answer = Packet();
        packet_.clear();
        if (!silent)
            out += answer;
    }
    return out;
}

std::string SimXmodemReceiver::Tick(uint32_t now)
{
    if (state_ == State::Waiting && packet_.empty() && now - lastNakAt_ >= kNakEveryMs) {
        lastNakAt_ = now;
        if (++waitingNaks_ > kWaitingNaks) {
            state_ = State::GaveUp;
            return std::string(1, kCan);
        }
        return std::string(1, kNak);
    }
    bool silent = faults_.silentAfter >= 0 && stored >= static_cast<uint32_t>(faults_.silentAfter);
    if ((state_ == State::Waiting || state_ == State::Receiving) && !packet_.empty() && !silent
        && now - lastByteAt_ >= kPartialMs) {
        packet_.clear();
        lastNakAt_ = now;
        return std::string(1, kNak);
    }
    return {};
}
