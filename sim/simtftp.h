// The server side of one TFTP transfer in the simulator, as a state machine over datagrams and time:
// serves a read (the answer of a command) or collects a write, lock-step, with the block-size option
// and the devices' truncated "bl" option answer.
#pragma once

#include "common/platform/net.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A request as it came in: opcode, file name, mode and options.
struct SimRequest {
    bool write = false;
    std::string file;
    std::string mode;
    int32_t blockSize = 0; // the "blksize" option, 0 when not asked for
    std::vector<std::pair<std::string, std::string>> options;
};

// Parses an RRQ or WRQ; false for anything else or a malformed request.
bool SimParseRequest(const uint8_t* data, size_t size, SimRequest* request);
std::vector<uint8_t> SimErrorPacket(uint16_t code, const std::string& message);

class SimTransfer {
public:
    struct Settings {
        uint32_t maxBlockSize = 8192; // the largest block the server agrees to
        bool truncatedOack = false; // answer the option with the two bytes "bl" only
        uint32_t retransmitMs = 1000;
        int retries = 5;
        int silentAfter = -1; // fault: stop sending after this many packets (-1: never)
    };
    enum class State { Running, Done, Failed };

    // A read serves `data`; a write collects into Received().
    SimTransfer(const SimRequest& request, NetAddress client, std::string data, const Settings& settings);

    // A write: looks at the data so far after each block (`complete`: the last block came); false
    // refuses the file with the ERROR `code`/`message` instead of the block's ACK.
    using Inspector
        = std::function<bool(const std::string& received, bool complete, uint16_t* code, std::string* message)>;
    void SetInspector(Inspector inspector)
    {
        inspector_ = std::move(inspector);
    }

    void Start(uint32_t now);
    void Receive(const uint8_t* data, size_t size, NetAddress from, uint32_t now);
    void Tick(uint32_t now);

    State GetState() const
    {
        return state_;
    }
    const std::string& Received() const
    {
        return data_;
    }
    uint32_t BlockSize() const
    {
        return blockSize_;
    }
    uint32_t NextDeadline() const
    {
        return lastSentAt_ + settings_.retransmitMs;
    }
    // Datagrams to send: to the client, or (ERROR 5) to a stranger.
    struct Datagram {
        std::vector<uint8_t> bytes;
        NetAddress to;
    };
    std::vector<Datagram>& Outbox()
    {
        return outbox_;
    }

private:
    void Send(std::vector<uint8_t> packet, uint32_t now);
    void SendBlock(uint32_t now);

    bool write_;
    NetAddress client_;
    std::string data_;
    Settings settings_;
    uint32_t requested_ = 0;
    uint32_t blockSize_ = 512;
    State state_ = State::Running;
    uint32_t block_ = 0; // read: block in flight (32 bits: offset arithmetic past the 16-bit wrap)
    bool lastBlockSent_ = false;
    int sentCount_ = 0;
    int retries_ = 0;
    uint32_t lastSentAt_ = 0;
    std::vector<uint8_t> lastPacket_;
    std::vector<Datagram> outbox_;
    Inspector inspector_;
};
