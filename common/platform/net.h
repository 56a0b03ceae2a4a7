// UDP sockets for TFTP, SNMP, the device search and the simulator: one small RAII wrapper over BSD
// sockets and Winsock. Addresses and ports are in host byte order throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct NetAddress {
    uint32_t ip = 0; // host order: 127.0.0.1 is 0x7f000001
    uint16_t port = 0; // host order
    bool operator==(const NetAddress&) const = default;
};

// One datagram of a batch (UdpSocket::SendMany, ReceiveMany).
struct NetDatagram {
    void* data = nullptr; // the bytes to send, or the buffer to receive into
    size_t size = 0; // send: the bytes to send; receive: the buffer's size in, the datagram's size out
    NetAddress peer; // send: the destination; receive: the sender
    // Receive: the datagram's whole size; larger than `size` when it did not fit the buffer and was cut
    // (where the platform cannot tell its size, `size` + 1).
    size_t whole = 0;
};

// Starts the network stack (WSAStartup 2.2 on Windows; nothing elsewhere). Returns 1 on success.
int NetStartup();
void NetCleanup();

// "a.b.c.d" <-> address; the parse accepts exactly four decimal numbers of at most 255.
std::string NetAddressText(uint32_t ip);
std::optional<uint32_t> NetParseAddress(std::string_view text);

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket()
    {
        Close();
    }
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Opens an IPv4 datagram socket. Returns 1 on success.
    int Open();
    // Binds to ip:port (port 0: any free port). Returns 1 on success.
    int Bind(uint32_t ip, uint16_t port);
    int SetBroadcast(bool on);
    int SetReuseAddress(bool on);
    int SetReceiveBuffer(int bytes);
    // Sends one datagram; returns the bytes sent or -1.
    int SendTo(const void* data, size_t size, NetAddress to);
    // Receives one datagram; returns its size, or -1 on error. A datagram longer than `size` is cut.
    int ReceiveFrom(void* data, size_t size, NetAddress* from);
    // Waits until a datagram can be read: 1 ready, 0 time-out, -1 error.
    int WaitReadable(uint32_t timeoutMs);
    // Waits at most `timeoutMs` for a datagram and receives it: its size, -2 on time-out, -1 on error. One
    // system call where the platform allows (a receive time-out on the socket, which then stays set: a
    // later plain ReceiveFrom on an empty socket also gives up after it) instead of WaitReadable and
    // ReceiveFrom; for lock-step exchanges such as TFTP.
    int ReceiveFrom(void* data, size_t size, NetAddress* from, uint32_t timeoutMs);
    // Sends `count` datagrams in order, several per system call where the platform allows (sendmmsg).
    // A datagram that cannot be sent is passed over; returns how many were sent.
    size_t SendMany(NetDatagram* datagrams, size_t count);
    // Waits at most `timeoutMs` for a datagram (0: does not wait), then takes it and every further one
    // already waiting, up to `count` (at most 64 a call), without waiting again: one system call where the platform
    // allows (recvmmsg). Fills in each one's size (cut to its buffer) and sender. Returns how many were received, -2 on
    // time-out, -1 on error. Like ReceiveFrom with a time-out, it leaves that time-out set on the socket.
    int ReceiveMany(NetDatagram* datagrams, size_t count, uint32_t timeoutMs);
    std::optional<NetAddress> LocalAddress() const;
    void Close();
    bool IsOpen() const
    {
        return handle_ != kInvalid;
    }
    intptr_t Handle() const
    {
        return handle_;
    }

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
    uint32_t receiveTimeoutMs_ = 0; // the receive time-out set on the socket, 0: none
};

// Waits until one of `count` sockets can be read (a simulator serving a fleet of addresses). Sets
// ready[i] to 1 for each readable socket and 0 for the others. Returns how many are ready, 0 on time-out,
// -1 on error.
int NetWaitAny(UdpSocket* const* sockets, size_t count, uint32_t timeoutMs, uint8_t* ready);
