// Civil dates as day numbers (days since 1970-01-01, proleptic Gregorian), so that times written into
// file names and kept-value files need no time-zone functions of the system.
#pragma once

#include <cstdint>

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int* year, unsigned* month, unsigned* day);
