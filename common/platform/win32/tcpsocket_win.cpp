#include "common/platform/tcpsocket.h"

#include <winsock2.h>

#include <cstring>

namespace {
sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
}

intptr_t Handle(SOCKET s)
{
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}
} // namespace

namespace tcp {
intptr_t ListenLoopback(uint16_t port, uint16_t* bound)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    BOOL one = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in sa = Loopback(port);
    int len = sizeof sa;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 1) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::closesocket(s);
        return -1;
    }
    *bound = ntohs(sa.sin_port);
    return Handle(s);
}

intptr_t Accept(intptr_t listener)
{
    return Handle(::accept(static_cast<SOCKET>(listener), nullptr, nullptr));
}

intptr_t ConnectLoopback(uint16_t port)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    sockaddr_in sa = Loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::closesocket(s);
        return -1;
    }
    return Handle(s);
}

bool Readable(intptr_t s, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval tv { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
    return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

long Receive(intptr_t s, char* data, size_t size)
{
    return ::recv(static_cast<SOCKET>(s), data, static_cast<int>(size), 0);
}

bool SendAll(intptr_t s, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        int n = ::send(static_cast<SOCKET>(s), text.data() + done, static_cast<int>(text.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Close(intptr_t s)
{
    ::closesocket(static_cast<SOCKET>(s));
}
} // namespace tcp
