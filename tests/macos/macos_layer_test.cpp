// The macOS layer, compiled here against declared interfaces and run against fake frameworks:
// it must post exactly what the trace layer records for the same requests, release every event
// it made exactly once, never release what an NSEvent owns, and wrap each media event in its own
// autorelease pool.

#include "fake_fixture.h"

#include "../child_process.h"
#include "platform/event_services.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace vantrel::testing {
namespace {

using nlohmann::json;

const std::vector<std::string> session = {
    R"({"id":1,"action":"probe"})",
    R"({"id":2,"action":"mouse_move","x":100,"y":50})",
    R"({"id":3,"action":"left_click","x":103,"y":54,"durationMs":10})",
    R"({"id":4,"action":"right_click","x":300,"y":200})",
    R"({"id":5,"action":"middle_click"})",
    R"({"id":6,"action":"double_click","x":5,"y":5})",
    R"({"id":7,"action":"triple_click","x":5.5,"y":5.25})",
    R"({"id":8,"action":"left_mouse_down","x":40,"y":40})",
    R"({"id":9,"action":"left_mouse_up","x":80,"y":90})",
    R"({"id":10,"action":"left_click_drag","startX":10,"startY":20,"x":400,"y":300})",
    R"({"id":11,"action":"scroll","direction":"left","amount":5,"x":20})",
    R"({"id":12,"action":"scroll","direction":"Up"})",
    R"({"id":13,"action":"scroll","amount":2147483648})",
    R"({"id":14,"action":"type","text":"a\u00e9\ud83d\udc4d\ud83c\udffd\r\n\u0915\u094d\u0937"})",
    R"({"id":15,"action":"type","text":"e\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301\u0301"})",
    R"({"id":16,"action":"key","text":"cmd+shift+t"})",
    R"({"id":17,"action":"key","text":"Hello"})",
    R"({"id":18,"action":"hold_key","text":"ctrl+alt+delete","holdMs":25})",
    R"({"id":19,"action":"hold_key","text":"a","holdMs":4294968})",
    R"({"id":20,"action":"media","key":16})",
    R"({"id":21,"action":"media","key":-1})",
    R"({"id":22,"action":"media","key":1e10})",
    R"({"id":23,"action":"cursor_position"})",
    R"({"id":24,"action":"mouse_move","x":1e308})",
    R"({"id":25,"action":"ping"})",
};

// The layer's lines for a session with the replies between them, as vantrel-trace writes them.
std::vector<json> onMacos(const std::vector<std::string>& requests,
                          const fake::Settings& settings) {
    std::vector<json> out;
    for (Outcome& outcome : runOnFrameworks(requests, settings)) {
        out.insert(out.end(), outcome.trace.begin(), outcome.trace.end());
        out.push_back({{"reply", outcome.reply}});
    }
    return out;
}

std::vector<json> onTrace(const std::vector<std::string>& requests,
                          const std::vector<std::string>& environment) {
    std::string input;
    for (const std::string& request : requests)
        input += request + "\n";
    Finished run = runToEnd(VANTREL_TRACE_EXECUTABLE, input, environment);
    std::vector<json> out;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);)
        out.push_back(json::parse(line));
    return out;
}

void expectSameEvents(const std::vector<json>& macos, const std::vector<json>& trace) {
    ASSERT_EQ(macos.size(), trace.size());
    for (size_t i = 0; i < macos.size(); ++i)
        EXPECT_EQ(macos[i], trace[i]) << "line " << i;
}

TEST(MacosLayer, PostsWhatTheTraceLayerRecordsForTheSameRequests) {
    fake::Settings settings;
    settings.pointerX = 12;
    settings.pointerY = 34;
    expectSameEvents(onMacos(session, settings), onTrace(session, {"VANTREL_TRACE_CURSOR=12,34"}));
    EXPECT_EQ(fake::problems(), std::vector<std::string>{});
}

