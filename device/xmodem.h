// The XMODEM sender of the serial firmware upload (8-bit checksum), as a state machine over the bytes
// that come back and the time: packets of SOH, block number (from 1, one byte, wrapping), its
// complement, 128 data bytes (the last block padded with 0) and the sum of the data bytes; after the
// last block EOT alone. Each packet (or the EOT) goes out up to 10 times until an ACK or CAN arrives
// within 5 s of the send; any other byte or silence sends it again. Input pending before a packet goes
// out is dropped, so that an answer is always an answer to that packet (a receiver's NAKs while it
// waited for the start are never taken for the first packet's answer).
#pragma once

#include "common/clock.h"
#include "common/platform/serial.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr uint8_t kXmSoh = 0x01, kXmEot = 0x04, kXmAck = 0x06, kXmNak = 0x15, kXmCan = 0x18;
constexpr size_t kXmBlock = 128;
constexpr size_t kXmPacket = 3 + kXmBlock + 1;
constexpr int kXmTries = 10;
constexpr uint32_t kXmAnswerMs = 5000;

// The packet of block `number` (its low byte goes on the wire) with `size` (at most 128) data bytes.
std::string XmodemPacket(uint32_t number, const void* data, size_t size);

class XmodemSender {
public:
    // Reads up to `size` bytes of the file into `data`; returns the number read (0 at the end).
    using Source = std::function<size_t(void* data, size_t size)>;
    enum class State { Sending, Done, Cancelled, NoAnswer, SourceFailed };
    // What the driver does next: drop pending input (before a send), send bytes, then wait for a byte
    // until `deadline` (a tick of the clock) unless the transfer has ended.
    struct Step {
        bool discard = false;
        std::string send;
    };

    explicit XmodemSender(Source source)
        : source_(std::move(source))
    {
    }
    Step Start(uint32_t now);
    Step OnByte(uint8_t byte, uint32_t now);
    Step OnTimeout(uint32_t now);

    State GetState() const
    {
        return state_;
    }
    uint32_t Deadline() const
    {
        return sentAt_ + kXmAnswerMs;
    }
    // Data bytes acknowledged so far (the file's bytes, without padding).
    uint64_t Acknowledged() const
    {
        return acknowledged_;
    }
    // Blocks acknowledged so far, and the sends of the packet in flight.
    uint32_t Blocks() const
    {
        return blocks_;
    }
    int Tries() const
    {
        return tries_;
    }

private:
    Step Next(uint32_t now); // the next packet (or EOT) after an ACK
    Step Resend(uint32_t now);

    Source source_;
    State state_ = State::Sending;
    std::string packet_; // in flight: a data packet or the EOT
    size_t dataBytes_ = 0; // data bytes of the packet in flight
    bool eot_ = false;
    uint32_t blocks_ = 0;
    uint64_t acknowledged_ = 0;
    int tries_ = 0;
    uint32_t sentAt_ = 0;
};

// Runs a sender over a port: the steps, one byte read at a time until the deadline. `progress`
// receives the data bytes acknowledged. Returns the final state; `portFailed` is set when the port
// failed (a write refused or a read error).
XmodemSender::State XmodemSend(
    XmodemSender& sender, SerialPort& port, Clock& clock, std::atomic<int32_t>* progress, bool* portFailed);
