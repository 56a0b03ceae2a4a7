// The few stream-socket calls the loopback line server and client need, over BSD sockets and Winsock.
// Sockets are `intptr_t`, -1 for none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tcp {
// A socket listening on 127.0.0.1:`port` (0: a free port the system picks), with the port it got in
// `*bound`; -1 when it cannot listen.
intptr_t ListenLoopback(uint16_t port, uint16_t* bound);
// The next waiting connection, -1 when none could be taken.
intptr_t Accept(intptr_t listener);
// A socket connected to 127.0.0.1:`port`, -1 on failure.
intptr_t ConnectLoopback(uint16_t port);
// Whether data (or a connection, or the peer's close) waits within `timeoutMs`.
bool Readable(intptr_t s, int timeoutMs);
// Bytes received into `data`; 0 when the peer closed, negative on error.
long Receive(intptr_t s, char* data, size_t size);
// Sends every byte of `text`; false when the connection broke.
bool SendAll(intptr_t s, const std::string& text);
void Close(intptr_t s);
} // namespace tcp
