// A line-based TCP server on the loopback address for a program's test control channel: one client at
// a time, every line it sends (without its line end) goes to the handler on the server's thread, and
// the handler's answer is written back as it stands. Also a client for the tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class TcpLineServer {
public:
    TcpLineServer() = default;
    ~TcpLineServer();
    TcpLineServer(const TcpLineServer&) = delete;
    TcpLineServer& operator=(const TcpLineServer&) = delete;

    // Listens on 127.0.0.1:`port` (0: a free port the system picks) and starts the server's thread.
    // Returns the port listened on, 0 when it cannot listen.
    uint16_t Start(uint16_t port, std::function<std::string(const std::string& line)> handler);
    // Closes the listening socket and the client's connection and waits for the thread.
    void Stop();

private:
    void Run();

    std::function<std::string(const std::string&)> handler_;
    std::atomic<intptr_t> listen_ { -1 };
    std::atomic<bool> stop_ { false };
    std::thread thread_;
};

class TcpLineClient {
public:
    TcpLineClient() = default;
    ~TcpLineClient();
    TcpLineClient(const TcpLineClient&) = delete;
    TcpLineClient& operator=(const TcpLineClient&) = delete;

    bool Connect(uint16_t port);
    // Sends the text followed by "\n".
    bool SendLine(const std::string& line);
    // The next line without its line end; false at the end of the connection or after `timeoutMs`.
    bool ReadLine(std::string* line, uint32_t timeoutMs);
    void Close();

private:
    intptr_t socket_ = -1;
    std::string buffer_;
};
