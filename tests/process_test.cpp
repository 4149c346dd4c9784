// vantrel-trace as a black box: request lines on a pipe in, reply lines and the trace out.

#include "child_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <sys/wait.h>

namespace vantrel::testing {
namespace {

using nlohmann::json;

const std::string program = VANTREL_TRACE_EXECUTABLE;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        out.push_back(line);
    return out;
}

std::vector<json> replies(const Finished& finished) {
    std::vector<json> out;
    for (const std::string& line : lines(finished.out))
        out.push_back(json::parse(line));
    return out;
}

json invalid() {
    return {{"id", 0}, {"ok", false}, {"error", "invalid json"}};
}
json pong(int64_t id) {
    return {{"id", id}, {"ok", true}};
}

TEST(Process, TraceOfALeftClickIsExactlyTheDocumentedLines) {
    Finished run = runToEnd(program, "{\"id\":3,\"action\":\"left_click\",\"x\":10,\"y\":0}\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "{\"id\":3,\"ok\":true}\n");
    EXPECT_EQ(run.err,
              "{\"trusted\":true}\n"
              "{\"post\":\"mouse\",\"type\":5,\"x\":10,\"y\":0,\"button\":0}\n"
              "{\"post\":\"mouse\",\"type\":1,\"x\":10,\"y\":0,\"button\":0,\"clickState\":1}\n"
              "{\"post\":\"mouse\",\"type\":2,\"x\":10,\"y\":0,\"button\":0,\"clickState\":1}\n"
              "{\"sleep\":40000}\n"
              "{\"reply\":{\"id\":3,\"ok\":true}}\n");
}

TEST(Process, LineEndsBlanksAndTheLastLineWithoutALineFeed) {
    Finished run = runToEnd(program, "\n   \t\n{\"id\":1,\"action\":\"ping\"}\r\n"
                                     " \t{\"id\":2,\"action\":\"ping\"}\t \n"
                                     "\xC2\xA0\n"
                                     "\r\n"
                                     "{\"id\":3,\"action\":\"ping\"}");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(replies(run), (std::vector<json>{pong(1), pong(2), pong(3)}));
}

TEST(Process, EveryMalformedLineGetsOneInvalidJsonReplyWithIdZero) {
    std::string input = "[1,2]\n\"ping\"\n42\ntrue\nnull\n{\"id\":9,\"action\":\"ping\"\n"
                        "{\"id\":1}{\"id\":2}\n{\"id\":9,\"action\":\"ping\"} x\n"
                        "\x0b{}\n\r \n{\"action\":\"ping\",\"x\":1e400}\n";
    Finished run = runToEnd(program, input + "{\"id\":5,\"action\":\"ping\"}\n");
    std::vector<json> expected(11, invalid());
    expected.push_back(pong(5));
    EXPECT_EQ(replies(run), expected);
}

TEST(Process, InvalidUtf8IsRepairedNotRejected) {
    Finished run = runToEnd(program, "{\"action\":\"a\xFF\xE2\x82\"}\n");
    EXPECT_EQ(run.out,
              "{\"id\":0,\"ok\":false,\"error\":\"unknown action: a\xEF\xBF\xBD\xEF\xBF\xBD\"}\n");
}

TEST(Process, NulBytesAnywhereMakeTheLineInvalid) {
    using namespace std::string_literals;
    Finished run = runToEnd(program, "{\"action\":\"ping\"}\0tail\n"s
                                     "{\"action\":\"pi\0ng\"}\n"s
                                     "\0\n"s);
    EXPECT_EQ(replies(run), (std::vector<json>{invalid(), invalid(), invalid()}));
}

TEST(Process, DeepNestingIsAnsweredWithoutCrashing) {
    std::string deep(100000, '[');
    deep += std::string(100000, ']');
    std::string deepObject = "{\"id\":1,\"a\":" + deep + "}";
    Finished run =
        runToEnd(program, deep + "\n" + std::string(100000, '{') + "\n" + deepObject + "\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(replies(run),
              (std::vector<json>{invalid(),
                                 invalid(),
                                 {{"id", 1}, {"ok", false}, {"error", "unknown action: "}}}));
}

TEST(Process, LinesOverSixteenMebibytesAreDroppedAndTheNextLineIsRead) {
    const size_t limit = 16 * 1024 * 1024;
    auto padded = [&](size_t size) {
        std::string line = "{\"id\":1,\"action\":\"ping\",\"pad\":\"";
        line += std::string(size - line.size() - 2, 'x');
        return line + "\"}";
    };
    Finished run =
        runToEnd(program, padded(limit) + "\n" + padded(limit) + "\r\n" + padded(limit + 1) + "\n" +
                              "{\"id\":2,\"action\":\"ping\"}\n" + padded(limit + 5000000));
    json tooLarge{{"id", 0}, {"ok", false}, {"error", "request too large"}};
    EXPECT_EQ(replies(run), (std::vector<json>{pong(1), pong(1), tooLarge, pong(2), tooLarge}));
}

TEST(Process, AClientThatWaitsForEachReplyNeverStalls) {
    Conversation talk(program);
    for (int i = 1; i <= 200; ++i) {
        talk.send("{\"id\":" + std::to_string(i) + ",\"action\":\"ping\"}\n");
        ASSERT_EQ(json::parse(talk.readLine()), pong(i));
    }
    talk.send("{\"id\":0,\"action\":\"type\",\"text\":\"ok\"}");
    EXPECT_EQ(talk.finish(), 0);
}

TEST(Process, AStandardOutputClosedFromTheStartRunsNothing) {
    // Nobody can read a reply: not one request is carried out.
    Finished run = runToEnd(program,
                            "{\"id\":1,\"action\":\"ping\"}\n"
                            "{\"id\":3,\"action\":\"type\",\"text\":\"x\"}\n",
                            {}, OutputTo::closedPipe);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST(Process, AnIntegerIdBelowSixtyFourBitsIsZeroNotTheNearestDouble) {
    // The parser reads -9223372036854775809 as the double -2^63, which is a valid id; the text
    // says it is not. Written as a fraction or with an exponent, -2^63 itself still is one.
    Finished run =
        runToEnd(program, "{\"id\":-9223372036854775809,\"action\":\"ping\"}\n"
                          "{\"id\":-99999999999999999999,\"action\":\"ping\"}\n"
                          "{\"id\":-9223372036854775808.0,\"action\":\"ping\"}\n"
                          "{\"id\":-9.223372036854775808e18,\"action\":\"ping\"}\n"
                          "{\"id\":-9223372036854775809,\"id\":3,\"action\":\"ping\"}\n"
                          "{\"a\":{\"id\":-9223372036854775809},\"id\":-9223372036854775808.0,"
                          "\"action\":\"ping\"}\n");
    int64_t lowest = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(replies(run), (std::vector<json>{pong(0), pong(0), pong(lowest), pong(lowest),
                                               pong(3), pong(lowest)}));
}

TEST(Process, AClosedStandardInputIsTheEndOfInput) {
    // The wait for input must hand a closed descriptor to the read, not spin on it.
    int status = std::system(("'" + program + "' <&- >/dev/null 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Process, MalformedTraceSettingsStopAtStartWithOneLine) {
    for (const char* setting : {"VANTREL_TRACE_TRUSTED=yes", "VANTREL_TRACE_TRUSTED=1,,0",
                                "VANTREL_TRACE_CURSOR=1", "VANTREL_TRACE_CURSOR=a,b",
                                "VANTREL_TRACE_FAIL=mouse,disk", "VANTREL_TRACE_REALTIME=2"}) {
        Finished run = runToEnd(program, "{\"action\":\"ping\"}\n", {setting});
        EXPECT_EQ(run.status, 2) << setting;
        EXPECT_EQ(run.out, "") << setting;
        EXPECT_EQ(lines(run.err).size(), 1u) << setting;
    }
}

TEST(Process, TraceSettingsShapeTheSimulatedPlatform) {
    Finished run = runToEnd(program,
                            "{\"id\":1,\"action\":\"cursor_position\"}\n"
                            "{\"id\":2,\"action\":\"probe\"}\n{\"id\":3,\"action\":\"probe\"}\n"
                            "{\"id\":4,\"action\":\"scroll\"}\n",
                            {"VANTREL_TRACE_CURSOR=12.5,-3", "VANTREL_TRACE_TRUSTED=0,1",
                             "VANTREL_TRACE_FAIL=scroll,system"});
    std::vector<json> got = replies(run);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], (json{{"id", 1}, {"ok", true}, {"x", 12.5}, {"y", -3}}));
    EXPECT_EQ(got[1]["trusted"], false);
    EXPECT_EQ(got[2]["trusted"], true);
    EXPECT_EQ(got[3], pong(4));
    EXPECT_EQ(run.err.find("\"post\":\"scroll\""), std::string::npos);
}

TEST(Process, EndOfInputAtOnceWritesNothingAndExitsZero) {
    Finished run = runToEnd(program, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

// What a program prints and its exit status, from a shell command line.
std::pair<std::string, int> commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    int status = ::pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(Process, VersionAndHelpAnswerWithoutReadingInput) {
    // Standard input is left open (a terminal's would be): neither waits on it.
    auto [version, versionStatus] = commandOutput("sleep 1 | " + program + " --version 2>&1");
    EXPECT_EQ(versionStatus, 0);
    EXPECT_EQ(version, "vantrel " VANTREL_VERSION "\n");
    auto [help, helpStatus] = commandOutput("sleep 1 | " + program + " --help 2>&1");
    EXPECT_EQ(helpStatus, 0);
    EXPECT_EQ(help.rfind("usage: vantrel [--version | --help]\n", 0), 0u) << help;
    // Any other argument is ignored: requests are read as usual.
    auto [reply, status] = commandOutput("echo '{\"id\":1,\"action\":\"ping\"}' | " + program +
                                         " --verbose x 2>/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply, "{\"id\":1,\"ok\":true}\n");
}

TEST(Process, KeyNamesListsTheTableAndTheModifiersSortedWithoutTrust) {
    Finished run =
        runToEnd(program, "{\"id\":4,\"action\":\"key_names\"}\n", {"VANTREL_TRACE_TRUSTED=0"});
    json reply = replies(run).at(0);
    EXPECT_EQ(reply["ok"], true);
    EXPECT_EQ(run.err, "{\"reply\":" + lines(run.out).at(0) + "}\n"); // no trust check
    std::vector<std::string> keys = reply["keys"], modifiers = reply["modifiers"];
    EXPECT_EQ(keys.size(), 75u);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    for (const char* name : {"pagedown", "return", "f12", "\\", "/", "a"})
        EXPECT_NE(std::find(keys.begin(), keys.end(), name), keys.end()) << name;
    EXPECT_EQ(modifiers,
              (std::vector<std::string>{"alt", "cmd", "command", "control", "ctrl", "fn",
                                        "function", "meta", "opt", "option", "shift", "super"}));
}

// The connection the input goes through breaks during the action (the trace's stand-in for a
// display server that goes away): that action fails and says why, what it held went with the
// connection, and the next request is carried out as usual.
TEST(Process, ALostConnectionFailsTheActionInProgressAndOnlyIt) {
    Finished run = runToEnd(program,
                            R"({"id":1,"action":"ping"})"
                            "\n"
                            R"({"id":2,"action":"hold_key","text":"shift+a","holdMs":5})"
                            "\n"
                            R"({"id":3,"action":"key","text":"b"})"
                            "\n"
                            R"({"id":4,"action":"key_names"})"
                            "\n",
                            {"VANTREL_TRACE_FAIL=connection"});
    std::vector<json> got = replies(run);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], pong(1));
    json lost = {{"id", 2},
                 {"ok", false},
                 {"error", "input connection lost"},
                 {"detail", "trace: the connection was lost (VANTREL_TRACE_FAIL=connection)"}};
    EXPECT_EQ(got[1], lost);
    lost["id"] = 3;
    EXPECT_EQ(got[2], lost); // lost again after its last event, with no pause to notice it in
    EXPECT_EQ(got[3]["ok"], true);
    // The hold stopped at its pause: the key went down, and nothing released it.
    std::vector<std::string> trace = lines(run.err);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& l) {
                                return l.find("\"type\":11") != l.npos &&
                                       l.find("\"keyCode\":0,") != l.npos;
                            }),
              0);
    EXPECT_EQ(run.status, 0);
}

// Text with a character the keyboard cannot type is refused whole, before any of it is posted:
// never part of the text with ok. Each missing character is named once, in order, the first eight
// of them; a key combination's text fallback answers the same way.
TEST(Process, TextWithUntypeableCharactersPostsNothingAndNamesThem) {
    Finished run = runToEnd(
        program,
        R"({"id":1,"action":"type","text":"ab\u00e9c\u4e2d\u00e9d"})"
        "\n"
        R"({"id":2,"action":"key","text":"\u00e9"})"
        "\n"
        R"({"id":3,"action":"type","text":"\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u03b8\u03b9\u03ba"})"
        "\n"
        R"({"id":4,"action":"type","text":"abc"})"
        "\n",
        {"VANTREL_TRACE_UNTYPEABLE="
         "\u00e9\u4e2d\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u03b8\u03b9\u03ba"});
    std::vector<json> got = replies(run);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], (json{{"id", 1},
                            {"ok", false},
                            {"error", "cannot type text"},
                            {"detail", "the keyboard layout has no key for \u00e9, \u4e2d"}}));
    EXPECT_EQ(got[1]["detail"], "the keyboard layout has no key for \u00e9");
    EXPECT_EQ(got[2]["detail"],
              "the keyboard layout has no key for "
              "\u03b1, \u03b2, \u03b3, \u03b4, \u03b5, \u03b6, \u03b7, \u03b8 and 2 more");
    EXPECT_EQ(got[3], pong(4));
    std::vector<std::string> trace = lines(run.err);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& l) { return l.find("\"post\"") != l.npos; }),
              6); // abc's three presses and three releases, and nothing before them
}

