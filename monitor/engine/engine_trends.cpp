// The engine's side of the kept values: each numeric answer of a polled object goes to the store as the
// series "REF" (the item's first `uses` object) or "REF:N" (its N-th), a clone's as "REF+K[:N]".
#include "monitor/engine/engine.h"
#include "monitor/engine/trend_store.h"
#include "monitor/snmp/snmp_ber.h"

namespace {
TrendKind KindOfTag(uint8_t tag)
{
    switch (tag) {
    case kBerInteger:
        return kTrendInteger;
    case kBerCounter:
        return kTrendCounter;
    case kBerGauge:
        return kTrendGauge;
    case kBerTimeTicks:
        return kTrendTicks;
    default:
        return static_cast<TrendKind>(0);
    }
}
} // namespace

void Engine::KeepValue(EngineOid& o, int status, const SnmpValue* value)
{
    TrendStore* store = settings_.trends;
    EngineDevice& d = *o.item->device;
    if (status == -1) {
        store->NoAnswer(d.address);
        return;
    }
    if (!value || value->kind != kSnmpInteger)
        return;
    if (!o.trend) {
        TrendKind kind = KindOfTag(value->tag);
        if (!kind)
            return;
        size_t n = static_cast<size_t>(&o - o.item->oids.data()) + 1;
        std::string name = o.item->Name();
        if (n > 1)
            name += ":" + std::to_string(n);
        o.trend = store->Series(d.address, name, kind);
    }
    store->Note(o.trend, value->integer);
}
