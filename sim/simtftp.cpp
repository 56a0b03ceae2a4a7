#include "sim/simtftp.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace {
void Put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8 & 0xff));
    out.push_back(static_cast<uint8_t>(value & 0xff));
}

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
} // namespace

bool SimParseRequest(const uint8_t* data, size_t size, SimRequest* request)
{
    if (size < 4)
        return false;
    uint16_t opcode = Get16(data);
    if (opcode != 1 && opcode != 2)
        return false;
    std::vector<std::string> fields;
    std::string current;
    for (size_t i = 2; i < size; ++i) {
        if (data[i] == 0) {
            fields.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() || fields.size() < 2 || fields[0].empty())
        return false;
    *request = SimRequest();
    request->write = opcode == 2;
    request->file = fields[0];
    request->mode = fields[1];
    for (size_t i = 2; i + 1 < fields.size(); i += 2) {
        request->options.emplace_back(fields[i], fields[i + 1]);
        if (StrEqualNoCase(fields[i], "blksize")) {
            size_t used = 0;
            uint32_t value = ParseUnsigned(fields[i + 1], &used);
            request->blockSize = used ? static_cast<int32_t>(std::min<uint32_t>(value, 65464)) : 0;
        }
    }
    return true;
}

std::vector<uint8_t> SimErrorPacket(uint16_t code, const std::string& message)
{
    std::vector<uint8_t> packet(5 + message.size());
    packet[1] = 5;
    packet[2] = static_cast<uint8_t>(code >> 8);
    packet[3] = static_cast<uint8_t>(code & 0xff);
    if (!message.empty())
        std::memcpy(packet.data() + 4, message.data(), message.size());
    return packet;
}

SimTransfer::SimTransfer(const SimRequest& request, NetAddress client, std::string data, const Settings& settings)
    : write_(request.write)
    , client_(client)
    , data_(request.write ? std::string() : std::move(data))
    , settings_(settings)
{
    if (request.blockSize >= 8)
        requested_ = static_cast<uint32_t>(request.blockSize);
}

void SimTransfer::Send(std::vector<uint8_t> packet, uint32_t now)
{
    lastSentAt_ = now;
    lastPacket_ = packet;
    if (settings_.silentAfter >= 0 && sentCount_ >= settings_.silentAfter)
        return; // fault: the device has gone quiet in the middle of the transfer
    ++sentCount_;
    outbox_.push_back({ std::move(packet), client_ });
}

void SimTransfer::SendBlock(uint32_t now)
{
    size_t offset = static_cast<size_t>(block_ - 1) * blockSize_;
    size_t n = offset < data_.size() ? std::min<size_t>(blockSize_, data_.size() - offset) : 0;
    std::vector<uint8_t> packet(4 + n);
    packet[0] = 0;
    packet[1] = 3;
    packet[2] = static_cast<uint8_t>(block_ >> 8 & 0xff);
    packet[3] = static_cast<uint8_t>(block_ & 0xff);
    if (n)
        std::memcpy(packet.data() + 4, data_.data() + offset, n);
    lastBlockSent_ = n < blockSize_;
    Send(std::move(packet), now);
}

void SimTransfer::Start(uint32_t now)
{
    if (requested_) {
        blockSize_ = std::min(requested_, settings_.maxBlockSize);
        std::vector<uint8_t> oack;
        Put16(oack, 6);
        if (settings_.truncatedOack) {
            // Devices that cut the answer leave only "bl"; the client takes its own size, up to 1432.
            blockSize_ = std::min<uint32_t>(requested_, 1432);
            oack.push_back('b');
            oack.push_back('l');
        } else {
            std::string text = "blksize";
            text += '\0';
            text += std::to_string(blockSize_);
            text += '\0';
            oack.insert(oack.end(), text.begin(), text.end());
        }
        Send(std::move(oack), now);
        return;
    }
    if (write_) {
        std::vector<uint8_t> ack;
        Put16(ack, 4);
        Put16(ack, 0);
        Send(std::move(ack), now);
    } else {
        block_ = 1;
        SendBlock(now);
    }
}

void SimTransfer::Receive(const uint8_t* data, size_t size, NetAddress from, uint32_t now)
{
    if (from != client_) {
        outbox_.push_back({ SimErrorPacket(5, "Unknown transfer ID"), from });
        return;
    }
    if (state_ != State::Running && !(write_ && state_ == State::Done))
        return;
    if (size < 4) {
        outbox_.push_back({ SimErrorPacket(4, "Illegal TFTP operation"), client_ });
        state_ = State::Failed;
        return;
    }
    uint16_t opcode = Get16(data);
    uint16_t number = Get16(data + 2);
    if (opcode == 5) {
        state_ = State::Failed;
        return;
    }
    if (!write_ && opcode == 4) {
        if (number != (block_ & 0xffff))
            return; // a duplicate: the time-out repeats, never a duplicate ACK (no doubled traffic)
        retries_ = 0;
        if (block_ > 0 && lastBlockSent_) {
            state_ = State::Done;
            return;
        }
        ++block_;
        SendBlock(now);
        return;
    }
    if (write_ && opcode == 3) {
        uint32_t expected = (block_ + 1) & 0xffff;
        if (number == expected && state_ == State::Running) {
            ++block_;
            retries_ = 0;
            data_.append(reinterpret_cast<const char*>(data) + 4, size - 4);
            if (size - 4 < blockSize_)
                state_ = State::Done;
            uint16_t code = 0;
            std::string message;
            if (inspector_ && !inspector_(data_, state_ == State::Done, &code, &message)) {
                Send(SimErrorPacket(code, message), now);
                state_ = State::Failed;
                return;
            }
        }
        // The last good block is acknowledged again, also after the end (a lost final ACK).
        std::vector<uint8_t> ack;
        Put16(ack, 4);
        Put16(ack, block_ & 0xffff);
        Send(std::move(ack), now);
        return;
    }
    outbox_.push_back({ SimErrorPacket(4, "Illegal TFTP operation"), client_ });
    state_ = State::Failed;
}

void SimTransfer::Tick(uint32_t now)
{
    if (state_ != State::Running || now - lastSentAt_ < settings_.retransmitMs)
        return;
    if (++retries_ > settings_.retries) {
        state_ = State::Failed;
        return;
    }
    Send(lastPacket_, now);
}
