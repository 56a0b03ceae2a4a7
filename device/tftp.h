// The TFTP client: one read (TftpGet) or write (TftpPut) transfer over UDP, with the block-size option
// and the devices' truncated "bl" option answer. A device's TFTP server treats the file name as a
// command (devcmd.h builds on this).
//
// The transfer is a state machine over datagrams and time (TftpTransfer) driven by a thin loop
// (TftpRun) over a TftpLink: a UDP socket in the program, a scripted peer in tests, so retransmission
// and time-outs run in simulated time.
#pragma once

#include "common/clock.h"
#include "common/platform/net.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Why the last transfer failed: 0 local failure or cancel, -1 time-out or an unexpected packet, else
// the code of the ERROR packet the server sent, or of the one the client sent when it refused the
// server's answer (4 a DATA block longer than agreed, 8 an option answer). Transfers run on one thread
// at a time (the device worker), so process-wide values are enough.
extern int32_t TftpLastError;
// 1 when TftpLastError came in an ERROR packet from the server (also code 0), else 0.
extern int32_t TftpLastErrorFromServer;
// The failure in words, safe to print: the server's message with control characters escaped, or the
// client's own reason for refusing an answer or a request; empty after a time-out, cancel or local failure.
extern std::string TftpLastErrorText;

constexpr uint32_t kTftpMaxBlockSize = 8192;
constexpr size_t kTftpMaxPacket = kTftpMaxBlockSize + 4;
constexpr uint16_t kTftpPort = 69;

enum TftpOpcode : uint16_t { kTftpRrq = 1, kTftpWrq = 2, kTftpData = 3, kTftpAck = 4, kTftpError = 5, kTftpOack = 6 };

// The local side of a transfer: the destination of a read, the source of a write.
class TftpStream {
public:
    virtual ~TftpStream() = default;
    virtual int Write(const uint8_t* data, size_t size) = 0; // 1 when all was written
    virtual int Read(uint8_t* data, size_t size) = 0; // bytes read (0 at the end), -1 on error
    virtual int64_t Position() = 0;
};

// A C stream (a temporary file): reads from and appends at its current position.
class TftpFileStream : public TftpStream {
public:
    explicit TftpFileStream(std::FILE* file)
        : file_(file)
    {
    }
    int Write(const uint8_t* data, size_t size) override;
    int Read(uint8_t* data, size_t size) override;
    int64_t Position() override;

private:
    std::FILE* file_;
};

// Bytes in memory (tests, the system information text).
class TftpMemoryStream : public TftpStream {
public:
    explicit TftpMemoryStream(std::string data = {})
        : data_(std::move(data))
    {
    }
    int Write(const uint8_t* data, size_t size) override;
    int Read(uint8_t* data, size_t size) override;
    int64_t Position() override
    {
        return static_cast<int64_t>(pos_);
    }
    const std::string& Data() const
    {
        return data_;
    }
    size_t limit = SIZE_MAX; // writes beyond this many bytes fail (tests of a full disk)

private:
    std::string data_;
    size_t pos_ = 0;
};

enum class TftpState { Running, Done, Failed };

// One transfer as a state machine. Each event may queue datagrams in the outbox, which the driver
// sends in order and clears.
class TftpTransfer {
public:
    struct Datagram {
        std::vector<uint8_t> bytes;
        NetAddress to;
    };

    // `write`: a WRQ transfer from `stream`, else an RRQ into it. `blockSize` 0 asks for 8192.
    TftpTransfer(
        bool write, NetAddress server, std::string file, uint32_t timeoutMs, int32_t blockSize, TftpStream& stream);

    void Start(uint32_t now); // queues the request (or fails when it does not fit one datagram)
    // Milliseconds from `now` until Idle is due (0: now). Only the transfer's own sends and the
    // server's datagrams move this moment; a stranger's datagrams never do.
    uint32_t IdleDueIn(uint32_t now) const;
    void Idle(uint32_t now); // a second passed since the last send: retransmit, or give up
    void Receive(const uint8_t* data, size_t size, NetAddress from, uint32_t now);
    void Cancel(); // the user stops: ERROR 0 to the server
    void LocalFailure(); // the socket failed: end without a word to the server

