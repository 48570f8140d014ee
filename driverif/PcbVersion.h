// The circuit-board version of a configuration record as people read it. The 16-bit value, in
// host order, holds four BCD digits: the low byte the integer part, the high byte the fraction,
// each high nibble first, so 0x3412 reads 12.34 and 0x2001 reads 1.20. The digits are combined
// as decimals (a nibble above 9 carries into the next place) and written with a point and two
// decimals under every locale.
#pragma once

#include <cstdint>
#include <string>

inline std::string PcbVersionText(uint16_t v) {
    const int d1 = (v >> 4) & 0xF;
    const int d2 = v & 0xF;
    const int d3 = (v >> 12) & 0xF;
    const int d4 = (v >> 8) & 0xF;
    const int n = d1 * 1000 + d2 * 100 + d3 * 10 + d4;
    const int fraction = n % 100;
    return std::to_string(n / 100) + (fraction < 10 ? ".0" : ".") + std::to_string(fraction);
}
