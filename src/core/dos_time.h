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
    const uint32_t time = v & 0xFFFF, date = v >> 16;
    return {int(1980 + (date >> 9)), int((date >> 5) & 0x0F), int(date & 0x1F),
            int(time >> 11),         int((time >> 5) & 0x3F), int(2 * (time & 0x1F))};
}

inline uint32_t pack_dos(const DosFields& f) {
    const uint32_t date = (uint32_t(f.year - 1980) << 9) | (uint32_t(f.month) << 5) | uint32_t(f.day);
    const uint32_t time = (uint32_t(f.hour) << 11) | (uint32_t(f.minute) << 5) | uint32_t(f.second / 2);
    return (date << 16) | time;
}

}  // namespace kalv
