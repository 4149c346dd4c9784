// vantrel driving a real Chromium (Debian's) on a private Xvfb: what the page receives, read back
// through the DevTools protocol. Chromium decodes keys through its own keymap, refreshed from
// its own connection, which makes it the hardest of the usual clients to type into exactly.

#include "browser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

struct BrowserTest : ::testing::Test {
    TempDir dir;
    XServer server;
    std::string errors = dir.path + "/vantrel-stderr.txt";
    Vantrel vantrel{server.name(), errors};
    std::optional<Browser> browser;

    void SetUp() override {
        if (!browserAvailable()) GTEST_SKIP() << "chromium is not installed (scripts/deps)";
        browser.emplace(server, std::string(VANTREL_PAGES) + "/record.html", dir.path);
        // A real click into the text area gives it the focus (no window manager: the focus
        // follows the pointer into the window).
        vantrel.request({{"action", "left_click"}, {"x", 300}, {"y", 100}});
    }

    void TearDown() override {
        browser.reset();
        EXPECT_EQ(vantrel.finish(), 0);
        std::ifstream written(errors);
        std::string text((std::istreambuf_iterator<char>(written)), {});
        EXPECT_EQ(text, "") << "vantrel wrote to standard error";
    }

    // Types `text` into the emptied text area and returns what it holds once it stops changing.
    std::string typed(const std::string& text) {
        browser->evaluate("document.getElementById('text').value = ''; "
                          "document.getElementById('text').focus(); true");
        EXPECT_EQ(vantrel.request({{"id", 1}, {"action", "type"}, {"text", text}}),
                  (json{{"id", 1}, {"ok", true}}));
        std::string value, previous;
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            value = browser->evaluate("document.getElementById('text').value").get<std::string>();
            if (value == text || (value == previous && value.size() >= text.size())) break;
            previous = value;
            std::this_thread::sleep_for(100ms);
        }
        return value;
    }
};

TEST_F(BrowserTest, TextOfEveryKindArrivesExactly) {
    for (const char* text : {
             "\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6\u00c7\u00c8\u00c9\u00ca\u00cb\u00cc\u00cd"
             "\u00ce\u00cf\u00d0\u00d1\u00d2\u00d3",
             "\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u03b8",
             "\u2030\u2025\u2013\u2014\u2018\u2019\u201c\u201d\u2026\u20ac\u2122\u00a7\u00b6",
             "\u041f\u0440\u0438\u0432\u0435\u0442 \u043c\u0438\u0440 \u0451\u0401\u0491",
             "\u65e5\u672c\u8a9e\u6f22\u5b57\u4e16\u754c\u3042\u30ab",
             "\ud55c\uad6d\uc5b4 \ud14c\uc2a4\ud2b8",
             "\U0001F600\U0001F680\U0001F44D\U0001F3FD\U0001F1EB\U0001F1F7"
             "\U0001F469\u200D\U0001F4BB e\u0301",
         })
        EXPECT_EQ(typed(text), text);
}

// Another program holds Shift: the browser still receives the text as sent.
TEST_F(BrowserTest, TextArrivesAsSentUnderAnotherProgramsShift) {
    capture({"xdotool", "keydown", "Shift_L"}, {server.env()});
    EXPECT_EQ(typed("hello World; 1/2 \u00e9\u4e16."), "hello World; 1/2 \u00e9\u4e16.");
    capture({"xdotool", "keyup", "Shift_L"}, {server.env()});
}

TEST_F(BrowserTest, CharactersWithLegacyKeysymsArriveAsThemselves) {
    // xkbcommon converts these to legacy keysyms that each client decodes with a table of its
    // own; Chromium turned several into other characters.
    const std::string legacy = "\u223c\u2243\u2500\u250c\u2030\u2025\u25af\u2218\u2261\u22a5"
                               "\u21d4\u203e\u2308\u2502\u3131\u314f\u2264\u2260\u221e";
    EXPECT_EQ(typed(legacy), legacy);
}

TEST_F(BrowserTest, ThreeHundredRandomClustersMostlyAbsentFromTheKeymapArriveExactly) {
    const std::vector<std::string> pool = {
        "a",      "Z",      "7",      "\u00e9",     "\u00c5",     "\u0142",
        "\u03b1", "\u03a9", "\u0416", "\u044f",     "\u05d0",     "\u0627",
        "\u0e01", "\u65e5", "\u672c", "\u6f22",     "\u5b57",     "\u4e16",
        "\u754c", "\u3042", "\u30ab", "\ud55c",     "\uae00",     "\u9f8d",
        "\u2030", "\u223c", "\u2500", "\U0001F600", "\U0001F680", "\U0001F44D\U0001F3FF",
        "\u00df", "\u20ac", "\u2603", "\u0436",     "\u03bb",     "\u4e2d",
        "\u6587", "\u5b66", "\u751f", "\u99ac",     "\u9ce5"};
    std::mt19937 random(20261209);
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(random)];
    EXPECT_EQ(typed(text), text);
}

TEST_F(BrowserTest, ClicksOfSeparateRequestsAreNotMergedIntoOneMultiClick) {
    browser->evaluate("presses = []; true");
    EXPECT_EQ(vantrel.request({{"id", 2}, {"action", "double_click"}, {"x", 400}, {"y", 600}}),
              (json{{"id", 2}, {"ok", true}}));
    EXPECT_EQ(vantrel.request({{"id", 3}, {"action", "triple_click"}, {"x", 400}, {"y", 600}}),
              (json{{"id", 3}, {"ok", true}}));
    json presses;
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        presses = browser->evaluate("presses.map(p => p.detail)");
        if (presses.size() >= 5) break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(presses, (json{1, 2, 1, 2, 3}));
    // Modifiers of a click reach the page as the event's own flags.
    browser->evaluate("presses = []; true");
    vantrel.request({{"action", "left_click"}, {"x", 100}, {"y", 700}, {"modifiers", "shift"}});
    vantrel.request({{"action", "left_click"}, {"x", 300}, {"y", 700}, {"modifiers", "ctrl"}});
    while (browser->evaluate("presses.length") != 2)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(browser->evaluate("presses.map(p => [p.shift, p.ctrl])"),
              (json{{true, false}, {false, true}}));
}

} // namespace
} // namespace vantrel::testing
