// The receiving side of XMODEM (8-bit checksum) in a simulated device: bytes in, answer bytes out, and
// a tick for the time. NAKs once a second until the first block comes; a packet with a wrong
// complement or checksum is answered with NAK; the block before the expected one (a repeat whose ACK
// was lost) is acknowledged and not stored; EOT ends the transfer. A partial packet followed by a
// second of silence is dropped and answered with NAK. Faults make it cancel, fall silent or NAK a
// block several times.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct SimXmodemFaults {
    int cancelAfter = -1; // CAN instead of the answer to the packet after block N (-1: never)
    int silentAfter = -1; // no answer at all after block N (-1: never)
    int naksPerBlock = 0; // every block is answered with NAK this many times before it is taken
};

class SimXmodemReceiver {
public:
    enum class State { Waiting, Receiving, Done, Cancelled, GaveUp };

    SimXmodemReceiver(SimXmodemFaults faults, uint32_t now)
        : faults_(faults)
        , lastNakAt_(now)
        , lastByteAt_(now)
    {
    }
    // Looks at the data of the first block (the file's header): false refuses the file with CAN.
    std::function<bool(const std::string& firstBlock)> accept;

    std::string Input(std::string_view bytes, uint32_t now);
    std::string Tick(uint32_t now);

    State GetState() const
    {
        return state_;
    }
    // The data stored (whole blocks: the last one with the sender's padding).
    const std::string& Data() const
    {
        return data_;
    }
    uint32_t stored = 0;
    uint32_t checksumErrors = 0;
    uint32_t duplicates = 0;

private:
    std::string Packet();

    SimXmodemFaults faults_;
    State state_ = State::Waiting;
    std::string packet_; // bytes of the packet being received
    std::string data_;
    uint32_t expected_ = 1; // the next block number (32 bits; its low byte is on the wire)
    int naks_ = 0; // NAKs given to the expected block by the NAK fault
    int waitingNaks_ = 0; // NAKs sent while waiting for the first block
    uint32_t lastNakAt_;
    uint32_t lastByteAt_;
};
