#include "common/platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
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

SOCKET S(intptr_t handle)
{
    return static_cast<SOCKET>(handle);
}
} // namespace

int NetStartup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 1 : 0;
}

void NetCleanup()
{
    WSACleanup();
}

int UdpSocket::Open()
{
    Close();
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return 0;
    handle_ = static_cast<intptr_t>(s);
    return 1;
}

int UdpSocket::Bind(uint32_t ip, uint16_t port)
{
    sockaddr_in sa = ToSockaddr(ip, port);
    return ::bind(S(handle_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 1 : 0;
}

static int SetIntOption(intptr_t handle, int level, int name, int value)
{
    return ::setsockopt(S(handle), level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0 ? 1 : 0;
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
    return SetIntOption(handle_, SOL_SOCKET, SO_RCVBUF, bytes);
}

int UdpSocket::SendTo(const void* data, size_t size, NetAddress to)
{
    sockaddr_in sa = ToSockaddr(to.ip, to.port);
    int n = ::sendto(S(handle_), static_cast<const char*>(data), static_cast<int>(size), 0,
        reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? -1 : n;
}

int UdpSocket::ReceiveFrom(void* data, size_t size, NetAddress* from)
{
    sockaddr_in sa;
    int len = sizeof sa;
    int n = ::recvfrom(
        S(handle_), static_cast<char*>(data), static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n == SOCKET_ERROR) {
        // A datagram longer than the buffer arrives cut, as on the other platforms.
        if (WSAGetLastError() != WSAEMSGSIZE)
            return -1;
        n = static_cast<int>(size);
    }
    if (from) {
        from->ip = ntohl(sa.sin_addr.s_addr);
        from->port = ntohs(sa.sin_port);
    }
    return n;
}

int UdpSocket::ReceiveFrom(void* data, size_t size, NetAddress* from, uint32_t timeoutMs)
{
    // Winsock leaves a socket whose receive timed out in an undefined state: wait, then receive.
    int ready = WaitReadable(timeoutMs);
    return ready == 1 ? ReceiveFrom(data, size, from) : ready == 0 ? -2 : -1;
}

size_t UdpSocket::SendMany(NetDatagram* datagrams, size_t count)
{
    size_t sent = 0;
    for (size_t i = 0; i < count; ++i)
        if (SendTo(datagrams[i].data, datagrams[i].size, datagrams[i].peer) >= 0)
            ++sent;
    return sent;
}

int UdpSocket::ReceiveMany(NetDatagram* datagrams, size_t count, uint32_t timeoutMs)
{
    // One receive per datagram: the first after waiting, the rest only while more are waiting.
    int received = 0;
    for (size_t i = 0; i < count; ++i) {
        int ready = WaitReadable(i == 0 ? timeoutMs : 0);
        if (ready < 0)
            return received > 0 ? received : -1;
        if (ready == 0)
            break;
        sockaddr_in sa;
        int len = sizeof sa;
        int n = ::recvfrom(S(handle_), static_cast<char*>(datagrams[i].data), static_cast<int>(datagrams[i].size), 0,
            reinterpret_cast<sockaddr*>(&sa), &len);
        // A datagram longer than the buffer arrives cut; Winsock does not tell by how much.
        size_t whole = static_cast<size_t>(n);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEMSGSIZE)
                return received > 0 ? received : -1;
            n = static_cast<int>(datagrams[i].size);
            whole = datagrams[i].size + 1;
        }
        datagrams[i].peer.ip = ntohl(sa.sin_addr.s_addr);
        datagrams[i].peer.port = ntohs(sa.sin_port);
        datagrams[i].size = static_cast<size_t>(n);
        datagrams[i].whole = whole;
        ++received;
    }
    return count == 0 || received > 0 ? received : -2;
}

int UdpSocket::WaitReadable(uint32_t timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(S(handle_), &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int r = ::select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR)
        return -1;
    return r > 0 ? 1 : 0;
}

std::optional<NetAddress> UdpSocket::LocalAddress() const
{
    sockaddr_in sa;
    int len = sizeof sa;
    if (::getsockname(S(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return std::nullopt;
    return NetAddress { ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port) };
}

void UdpSocket::Close()
{
    if (handle_ != kInvalid) {
        ::closesocket(S(handle_));
        handle_ = kInvalid;
    }
}

int NetWaitAny(UdpSocket* const* sockets, size_t count, uint32_t timeoutMs, uint8_t* ready)
{
    std::vector<WSAPOLLFD> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = S(sockets[i]->Handle());
        fds[i].events = POLLRDNORM;
        fds[i].revents = 0;
    }
    int r = ::WSAPoll(fds.data(), static_cast<ULONG>(count), static_cast<INT>(timeoutMs));
    for (size_t i = 0; i < count; ++i)
        ready[i] = r > 0 && (fds[i].revents & (POLLRDNORM | POLLERR)) != 0 ? 1 : 0;
    return r == SOCKET_ERROR ? -1 : r;
}
