// The dispatcher: common parameters, coercion, the trust gate, routing and reply shapes.

#include "trace_fixture.h"

#include "dispatch/coerce.h"
#include "dispatch/dispatcher.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace vantrel::testing {
namespace {

const char* const permission = "Accessibility permission is not granted to the vantrel";

platform::trace::Config trust(std::vector<bool> answers) {
    platform::trace::Config config;
    config.trusted = std::move(answers);
    return config;
}

TEST(Routing, UnknownAndMisspelledNamesAreReportedVerbatim) {
    EXPECT_EQ(run("{}").reply, error("unknown action: "));
    EXPECT_EQ(run(R"({"id":1,"action":"PING"})").reply, error("unknown action: PING", 1));
    for (const char* odd : {"5", "null", "{}", "[\"ping\"]", "true"})
        EXPECT_EQ(run(std::string(R"({"action":)") + odd + "}").reply, error("unknown action: "))
            << odd;
    EXPECT_EQ(run(R"({"action":"a/\"b\\\n"})").reply, error("unknown action: a/\"b\\\n"));
    EXPECT_EQ(run(R"({"id":4,"action":"ping"})").reply, ok(4));
}

TEST(Routing, IdIsAWholeNumberWithinSixtyFourBitsOrZero) {
    auto id = [](const std::string& value) {
        return run(R"({"action":"ping","id":)" + value + "}").reply["id"];
    };
    EXPECT_EQ(id("7"), 7);
    EXPECT_EQ(id("7.0"), 7);
    EXPECT_EQ(id("-12"), -12);
    EXPECT_EQ(id("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(id("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    for (const char* zero : {"\"7\"", "7.5", "true", "false", "null", "[7]", "1e19",
                             "18446744073709551615", "9223372036854775808"})
        EXPECT_EQ(id(zero), 0) << zero;
}

TEST(Routing, DurationDefaultsTo350AndNegativeWholePartsPassOn) {
    // A 14-point move has two steps, each paced half of the duration.
    auto firstPause = [](const std::string& duration) {
        std::vector<json> events =
            run(R"({"action":"mouse_move","x":14,"durationMs":)" + duration + "}").posts();
        return events[1].contains("sleep") ? events[1]["sleep"].get<int64_t>() : 0;
    };
    for (const char* fallback : {"null", "\"500\"", "0", "0.4", "-0.9", "[]"})
        EXPECT_EQ(firstPause(fallback), 175000) << fallback;
    EXPECT_EQ(firstPause("12.9"), 6000);
    EXPECT_EQ(firstPause("-20"), 0);
    EXPECT_EQ(firstPause("true"), 500);
}

TEST(Routing, CoordinatesAreNumbersOnly) {
    EXPECT_EQ(run(R"({"action":"left_mouse_up","x":"100","y":true})").posts(),
              (std::vector<json>{mouse(2, 0, 1)}));
}

TEST(Routing, ParametersNoActionUsesNeverFail) {
    for (const char* action : {"ping", "probe", "cursor_position", "nothing"}) {
        json request{{"id", 5},         {"action", action}, {"durationMs", 1e300},
                     {"amount", 1e300}, {"holdMs", -1e300}, {"key", 1e300}};
        EXPECT_EQ(run(request.dump()).reply["id"], 5) << action;
    }
    EXPECT_EQ(run(R"({"id":5,"action":"type","text":"","holdMs":1e300,"key":1e30})").reply, ok(5));
}

TEST(Gate, WithoutTrustEveryPostingActionIsRefusedAndPostsNothing) {
    for (const std::string& action : accessibilityActions()) {
        Outcome out = run(json{{"id", 2}, {"action", action}, {"x", 50}, {"text", "a"}}.dump(),
                          trust({false}));
        EXPECT_EQ(out.reply, error(permission, 2)) << action;
        EXPECT_EQ(out.trace, (std::vector<json>{{{"trusted", false}}})) << action;
    }
    std::set<std::string> gated(accessibilityActions().begin(), accessibilityActions().end());
    EXPECT_EQ(gated, (std::set<std::string>{
                         "mouse_move", "left_click", "right_click", "middle_click", "double_click",
                         "triple_click", "left_mouse_down", "left_mouse_up", "left_click_drag",
                         "scroll", "type", "key", "hold_key", "media", "release_all", "key_down",
                         "key_up", "mouse_down", "mouse_up"}));
    // The gate comes before the action's own limits.
    EXPECT_EQ(run(R"({"action":"hold_key","holdMs":1e300})", trust({false})).reply,
              error(permission));
}

TEST(Gate, HousekeepingWorksUntrustedAndOnlyProbeAsks) {
    Outcome probe = run(R"({"id":5,"action":"probe"})", trust({false}));
    EXPECT_EQ(probe.reply, (json{{"id", 5}, {"ok", true}, {"trusted", false}}));
    EXPECT_EQ(probe.trace, (std::vector<json>{{{"trusted", false}}}));
    for (const char* request : {R"({"action":"ping"})", R"({"action":"cursor_position"})",
                                R"({"action":"Probe"})", "{}"}) {
        Outcome out = run(request, trust({false}));
        EXPECT_TRUE(out.trace.empty()) << request;
        EXPECT_TRUE(out.reply.contains("ok")) << request;
        EXPECT_NE(out.reply.value("error", ""), permission);
    }
}

TEST(Gate, TrustIsAskedAfreshForEachGatedRequestAndEachProbe) {
    auto outs =
        runAll({R"({"action":"probe"})", R"({"action":"left_mouse_up"})", R"({"action":"ping"})",
                R"({"action":"left_mouse_up"})", R"({"action":"probe"})"},
               trust({true, false, true}));
    EXPECT_EQ(outs[0].reply["trusted"], true);
    EXPECT_EQ(outs[1].reply, error(permission));
    EXPECT_TRUE(outs[2].trace.empty());
    EXPECT_EQ(outs[3].reply, ok());
    EXPECT_EQ(outs[4].reply["trusted"], true); // the last answer repeats
}

TEST(Coercion, NumAcceptsNumbersAndBooleansOnly) {
    auto numOf = [](const char* text) {
        json value = json::parse(text);
        return num(&value);
    };
    EXPECT_EQ(num(nullptr), 0.0);
    for (const char* zero : {"null", "\"12\"", "[]", "{}", "false"})
        EXPECT_EQ(numOf(zero), 0.0);
    EXPECT_EQ(numOf("true"), 1.0);
    EXPECT_EQ(numOf("2.5"), 2.5);
    EXPECT_EQ(numOf("-3"), -3.0);
    EXPECT_EQ(numOf("9007199254740993"), 9007199254740992.0);
    EXPECT_EQ(numOf("18446744073709551615"), 18446744073709551616.0);
}

TEST(Coercion, SixtyFourBitTruncationSaturates) {
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    constexpr int64_t highest = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(truncateToInt64(12.9), 12);
    EXPECT_EQ(truncateToInt64(-0.9), 0);
    EXPECT_EQ(truncateToInt64(-9223372036854775808.0), lowest);
    EXPECT_EQ(truncateToInt64(-1e300), lowest);
    EXPECT_EQ(truncateToInt64(-INFINITY), lowest);
    EXPECT_EQ(truncateToInt64(9223372036854775808.0), highest);
    EXPECT_EQ(truncateToInt64(INFINITY), highest);
    EXPECT_EQ(truncateToInt64(9223372036854774784.0), 9223372036854774784);
}

TEST(Coercion, ThirtyTwoBitTruncationAcceptsExactlyWhatFits) {
    EXPECT_EQ(truncateToInt32(2147483647.9), 2147483647);
    EXPECT_EQ(truncateToInt32(-2147483648.9), -2147483648);
    EXPECT_FALSE(truncateToInt32(2147483648.0));
    EXPECT_FALSE(truncateToInt32(-2147483649.0));
    EXPECT_FALSE(truncateToInt32(NAN));
    EXPECT_FALSE(truncateToInt32(INFINITY));
}

} // namespace
} // namespace vantrel::testing
