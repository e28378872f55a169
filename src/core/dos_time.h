// MS-DOS date and time as ZIP records and file ages carry them: date in the high
// 16 bits (years since 1980: 7 bits, month: 4, day: 5), time in the low 16 bits
// (hours: 5, minutes: 6, seconds / 2: 5). APPNOTE 4.4.6.
#pragma once

#include <cstdint>

namespace kalv {

struct DosFields {
    int year, month, day, hour, minute, second;
};

inline DosFields unpack_dos(uint32_t v) {
    // Each half is 16 bits wide, so it fits an int.
    const int time = static_cast<int>(v & 0xFFFF), date = static_cast<int>(v >> 16);
    return {1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, 2 * (time & 0x1F)};
}

inline uint32_t pack_dos(const DosFields& f) {
    const auto field = [](int value, int shift) { return static_cast<uint32_t>(value) << shift; };
    const uint32_t date = field(f.year - 1980, 9) | field(f.month, 5) | field(f.day, 0);
    const uint32_t time = field(f.hour, 11) | field(f.minute, 5) | field(f.second / 2, 0);
    return (date << 16) | time;
}

}  // namespace kalv
