// Days since 1970-01-01 of a proleptic Gregorian date, and back: the era arithmetic of
// H. Hinnant's "chrono-Compatible Low-Level Date Algorithms" (400-year eras of 146097
// days, years counted from March so that the leap day comes last). Exact for every
// date an HTTP-date or an MS-DOS date-time can name, without the C library's time zone.
#pragma once

#include <cstdint>

namespace kalv {

struct CivilDate {
    int64_t year;
    int month, day;
};

constexpr int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr CivilDate civil_from_days(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

static_assert(days_from_civil(1980, 1, 1) == 3652 && civil_from_days(3652).year == 1980);

}  // namespace kalv
