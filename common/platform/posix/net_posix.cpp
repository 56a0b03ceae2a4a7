#include "common/platform/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
sockaddr_in ToSockaddr(uint32_t ip, uint16_t port)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(ip);
    sa.sin_port = htons(port);
    return sa;
}
} // namespace

// Sets the socket's receive time-out unless it is already `timeoutMs` (> 0). 1 on success.
static int SetReceiveTimeout(intptr_t handle, uint32_t timeoutMs, uint32_t* current)
{
    if (timeoutMs == *current)
        return 1;
    timeval tv {};
    tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    if (::setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return 0;
    *current = timeoutMs;
    return 1;
}

int NetStartup()
{
    return 1;
}

void NetCleanup() { }

int UdpSocket::Open()
{
    Close();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    handle_ = fd;
    return 1;
}

int UdpSocket::Bind(uint32_t ip, uint16_t port)
{
    sockaddr_in sa = ToSockaddr(ip, port);
    return ::bind(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 1 : 0;
}

static int SetIntOption(intptr_t handle, int level, int name, int value)
{
    return ::setsockopt(static_cast<int>(handle), level, name, &value, sizeof value) == 0 ? 1 : 0;
}

int UdpSocket::SetBroadcast(bool on)
{
    return SetIntOption(handle_, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
}

int UdpSocket::SetReuseAddress(bool on)
{
    return SetIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

int UdpSocket::SetReceiveBuffer(int bytes)
{
    // A privileged process gets the size beyond the system's cap (net.core.rmem_max); others get the cap.
#ifdef SO_RCVBUFFORCE
    if (SetIntOption(handle_, SOL_SOCKET, SO_RCVBUFFORCE, bytes))
        return 1;
#endif
    return SetIntOption(handle_, SOL_SOCKET, SO_RCVBUF, bytes);
}

int UdpSocket::SendTo(const void* data, size_t size, NetAddress to)
{
    sockaddr_in sa = ToSockaddr(to.ip, to.port);
    ssize_t n = ::sendto(static_cast<int>(handle_), data, size, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n < 0 ? -1 : static_cast<int>(n);
}

int UdpSocket::ReceiveFrom(void* data, size_t size, NetAddress* from)
{
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    ssize_t n = ::recvfrom(static_cast<int>(handle_), data, size, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0)
        return -1;
    if (from) {
        from->ip = ntohl(sa.sin_addr.s_addr);
        from->port = ntohs(sa.sin_port);
    }
    return static_cast<int>(n);
}

int UdpSocket::ReceiveFrom(void* data, size_t size, NetAddress* from, uint32_t timeoutMs)
{
    if (timeoutMs == 0) {
        // A zero receive time-out means none at all: look once instead.
        int ready = WaitReadable(0);
        return ready == 1 ? ReceiveFrom(data, size, from) : ready == 0 ? -2 : -1;
    }
    if (!SetReceiveTimeout(handle_, timeoutMs, &receiveTimeoutMs_))
        return -1;
    int n = ReceiveFrom(data, size, from);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return -2;
    return n;
}

size_t UdpSocket::SendMany(NetDatagram* datagrams, size_t count)
{
    constexpr size_t kChunk = 64;
    mmsghdr headers[kChunk];
    iovec parts[kChunk];
    sockaddr_in addresses[kChunk];
    size_t sent = 0;
    size_t i = 0;
    while (i < count) {
        size_t n = std::min(count - i, kChunk);
        for (size_t k = 0; k < n; ++k) {
            addresses[k] = ToSockaddr(datagrams[i + k].peer.ip, datagrams[i + k].peer.port);
            parts[k].iov_base = datagrams[i + k].data;
            parts[k].iov_len = datagrams[i + k].size;
            std::memset(&headers[k], 0, sizeof headers[k]);
            headers[k].msg_hdr.msg_name = &addresses[k];
            headers[k].msg_hdr.msg_namelen = sizeof addresses[k];
            headers[k].msg_hdr.msg_iov = &parts[k];
            headers[k].msg_hdr.msg_iovlen = 1;
        }
        int r = ::sendmmsg(static_cast<int>(handle_), headers, static_cast<unsigned>(n), 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ++i; // the first of the rest cannot be sent: pass it over
            continue;
        }
        sent += static_cast<size_t>(r);
        i += static_cast<size_t>(r);
    }
    return sent;
}

int UdpSocket::ReceiveMany(NetDatagram* datagrams, size_t count, uint32_t timeoutMs)
{
    constexpr size_t kChunk = 64;
    if (count > kChunk)
        count = kChunk;
    if (count == 0)
        return 0;
    int flags = MSG_DONTWAIT;
    if (timeoutMs > 0) {
        if (!SetReceiveTimeout(handle_, timeoutMs, &receiveTimeoutMs_))
            return -1;
        flags = MSG_WAITFORONE; // waits (up to the time-out) for the first only
    }
    flags |= MSG_TRUNC; // each datagram's length is its whole size, also when it was cut
    mmsghdr headers[kChunk];
    iovec parts[kChunk];
    sockaddr_in addresses[kChunk];
    for (size_t k = 0; k < count; ++k) {
        parts[k].iov_base = datagrams[k].data;
        parts[k].iov_len = datagrams[k].size;
        std::memset(&headers[k], 0, sizeof headers[k]);
        headers[k].msg_hdr.msg_name = &addresses[k];
        headers[k].msg_hdr.msg_namelen = sizeof addresses[k];
        headers[k].msg_hdr.msg_iov = &parts[k];
        headers[k].msg_hdr.msg_iovlen = 1;
    }
    int r = ::recvmmsg(static_cast<int>(handle_), headers, static_cast<unsigned>(count), flags, nullptr);
    if (r < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -2 : -1;
    for (int k = 0; k < r; ++k) {
        datagrams[k].whole = headers[k].msg_len;
        datagrams[k].size = std::min<size_t>(headers[k].msg_len, parts[k].iov_len);
        datagrams[k].peer.ip = ntohl(addresses[k].sin_addr.s_addr);
        datagrams[k].peer.port = ntohs(addresses[k].sin_port);
    }
    return r;
}

int UdpSocket::WaitReadable(uint32_t timeoutMs)
{
    pollfd p { static_cast<int>(handle_), POLLIN, 0 };
    int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
    if (r < 0)
        return -1;
    return r > 0 ? 1 : 0;
}

std::optional<NetAddress> UdpSocket::LocalAddress() const
{
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (::getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return std::nullopt;
    return NetAddress { ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port) };
}

void UdpSocket::Close()
{
    if (handle_ != kInvalid) {
        ::close(static_cast<int>(handle_));
        handle_ = kInvalid;
        receiveTimeoutMs_ = 0;
    }
}

int NetWaitAny(UdpSocket* const* sockets, size_t count, uint32_t timeoutMs, uint8_t* ready)
{
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i)
        fds[i] = pollfd { static_cast<int>(sockets[i]->Handle()), POLLIN, 0 };
    int r = ::poll(fds.data(), static_cast<nfds_t>(count), static_cast<int>(timeoutMs));
    for (size_t i = 0; i < count; ++i)
        ready[i] = r > 0 && (fds[i].revents & (POLLIN | POLLERR)) != 0 ? 1 : 0;
    return r < 0 ? -1 : r;
}
