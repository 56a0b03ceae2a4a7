#include "device/xmodem.h"

#include <cstring>

std::string XmodemPacket(uint32_t number, const void* data, size_t size)
{
    std::string packet(kXmPacket, '\0');
    packet[0] = static_cast<char>(kXmSoh);
    packet[1] = static_cast<char>(number & 0xff);
    packet[2] = static_cast<char>(0xff - (number & 0xff));
    if (size > kXmBlock)
        size = kXmBlock;
    if (size)
        std::memcpy(&packet[3], data, size);
    uint8_t sum = 0;
    for (size_t i = 0; i < kXmBlock; ++i)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(packet[3 + i]));
    packet[3 + kXmBlock] = static_cast<char>(sum);
    return packet;
}

XmodemSender::Step XmodemSender::Next(uint32_t now)
{
    char data[kXmBlock];
    size_t got = 0;
    // A source may hand out less than asked before its end: fill the block.
    while (got < kXmBlock) {
        size_t n = source_(data + got, kXmBlock - got);
        if (n == 0)
            break;
        if (n > kXmBlock - got) {
            state_ = State::SourceFailed;
            return {};
        }
        got += n;
    }
    if (got == 0) {
        eot_ = true;
        packet_.assign(1, static_cast<char>(kXmEot));
    } else {
        packet_ = XmodemPacket(blocks_ + 1, data, got);
    }
    dataBytes_ = got;
    tries_ = 0;
    return Resend(now);
}

XmodemSender::Step XmodemSender::Resend(uint32_t now)
{
    if (tries_ >= kXmTries) {
        state_ = State::NoAnswer;
        return {};
    }
    ++tries_;
    sentAt_ = now;
    return Step { true, packet_ };
}

XmodemSender::Step XmodemSender::Start(uint32_t now)
{
    return Next(now);
}

XmodemSender::Step XmodemSender::OnByte(uint8_t byte, uint32_t now)
{
    if (state_ != State::Sending)
        return {};
    if (byte == kXmCan) {
        state_ = State::Cancelled;
        return {};
    }
    if (byte != kXmAck)
        return Resend(now);
    if (eot_) {
        state_ = State::Done;
        return {};
    }
    ++blocks_;
    acknowledged_ += dataBytes_;
    return Next(now);
}

XmodemSender::Step XmodemSender::OnTimeout(uint32_t now)
{
    if (state_ != State::Sending)
        return {};
    return Resend(now);
}

XmodemSender::State XmodemSend(
    XmodemSender& sender, SerialPort& port, Clock& clock, std::atomic<int32_t>* progress, bool* portFailed)
{
    *portFailed = false;
    XmodemSender::Step step = sender.Start(clock.TickMs());
    for (;;) {
        if (step.discard)
            port.Discard();
        if (!step.send.empty() && !port.Write(step.send.data(), step.send.size())) {
            *portFailed = true;
            return sender.GetState();
        }
        if (progress)
            *progress = static_cast<int32_t>(sender.Acknowledged());
        if (sender.GetState() != XmodemSender::State::Sending)
            return sender.GetState();
        uint32_t now = clock.TickMs();
        int32_t left = static_cast<int32_t>(sender.Deadline() - now);
        uint8_t byte = 0;
        int n = left > 0 ? port.Read(&byte, 1, static_cast<uint32_t>(left)) : 0;
        if (n < 0) {
            *portFailed = true;
            return sender.GetState();
        }
        now = clock.TickMs();
        if (n > 0)
            step = sender.OnByte(byte, now);
        else if (static_cast<int32_t>(sender.Deadline() - now) <= 0)
            step = sender.OnTimeout(now);
        else
            step = {};
    }
}