TEST(MacosLayer, FailedCreationsAndTrustAnswersMatchTheTraceLayerToo) {
    fake::Settings settings;
    settings.failLocation = settings.failMouse = settings.failKeyboard = settings.failScroll = true;
    settings.failNSEvent = true;
    settings.trusted = {true, false, true};
    expectSameEvents(onMacos(session, settings),
                     onTrace(session, {"VANTREL_TRACE_FAIL=location,mouse,keyboard,scroll,system",
                                       "VANTREL_TRACE_TRUSTED=1,0,1"}));
    EXPECT_EQ(fake::counts().posts, 0);
    EXPECT_EQ(fake::problems(), std::vector<std::string>{});
}

// runOnFrameworks checks the releases after every run; this one makes sure there was plenty to
// release, NSEvent-owned events included.
TEST(MacosLayer, EveryCreatedEventIsReleasedOnceAndNoNSEventOwnedOneAtAll) {
    onMacos(session, {});
    fake::Counts counts = fake::counts();
    EXPECT_GT(counts.created, 100);
    EXPECT_EQ(counts.releasedOnce, counts.created);
    EXPECT_EQ(counts.fromNSEvent, 4);
    EXPECT_EQ(counts.nsEventReleases, 0);
}

TEST(MacosLayer, EachMediaEventIsMadeInsideItsOwnAutoreleasePool) {
    onMacos({R"({"action":"media","key":16})"}, {});
    fake::Counts counts = fake::counts();
    EXPECT_EQ(counts.poolPushes, 2);
    EXPECT_EQ(counts.poolPops, 2);
    EXPECT_EQ(counts.poolDepth, 0);
    for (const fake::OtherEventCall& call : fake::otherEventCalls())
        EXPECT_EQ(call.poolDepth, 1);

    // Without AppKit there is no NSEvent class: nothing is made, no pool is pushed, and the
    // request still succeeds.
    fake::Settings noAppKit;
    noAppKit.noNSEventClass = true;
    EXPECT_EQ(runOnFrameworks({R"({"id":2,"action":"media","key":16})"}, noAppKit)[0].reply, ok(2));
    EXPECT_EQ(fake::counts().posts, 0);
    EXPECT_EQ(fake::counts().poolPushes, 0);

    // A missing NSEvent or a missing CGEvent of it posts nothing and still pops the pool.
    fake::Settings noEvent;
    noEvent.failNSEvent = true;
    onMacos({R"({"action":"media","key":16})"}, noEvent);
    EXPECT_EQ(fake::counts().posts, 0);
    EXPECT_EQ(fake::counts().poolPops, 2);
    EXPECT_EQ(fake::counts().poolDepth, 0);
    fake::Settings noQuartz;
    noQuartz.failCGEventOfNSEvent = true;
    onMacos({R"({"action":"media","key":16})"}, noQuartz);
    EXPECT_EQ(fake::counts().posts, 0);
    EXPECT_EQ(fake::counts().poolDepth, 0);
    EXPECT_EQ(fake::problems(), std::vector<std::string>{});
}

TEST(MacosLayer, OtherEventWithTypeReceivesItsNineArgumentsExactly) {
    onMacos({R"({"action":"media","key":16})"}, {});
    std::vector<fake::OtherEventCall> calls = fake::otherEventCalls();
    ASSERT_EQ(calls.size(), 2u);
    const long data1[] = {0x100A00, 0x100B00};
    const unsigned long flags[] = {0x0A00, 0x0B00};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(calls[i].type, 14u);
        EXPECT_EQ(calls[i].x, 0.0);
        EXPECT_EQ(calls[i].y, 0.0);
        EXPECT_EQ(calls[i].modifierFlags, flags[i]);
        EXPECT_EQ(calls[i].timestamp, 0.0);
        EXPECT_EQ(calls[i].windowNumber, 0);
        EXPECT_EQ(calls[i].context, nullptr);
        EXPECT_EQ(calls[i].subtype, 8);
        EXPECT_EQ(calls[i].data1, data1[i]);
        EXPECT_EQ(calls[i].data2, -1);
    }
}

