#include "common/platform/tcpline.h"

#include "common/platform/net.h"
#include "common/platform/tcpsocket.h"

namespace {
// Takes the first complete line out of `buffer`, without its line end ("\n" or "\r\n").
bool TakeLine(std::string& buffer, std::string* line)
{
    size_t end = buffer.find('\n');
    if (end == std::string::npos)
        return false;
    line->assign(buffer, 0, end);
    buffer.erase(0, end + 1);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
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
    if (!NetStartup())
        return 0;
    uint16_t bound = 0;
    intptr_t s = tcp::ListenLoopback(port, &bound);
    if (s < 0) {
        NetCleanup();
        return 0;
    }
    handler_ = std::move(handler);
    listen_ = s;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return bound;
}

void TcpLineServer::Run()
{
    while (!stop_) {
        if (!tcp::Readable(listen_, 100))
            continue;
        intptr_t c = tcp::Accept(listen_);
        if (c < 0)
            continue;
        std::string buffer;
        std::string line;
        char chunk[4096];
        bool ok = true;
        while (ok && !stop_) {
            if (!tcp::Readable(c, 100))
                continue;
            long n = tcp::Receive(c, chunk, sizeof chunk);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<size_t>(n));
            while (ok && TakeLine(buffer, &line))
                ok = tcp::SendAll(c, handler_(line));
        }
        tcp::Close(c);
    }
}

void TcpLineServer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_ >= 0) {
        tcp::Close(listen_.exchange(-1));
        NetCleanup();
    }
}

TcpLineClient::~TcpLineClient()
{
    Close();
}

bool TcpLineClient::Connect(uint16_t port)
{
    Close();
    socket_ = tcp::ConnectLoopback(port);
    return socket_ >= 0;
}

bool TcpLineClient::SendLine(const std::string& line)
{
    return socket_ >= 0 && tcp::SendAll(socket_, line + "\n");
}

bool TcpLineClient::ReadLine(std::string* line, uint32_t timeoutMs)
{
    char chunk[4096];
    while (!TakeLine(buffer_, line)) {
        if (socket_ < 0 || !tcp::Readable(socket_, static_cast<int>(timeoutMs)))
            return false;
        long n = tcp::Receive(socket_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

void TcpLineClient::Close()
{
    if (socket_ >= 0)
        tcp::Close(socket_);
    socket_ = -1;
    buffer_.clear();
}
