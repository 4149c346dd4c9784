#include "channel/reply.h"

#include "platform/event_services.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vantrel {

Reply successReply(int64_t id) {
    Reply reply;
    reply.add("id", id).add("ok", true);
    return reply;
}

Reply errorReply(int64_t id, std::string message) {
    Reply reply;
    reply.add("id", id).add("ok", false).add("error", std::move(message));
    return reply;
}

namespace {

void appendString(std::string& out, const std::string& text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void appendInteger(std::string& out, int64_t value) {
    std::array<char, 24> buffer;
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

// The shortest text that reads back as the same double: the fewest significant digits that
// survive the round trip. std::to_chars would do, but Apple's C++ library offers it for doubles
// only from macOS 13.3, and vantrel runs from 13.0. No locale is ever set, so the point is '.'.
void appendDouble(std::string& out, double value) {
    char scientific[32];
    int digits = 1;
    for (;; ++digits) { // 17 significant digits always read back
        std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, value);
        if (digits == 17 || std::strtod(scientific, nullptr) == value) break;
    }
    // The same digits without an exponent, where that is no longer: 100 rather than 1e+02.
    const char* e = std::strchr(scientific, 'e');
    int exponent = std::atoi(e + 1);
    std::string mantissa, fixed = scientific[0] == '-' ? "-" : "";
    for (const char* c = scientific; c < e; ++c)
        if (*c >= '0' && *c <= '9') mantissa += *c;
    if (exponent >= digits - 1)
        fixed += mantissa + std::string(static_cast<size_t>(exponent - digits + 1), '0');
    else if (exponent >= 0)
        fixed += mantissa.insert(static_cast<size_t>(exponent + 1), ".");
    else
        fixed += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
    out += fixed.size() <= std::strlen(scientific) ? fixed : std::string(scientific);
}

} // namespace

std::string serialize(const Reply& reply) {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, value] : reply.entries) {
        if (!first) out += ',';
        first = false;
        appendString(out, key);
        out += ':';
        if (const auto* i = std::get_if<int64_t>(&value)) {
            appendInteger(out, *i);
        } else if (const auto* b = std::get_if<bool>(&value)) {
            out += *b ? "true" : "false";
        } else if (const auto* s = std::get_if<std::string>(&value)) {
            appendString(out, *s);
        } else {
            double d = std::get<double>(value);
            appendDouble(out, std::isfinite(d) ? d : 0.0);
        }
    }
    out += '}';
    return out;
}

void emit(const Reply& reply) {
    std::string line = serialize(reply);
    platform::replyWritten(line);
    line += '\n';
    // One write call per reply where the pipe allows it; the loop covers partial writes. Errors
    // (a closed pipe) end the attempt silently: the process carries on with its input.
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

} // namespace vantrel
