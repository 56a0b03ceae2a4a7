// Small helpers for the hot loops that read many short records: byte comparison without a call, and
// asking the processor early for the cache lines a loop will touch next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Equality of `n` bytes in a few word comparisons, reading no byte past either end (keys of a few to a
// few dozen bytes: a call to memcmp costs more than the comparison).
inline bool SameBytes(const void* a, const void* b, size_t n)
{
    const char* x = static_cast<const char*>(a);
    const char* y = static_cast<const char*>(b);
    auto load8 = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    auto load4 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (load8(x + i) != load8(y + i))
                return false;
        return load8(x + n - 8) == load8(y + n - 8);
    }
    if (n >= 4)
        return load4(x) == load4(y) && load4(x + n - 4) == load4(y + n - 4);
    for (size_t i = 0; i < n; ++i)
        if (x[i] != y[i])
            return false;
    return true;
}

// Asks for the first `lines` cache lines of a record that lies somewhere on the heap (nothing for none).
inline void PrefetchLines(const void* record, int lines)
{
    if (!record)
        return;
    const char* at = static_cast<const char*>(record);
    for (int i = 0; i < lines; ++i)
        __builtin_prefetch(at + 64 * i);
}

// Asks for `lines` cache lines, to be written, `ahead` bytes past `at` in storage that is handed out
// front to back (the address may lie beyond the storage: a prefetch never faults, and the address is
// computed as a number, not as a pointer into the storage).
inline void PrefetchAheadForWrite(const void* at, size_t ahead, int lines)
{
    uintptr_t from = reinterpret_cast<uintptr_t>(at) + ahead;
    for (int i = 0; i < lines; ++i)
        __builtin_prefetch(reinterpret_cast<const void*>(from + 64 * static_cast<uintptr_t>(i)), 1);
}
