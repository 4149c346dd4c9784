#include "dispatch/coerce.h"

#include <cmath>
#include <limits>

namespace vantrel {

double num(const nlohmann::json* value) {
    if (value == nullptr) return 0.0;
    switch (value->type()) {
    case nlohmann::json::value_t::number_float:
        return value->get<double>();
    case nlohmann::json::value_t::number_integer:
        return static_cast<double>(value->get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
        return static_cast<double>(value->get<uint64_t>());
    case nlohmann::json::value_t::boolean:
        return value->get<bool>() ? 1.0 : 0.0;
    default:
        return 0.0;
    }
}

double numAt(const nlohmann::json& request, const char* key) {
    auto found = request.find(key);
    return num(found == request.end() ? nullptr : &*found);
}

int64_t truncateToInt64(double value) {
    constexpr double twoTo63 = 9223372036854775808.0;
    if (std::isnan(value)) return 0;
    if (value >= twoTo63) return std::numeric_limits<int64_t>::max();
    // Every double above -2^63 - 1 truncates into range; -2^63 itself is the first one below.
    if (value <= -twoTo63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::optional<int32_t> truncateToInt32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace vantrel