// Where toolkits count clicks by time and place, an action's first press waits out the
// multi-click interval after the previous release of its button nearby; a further click of the
// same action, another button or a press further away does not wait.
TEST(Process, SeparateActionsClicksAreKeptApartWhereClicksAreCountedByTime) {
    Finished run = runToEnd(program,
                            R"({"id":1,"action":"double_click","x":10,"y":10,"durationMs":-1})"
                            "\n"
                            R"({"id":2,"action":"left_click","x":13,"y":10,"durationMs":-1})"
                            "\n"
                            R"({"id":3,"action":"right_click","x":13,"y":10,"durationMs":-1})"
                            "\n"
                            R"({"id":4,"action":"mouse_down","x":40,"y":10,"durationMs":-1})"
                            "\n",
                            {"VANTREL_TRACE_MULTICLICK=500000,8"});
    std::vector<json> sleeps;
    std::vector<std::vector<json>> perRequest(1);
    for (const std::string& line : lines(run.err)) {
        json entry = json::parse(line);
        if (entry.contains("reply"))
            perRequest.emplace_back();
        else if (entry.contains("sleep"))
            perRequest.back().push_back(entry["sleep"]);
    }
    // The double click: its two clicks' 40 ms each, nothing between them.
    EXPECT_EQ(perRequest[0], (std::vector<json>{40000, 40000}));
    // The next left click, 3 points away: the rest of the interval first (of 500 ms, less the
    // little time the requests took), then its 40 ms.
    ASSERT_EQ(perRequest[1].size(), 2u);
    EXPECT_GT(perRequest[1][0].get<int64_t>(), 400000);
    EXPECT_LE(perRequest[1][0].get<int64_t>(), 500000);
    EXPECT_EQ(perRequest[2], (std::vector<json>{40000})); // another button
    EXPECT_EQ(perRequest[3], (std::vector<json>{}));      // 27 points away
    Finished refused = runToEnd(program, "", {"VANTREL_TRACE_MULTICLICK=500000"});
    EXPECT_EQ(refused.status, 2);
}

} // namespace
} // namespace vantrel::testing
