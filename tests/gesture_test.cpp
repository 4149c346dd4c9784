// The gestures beyond single actions: keys and buttons held across requests, modifiers for the
// length of one pointer action, the flags that held modifiers add, screen size and version.

#include "trace_fixture.h"

#include <gtest/gtest.h>

namespace vantrel::testing {
namespace {

constexpr uint64_t command = 0x100000, control = 0x40000, alternate = 0x80000, shift = 0x20000;

json withFlags(json event, uint64_t flags) {
    event["flags"] = flags;
    return event;
}

std::vector<std::vector<json>> postsOf(const std::vector<std::string>& requests,
                                       const platform::trace::Config& config = {}) {
    std::vector<std::vector<json>> out;
    for (const Outcome& outcome : runAll(requests, config))
        out.push_back(outcome.posts());
    return out;
}

TEST(KeyDown, ModifiersAreKeysOfTheirOwnAndEveryLaterEventCarriesTheirFlags) {
    auto posts = postsOf(
        {R"({"action":"key_down","text":"shift+ctrl"})", R"({"action":"left_click","x":3,"y":4})",
         R"({"action":"scroll","x":3,"y":4,"amount":2})", R"({"action":"key","text":"a"})",
         R"({"action":"type","text":"b"})", R"({"action":"key_up","text":"shift+ctrl"})",
         R"({"action":"left_click","x":3,"y":4})"});
    EXPECT_EQ(posts[0],
              (std::vector<json>{keyEvent(10, 56, shift), keyEvent(10, 59, shift | control)}));
    uint64_t both = shift | control;
    EXPECT_EQ(posts[1], (std::vector<json>{
                            withFlags(mouse(5, 3, 4), both), withFlags(click(1, 3, 4, 0, 1), both),
                            withFlags(click(2, 3, 4, 0, 1), both), sleepFor(40000)}));
    EXPECT_EQ(posts[2], (std::vector<json>{withFlags(mouse(5, 3, 4), both),
                                           withFlags(scrollEvent(-2, 0), both)}));
    EXPECT_EQ(posts[3], (std::vector<json>{keyEvent(10, 0, both), keyEvent(11, 0, both)}));
    EXPECT_EQ(posts[4], (std::vector<json>{withFlags(textEvent(10, {'b'}), both),
                                           withFlags(textEvent(11, {'b'}), both), sleepFor(8000)}));
    // Released last first, each release carrying what is still held.
    EXPECT_EQ(posts[5], (std::vector<json>{keyEvent(11, 59, shift), keyEvent(11, 56, 0)}));
    EXPECT_EQ(posts[6], (std::vector<json>{mouse(5, 3, 4), click(1, 3, 4, 0, 1),
                                           click(2, 3, 4, 0, 1), sleepFor(40000)}));
}

TEST(KeyDown, HeldKeysPostOnceAndKeyUpOfWhatIsNotHeldPostsNothing) {
    auto posts = postsOf(
        {R"({"action":"key_down","text":"cmd+k"})", R"({"action":"key_down","text":"K+nosuchkey"})",
         R"({"action":"key_up","text":"alt+x"})", R"({"action":"key_down","text":""})",
         R"({"id":5,"action":"release_all"})"});
    EXPECT_EQ(posts[0], (std::vector<json>{keyEvent(10, 55, command), keyEvent(10, 40, command)}));
    EXPECT_EQ(posts[1], std::vector<json>{});
    EXPECT_EQ(posts[2], std::vector<json>{});
    EXPECT_EQ(posts[3], std::vector<json>{});
    EXPECT_EQ(posts[4], (std::vector<json>{keyEvent(11, 40, command), keyEvent(11, 55, 0)}));
}

TEST(MouseDown, AnyButtonIsHeldUntilItsReleaseAndMovesBetweenDragIt) {
    auto posts = postsOf(
        {R"({"action":"mouse_down","button":"right","x":10,"y":0})",
         R"({"action":"mouse_move","x":10,"y":0})",
         R"({"action":"mouse_up","button":"right","x":12,"y":1})",
         R"({"action":"mouse_down","button":"middle"})", R"({"action":"mouse_move"})",
         R"({"action":"mouse_up","button":"middle"})", R"({"action":"mouse_down","button":7})"});
    EXPECT_EQ(posts[0], (std::vector<json>{mouse(5, 10, 0), mouse(3, 10, 0, 1)}));
    EXPECT_EQ(posts[1], (std::vector<json>{mouse(7, 10, 0, 1)}));
    EXPECT_EQ(posts[2], (std::vector<json>{mouse(4, 12, 1, 1)}));
    EXPECT_EQ(posts[3], (std::vector<json>{mouse(5, 0, 0), mouse(25, 0, 0, 2)}));
    EXPECT_EQ(posts[4], (std::vector<json>{mouse(27, 0, 0, 2)}));
    EXPECT_EQ(posts[5], (std::vector<json>{mouse(26, 0, 0, 2)}));
    // A button that is not a string is the default, the left one.
    EXPECT_EQ(posts[6], (std::vector<json>{mouse(5, 0, 0), mouse(1, 0, 0)}));
}

TEST(MouseDown, TheSideButtonsAreOtherButtonsThreeAndFour) {
    auto posts = postsOf({R"({"action":"mouse_down","button":"back","x":4,"y":0})",
                          R"({"action":"mouse_down","button":"forward","x":4,"y":0})",
                          R"({"action":"mouse_move","x":6,"y":0})",
                          R"({"action":"mouse_up","button":"back","x":6,"y":0})",
                          R"({"action":"release_all"})"});
    EXPECT_EQ(posts[0], (std::vector<json>{mouse(5, 4, 0), mouse(25, 4, 0, 3)}));
    // Every move, including the approach of the next press, drags the lowest held button.
    EXPECT_EQ(posts[1], (std::vector<json>{mouse(27, 4, 0, 3), mouse(25, 4, 0, 4)}));
    EXPECT_EQ(posts[2], (std::vector<json>{mouse(27, 6, 0, 3)}));
    EXPECT_EQ(posts[3], (std::vector<json>{mouse(26, 6, 0, 3)}));
    EXPECT_EQ(posts[4], (std::vector<json>{mouse(26, 6, 0, 4)}));
}

TEST(MouseDown, AnUnknownButtonIsRefusedBeforeAnythingMoves) {
    for (const char* action : {"mouse_down", "mouse_up"}) {
        Outcome out = run(json{
            {"id", 3}, {"action", action}, {"button", "Left"}, {"modifiers", "shift"}, {"x", 50}}
                              .dump());
        EXPECT_EQ(out.reply, error("unknown button: Left", 3)) << action;
        EXPECT_EQ(out.posts(), std::vector<json>{}) << action;
    }
}

TEST(Modifiers, HeldForTheWholeActionAndPressedOnlyOnceItPostsSomething) {
    Outcome clicked = run(R"({"action":"left_click","x":5,"y":0,"modifiers":"Shift+CTRL"})");
    uint64_t both = shift | control;
    EXPECT_EQ(clicked.posts(),
              (std::vector<json>{
                  keyEvent(10, 56, shift), keyEvent(10, 59, both), withFlags(mouse(5, 5, 0), both),
                  withFlags(click(1, 5, 0, 0, 1), both), withFlags(click(2, 5, 0, 0, 1), both),
                  sleepFor(40000), keyEvent(11, 59, shift), keyEvent(11, 56, 0)}));
    // A refused action presses nothing; unknown names add nothing; no key means no change.
    EXPECT_EQ(run(R"({"action":"scroll","amount":1e12,"modifiers":"alt"})").posts(),
              std::vector<json>{});
    EXPECT_EQ(run(R"({"action":"left_mouse_up","modifiers":"alt"})").posts(),
              (std::vector<json>{mouse(2, 0, 0)}));
    EXPECT_EQ(run(R"({"action":"middle_click","modifiers":"hyper+q"})").posts().front(),
              mouse(5, 0, 0));
    // A modifier already held by key_down stays held after the action.
    auto posts = postsOf({R"({"action":"key_down","text":"alt"})",
                          R"({"action":"mouse_up","x":0,"y":0,"modifiers":"alt+cmd"})"});
    EXPECT_EQ(posts[1], (std::vector<json>{keyEvent(10, 55, alternate | command),
                                           withFlags(mouse(2, 0, 0), alternate | command),
                                           keyEvent(11, 55, alternate)}));
}

TEST(Modifiers, EveryActionThatTakesThemHoldsThemAroundAllItsEvents) {
    for (const char* action :
         {"left_click", "right_click", "middle_click", "double_click", "triple_click",
          "left_click_drag", "scroll", "mouse_down", "mouse_up"}) {
        std::vector<json> posts =
            run(json{{"action", action}, {"x", 30}, {"modifiers", "alt"}}.dump()).posts();
        ASSERT_GE(posts.size(), 3u) << action;
        EXPECT_EQ(posts.front(), keyEvent(10, 58, alternate)) << action;
        if (std::string(action) != "mouse_down") {
            EXPECT_EQ(posts.back(), keyEvent(11, 58, 0)) << action;
        }
        for (size_t i = 1; i + 1 < posts.size(); ++i) {
            if (!posts[i].contains("sleep")) {
                EXPECT_EQ(posts[i]["flags"], alternate) << action << " " << posts[i].dump();
            }
        }
    }
    // The modifiers of mouse_down are released when the action ends, the button stays down.
    EXPECT_EQ(run(R"({"action":"mouse_down","modifiers":"alt"})").posts().back(),
              keyEvent(11, 58, 0));
    // Actions that do not take the key ignore it.
    EXPECT_EQ(run(R"({"action":"mouse_move","x":3,"modifiers":"alt"})").posts(),
              (std::vector<json>{mouse(5, 3, 0)}));
}

TEST(Housekeeping, ScreenSizeAndVersionNeedNoTrustAndPostNothing) {
    platform::trace::Config config;
    config.trusted = {false};
    config.screen = {1280, 800.5};
    Outcome size = run(R"({"id":1,"action":"screen_size"})", config);
    EXPECT_EQ(size.reply, (json{{"id", 1}, {"ok", true}, {"width", 1280}, {"height", 800.5}}));
    EXPECT_TRUE(size.trace.empty());
    Outcome version = run(R"({"id":2,"action":"version"})", config);
    EXPECT_EQ(version.reply["ok"], true);
    EXPECT_EQ(version.reply["version"], VANTREL_VERSION);
    EXPECT_TRUE(version.reply["platform"] == "trace" || version.reply["platform"] == "macos");
    EXPECT_TRUE(version.trace.empty());
}

} // namespace
} // namespace vantrel::testing
