#include "engine/output/fixed_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace korvane {

char* write_fixed6(char* out, double v) {
    // Above this the scaled value may not fit 64 bits; such magnitudes do not occur in a sample.
    constexpr double kFastLimit = 1e13;
    if (!(std::fabs(v) < kFastLimit))
        return std::to_chars(out, out + kFixed6MaxChars, v, std::chars_format::fixed, 6).ptr;

    // v = m * 2^-s exactly, with s >= 1 since |v| < 1e13 < 2^52.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7FF;
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    unsigned s = 1074;
    if (biased != 0) {
        m |= std::uint64_t{1} << 52;
        s = 1075 - biased;
    }
    // q = v * 10^6 rounded to nearest, ties to even, from the exact product m * 10^6 (< 2^73).
    std::uint64_t q = 0;
    if (s < 75) {
        const unsigned __int128 n = static_cast<unsigned __int128>(m) * 1000000u;
        q = static_cast<std::uint64_t>(n >> s);
        const unsigned __int128 rest = n & ((static_cast<unsigned __int128>(1) << s) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
        if (rest > half || (rest == half && (q & 1))) ++q;
    }  // else v * 10^6 < 2^73 / 2^75: rounds to 0

    if (bits >> 63) *out++ = '-';
    out = std::to_chars(out, out + 24, q / 1000000).ptr;
    *out++ = '.';
    std::uint32_t fraction = static_cast<std::uint32_t>(q % 1000000);
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return out + 6;
}

}  // namespace korvane
