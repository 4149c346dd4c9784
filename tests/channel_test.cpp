// The channel's pure parts: the reply writer's exact bytes, UTF-8 repair and trimming.

#include "channel/request_loop.h"
#include "support/reply.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace vantrel {
namespace {

TEST(ReplyWriter, EscapesAsRequiredAndWritesOtherTextRaw) {
    EXPECT_EQ(serialize(errorReply(7, "a\"b\\c/d\ne\x01\x1f\t\u00e9\U0001F600\x7f")),
              "{\"id\":7,\"ok\":false,\"error\":\"a\\\"b\\\\c\\/d\\ne\\u0001\\u001f\\t"
              "\u00e9\U0001F600\x7f\"}");
    EXPECT_EQ(serialize(successReply(-3).add("trusted", false)),
              "{\"id\":-3,\"ok\":true,\"trusted\":false}");
}

TEST(ReplyWriter, DoublesAreShortestRoundTripAndNonFiniteIsZero) {
    auto written = [](double value) { return serialize(Reply{}.add("x", value)); };
    EXPECT_EQ(written(512.5), "{\"x\":512.5}");
    EXPECT_EQ(written(100.0), "{\"x\":100}");
    EXPECT_EQ(written(0.1), "{\"x\":0.1}");
    EXPECT_EQ(written(-1e300), "{\"x\":-1e+300}");
    EXPECT_EQ(written(std::numeric_limits<double>::infinity()), "{\"x\":0}");
    EXPECT_EQ(written(std::nan("")), "{\"x\":0}");
    EXPECT_EQ(written(10.0), "{\"x\":10}");
    EXPECT_EQ(written(-0.001), "{\"x\":-0.001}");
    EXPECT_EQ(written(1e-7), "{\"x\":1e-07}");
    EXPECT_EQ(written(1e21), "{\"x\":1e+21}");
    EXPECT_EQ(written(123456.75), "{\"x\":123456.75}");
    EXPECT_EQ(written(5e-324), "{\"x\":5e-324}");
    EXPECT_EQ(written(std::numeric_limits<double>::max()), "{\"x\":1.7976931348623157e+308}");
    // Any value reads back as itself, with no significant digit more than it needs.
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        std::string text = written(value).substr(5);
        text.pop_back();
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        std::string significant;
        for (char c : text.substr(0, text.find('e')))
            if (std::isdigit(static_cast<unsigned char>(c))) significant += c;
        significant.erase(0, significant.find_first_not_of('0'));
        if (text.find_first_of(".e") == std::string::npos)
            significant.erase(significant.find_last_not_of('0') + 1);
        if (significant.size() < 2) continue;
        char fewer[32];
        std::snprintf(fewer, sizeof fewer, "%.*e", static_cast<int>(significant.size()) - 2, value);
        ASSERT_NE(std::strtod(fewer, nullptr), value) << text;
    }
    double tricky = 0.1 + 0.2;
    EXPECT_EQ(written(tricky), "{\"x\":0.30000000000000004}");
}

TEST(Utf8Repair, EachMaximalIllFormedSubsequenceBecomesOneReplacement) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(repairUtf8("plain \u00e9\U0001F600"), "plain \u00e9\U0001F600");
    // The Unicode Standard's own example: a, F1 80 80, E1 80, C2, b, 80, c, 80, BF, d.
    EXPECT_EQ(repairUtf8("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              "a" + r + r + r + "b" + r + "c" + r + r + "d");
    EXPECT_EQ(repairUtf8("\xED\xA0\x80"), r + r + r);         // an encoded surrogate
    EXPECT_EQ(repairUtf8("\xC0\xAF"), r + r);                 // overlong
    EXPECT_EQ(repairUtf8("\xF4\x90\x80\x80"), r + r + r + r); // beyond U+10FFFF
    EXPECT_EQ(repairUtf8("\xE2\x82"), r);                     // truncated at the end
    EXPECT_EQ(repairUtf8("\xFF\xFE"), r + r);
}

TEST(Trim, SpaceSeparatorsAndTabsOnlyAtBothEnds) {
    EXPECT_EQ(trimLine(" \t\u00a0\u3000{}\u2003\u202f \t"), "{}");
    EXPECT_EQ(trimLine("\r{}\f"), "\r{}\f");
    EXPECT_EQ(trimLine("\u2028{} \u000b"), "\u2028{} \u000b");
    EXPECT_EQ(trimLine("a b"), "a b");
    EXPECT_EQ(trimLine(" \u3000 "), "");
    EXPECT_EQ(trimLine("\u00e9"), "\u00e9");
}

} // namespace
} // namespace vantrel
