#include "common/bytes.h"

#include <gtest/gtest.h>
#include <vector>

TEST(SameBytes, AgreesWithMemcmpForEveryLengthAndEveryDifferingByte)
{
    // Every length from 0 to 40 (the word steps, the overlapping last word, the short cases), equal
    // and with one byte changed at each position, at unaligned starts; the buffers end right after the
    // compared bytes so that a read past the end shows under AddressSanitizer.
    for (size_t n = 0; n <= 40; ++n) {
        for (size_t shift = 0; shift < 3; ++shift) {
            std::vector<char> a(shift + n), b(n);
            for (size_t i = 0; i < n; ++i)
                a[shift + i] = b[i] = static_cast<char>('a' + (i * 7) % 26);
            const char* x = a.data() + shift;
            EXPECT_TRUE(SameBytes(x, b.data(), n)) << n;
            for (size_t at = 0; at < n; ++at) {
                b[at] ^= 0x20;
                EXPECT_FALSE(SameBytes(x, b.data(), n)) << n << " " << at;
                b[at] ^= 0x20;
            }
        }
    }
}