    TftpState State() const
    {
        return state_;
    }
    int32_t Error() const
    {
        return error_;
    }
    bool ErrorFromServer() const
    {
        return errorFromServer_;
    }
    const std::string& ErrorText() const
    {
        return errorText_;
    }
    uint32_t BlockSize() const
    {
        return blockSize_;
    }
    NetAddress Server() const
    {
        return server_;
    }
    int64_t Progress() const
    {
        return progress_;
    }
    std::vector<Datagram>& Outbox()
    {
        return outbox_;
    }

private:
    void Send(std::vector<uint8_t> bytes); // to the server, remembered for retransmission
    void SendError(uint16_t code, NetAddress to);
    void Fail(int32_t error);
    void Refuse(uint16_t code, std::string reason); // ERROR `code` to the server, then fail with `reason`
    bool ReadOptions(const uint8_t* data, size_t size, std::string* reason);
    void ReceiveError(const uint8_t* data, size_t size);
    void SendAck();
    void SendNextData();

    bool write_;
    NetAddress server_;
    uint16_t requestPort_;
    std::string file_;
    uint32_t timeoutMs_;
    uint32_t requested_;
    TftpStream& stream_;

    TftpState state_ = TftpState::Running;
    int32_t error_ = 0;
    bool errorFromServer_ = false;
    std::string errorText_;
    bool pinned_ = false; // the server's port (its transfer identifier) is known
    bool optionsSeen_ = false; // an OACK was taken; a repeated one only repeats ACK 0 (read)
    uint32_t blockSize_ = 512; // stays 512 unless the server acknowledges the option
    uint32_t lastReceived_ = 0; // the server's last datagram
    uint32_t lastSentAt_ = 0; // the last send to the server: the next retransmission is a second later
    uint32_t now_ = 0; // the time of the event being handled
    uint16_t block_ = 0; // read: last block received; write: current block
    bool sentData_ = false; // write: a DATA block went out (block 0 recurs after the wrap)
    int64_t progress_ = 0;
    std::vector<uint8_t> lastSent_; // the last request, ACK or DATA (write: the current block's data)
    std::vector<Datagram> outbox_;
};

// The datagram side of a transfer.
class TftpLink {
public:
    virtual ~TftpLink() = default;
    virtual int Send(const uint8_t* data, size_t size, NetAddress to) = 0; // bytes sent or -1
    virtual int Wait(uint32_t timeoutMs) = 0; // 1 readable, 0 time-out, -1 failure
    virtual int Receive(uint8_t* data, size_t size, NetAddress* from) = 0; // datagram size or -1
};

// A UDP socket bound to any local address and port 0. Wait receives the datagram it waits for (one
// system call per datagram instead of two); Receive hands it over.
class TftpUdpLink : public TftpLink {
public:
    int Open(); // 1 on success
    int Send(const uint8_t* data, size_t size, NetAddress to) override;
    int Wait(uint32_t timeoutMs) override;
    int Receive(uint8_t* data, size_t size, NetAddress* from) override;

private:
    UdpSocket socket_;
    std::vector<uint8_t> pending_; // the datagram Wait received, cut one byte past kTftpMaxPacket
    int pendingSize_ = -1; // its size, -1 when none waits
    NetAddress pendingFrom_;
};

// Runs a transfer to its end: waits at most a second at a time so that a cancel request is seen within
// a second, and retransmits or gives up when the transfer says so, however many strangers' datagrams come. Returns 1
// when the transfer is done, 0 when it failed or was cancelled.
int TftpRun(TftpTransfer& transfer, TftpLink& link, Clock& clock, std::atomic<int32_t>* progress,
    const std::atomic<int32_t>* cancel);

// Where transfers take their link and their time; tests put a scripted peer and a manual clock here.
struct TftpEnvironment {
    Clock* clock = nullptr; // nullptr: the system clock
    std::function<std::unique_ptr<TftpLink>()> openLink; // empty: a UDP socket; nullptr result: failure
};
void TftpSetEnvironment(TftpEnvironment environment);
Clock& TftpClock();

// The last failure for the user: the server's message and code ("File not found (1)"), the client's
// own reason for refusing the server's answer or the request, or empty (time-out, cancel, local failure).
std::string TftpLastFailureText();

// `address` and `port` in host order; port 0 means 69. `progress` receives the stream position after
// each block; a nonzero `cancel` stops the transfer. Return 1 on success, 0 on failure (TftpLastError).
int TftpGet(uint32_t address, uint16_t port, const char* file, TftpStream& stream, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress = nullptr, const std::atomic<int32_t>* cancel = nullptr);
int TftpPut(uint32_t address, uint16_t port, const char* file, TftpStream& stream, uint32_t timeoutMs,
    int32_t blockSize, std::atomic<int32_t>* progress = nullptr, const std::atomic<int32_t>* cancel = nullptr);
