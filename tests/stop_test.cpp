// Stopping vantrel-trace mid-action with a signal, or by going away as its reader: what it held is
// released through the event services (so the trace shows the releasing events), the interrupted
// request gets no reply, and the process dies of the signal it was sent.

#include "child_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>

namespace vantrel::testing {
namespace {

using nlohmann::json;

const std::string program = VANTREL_TRACE_EXECUTABLE;

// vantrel-trace pausing for real, its trace read line by line as it happens.
struct Live {
    Conversation talk{program, {"VANTREL_TRACE_REALTIME=1", "VANTREL_TRACE_CURSOR=5,5"}, true};

    // Reads the trace up to and including the first line equal to `line`.
    void traceUntil(const json& line) {
        for (std::string text = talk.readTraceLine(); !text.empty(); text = talk.readTraceLine())
            if (json::parse(text) == line) return;
        ADD_FAILURE() << "the trace ended before " << line.dump();
    }
    std::vector<json> restOfTrace() {
        std::vector<json> lines;
        for (std::string text = talk.readTraceLine(); !text.empty(); text = talk.readTraceLine())
            lines.push_back(json::parse(text));
        return lines;
    }
};

json key(int type, int code, uint64_t flags) {
    return {{"post", "key"}, {"type", type}, {"keyCode", code}, {"flags", flags}};
}
json mouse(int type, double x, double y) {
    return {{"post", "mouse"}, {"type", type}, {"x", x}, {"y", y}, {"button", 0}};
}

TEST(Stop, EachStopSignalDuringAHoldReleasesTheComboAndKillsWithThatSignal) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        Live live;
        live.talk.send(R"({"id":1,"action":"hold_key","text":"ctrl+shift+a","holdMs":60000})"
                       "\n{\"id\":2,\"action\":\"ping\"}\n");
        live.traceUntil({{"sleep", 60000000}});
        live.talk.signal(signal);
        Ending ending = live.talk.wait();
        EXPECT_EQ(ending.signal, signal);
        // The key's release carries its modifiers, as the hold's own release would have; the
        // queued ping is not run and nothing is replied.
        EXPECT_EQ(live.restOfTrace(), (std::vector<json>{key(11, 0, 0x60000)})) << signal;
        EXPECT_EQ(live.talk.restOfOutput(), "") << signal;
    }
}

TEST(Stop, ADragInProgressReleasesItsButtonWhereThePointerIs) {
    Live live;
    live.talk.send(R"({"id":1,"action":"left_click_drag","startX":5,"startY":5,"x":405,"y":5,)"
                   R"("durationMs":60000})"
                   "\n");
    live.traceUntil(mouse(6, 15, 5));
    live.traceUntil({{"sleep", 1500000}});
    live.talk.signal(SIGTERM);
    EXPECT_EQ(live.talk.wait().signal, SIGTERM);
    EXPECT_EQ(live.restOfTrace(), (std::vector<json>{mouse(2, 15, 5)}));
    EXPECT_EQ(live.talk.restOfOutput(), "");
}

TEST(Stop, HeldInputIsReleasedInReverseOrderWhileIdleOrMidAction) {
    Live live;
    live.talk.send(R"({"id":1,"action":"left_mouse_down","x":5,"y":5})"
                   "\n");
    EXPECT_EQ(json::parse(live.talk.readLine()), (json{{"id", 1}, {"ok", true}}));
    live.talk.send(R"({"id":2,"action":"hold_key","text":"cmd+q","holdMs":60000})"
                   "\n");
    live.traceUntil({{"sleep", 60000000}});
    live.talk.signal(SIGTERM);
    EXPECT_EQ(live.talk.wait().signal, SIGTERM);
    EXPECT_EQ(live.restOfTrace(), (std::vector<json>{key(11, 12, 0x100000), mouse(2, 5, 5)}));

    Live idle;
    idle.talk.send(R"({"id":1,"action":"left_mouse_down","x":5,"y":5})"
                   "\n");
    EXPECT_EQ(json::parse(idle.talk.readLine()), (json{{"id", 1}, {"ok", true}}));
    idle.talk.signal(SIGINT);
    EXPECT_EQ(idle.talk.wait().signal, SIGINT);
    std::vector<json> trace = idle.restOfTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), mouse(2, 5, 5));
}

