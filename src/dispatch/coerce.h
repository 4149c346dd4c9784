#pragma once
// Request values to numbers. Nothing here fails: what is not a number counts as 0.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace vantrel {

// A JSON value (null pointer: the key is absent) as a double: numbers as themselves, booleans as
// 1 and 0, anything else (null, strings, arrays, objects) as 0.
double num(const nlohmann::json* value);

// The value of `key` in `request` through num; 0 when the key is absent.
double numAt(const nlohmann::json& request, const char* key);

// Truncation toward zero, saturating: below -2^63 (or -infinity) gives -2^63, at or above 2^63
// (or +infinity) gives 2^63 - 1. NaN, which JSON cannot carry, gives 0.
int64_t truncateToInt64(double value);

// Truncation toward zero when the result fits 32 signed bits and the value is finite; nothing
// otherwise.
std::optional<int32_t> truncateToInt32(double value);

} // namespace vantrel
