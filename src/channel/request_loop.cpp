#include "channel/request_loop.h"

#include "channel/writer.h"
#include "dispatch/dispatcher.h"
#include "platform/event_services.h"
#include "support/standard_streams.h"
#include "support/stop.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <limits>

namespace vantrel {

namespace {

// Length of the well-formed UTF-8 sequence at `s`, or the length of its maximal ill-formed
// subpart (at least 1) negated. Follows the Unicode Standard's table of well-formed sequences.
int sequenceLength(const unsigned char* s, size_t left) {
    unsigned char lead = s[0];
    if (lead < 0x80) return 1;
    int need;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (int i = 1; i <= need; ++i) {
        if (static_cast<size_t>(i) >= left) return -i;
        unsigned char c = s[i];
        if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return -i;
    }
    return need + 1;
}

// Decodes the code point of valid UTF-8 that takes `length` bytes at `at` in `text`.
char32_t codePointAt(std::string_view text, size_t at, size_t length) {
    auto b = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    switch (length) {
    case 1:
        return b(0);
    case 2:
        return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3:
        return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default:
        return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
    }
}

// The parser reads an integer literal beyond 64 bits as the nearest double, and below -2^63 that
// double is -2^63 itself, a valid id; only the literal's text tells the two apart. This reads the
// text of the last top-level "id" (the one the parser keeps) when its value is that double.
class IdLiteral : public nlohmann::json_sax<nlohmann::json> {
  public:
    bool integerBeyondRange = false;
    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t& text) override {
        return value(text.find_first_of(".eE") == string_t::npos);
    }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t& name) override {
        atId_ = depth_ == 1 && name == "id";
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    // A later "id" replaces an earlier one, as in the parser's object.
    bool value(bool beyondRange = false) {
        if (depth_ == 1 && atId_) integerBeyondRange = beyondRange;
        atId_ = false;
        return true;
    }
    bool open() {
        if (depth_ == 1 && atId_) integerBeyondRange = false;
        ++depth_;
        atId_ = false;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }
    int depth_ = 0;
    bool atId_ = false;
};

// An "id" written as an integer below -2^63 is outside the id range; it becomes NaN, which no
// JSON text produces and which the dispatcher reads as no id (0), like 2^63 and above.
void markIdBeyondRange(nlohmann::json& request, std::string_view text) {
    auto id = request.find("id");
    if (id == request.end() || !id->is_number_float() ||
        id->get<double>() != -9223372036854775808.0)
        return;
    IdLiteral literal;
    nlohmann::json::sax_parse(text, &literal);
    if (literal.integerBeyondRange) *id = std::numeric_limits<double>::quiet_NaN();
}

bool isTrimmed(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

std::string repairUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size(), i = 0;
    // The common case, valid text, is returned without building anything piecewise.
    while (i < size) {
        int length = sequenceLength(s + i, size - i);
        if (length < 0) break;
        i += static_cast<size_t>(length);
    }
    if (i == size) return std::string(bytes);
    std::string out(bytes.substr(0, i));
    while (i < size) {
        int length = sequenceLength(s + i, size - i);
        if (length > 0) {
            out.append(bytes.substr(i, static_cast<size_t>(length)));
            i += static_cast<size_t>(length);
        } else {
            out += "\xEF\xBF\xBD";
            i += static_cast<size_t>(-length);
        }
    }
    return out;
}

std::string_view trimLine(std::string_view text) {
    // Every trimmed character is 1 to 3 bytes long; step over whole characters from each end.
    while (!text.empty()) {
        auto lead = static_cast<unsigned char>(text[0]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (length > text.size() || !isTrimmed(codePointAt(text, 0, length))) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 &&
               text.size() - start < 4)
            --start;
        if (!isTrimmed(codePointAt(text, start, text.size() - start))) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

bool handleLine(std::string_view line) {
    std::string text = repairUtf8(line);
    std::string_view trimmed = trimLine(text);
    if (trimmed.empty()) return true;
    // A NUL byte is valid nowhere in JSON text, but the parser would take it for the end of its
    // input and accept whatever came before; refuse it here.
    bool parsed = false;
    nlohmann::json request;
    if (trimmed.find('\0') == std::string_view::npos) {
        request = nlohmann::json::parse(trimmed, nullptr, false);
        parsed = !request.is_discarded();
        if (parsed && request.is_object()) markIdBeyondRange(request, trimmed);
    }
    if (parsed && request.is_object()) return emit(respond(request));
    return emit(errorReply(0, "invalid json"));
}

LoopEnd runRequestLoop() {
    std::string line;
    bool tooLarge = false;
    // One byte of slack beyond the limit holds the carriage return of a line at the limit.
    constexpr size_t keep = maxLineBytes + 1;
    auto finishLine = [&](bool endedByLineFeed) {
        if (endedByLineFeed && !tooLarge && !line.empty() && line.back() == '\r') line.pop_back();
        bool written = tooLarge || line.size() > maxLineBytes
                           ? emit(errorReply(0, "request too large"))
                           : handleLine(line);
        line.clear();
        tooLarge = false;
        return written;
    };
    std::string buffer(64 * 1024, '\0');
    try {
        for (;;) {
            // The stop signals are taken only while waiting, here and in the pauses.
            // A stop ends the wait: a stop signal, or the reader of the replies gone. While the
            // wait lasts, the platform may give back what it took for the requests before.
            uint32_t later = platform::whileIdle();
            Wake wake =
                waitForInput(later == 0 ? WaitClock::time_point::max()
                                        : WaitClock::now() + std::chrono::microseconds(later));
            if (wake == Wake::elapsed) continue;
            if (wake == Wake::stop) {
                stopIfSignalled();
                continue;
            }
            long got = readInput(buffer.data(), buffer.size());
            if (got < 0) continue;
            if (got == 0) break;
            std::string_view chunk(buffer.data(), static_cast<size_t>(got));
            while (!chunk.empty()) {
                size_t end = chunk.find('\n');
                std::string_view piece = chunk.substr(0, end);
                if (!tooLarge) {
                    if (line.size() + piece.size() > keep) {
                        tooLarge = true;
                        line.clear();
                        line.shrink_to_fit();
                    } else {
                        line.append(piece);
                    }
                }
                if (end == std::string_view::npos) break;
                if (!finishLine(true)) return LoopEnd::readerGone;
                chunk.remove_prefix(end + 1);
            }
        }
        if ((!line.empty() || tooLarge) && !finishLine(false)) return LoopEnd::readerGone;
    } catch (const Stopped&) {
        return LoopEnd::stopped;
    } catch (const ReaderGone&) {
        return LoopEnd::readerGone;
    }
    return LoopEnd::endOfInput;
}

} // namespace vantrel
