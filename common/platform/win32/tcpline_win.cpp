#include "common/platform/tcpline.h"

#include <winsock2.h>

#include <cstring>

// The socket calls of the POSIX version under their Winsock names.
#define close closesocket
#define MSG_NOSIGNAL 0
using socklen_t = int;

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

bool Readable(int s, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval tv { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
    return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool SendAll(int s, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(s, text.data() + done, static_cast<int>(text.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

TcpLineServer::~TcpLineServer()
{
    Stop();
}

uint16_t TcpLineServer::Start(uint16_t port, std::function<std::string(const std::string&)> handler)
{
    // The channel may start before the program starts the network itself; each start counts.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    int s = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    if (s < 0) {
        WSACleanup();
        return 0;
    }
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in sa = Loopback(port);
    socklen_t len = sizeof sa;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 1) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(s);
        WSACleanup();
        return 0;
    }
    handler_ = std::move(handler);
    listen_ = s;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return ntohs(sa.sin_port);
}

void TcpLineServer::Run()
{
    while (!stop_) {
        if (!Readable(static_cast<int>(listen_.load()), 100))
            continue;
        int c = static_cast<int>(::accept(static_cast<SOCKET>(listen_.load()), nullptr, nullptr));
        if (c < 0)
            continue;
        client_ = c;
        std::string buffer;
        char chunk[4096];
        while (!stop_) {
            if (!Readable(c, 100))
                continue;
            ssize_t n = ::recv(c, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<size_t>(n));
            size_t end;
            bool ok = true;
            while (ok && (end = buffer.find('\n')) != std::string::npos) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                ok = SendAll(c, handler_(line));
            }
            if (!ok)
                break;
        }
        client_ = -1;
        ::close(c);
    }
}

void TcpLineServer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_ >= 0) {
        ::close(static_cast<int>(listen_.exchange(-1)));
        WSACleanup();
    }
}

TcpLineClient::~TcpLineClient()
{
    Close();
}

bool TcpLineClient::Connect(uint16_t port)
{
    Close();
    int s = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    if (s < 0)
        return false;
    sockaddr_in sa = Loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(s);
        return false;
    }
    socket_ = s;
    return true;
}

bool TcpLineClient::SendLine(const std::string& line)
{
    return socket_ >= 0 && SendAll(static_cast<int>(socket_), line + "\n");
}

bool TcpLineClient::ReadLine(std::string* line, uint32_t timeoutMs)
{
    for (;;) {
        size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            *line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            return true;
        }
        if (socket_ < 0)
            return false;
        if (!Readable(static_cast<int>(socket_), static_cast<int>(timeoutMs)))
            return false;
        char chunk[4096];
        ssize_t n = ::recv(static_cast<int>(socket_), chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

void TcpLineClient::Close()
{
    if (socket_ >= 0)
        ::close(static_cast<int>(socket_));
    socket_ = -1;
    buffer_.clear();
}
