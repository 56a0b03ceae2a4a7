#include "common/platform/tcpsocket.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
} // namespace

namespace tcp {
intptr_t ListenLoopback(uint16_t port, uint16_t* bound)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = Loopback(port);
    socklen_t len = sizeof sa;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 1) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(s);
        return -1;
    }
    *bound = ntohs(sa.sin_port);
    return s;
}

intptr_t Accept(intptr_t listener)
{
    return ::accept(static_cast<int>(listener), nullptr, nullptr);
}

intptr_t ConnectLoopback(uint16_t port)
{
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    sockaddr_in sa = Loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

bool Readable(intptr_t s, int timeoutMs)
{
    pollfd p { static_cast<int>(s), POLLIN, 0 };
    return ::poll(&p, 1, timeoutMs) > 0;
}

long Receive(intptr_t s, char* data, size_t size)
{
    return ::recv(static_cast<int>(s), data, size, 0);
}

bool SendAll(intptr_t s, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(static_cast<int>(s), text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Close(intptr_t s)
{
    ::close(static_cast<int>(s));
}
} // namespace tcp
