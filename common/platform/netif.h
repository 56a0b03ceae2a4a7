// The PC's own IPv4 addresses, and datagrams with their local address: the device search probes
// unconfigured devices on pseudo addresses in each of the PC's networks, and the simulator answers a
// broadcast from the address of each simulated device.
#pragma once

#include "common/platform/net.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The PC's own IPv4 addresses (host order), loopback excepted; empty when they cannot be found.
std::vector<uint32_t> NetOwnAddresses();

// The IPv4 addresses of the local host name (host order, loopback included when the name gives it),
// as the host name's address list reports them; empty when the name does not resolve.
std::vector<uint32_t> NetHostAddresses();

// Asks the socket to report the local (destination) address of each datagram. Returns 1 on success.
int NetEnablePacketInfo(UdpSocket& socket);
// Receives one datagram and the local address it was sent to (0 when the platform cannot tell).
// Returns its size or -1.
int NetReceiveWithLocal(UdpSocket& socket, void* data, size_t size, NetAddress* from, uint32_t* local);
// Sends one datagram from the local address `from` (which must be one of this machine's addresses),
// through a socket bound to any address. Where the platform cannot choose the source, the socket's own
// address is used. Returns the bytes sent or -1.
int NetSendFromLocal(UdpSocket& socket, const void* data, size_t size, uint32_t from, NetAddress to);
