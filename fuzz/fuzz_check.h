// Stops a fuzz target at a broken property, so that the fuzzer keeps the input that broke it.
#pragma once

#include <cstdlib>

inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}