TEST(MacosLayer, TrustIsAskedOfAccessibilityForEachGatedRequestAndProbe) {
    fake::Settings untrusted;
    untrusted.trusted = {false};
    onMacos({R"({"action":"probe"})", R"({"action":"ping"})", R"({"action":"key","text":"a"})",
             R"({"action":"cursor_position"})", R"({"action":"probe"})"},
            untrusted);
    EXPECT_EQ(fake::counts().trustChecks, 3);
    EXPECT_EQ(fake::counts().posts, 0);
}

TEST(MacosLayer, MediaEventsAreOwnedCopiesThatMayBeReleasedInAnyOrder) {
    fake::reset({});
    {
        // Two media events alive at once, and a mouse event made between them, let go in the
        // order they were made: with events that popped their pool on release this would pop
        // the pools out of order, a fatal error in the Objective-C runtime.
        platform::SystemDefinedFields fields;
        fields.type = 14;
        fields.subtype = 8;
        fields.data1 = 0x100A00;
        platform::Event first = platform::createSystemDefinedEvent(fields);
        platform::Event mouse = platform::createMouseEvent(5, {1, 2}, 0);
        platform::Event second = platform::createSystemDefinedEvent(fields);
        ASSERT_TRUE(first && second && mouse);
        EXPECT_EQ(fake::counts().poolDepth, 0);
        platform::postEvent(*second);
        first.reset();
        platform::postEvent(*mouse);
        mouse.reset();
        platform::postEvent(*second);
    }
    fake::Counts counts = fake::counts();
    EXPECT_EQ(counts.releasedOnce, counts.created);
    EXPECT_EQ(counts.nsEventReleases, 0);
    EXPECT_EQ(counts.posts, 3);
    EXPECT_EQ(fake::problems(), std::vector<std::string>{});
}

TEST(MacosLayer, CharacterKeysArePostedWhereTheCurrentLayoutTypesThem) {
    fake::Settings azerty;
    azerty.layout = "azerty";
    auto posts = [](const std::vector<Outcome>& outcomes) {
        std::vector<json> out;
        for (const Outcome& outcome : outcomes)
            for (const json& line : outcome.posts())
                out.push_back(line);
        return out;
    };
    auto key = [](int type, int code, uint64_t flags) {
        return json{{"post", "key"}, {"type", type}, {"keyCode", code}, {"flags", flags}};
    };
    // cmd+a must be Command-A, on the key that types "a" here (the Q position), not Command-Q.
    // A digit, which AZERTY types only with Shift, and a named key stay on their positions;
    // typed text stays on key code 0.
    EXPECT_EQ(posts(runOnFrameworks(
                  {R"({"action":"key","text":"cmd+a"})", R"({"action":"key","text":"cmd+1"})",
                   R"({"action":"key","text":"return"})", R"({"action":"type","text":"a"})"},
                  azerty)),
              (std::vector<json>{key(10, 12, 0x100000),
                                 key(11, 12, 0x100000),
                                 key(10, 18, 0x100000),
                                 key(11, 18, 0x100000),
                                 key(10, 36, 0),
                                 key(11, 36, 0),
                                 {{"post", "key"}, {"type", 10}, {"keyCode", 0}, {"text", {'a'}}},
                                 {{"post", "key"}, {"type", 11}, {"keyCode", 0}, {"text", {'a'}}},
                                 {{"sleep", 8000}}}));
    EXPECT_EQ(fake::counts().inputSourceCopies, fake::counts().inputSourceReleases);
    // Under US, and with a layout that has no Unicode data, the ANSI positions are used.
    for (const char* layout : {"us", "none"}) {
        fake::Settings settings;
        settings.layout = layout;
        EXPECT_EQ(posts(runOnFrameworks({R"({"action":"key","text":"cmd+q"})"}, settings)),
                  (std::vector<json>{key(10, 12, 0x100000), key(11, 12, 0x100000)}))
            << layout;
    }
}

} // namespace
} // namespace vantrel::testing
