#include "engine/output/fixed_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "reference/fixed_text_oracle.h"

namespace {

std::string fixed6(double v) {
    char buf[korvane::kFixed6MaxChars];
    return std::string(buf, korvane::write_fixed6(buf, v));
}

TEST(FixedText, KnownValues) {
    struct Case {
        const char* name;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {"integer intensity", 1520.0, "1520.000000"},
        {"below half a millionth", 0.0000004, "0.000000"},
        {"negative zero keeps its sign", -0.0, "-0.000000"},
        {"tiny negative", -1e-9, "-0.000000"},
        {"exact tie rounds to even (down)", 0.0078125, "0.007812"},
        {"exact tie rounds to even (up)", 0.0234375, "0.023438"},
        {"carry into the integer part", 0.9999995, "1.000000"},
        {"just below the fast range", 9999999999999.998, "9999999999999.998047"},
        {"fast range limit", 1e13, "10000000000000.000000"},
        // printf("%.6f") writes every digit of the double nearest 1e308.
        {"beyond 64-bit scaled values", 1e308,
         "100000000000000001097906362944045541740492309677311846336810682903157585404911491537163328978494"
         "688899061249669721172515611590283743140088328307009198146046031271664502933027185697489699588559"
         "043338384466165001178426897626212945177628091195786707458122783970171784415105291802893207873272"
         "974885715430223118336.000000"},
        {"smallest subnormal", 5e-324, "0.000000"},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), "nan"},
        {"minus infinity", -std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fixed6(c.value), c.text);
        EXPECT_EQ(korvane::oracle::printf_fixed6(c.value), c.text);
    }
}

// Random magnitudes, random bit patterns and many exact ties, against printf.
TEST(FixedText, SameTextAsPrintf) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 16);
    for (int i = 0; i < 600000; ++i) {
        double v = 0;
        switch (i % 4) {
            case 0: v = mantissa(rng) * std::pow(10.0, exponent(rng)); break;
            case 1: v = std::bit_cast<double>(rng()); break;
            case 2: v = static_cast<double>(static_cast<std::int64_t>(rng() % 200000000) - 100000000) / 128.0; break;
            default: v = std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 80)); break;
        }
        const std::string slow = korvane::oracle::printf_fixed6(v);
        ASSERT_EQ(fixed6(v), slow) << std::hexfloat << v;
    }
}

}  // namespace
