// The trace implementation of the event services: posts nothing, and writes every effect a real
// platform would have (posted events, pauses, trust checks, replies) as one JSON line each to
// standard error, in order. Tests and client authors use it without a display or a permission.
// Its output is a contract that other tools read: change a line only with its documentation.

#include "platform/event_services.h"
#include "platform/trace/trace_control.h"
#include "support/number_text.h"
#include "support/wait.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace vantrel::platform {

enum class Kind { probe, mouse, key, scroll, system };

struct EventRecord {
    Kind kind = Kind::probe;
    uint32_t type = 0;
    Point location;
    uint32_t button = 0;
    std::optional<int64_t> clickState;
    uint16_t keyCode = 0;
    std::optional<uint64_t> flags;
    std::optional<std::vector<uint16_t>> text;
    uint32_t units = 0, wheelCount = 0;
    int32_t wheels[3] = {0, 0, 0};
    SystemDefinedFields system;
};

namespace {

// What the trace must keep between calls: its configuration, the simulated pointer, how many
// trust checks were asked, and (in tests) the captured lines.
struct State {
    trace::Config config;
    Point pointer;
    size_t trustChecks = 0;
    bool postedThisRequest = false;
    bool capture = false;
    std::vector<std::string> captured;
};
State state;

void writeLine(std::string line) {
    if (state.capture) {
        state.captured.push_back(std::move(line));
        return;
    }
    line += '\n';
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

bool isMouseType(uint32_t type) {
    return (type >= leftMouseDown && type <= rightMouseDragged) ||
           (type >= otherMouseDown && type <= otherMouseDragged);
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

bool parseCoordinate(const std::string& text, double& value) {
    return parseFiniteDouble(text, value);
}

} // namespace

namespace trace {

std::optional<Config> configFromEnvironment(std::string& problem) {
    Config config;
    if (const char* trusted = std::getenv("VANTREL_TRACE_TRUSTED")) {
        config.trusted.clear();
        for (const std::string& part : splitCommas(trusted)) {
            if (part != "1" && part != "0") {
                problem = "VANTREL_TRACE_TRUSTED must be a comma-separated list of 1 and 0";
                return std::nullopt;
            }
            config.trusted.push_back(part == "1");
        }
    }
    if (const char* cursor = std::getenv("VANTREL_TRACE_CURSOR")) {
        std::vector<std::string> parts = splitCommas(cursor);
        if (parts.size() != 2 || !parseCoordinate(parts[0], config.cursor.x) ||
            !parseCoordinate(parts[1], config.cursor.y)) {
            problem = "VANTREL_TRACE_CURSOR must be x,y in decimal numbers";
            return std::nullopt;
        }
    }
    if (const char* screen = std::getenv("VANTREL_TRACE_SCREEN")) {
        std::vector<std::string> parts = splitCommas(screen);
        if (parts.size() != 2 || !parseCoordinate(parts[0], config.screen.width) ||
            !parseCoordinate(parts[1], config.screen.height) || config.screen.width < 0 ||
            config.screen.height < 0) {
            problem = "VANTREL_TRACE_SCREEN must be width,height in non-negative decimal numbers";
            return std::nullopt;
        }
    }
    if (const char* fail = std::getenv("VANTREL_TRACE_FAIL"); fail && *fail) {
        for (const std::string& part : splitCommas(fail)) {
            if (part == "location")
                config.failLocation = true;
            else if (part == "mouse")
                config.failMouse = true;
            else if (part == "keyboard")
                config.failKeyboard = true;
            else if (part == "scroll")
                config.failScroll = true;
            else if (part == "system")
                config.failSystem = true;
            else if (part == "connection")
                config.loseConnection = true;
            else {
                problem = "VANTREL_TRACE_FAIL takes location, mouse, keyboard, scroll, system, "
                          "connection";
                return std::nullopt;
            }
        }
    }
    if (const char* rule = std::getenv("VANTREL_TRACE_MULTICLICK")) {
        std::vector<std::string> parts = splitCommas(rule);
        double interval = 0;
        if (parts.size() != 2 || !parseCoordinate(parts[0], interval) || interval < 0 ||
            interval > 4294967295.0 || !parseCoordinate(parts[1], config.multiClick.distance) ||
            config.multiClick.distance < 0) {
            problem = "VANTREL_TRACE_MULTICLICK must be microseconds,distance in non-negative "
                      "decimal numbers";
            return std::nullopt;
        }
        config.multiClick.interval = static_cast<uint32_t>(interval);
    }
    if (const char* untypeable = std::getenv("VANTREL_TRACE_UNTYPEABLE"))
        config.untypeable = untypeable;
    if (const char* realtime = std::getenv("VANTREL_TRACE_REALTIME"); realtime && *realtime) {
        if (std::strcmp(realtime, "1") != 0 && std::strcmp(realtime, "0") != 0) {
            problem = "VANTREL_TRACE_REALTIME must be 1 or 0";
            return std::nullopt;
        }
        config.realtime = realtime[0] == '1';
    }
    return config;
}

void configure(const Config& config, bool capture) {
    state = State{};
    state.config = config;
    if (state.config.trusted.empty()) state.config.trusted.push_back(true);
    state.pointer = config.cursor;
    state.capture = capture;
}

std::vector<std::string> takeLines() {
    std::vector<std::string> lines;
    lines.swap(state.captured);
    return lines;
}

} // namespace trace

namespace {
EventRecord* makeRecord(Kind kind) {
    auto* record = new EventRecord;
    record->kind = kind;
    return record;
}
} // namespace

void EventRelease::operator()(EventRecord* event) const noexcept {
    delete event;
}

void openEventServices() {
    std::string problem;
    std::optional<trace::Config> config = trace::configFromEnvironment(problem);
    if (!config) {
        std::string line = "vantrel-trace: " + problem + "\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        std::exit(2);
    }
    trace::configure(*config, false);
}

void closeEventServices() {}

Event createEvent() {
    if (state.config.failLocation) return nullptr;
    Event event(makeRecord(Kind::probe));
    event->location = state.pointer;
    return event;
}

Point eventLocation(const EventRecord& event) {
    return event.location;
}

Event createMouseEvent(uint32_t type, Point location, uint32_t button) {
    if (state.config.failMouse) return nullptr;
    Event event(makeRecord(Kind::mouse));
    event->type = type;
    event->location = location;
    event->button = button;
    return event;
}

void setIntegerValueField(EventRecord& event, uint32_t field, int64_t value) {
    if (field == mouseEventClickState) event.clickState = value;
}

Event createKeyboardEvent(uint16_t virtualKey, bool keyDown) {
    if (state.config.failKeyboard) return nullptr;
    Event event(makeRecord(Kind::key));
    event->type = keyDown ? 10 : 11;
    event->keyCode = virtualKey;
    return event;
}

void setFlags(EventRecord& event, uint64_t flags) {
    event.flags = flags;
}

void keyboardSetUnicodeString(EventRecord& event, std::span<const uint16_t> units) {
    event.text.emplace(units.begin(), units.end());
}

Event createScrollWheelEvent2(uint32_t units, uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                              int32_t wheel3) {
    if (state.config.failScroll) return nullptr;
    Event event(makeRecord(Kind::scroll));
    event->type = 22;
    event->units = units;
    event->wheelCount = wheelCount;
    event->wheels[0] = wheel1;
    event->wheels[1] = wheel2;
    event->wheels[2] = wheel3;
    return event;
}

Event createSystemDefinedEvent(const SystemDefinedFields& fields) {
    if (state.config.failSystem) return nullptr;
    Event event(makeRecord(Kind::system));
    event->system = fields;
    return event;
}

void postEvent(EventRecord& event) {
    std::string line;
    switch (event.kind) {
    case Kind::probe:
        return; // an empty event posts nothing anywhere
    case Kind::mouse:
        line = "{\"post\":\"mouse\",\"type\":";
        appendInteger(line, event.type);
        line += ",\"x\":";
        appendShortestDouble(line, event.location.x);
        line += ",\"y\":";
        appendShortestDouble(line, event.location.y);
        line += ",\"button\":";
        appendInteger(line, event.button);
        if (event.clickState) {
            line += ",\"clickState\":";
            appendInteger(line, *event.clickState);
        }
        if (event.flags) {
            line += ",\"flags\":";
            appendInteger(line, *event.flags);
        }
        if (isMouseType(event.type)) state.pointer = event.location;
        break;
    case Kind::key:
        line = "{\"post\":\"key\",\"type\":";
        appendInteger(line, event.type);
        line += ",\"keyCode\":";
        appendInteger(line, event.keyCode);
        if (event.flags) {
            line += ",\"flags\":";
            appendInteger(line, *event.flags);
        }
        if (event.text) {
            line += ",\"text\":[";
            for (size_t i = 0; i < event.text->size(); ++i) {
                if (i) line += ',';
                appendInteger(line, (*event.text)[i]);
            }
            line += ']';
        }
        break;
    case Kind::scroll:
        line = "{\"post\":\"scroll\",\"type\":22,\"units\":";
        appendInteger(line, event.units);
        line += ",\"wheelCount\":";
        appendInteger(line, event.wheelCount);
        for (int i = 0; i < 3; ++i) {
            line += ",\"wheel";
            line += static_cast<char>('1' + i);
            line += "\":";
            appendInteger(line, event.wheels[i]);
        }
        if (event.flags) {
            line += ",\"flags\":";
            appendInteger(line, *event.flags);
        }
        break;
    case Kind::system: {
        const SystemDefinedFields& f = event.system;
        line = "{\"post\":\"system\",\"type\":";
        appendInteger(line, f.type);
        line += ",\"subtype\":";
        appendInteger(line, f.subtype);
        line += ",\"x\":";
        appendShortestDouble(line, f.location.x);
        line += ",\"y\":";
        appendShortestDouble(line, f.location.y);
        line += ",\"modifierFlags\":";
        appendInteger(line, f.modifierFlags);
        line += ",\"timestamp\":";
        appendShortestDouble(line, f.timestamp);
        line += ",\"windowNumber\":";
        appendInteger(line, f.windowNumber);
        line += ",\"data1\":";
        appendInteger(line, f.data1);
        line += ",\"data2\":";
        appendInteger(line, f.data2);
        break;
    }
    }
    line += '}';
    state.postedThisRequest = true;
    writeLine(std::move(line));
}

bool isProcessTrusted() {
    const std::vector<bool>& answers = state.config.trusted;
    bool trusted =
        answers[state.trustChecks < answers.size() ? state.trustChecks : answers.size() - 1];
    ++state.trustChecks;
    writeLine(trusted ? "{\"trusted\":true}" : "{\"trusted\":false}");
    return trusted;
}

void pause(uint32_t microseconds) {
    if (microseconds == 0) return;
    std::string line = "{\"sleep\":";
    appendInteger(line, microseconds);
    line += '}';
    writeLine(std::move(line));
    if (state.config.realtime)
        sleepUntil(WaitClock::now() + std::chrono::microseconds(microseconds));
    else
        takePendingSignals(); // so that a stop still ends a long action between its pauses
}

int64_t largestScrollAmount() {
    return 2147483647;
}

MultiClick multiClick() {
    return state.config.multiClick;
}

Size mainDisplaySize() {
    return state.config.screen;
}

void willType(std::span<const uint16_t>) {}

// Each character is looked for, as UTF-8, in the configured text: UTF-8 finds a character only
// where it stands whole.
bool canTypeUnicodeString(std::span<const uint16_t> units) {
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if ((c & 0xFC00) == 0xD800 && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        std::string bytes;
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
        if (state.config.untypeable.find(bytes) != std::string::npos) return false;
    }
    return true;
}

uint32_t whileIdle() {
    return 0;
}

std::string_view undeliveredInput() {
    return {};
}

std::string_view untrustedDetail() {
    return {};
}

std::string_view platformName() {
    return "trace";
}

std::string_view connectionLost() {
    if (!state.config.loseConnection || !state.postedThisRequest) return {};
    return "trace: the connection was lost (VANTREL_TRACE_FAIL=connection)";
}

void replyWritten(std::string_view line) {
    state.postedThisRequest = false;
    std::string out = "{\"reply\":";
    out.append(line);
    out += '}';
    writeLine(std::move(out));
}

} // namespace vantrel::platform
