#include "common/platform/netif.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

// The PC's addresses as Winsock 1.1 reports them: the host name, then its address list.
std::vector<uint32_t> NetOwnAddresses()
{
    std::vector<uint32_t> own;
    char name[256];
    if (::gethostname(name, sizeof name) != 0)
        return own;
    hostent* host = ::gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4)
        return own;
    for (char** a = host->h_addr_list; *a; ++a) {
        uint32_t ip;
        std::memcpy(&ip, *a, 4);
        ip = ntohl(ip);
        if ((ip >> 24) != 127)
            own.push_back(ip);
    }
    return own;
}

std::vector<uint32_t> NetHostAddresses()
{
    std::vector<uint32_t> out;
    char name[256];
    if (::gethostname(name, sizeof name) != 0)
        return out;
    hostent* host = ::gethostbyname(name);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4)
        return out;
    for (char** a = host->h_addr_list; *a; ++a) {
        uint32_t ip;
        std::memcpy(&ip, *a, 4);
        out.push_back(ntohl(ip));
    }
    return out;
}

// Winsock reports the local address only through WSARecvMsg; the simulator's search answers on
// Windows come from the listening socket's address instead.
int NetEnablePacketInfo(UdpSocket&)
{
    return 0;
}

int NetReceiveWithLocal(UdpSocket& socket, void* data, size_t size, NetAddress* from, uint32_t* local)
{
    if (local)
        *local = 0;
    return socket.ReceiveFrom(data, size, from);
}

int NetSendFromLocal(UdpSocket& socket, const void* data, size_t size, uint32_t, NetAddress to)
{
    return socket.SendTo(data, size, to);
}