TEST(Stop, TypingStopsBetweenClustersWithNothingLeftToRelease) {
    Live live;
    live.talk.send(R"({"id":1,"action":"type","text":"abcdefghijklmnopqrstuvwxyz"})"
                   "\n");
    live.traceUntil({{"post", "key"}, {"type", 11}, {"keyCode", 0}, {"text", {'c'}}});
    live.talk.signal(SIGTERM);
    EXPECT_EQ(live.talk.wait().signal, SIGTERM);
    std::vector<json> rest = live.restOfTrace();
    // At most the pause it was in, and the next cluster's pair if the signal came after it.
    ASSERT_LE(rest.size(), 4u);
    for (const json& line : rest)
        EXPECT_FALSE(line.contains("reply")) << line.dump();
    if (!rest.empty()) {
        EXPECT_TRUE(rest.back().contains("sleep") || rest.back()["type"] == 11);
    }
    EXPECT_EQ(live.talk.restOfOutput(), "");
}

// The driver dies (killed, its pipes closed by the system): whatever vantrel is doing, it
// releases everything at once and exits 0. The holds and the drag would otherwise last an hour.
TEST(Stop, ADriverThatDiesReleasesEverythingDuringAHoldADragOrWhileIdle) {
    {
        Live live;
        live.talk.send(R"({"id":1,"action":"key_down","text":"ctrl"})"
                       "\n"
                       R"({"id":2,"action":"hold_key","text":"shift+a","holdMs":3600000})"
                       "\n");
        live.traceUntil({{"sleep", 3600000000u}});
        live.talk.abandon(false);
        EXPECT_EQ(live.talk.wait().exitStatus, 0);
        EXPECT_EQ(live.restOfTrace(), (std::vector<json>{key(11, 0, 0x60000), key(11, 59, 0)}));
    }
    {
        Live live;
        live.talk.send(
            R"({"id":1,"action":"left_click_drag","startX":5,"startY":5,"x":90,"y":90,"durationMs":3600000})"
            "\n");
        live.traceUntil(mouse(1, 5, 5));
        live.talk.abandon(true);
        EXPECT_EQ(live.talk.wait().exitStatus, 0);
        std::vector<json> rest = live.restOfTrace();
        ASSERT_FALSE(rest.empty());
        EXPECT_EQ(rest.back()["type"], 2); // the release, where the pointer had got to
    }
    for (bool outputFirst : {true, false}) {
        Live live;
        live.talk.send(R"({"id":1,"action":"key_down","text":"alt"})"
                       "\n"
                       R"({"id":2,"action":"left_mouse_down","x":5,"y":5})"
                       "\n");
        live.talk.readLine();
        live.talk.readLine();
        live.traceUntil({{"reply", {{"id", 2}, {"ok", true}}}});
        live.talk.abandon(outputFirst);
        EXPECT_EQ(live.talk.wait().exitStatus, 0);
        EXPECT_EQ(live.restOfTrace(), (std::vector<json>{json{{"post", "mouse"},
                                                              {"type", 2},
                                                              {"x", 5},
                                                              {"y", 5},
                                                              {"button", 0},
                                                              {"flags", 0x80000}},
                                                         key(11, 58, 0)}))
            << "output closed first: " << outputFirst;
    }
}

// A stop signal sent together with the end of input wins over it: the button is released too,
// and the process dies of the signal.
TEST(Stop, ASignalWithTheEndOfInputStillReleasesTheButton) {
    for (int run = 0; run < 20; ++run) {
        Live live;
        live.talk.send(R"({"id":1,"action":"left_mouse_down","x":5,"y":5})"
                       "\n");
        live.talk.readLine();
        live.talk.finishInput();
        live.talk.signal(SIGTERM);
        EXPECT_EQ(live.talk.wait().signal, SIGTERM) << "run " << run;
        std::vector<json> rest = live.restOfTrace();
        ASSERT_FALSE(rest.empty()) << "run " << run;
        EXPECT_EQ(rest.back()["type"], 2) << "run " << run;
    }
}

TEST(Stop, EndOfInputKeepsAPressedButtonAndAnIdleSignalPostsNothing) {
    Finished ended = runToEnd(program, R"({"id":1,"action":"left_mouse_down"})");
    EXPECT_EQ(ended.status, 0);
    EXPECT_EQ(ended.err.find("\"type\":2"), std::string::npos);

    Live live;
    live.talk.send("{\"id\":1,\"action\":\"ping\"}\n");
    EXPECT_EQ(json::parse(live.talk.readLine()), (json{{"id", 1}, {"ok", true}}));
    live.talk.signal(SIGHUP);
    EXPECT_EQ(live.talk.wait().signal, SIGHUP);
    EXPECT_EQ(live.restOfTrace(), (std::vector<json>{{{"reply", {{"id", 1}, {"ok", true}}}}}));
}

} // namespace
} // namespace vantrel::testing
