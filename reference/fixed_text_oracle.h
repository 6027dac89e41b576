// The reference for the shape text's numbers: the C library's printf "%.6f".
#pragma once

#include <cstdio>
#include <string>

namespace korvane::oracle {

inline std::string printf_fixed6(double v) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace korvane::oracle
