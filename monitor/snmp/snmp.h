// The monitor's SNMP client: one UDP socket and one worker thread serve every device. Devices are polled
// through subscriptions per OID; answers come back as callbacks on the worker thread with the client's
// re-entrant lock held (callbacks may call back into the client). Addresses are IPv4 in network byte
// order. All operations but the OID conversions and the jobs take the lock.
#pragma once

#include "monitor/snmp/snmp_engine.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/snmp/snmp_types.h"

class Clock;

constexpr uint16_t kSnmpAgentPort = 161;

struct SnmpStartOptions {
    uint16_t localPort = 0; // 0 = any free port; traps reach the client only on a fixed one
    uint16_t agentPort = kSnmpAgentPort; // where requests go; only tests and the command-line tools change it
    Clock* clock = nullptr; // the scheduler's clock; null = the system clock
};

// Opens the socket, binds it to the port on all local addresses and starts the worker. 1 on success,
// 0 when the socket cannot be opened or bound (or the client already runs).
int SnmpStart(uint16_t localPort);
int SnmpStartWith(const SnmpStartOptions& options);
// Stops the worker (waits for it), frees every agent, closes the socket.
void SnmpStop();
// The local port the client is bound to (0 when it is not running).
uint16_t SnmpLocalPort();
// Scheduler ticks run since the start (tests wait on it when they move a manual clock).
uint32_t SnmpTickCount();

int SnmpSubscribe(const SnmpOid& oid, uint32_t address, const char* readCommunity, uint32_t intervalMs, void* context,
    SnmpCallback callback);
int SnmpUnsubscribe(const SnmpOid& oid, uint32_t address, void* context);
int SnmpQueueSet(const SnmpOid& oid, uint32_t address, const char* writeCommunity, const SnmpValue& value,
    void* context, SnmpCallback callback, int defaultFlag);
int SnmpCancelSets(uint32_t address);
void SnmpClearAll();
int SnmpGetCached(const SnmpOid& oid, uint32_t address, SnmpValue* out);
// Every trap received, before the client's own handling (which only uses enterprise traps 6/1).
void SnmpSetTrapObserver(SnmpTrapObserver observer, void* context);
