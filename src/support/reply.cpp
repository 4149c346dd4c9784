#include "support/reply.h"

#include "support/number_text.h"

#include <cmath>

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
        } else if (const auto* d = std::get_if<double>(&value)) {
            appendShortestDouble(out, std::isfinite(*d) ? *d : 0.0);
        } else {
            out += '[';
            Names names = std::get<Names>(value);
            for (const std::string& item : names ? *names : std::vector<std::string>{}) {
                if (out.back() != '[') out += ',';
                appendString(out, item);
            }
            out += ']';
        }
    }
    out += '}';
    return out;
}

} // namespace vantrel
