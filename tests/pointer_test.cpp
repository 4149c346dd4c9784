// Pointer actions: the exact events, positions and pauses of moves, clicks, drags and scrolling.

#include "trace_fixture.h"

#include <gtest/gtest.h>

namespace vantrel::testing {
namespace {

platform::trace::Config at(double x, double y) {
    platform::trace::Config config;
    config.cursor = {x, y};
    return config;
}

// Moves, drags and scrolls from (0, 0) along the x axis keep these tests readable.
double eased(double t) {
    return t < 0.5 ? t * (t + t) : t * (4.0 - (t + t)) - 1.0;
}

TEST(Clicks, LeftClickIsAMoveThenOneNumberedPairThenFortyMilliseconds) {
    Outcome out = run(R"({"id":3,"action":"left_click","x":10,"y":0})");
    EXPECT_EQ(out.trace, (std::vector<json>{{{"trusted", true}},
                                            mouse(5, 10, 0),
                                            click(1, 10, 0, 0, 1),
                                            click(2, 10, 0, 0, 1),
                                            sleepFor(40000)}));
    EXPECT_EQ(out.reply, ok(3));
}

TEST(Clicks, EachButtonActionUsesItsTypesButtonAndClickNumbers) {
    auto pairs = [](int down, int up, int button, int count) {
        std::vector<json> events{mouse(5, 0, 0)};
        for (int i = 1; i <= count; ++i) {
            events.push_back(click(down, 0, 0, button, i));
            events.push_back(click(up, 0, 0, button, i));
            events.push_back(sleepFor(40000));
        }
        return events;
    };
    EXPECT_EQ(run(R"({"action":"right_click"})").posts(), pairs(3, 4, 1, 1));
    EXPECT_EQ(run(R"({"action":"middle_click"})").posts(), pairs(25, 26, 2, 1));
    EXPECT_EQ(run(R"({"action":"double_click"})").posts(), pairs(1, 2, 0, 2));
    EXPECT_EQ(run(R"({"action":"triple_click"})").posts(), pairs(1, 2, 0, 3));
}

TEST(Clicks, LoneDownMovesFirstAndLoneUpDoesNotAndNeitherIsNumbered) {
    EXPECT_EQ(run(R"({"action":"left_mouse_down","x":5,"y":6})").posts(),
              (std::vector<json>{mouse(5, 5, 6), mouse(1, 5, 6)}));
    EXPECT_EQ(run(R"({"action":"left_mouse_up","x":5,"y":6})", at(50, 50)).posts(),
              (std::vector<json>{mouse(2, 5, 6)}));
    EXPECT_EQ(run(R"({"action":"left_mouse_up"})", at(50, 50)).posts(),
              (std::vector<json>{mouse(2, 0, 0)}));
}

TEST(Clicks, FailedCreationSkipsEventsButKeepsPausesAndSucceeds) {
    platform::trace::Config config;
    config.failMouse = true;
    Outcome out = run(R"({"id":1,"action":"double_click","x":10})", config);
    EXPECT_EQ(out.posts(), (std::vector<json>{sleepFor(40000), sleepFor(40000)}));
    EXPECT_EQ(out.reply, ok(1));
}

TEST(Motion, HundredPointsOverDefaultDurationTakesFourteenEasedSteps) {
    Outcome out = run(R"({"action":"mouse_move","x":100,"y":0})");
    std::vector<json> expected;
    for (int i = 1; i <= 14; ++i) {
        expected.push_back(mouse(5, 0.0 + 100.0 * eased(static_cast<double>(i) / 14.0), 0));
        expected.push_back(sleepFor(24999)); // 350 / 1000 / 14 * 1e6 truncated, not 25000
    }
    expected.push_back(mouse(5, 100, 0));
    EXPECT_EQ(out.posts(), expected);
}

TEST(Motion, StepCountFollowsDistanceBetweenOneAndOneHundredForty) {
    // 14 points: two steps, at the midpoint and the end, each paced half the duration.
    EXPECT_EQ(run(R"({"action":"mouse_move","x":14,"y":0})").posts(),
              (std::vector<json>{mouse(5, 7, 0), sleepFor(175000), mouse(5, 14, 0),
                                 sleepFor(175000), mouse(5, 14, 0)}));
    // 28 points: four steps through 1/8, 1/2, 7/8 and all of the way.
    std::vector<json> four = run(R"({"action":"mouse_move","x":28,"y":0,"durationMs":-5})").posts();
    EXPECT_EQ(four, (std::vector<json>{mouse(5, 3.5, 0), mouse(5, 14, 0), mouse(5, 24.5, 0),
                                       mouse(5, 28, 0), mouse(5, 28, 0)}));
    // Under 14 points, or no distance at all: one event at the target, no pause.
    EXPECT_EQ(run(R"({"action":"mouse_move","x":13.9,"y":0,"durationMs":9000})").posts(),
              (std::vector<json>{mouse(5, 13.9, 0)}));
    EXPECT_EQ(run(R"({"action":"mouse_move","x":4,"y":4})", at(4, 4)).posts(),
              (std::vector<json>{mouse(5, 4, 4)}));
    // Far moves are capped at 140 steps and the final event.
    EXPECT_EQ(run(R"({"action":"mouse_move","x":980,"y":0})").posts().size(), 281u);
    std::vector<json> capped =
        run(R"({"action":"mouse_move","x":3000,"y":4000,"durationMs":1})").posts();
    ASSERT_EQ(capped.size(), 281u);
    EXPECT_EQ(capped[1], sleepFor(7)); // 1 ms over 140 steps, truncated
}

TEST(Motion, StartsFromWherePointerIsAndFromOriginWhenUnreadable) {
    EXPECT_EQ(run(R"({"action":"mouse_move","x":10,"y":10})", at(3, 3)).posts(),
              (std::vector<json>{mouse(5, 10, 10)}));
    platform::trace::Config blind = at(500, 500);
    blind.failLocation = true;
    EXPECT_EQ(run(R"({"action":"mouse_move","x":10,"y":0})", blind).posts(),
              (std::vector<json>{mouse(5, 10, 0)}));
    Outcome where = run(R"({"id":2,"action":"cursor_position"})", blind);
    EXPECT_EQ(where.reply, (json{{"id", 2}, {"ok", true}, {"x", 0}, {"y", 0}}));
    EXPECT_TRUE(where.trace.empty());
}

TEST(Motion, PostedMouseEventsMoveTheSimulatedPointer) {
    auto outs = runAll({R"({"action":"left_mouse_down","x":10,"y":20})",
                        R"({"id":9,"action":"cursor_position"})"});
    EXPECT_EQ(outs[1].reply, (json{{"id", 9}, {"ok", true}, {"x", 10}, {"y", 20}}));
}

TEST(Motion, MovesWhileTheLeftButtonIsHeldAreDragsUntilItsRelease) {
    // Mac applications take a moved event as a plain move even with the button down, so a held
    // button must turn every move into a drag: mouse_move, and the approach of other actions.
    auto outs =
        runAll({R"({"action":"left_mouse_down","x":10,"y":20})",
                R"({"action":"mouse_move","x":10,"y":20})", R"({"action":"scroll","x":10,"y":20})",
                R"({"action":"left_mouse_up","x":10,"y":20})",
                R"({"action":"mouse_move","x":10,"y":20})"});
    EXPECT_EQ(outs[1].posts(), (std::vector<json>{mouse(6, 10, 20)}));
    EXPECT_EQ(outs[2].posts(), (std::vector<json>{mouse(6, 10, 20), scrollEvent(-1, 0)}));
    EXPECT_EQ(outs[3].posts(), (std::vector<json>{mouse(2, 10, 20)}));
    EXPECT_EQ(outs[4].posts(), (std::vector<json>{mouse(5, 10, 20)}));
    // A click's own release lets the button go as well.
    auto clicked = runAll({R"({"action":"left_mouse_down","x":10,"y":20})",
                           R"({"action":"left_click","x":10,"y":20})",
                           R"({"action":"mouse_move","x":10,"y":20})"});
    EXPECT_EQ(clicked[1].posts().front(), mouse(6, 10, 20));
    EXPECT_EQ(clicked[2].posts(), (std::vector<json>{mouse(5, 10, 20)}));
}

TEST(Motion, LimitsRefuseBeforeAnythingIsPosted) {
    Outcome far = run(R"({"id":4,"action":"mouse_move","x":1e308,"y":1e308})");
    EXPECT_EQ(far.reply, error("point out of range", 4));
    EXPECT_TRUE(far.posts().empty());
    // One step may pause up to 4294967 ms before its count of microseconds overflows 32 bits.
    EXPECT_EQ(run(R"({"action":"left_click","x":1,"durationMs":4294967})").reply, ok());
    Outcome slow = run(R"({"action":"left_click","x":1,"durationMs":4294968})");
    EXPECT_EQ(slow.reply, error("durationMs out of range"));
    EXPECT_TRUE(slow.posts().empty());
    // The point is checked before the pause.
    EXPECT_EQ(run(R"({"action":"left_mouse_down","x":1e308,"durationMs":1e300})").reply,
              error("point out of range"));
    EXPECT_EQ(run(R"({"action":"mouse_move","x":100,"durationMs":1e300})").reply,
              error("durationMs out of range"));
}

TEST(Drag, ApproachesPressesDragsFortyEvenStepsAndReleasesAtTheEnd) {
    Outcome out = run(R"({"action":"left_click_drag","startX":10,"startY":0,"x":50,"y":40})");
    std::vector<json> expected{mouse(5, 10, 0), mouse(1, 10, 0)};
    for (int i = 1; i <= 40; ++i) {
        double t = static_cast<double>(i) / 40.0;
        expected.push_back(mouse(6, 10.0 + 40.0 * t, 0.0 + 40.0 * t));
        expected.push_back(sleepFor(8750));
    }
    expected.push_back(mouse(2, 50, 40));
    EXPECT_EQ(out.posts(), expected);
}

TEST(Drag, ApproachTakesTwoHundredMillisecondsWhateverTheDuration) {
    std::vector<json> events =
        run(R"({"action":"left_click_drag","startX":100,"durationMs":-1})").posts();
    ASSERT_EQ(events.size(), 14u * 2 + 1 + 42);
    EXPECT_EQ(events[1], sleepFor(14285)); // 200 ms over 14 steps
    EXPECT_EQ(events[29], mouse(1, 100, 0));
    EXPECT_EQ(events[30], mouse(6, 97.5, 0)); // no pauses: the duration was negative
}

TEST(Drag, LimitsAreCheckedBeforeTheApproachSoNothingStaysHeld) {
    EXPECT_EQ(run(R"({"action":"left_click_drag","x":5,"durationMs":171798691})").reply, ok());
    Outcome slow = run(R"({"action":"left_click_drag","x":5,"durationMs":171798692})");
    EXPECT_EQ(slow.reply, error("durationMs out of range"));
    EXPECT_TRUE(slow.posts().empty());
    Outcome both =
        run(R"({"action":"left_click_drag","startX":-1e308,"startY":1e308,"durationMs":1e300})");
    EXPECT_EQ(both.reply, error("point out of range"));
    EXPECT_TRUE(both.posts().empty());

    // Start and end each in range, but further apart than a double holds: the dragged steps
    // would lie at infinity. Refused before the approach, and before a pause that is too long.
    platform::trace::Config atStart = at(-1e308, 0);
    Outcome span = run(
        R"({"action":"left_click_drag","startX":-1e308,"x":1e308,"durationMs":1e300})", atStart);
    EXPECT_EQ(span.reply, error("point out of range"));
    EXPECT_TRUE(span.posts().empty());
}

TEST(Scroll, DirectionsAmountsAndDefaults) {
    auto wheels = [](const std::string& request) { return run(request).posts().back(); };
    EXPECT_EQ(wheels(R"({"action":"scroll"})"), scrollEvent(-1, 0));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":7,"amount":3})"), scrollEvent(-3, 0));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":"up","amount":2.9})"), scrollEvent(2, 0));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":"down","amount":-2.9})"),
              scrollEvent(-1, 0));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":"left","amount":5})"), scrollEvent(0, 5));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":"right","amount":"9"})"),
              scrollEvent(0, -1));
    EXPECT_EQ(wheels(R"({"action":"scroll","direction":"Up","amount":4})"), scrollEvent(0, 0));
    // The largest amount the platform carries (2147483647 in the trace, 32767 on macOS, whose
    // events hold 16-bit line deltas) is accepted, one more is not.
    int64_t largest = platform::largestScrollAmount();
    auto amount = [](int64_t lines) {
        return R"({"action":"scroll","direction":"up","amount":)" + std::to_string(lines) + "}";
    };
    EXPECT_EQ(wheels(amount(largest)), scrollEvent(static_cast<int32_t>(largest), 0));
    EXPECT_EQ(run(amount(largest + 1)).reply, error("amount out of range"));
    EXPECT_EQ(run(amount(largest + 1)).posts(), std::vector<json>{});
}

