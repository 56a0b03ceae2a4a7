// The generated description of 20,000 items (plain items, bit fields, tables of three columns every
// hundred items, in sections of 100) and a configuration text for it, shared by the benchmarks that
// work on a large configuration.
#pragma once

#include "common/text.h"

#include <string>

namespace bench {

constexpr int kItems = 20000;

inline std::string DescriptionText()
{
    std::string d = "version \"Bench 1.0\", English\n";
    int items = 0;
    for (int s = 0; items < kItems; ++s) {
        d += StrFormat("section s%d, \"Section %d\"\n", s, s);
        for (int i = 0; i < 100 && items < kItems; ++i, ++items) {
            if (items % 100 == 99) {
                d += StrFormat("table tab%05d\nnum_columns 3\nentryfield_text k\nentryfield_text v\n"
                               "entryfield_numeric f, 0x7\n",
                    items);
            } else if (items % 10 == 0) {
                d += StrFormat("entryfield_numeric bits%05d, 0x0F\n", items);
            } else if (items % 10 == 1) {
                d += StrFormat("entryfield_numeric bits%05d, 0xF0\n", items - 1);
            } else {
                d += StrFormat("entryfield_text item%05d\n", items);
            }
        }
    }
    return d;
}

inline std::string ConfigText()
{
    std::string t = "[Bench]\r\n";
    int lines = 1;
    for (int i = 0; lines < kItems; ++i) {
        if (i % 100 == 99) {
            for (int r = 0; r < 3 && lines < kItems; ++r, lines += 3)
                t += StrFormat("tab%05d-01 = key%d\r\ntab%05d-02 = value %d\r\ntab%05d-03 = 5\r\n", i, r, i, r, i);
        } else if (i % 10 == 0) {
            t += StrFormat("bits%05d = 255\r\n", i);
            ++lines;
        } else if (i % 10 != 1) {
            t += StrFormat("item%05d = a value of item %d\r\n", i, i);
            ++lines;
        }
    }
    return t;
}

} // namespace bench
