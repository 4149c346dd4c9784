#pragma once
// Numbers as JSON text: integers, and doubles as the shortest text that reads back as the same
// double. Header-only, with nothing of the project below it, so the reply writer and a recording
// platform write numbers identically.
//
// std::to_chars would do for doubles, but Apple's C++ library offers it only from macOS 13.3, and
// vantrel runs from 13.0. No locale is ever set, so the decimal point is '.'.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantrel {

template <typename Integer> void appendInteger(std::string& out, Integer value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The fewest significant digits that survive the round trip, in fixed or scientific form,
// whichever is shorter: 100 rather than 1e+02, 1e-07 rather than 0.0000001. `value` is finite.
inline void appendShortestDouble(std::string& out, double value) {
    char scientific[32];
    int digits = 1;
    for (;; ++digits) { // 17 significant digits always read back
        std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, value);
        if (digits == 17 || std::strtod(scientific, nullptr) == value) break;
    }
    const char* e = std::strchr(scientific, 'e');
    int exponent = std::atoi(e + 1);
    std::string mantissa, fixed = scientific[0] == '-' ? "-" : "";
    for (const char* c = scientific; c < e; ++c)
        if (*c >= '0' && *c <= '9') mantissa += *c;
    if (exponent >= digits - 1)
        fixed += mantissa + std::string(static_cast<size_t>(exponent - digits + 1), '0');
    else if (exponent >= 0)
        fixed += mantissa.substr(0, static_cast<size_t>(exponent + 1)) + "." +
                 mantissa.substr(static_cast<size_t>(exponent + 1));
    else
        fixed += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
    out += fixed.size() <= std::strlen(scientific) ? fixed : std::string(scientific);
}

// A decimal number, all of `text`, as a finite double: digits, an optional leading '-', a point
// and an exponent, as JSON writes them. strtod with a checked end, since Apple's C++ library has
// no floating-point from_chars; what strtod takes beyond that (spaces, '+', hexadecimal,
// "inf") is refused first.
inline bool parseFiniteDouble(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.eE-+") != std::string::npos ||
        text[0] == '+')
        return false;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(parsed - parsed == 0.0)) return false;
    value = parsed;
    return true;
}

} // namespace vantrel
