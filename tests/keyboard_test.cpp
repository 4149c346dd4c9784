// Keyboard actions: key names, combinations and holds, typing by grapheme cluster, media keys.

#include "trace_fixture.h"

#include "keyboard/keyboard.h"

#include <gtest/gtest.h>

namespace vantrel::testing {
namespace {

constexpr uint64_t command = 0x100000, control = 0x40000, alternate = 0x80000, shift = 0x20000;

std::vector<json> pressed(int keyCode, uint64_t flags) {
    return {keyEvent(10, keyCode, flags), keyEvent(11, keyCode, flags)};
}
std::vector<json> keyPosts(const std::string& combination) {
    return run(json{{"action", "key"}, {"text", combination}}.dump()).posts();
}

TEST(KeyNames, TableHasItsSeventyFiveRowsAndTheirAliases) {
    const auto& table = keyCodes();
    EXPECT_EQ(table.size(), 75u);
    EXPECT_EQ(table.at("enter"), table.at("return"));
    EXPECT_EQ(table.at("backspace"), 51);
    EXPECT_EQ(table.at("forwarddelete"), 117);
    EXPECT_EQ(table.at("esc"), 53);
    for (const char* absent : {"A", "Tab", "`", "+", "shift", "f13", "capslock"})
        EXPECT_FALSE(lookUpKey(absent)) << absent;
    EXPECT_EQ(lookUpKey("\u037E"), std::optional<uint16_t>(41)); // canonically ";"
}

TEST(KeyNames, ModifierFlagsAreTheUnionOfKnownExactNames) {
    EXPECT_EQ(flags({"cmd", "shift"}), command | shift);
    EXPECT_EQ(flags({"meta"}), command);
    EXPECT_EQ(flags({"super"}), command);
    EXPECT_EQ(flags({"ctrl", "control"}), control);
    EXPECT_EQ(flags({"option"}), alternate);
    EXPECT_EQ(flags({"opt"}), alternate);
    EXPECT_EQ(flags({"fn", "function"}), 0x800000u);
    EXPECT_EQ(flags({"hyper", "Shift", " shift", ""}), 0u);
    EXPECT_EQ(flags({}), 0u);
}

TEST(Combinations, ModifiersTravelOnlyAsFlagsOfTheKeysTwoEvents) {
    EXPECT_EQ(keyPosts("cmd+shift+t"), pressed(17, command | shift));
    EXPECT_EQ(keyPosts("CMD+A"), pressed(0, command));
    EXPECT_EQ(keyPosts("A"), pressed(0, 0));
    EXPECT_EQ(keyPosts("ctrl+alt+delete"), pressed(51, control | alternate));
    EXPECT_EQ(keyPosts("opt+left"), pressed(123, alternate));
    EXPECT_EQ(keyPosts("enter"), pressed(36, 0));
    EXPECT_EQ(keyPosts("hyper+a"), pressed(0, 0));
    EXPECT_EQ(keyPosts("a+b"), pressed(11, 0));
    EXPECT_EQ(keyPosts("cmd+a+b"), pressed(11, command));
    EXPECT_EQ(keyPosts("++cmd++f5+"), pressed(96, command)); // empty pieces vanish
}

TEST(Combinations, LowercasingIsTheFullLocaleIndependentMapping) {
    EXPECT_EQ(keyPosts("cmd+\u212A"), pressed(40, command)); // KELVIN SIGN lowercases to k
    // Capital I with dot above lowercases to i and a combining dot: one typed cluster.
    EXPECT_EQ(keyPosts("\u0130"), typed({0x69, 0x307}));
}

TEST(Combinations, ALoneWordThatIsNoKeyIsTypedLowercased) {
    EXPECT_EQ(keyPosts("Hello"), typedAscii("hello"));
    EXPECT_EQ(keyPosts("shift"), typedAscii("shift"));
    EXPECT_EQ(keyPosts("cmd+"), typedAscii("cmd"));
    EXPECT_EQ(keyPosts("cmd++"), typedAscii("cmd"));
    EXPECT_EQ(keyPosts("hello world"), typedAscii("hello world"));
    // A "+" carrying a combining mark is part of the word, not a separator.
    EXPECT_EQ(keyPosts("a+\u0301b"), concat({typed({'a'}), typed({'+', 0x301}), typed({'b'})}));
}

TEST(Combinations, UnknownKeysWithModifiersAndEmptyCombinationsPostNothing) {
    for (const char* combination : {"cmd+hello", "cmd+shift", "", "+", "cmd + a"})
        EXPECT_TRUE(keyPosts(combination).empty()) << combination;
    for (const char* request : {R"({"id":8,"action":"key"})", R"({"id":8,"action":"key","text":5})",
                                R"({"id":8,"action":"key","key":"a"})"}) {
        Outcome out = run(request);
        EXPECT_TRUE(out.posts().empty()) << request;
        EXPECT_EQ(out.reply, ok(8));
    }
}

TEST(Combinations, HoldPausesBetweenDownAndUpInWholeMilliseconds) {
    auto held = [](const std::string& holdMs) {
        return run(R"({"action":"hold_key","text":"cmd+c","holdMs":)" + holdMs + "}").posts();
    };
    std::vector<json> down_up = pressed(8, command);
    EXPECT_EQ(held("500"), (std::vector<json>{down_up[0], sleepFor(500000), down_up[1]}));
    EXPECT_EQ(held("1.5"), (std::vector<json>{down_up[0], sleepFor(1000), down_up[1]}));
    EXPECT_EQ(held("4294967"), (std::vector<json>{down_up[0], sleepFor(4294967000u), down_up[1]}));
    for (const char* none : {"0.9", "0", "-7", "\"500\"", "null", "-1e300"})
        EXPECT_EQ(held(none), down_up) << none;
    EXPECT_EQ(run(R"({"action":"hold_key","text":"cmd+c"})").posts(), down_up);
}

TEST(Combinations, OverlongHoldIsRefusedBeforeTheKeyDownWhateverTheCombination) {
    for (const char* request : {R"({"id":2,"action":"hold_key","text":"cmd+c","holdMs":4294968})",
                                R"({"id":2,"action":"hold_key","text":"","holdMs":1e300})",
                                R"({"id":2,"action":"hold_key","text":"hello","holdMs":1e19})"}) {
        Outcome out = run(request);
        EXPECT_EQ(out.reply, error("holdMs out of range", 2)) << request;
        EXPECT_TRUE(out.posts().empty()) << request;
    }
}

TEST(Combinations, FailedKeyDownStillHoldsAndFailedEventsStillSucceed) {
    platform::trace::Config failing;
    failing.failKeyboard = true;
    Outcome out = run(R"({"id":1,"action":"hold_key","text":"a","holdMs":3})", failing);
    EXPECT_EQ(out.posts(), (std::vector<json>{sleepFor(3000)}));
    EXPECT_EQ(out.reply, ok(1));
}

std::vector<json> typePosts(const std::string& text) {
    return run(json{{"action", "type"}, {"text", text}}.dump()).posts();
}

TEST(Typing, OnePairPerExtendedGraphemeClusterWithItsUtf16Units) {
    EXPECT_EQ(typePosts("abc"), typedAscii("abc"));
    EXPECT_EQ(typePosts("e\u0301"), typed({0x65, 0x301}));
    EXPECT_EQ(typePosts("\U0001F600"), typed({0xD83D, 0xDE00}));
    EXPECT_EQ(typePosts("\U0001F44D\U0001F3FD"), typed({0xD83D, 0xDC4D, 0xD83C, 0xDFFD}));
    EXPECT_EQ(typePosts("\U0001F1E9\U0001F1EA"), typed({0xD83C, 0xDDE9, 0xD83C, 0xDDEA}));
    EXPECT_EQ(typePosts("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
              typed({0xD83D, 0xDC68, 0x200D, 0xD83D, 0xDC69, 0x200D, 0xD83D, 0xDC67}));
    EXPECT_EQ(typePosts("\r\n\n\t"), concat({typed({13, 10}), typed({10}), typed({9})}));
    EXPECT_EQ(typePosts("\u00E9\u0915\u093F"), concat({typed({0xE9}), typed({0x915, 0x93F})}));
}

TEST(Typing, NothingToTypeTypesNothing) {
    for (const char* request :
         {R"({"id":6,"action":"type","text":""})", R"({"id":6,"action":"type"})",
          R"({"id":6,"action":"type","text":5})", R"({"id":6,"action":"type","text":["a"]})"}) {
        Outcome out = run(request);
        EXPECT_TRUE(out.posts().empty()) << request;
        EXPECT_EQ(out.reply, ok(6));
    }
}

TEST(Typing, ClustersOverTwentyUnitsGoInPiecesThatKeepSurrogatePairsWhole) {
    std::string marked = "e";
    std::vector<uint16_t> first{'e'}, rest;
    for (int i = 0; i < 25; ++i) {
        marked += "\u0301";
        (i < 19 ? first : rest).push_back(0x301);
    }
    EXPECT_EQ(typePosts(marked), concat({typed(first), typed(rest)}));

    // Unit 20 would be the high half of an astral combining mark: the piece stops before it.
    std::string text = "a";
    std::vector<uint16_t> head{'a'};
    for (int i = 0; i < 18; ++i) {
        text += "\u0301";
        head.push_back(0x301);
    }
    text += "\U0001D167\u0301";
    EXPECT_EQ(typePosts(text), concat({typed(head), typed({0xD834, 0xDD67, 0x301})}));
}

TEST(Typing, FailedEventsAreSkippedButEveryClusterKeepsItsPause) {
    platform::trace::Config failing;
    failing.failKeyboard = true;
    EXPECT_EQ(run(R"({"action":"type","text":"ab"})", failing).posts(),
              (std::vector<json>{sleepFor(8000), sleepFor(8000)}));
}

json system(uint64_t flags, int64_t data1) {
    return {{"post", "system"}, {"type", 14},
            {"subtype", 8},     {"x", 0},
            {"y", 0},           {"modifierFlags", flags},
            {"timestamp", 0},   {"windowNumber", 0},
            {"data1", data1},   {"data2", -1}};
}
std::vector<json> mediaPosts(const std::string& key) {
    return run(R"({"action":"media","key":)" + key + "}").posts();
}

TEST(Media, CodeWordsCarryTheLowSixteenBitsAndTheKeyStateSignExtended) {
    EXPECT_EQ(mediaPosts("16"),
              (std::vector<json>{system(0xA00, 1051136), system(0xB00, 1051392)}));
    for (const char* zero : {"null", "\"16\"", "-0.5", "65536", "-2147483648.5"})
        EXPECT_EQ(mediaPosts(zero), (std::vector<json>{system(0xA00, 2560), system(0xB00, 2816)}))
            << zero;
    EXPECT_EQ(mediaPosts("7.9")[0], system(0xA00, 461312));
    EXPECT_EQ(mediaPosts("32767")[0], system(0xA00, 2147420672));
    EXPECT_EQ(mediaPosts("32768"),
              (std::vector<json>{system(0xA00, -2147481088), system(0xB00, -2147480832)}));
    EXPECT_EQ(mediaPosts("-1")[0], system(0xA00, -62976));
    EXPECT_EQ(mediaPosts("2147483647")[0], system(0xA00, -62976));
    EXPECT_EQ(mediaPosts("65537")[0], system(0xA00, 68096));
    EXPECT_EQ(run(R"({"action":"media"})").posts()[1], system(0xB00, 2816));
}

TEST(Media, KeysOutsideThirtyTwoBitsAreRefusedAndFailuresSkipOneEventEach) {
    for (const char* key : {"2147483648", "1e10", "-2147483649", "-1e300"}) {
        Outcome out = run(R"({"id":3,"action":"media","key":)" + std::string(key) + "}");
        EXPECT_EQ(out.reply, error("key out of range", 3)) << key;
        EXPECT_TRUE(out.posts().empty()) << key;
    }
    platform::trace::Config failing;
    failing.failSystem = true;
    Outcome out = run(R"({"id":3,"action":"media","key":1})", failing);
    EXPECT_TRUE(out.posts().empty());
    EXPECT_EQ(out.reply, ok(3));
}

} // namespace
} // namespace vantrel::testing
