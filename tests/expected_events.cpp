// What the core tests share whichever layer records for them: the expected lines they compare
// against, and single runs built on that layer's runAll.

#include "trace_fixture.h"

namespace vantrel::testing {

std::vector<json> Outcome::posts() const {
    std::vector<json> out;
    for (const json& line : trace)
        if (!line.contains("trusted")) out.push_back(line);
    return out;
}

Outcome run(const std::string& request, const platform::trace::Config& config) {
    return runAll({request}, config).front();
}

json ok(int64_t id) {
    return {{"id", id}, {"ok", true}};
}
json error(const std::string& message, int64_t id) {
    return {{"id", id}, {"ok", false}, {"error", message}};
}

json mouse(int type, double x, double y, int button) {
    return {{"post", "mouse"}, {"type", type}, {"x", x}, {"y", y}, {"button", button}};
}
json click(int type, double x, double y, int button, int64_t clickState) {
    json event = mouse(type, x, y, button);
    event["clickState"] = clickState;
    return event;
}
json keyEvent(int type, int keyCode, uint64_t flags) {
    return {{"post", "key"}, {"type", type}, {"keyCode", keyCode}, {"flags", flags}};
}
json textEvent(int type, const std::vector<uint16_t>& units) {
    return {{"post", "key"}, {"type", type}, {"keyCode", 0}, {"text", units}};
}
json sleepFor(uint32_t microseconds) {
    return {{"sleep", microseconds}};
}
json scrollEvent(int32_t wheel1, int32_t wheel2) {
    return {{"post", "scroll"}, {"type", 22},       {"units", 1}, {"wheelCount", 2},
            {"wheel1", wheel1}, {"wheel2", wheel2}, {"wheel3", 0}};
}

std::vector<json> typed(const std::vector<uint16_t>& units) {
    return {textEvent(10, units), textEvent(11, units), sleepFor(8000)};
}
std::vector<json> typedAscii(const std::string& text) {
    std::vector<json> out;
    for (char c : text)
        for (json& line : typed({static_cast<uint16_t>(c)}))
            out.push_back(std::move(line));
    return out;
}

std::vector<json> concat(std::initializer_list<std::vector<json>> parts) {
    std::vector<json> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace vantrel::testing
