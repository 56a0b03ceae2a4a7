#include "common/platform/netif.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::vector<uint32_t> NetOwnAddresses()
{
    std::vector<uint32_t> own;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return own;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        if ((ip >> 24) == 127)
            continue;
        own.push_back(ip);
    }
    ::freeifaddrs(list);
    return own;
}

std::vector<uint32_t> NetHostAddresses()
{
    std::vector<uint32_t> out;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return out;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0)
        return out;
    for (addrinfo* a = list; a; a = a->ai_next) {
        uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
        if (std::find(out.begin(), out.end(), ip) == out.end())
            out.push_back(ip);
    }
    ::freeaddrinfo(list);
    return out;
}

int NetEnablePacketInfo(UdpSocket& socket)
{
    int on = 1;
    return ::setsockopt(static_cast<int>(socket.Handle()), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0 ? 1 : 0;
}

int NetReceiveWithLocal(UdpSocket& socket, void* data, size_t size, NetAddress* from, uint32_t* local)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    iovec iov { data, size };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg;
    std::memset(&msg, 0, sizeof msg);
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(static_cast<int>(socket.Handle()), &msg, 0);
    if (n < 0)
        return -1;
    if (from) {
        from->ip = ntohl(sa.sin_addr.s_addr);
        from->port = ntohs(sa.sin_port);
    }
    if (local) {
        *local = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                *local = ntohl(info.ipi_addr.s_addr);
            }
        }
    }
    return static_cast<int>(n);
}

int NetSendFromLocal(UdpSocket& socket, const void* data, size_t size, uint32_t from, NetAddress to)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(to.ip);
    sa.sin_port = htons(to.port);
    iovec iov { const_cast<void*>(data), size };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    std::memset(control, 0, sizeof control);
    msghdr msg;
    std::memset(&msg, 0, sizeof msg);
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info;
    std::memset(&info, 0, sizeof info);
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ssize_t n = ::sendmsg(static_cast<int>(socket.Handle()), &msg, 0);
    return n < 0 ? -1 : static_cast<int>(n);
}