TEST(Scroll, ApproachIsTheTwoHundredMillisecondMoveAndDurationIsIgnored) {
    std::vector<json> events =
        run(R"({"action":"scroll","x":100,"y":0,"durationMs":1e300})").posts();
    ASSERT_EQ(events.size(), 14u * 2 + 1 + 1);
    EXPECT_EQ(events[1], sleepFor(14285));
    EXPECT_EQ(events[28], mouse(5, 100, 0));
    EXPECT_EQ(events[29], scrollEvent(-1, 0));
}

TEST(Scroll, OversizedAmountIsRefusedBeforeTheApproachButAfterThePointCheck) {
    Outcome big = run(R"({"id":5,"action":"scroll","x":300,"amount":2147483648})");
    EXPECT_EQ(big.reply, error("amount out of range", 5));
    EXPECT_TRUE(big.posts().empty());
    EXPECT_EQ(run(R"({"action":"scroll","amount":1e300})").reply, error("amount out of range"));
    EXPECT_EQ(run(R"({"action":"scroll","x":1e308,"y":1e308,"amount":1e300})").reply,
              error("point out of range"));
    platform::trace::Config failing;
    failing.failScroll = true;
    Outcome skipped = run(R"({"action":"scroll","x":3})", failing);
    EXPECT_EQ(skipped.posts(), (std::vector<json>{mouse(5, 3, 0)}));
    EXPECT_EQ(skipped.reply, ok());
}

TEST(Held, ReleaseAllLetsGoOfALonePressOnceAndPostsNothingWhenNothingIsHeld) {
    auto outs = runAll({R"({"action":"left_mouse_down","x":4,"y":6})",
                        R"({"action":"mouse_move","x":9,"y":6})",
                        R"({"id":2,"action":"release_all"})", R"({"id":3,"action":"release_all"})"},
                       at(4, 6));
    // Released where the pointer is, after the move.
    EXPECT_EQ(outs[2].posts(), (std::vector<json>{mouse(2, 9, 6)}));
    EXPECT_EQ(outs[2].reply, ok(2));
    EXPECT_EQ(outs[3].posts(), (std::vector<json>{}));
    EXPECT_EQ(outs[3].reply, ok(3));
}

} // namespace
} // namespace vantrel::testing
