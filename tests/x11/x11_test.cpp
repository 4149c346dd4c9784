// vantrel on a real X server (a private Xvfb), observed by independent X clients: xinput for
// raw and device events, xdotool for the pointer, and xterm running cat for typed text.

#include "x_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace vantrel::testing {
namespace {

struct X11Test : ::testing::Test {
    TempDir dir;
    XServer server;
    std::string errors = dir.path + "/vantrel-stderr.txt";
    std::optional<Vantrel> vantrel{std::in_place, server.name(), errors};

    void TearDown() override {
        if (vantrel) {
            EXPECT_EQ(vantrel->finish(), 0);
        }
        vantrel.reset();
        std::ifstream written(errors);
        std::string text((std::istreambuf_iterator<char>(written)), {});
        EXPECT_EQ(text, "") << "vantrel wrote to standard error";
    }
};

std::vector<XiEvent> only(const std::vector<XiEvent>& events, const std::string& name,
                          bool master = false) {
    std::vector<XiEvent> out;
    for (const XiEvent& event : events)
        if (event.name == name && (!master || event.master())) out.push_back(event);
    return out;
}

// The raw button presses and releases, as "+1", "-1" and so on.
std::vector<std::string> buttonSequence(const std::vector<XiEvent>& events) {
    std::vector<std::string> out;
    for (const XiEvent& event : events) {
        if (event.name == "RawButtonPress") out.push_back("+" + std::to_string(event.detail));
        if (event.name == "RawButtonRelease") out.push_back("-" + std::to_string(event.detail));
    }
    return out;
}

// The raw key presses and releases, as "+Super_L", "-t" and so on.
std::vector<std::string> keySequence(const std::vector<XiEvent>& events,
                                     const std::map<int, std::string>& names) {
    std::vector<std::string> out;
    for (const XiEvent& event : events) {
        auto name = names.count(event.detail) ? names.at(event.detail) : "?";
        if (event.name == "RawKeyPress") out.push_back("+" + name);
        if (event.name == "RawKeyRelease") out.push_back("-" + name);
    }
    return out;
}

// The pointer motions between a press and its release, each of which must show `button` (and
// only it) held.
int motionsHolding(const std::vector<XiEvent>& events, int button) {
    int motions = 0;
    bool pressed = false;
    for (const XiEvent& event : events) {
        if (!event.master()) continue;
        if (event.name == "ButtonPress") pressed = true;
        if (event.name == "ButtonRelease") pressed = false;
        if (pressed && event.name == "Motion") {
            ++motions;
            EXPECT_EQ(event.buttons, std::vector<int>{button});
        }
    }
    return motions;
}

void expectNothingHeld(const std::vector<XiEvent>& events) {
    std::map<int, int> keys, buttons;
    for (const XiEvent& event : events) {
        if (event.name == "RawKeyPress") ++keys[event.detail];
        if (event.name == "RawKeyRelease") --keys[event.detail];
        if (event.name == "RawButtonPress") ++buttons[event.detail];
        if (event.name == "RawButtonRelease") --buttons[event.detail];
    }
    for (auto [key, count] : keys)
        EXPECT_EQ(count, 0) << "keycode " << key << " left held";
    for (auto [button, count] : buttons)
        EXPECT_EQ(count, 0) << "button " << button << " left held";
}

TEST_F(X11Test, MoveEndsExactlyAtTheTargetThroughIntermediatePoints) {
    XiObserver observer(server, *vantrel, dir.path);
    vantrel->request({{"action", "mouse_move"}, {"x", 10}, {"y", 10}, {"durationMs", 0}});
    auto events = observer.during({{{"action", "mouse_move"}, {"x", 400}, {"y", 300}}});
    auto motions = only(events, "Motion", true);
    ASSERT_GE(motions.size(), 10u);
    EXPECT_GT(motions[motions.size() / 2].x, 10);
    EXPECT_LT(motions[motions.size() / 2].x, 400);
    EXPECT_EQ(motions.back().x, 400);
    EXPECT_EQ(motions.back().y, 300);
    EXPECT_EQ(mouseLocation(server), std::make_pair(400, 300));
    // Coordinates are rounded and clamped to the screen.
    vantrel->request({{"action", "mouse_move"}, {"x", 20.6}, {"y", 30.4}, {"durationMs", 0}});
    EXPECT_EQ(mouseLocation(server), std::make_pair(21, 30));
    vantrel->request({{"action", "mouse_move"}, {"x", -50}, {"y", 99999}, {"durationMs", 0}});
    EXPECT_EQ(mouseLocation(server), std::make_pair(0, 799));
}

TEST_F(X11Test, ClicksPressTheRightButtonsAtTheRightPointAsManyTimesAsAsked) {
    XiObserver observer(server, *vantrel, dir.path);
    struct Case {
        const char* action;
        std::vector<std::string> buttons;
    } cases[] = {{"left_click", {"+1", "-1"}},
                 {"right_click", {"+3", "-3"}},
                 {"middle_click", {"+2", "-2"}},
                 {"double_click", {"+1", "-1", "+1", "-1"}},
                 {"triple_click", {"+1", "-1", "+1", "-1", "+1", "-1"}}};
    int x = 100;
    for (const Case& c : cases) {
        x += 50;
        auto events = observer.during({{{"action", c.action}, {"x", x}, {"y", 120}}});
        EXPECT_EQ(buttonSequence(events), c.buttons) << c.action;
        for (const XiEvent& press : only(events, "ButtonPress", true)) {
            EXPECT_EQ(press.x, x) << c.action;
            EXPECT_EQ(press.y, 120) << c.action;
        }
    }
}

TEST_F(X11Test, LoneDownAndUpAndADragHoldTheLeftButtonBetween) {
    XiObserver observer(server, *vantrel, dir.path);
    auto events = observer.during({{{"action", "left_mouse_down"}, {"x", 50}, {"y", 60}},
                                   {{"action", "left_mouse_up"}, {"x", 70}, {"y", 80}}});
    EXPECT_EQ(buttonSequence(events), (std::vector<std::string>{"+1", "-1"}));
    auto presses = only(events, "ButtonPress", true),
         releases = only(events, "ButtonRelease", true);
    ASSERT_EQ(presses.size(), 1u);
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(std::make_pair(presses[0].x, presses[0].y), std::make_pair(50.0, 60.0));
    EXPECT_EQ(std::make_pair(releases[0].x, releases[0].y), std::make_pair(70.0, 80.0));

    events = observer.during({{{"action", "left_click_drag"},
                               {"startX", 100},
                               {"startY", 100},
                               {"x", 300},
                               {"y", 200},
                               {"durationMs", 200}}});
    EXPECT_EQ(buttonSequence(events), (std::vector<std::string>{"+1", "-1"}));
    presses = only(events, "ButtonPress", true);
    releases = only(events, "ButtonRelease", true);
    ASSERT_EQ(presses.size(), 1u);
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(std::make_pair(presses[0].x, presses[0].y), std::make_pair(100.0, 100.0));
    EXPECT_EQ(std::make_pair(releases[0].x, releases[0].y), std::make_pair(300.0, 200.0));
    EXPECT_EQ(motionsHolding(events, 1), 40);
}

TEST_F(X11Test, ScrollClicksTheWheelButtonsOncePerLine) {
    XiObserver observer(server, *vantrel, dir.path);
    auto events = observer.during({{{"action", "scroll"}, {"direction", "up"}, {"amount", 3}},
                                   {{"action", "scroll"}, {"direction", "down"}, {"amount", 2}},
                                   {{"action", "scroll"}, {"direction", "left"}},
                                   {{"action", "scroll"}, {"direction", "right"}, {"amount", 2}},
                                   {{"action", "scroll"}, {"direction", "sideways"}}});
    EXPECT_EQ(buttonSequence(events),
              (std::vector<std::string>{"+4", "-4", "+4", "-4", "+4", "-4", "+5", "-5", "+5", "-5",
                                        "+6", "-6", "+7", "-7", "+7", "-7"}));
    EXPECT_EQ(vantrel->request({{"id", 9}, {"action", "scroll"}, {"amount", 10001}}),
              (json{{"id", 9}, {"ok", false}, {"error", "amount out of range"}}));
}

TEST_F(X11Test, CombinationsPressTheirModifierKeysAroundTheKeyAndReleaseAll) {
    auto names = keysymNames(server);
    XiObserver observer(server, *vantrel, dir.path);
    auto events = observer.during({{{"action", "key"}, {"text", "cmd+shift+t"}}});
    EXPECT_EQ(keySequence(events, names), (std::vector<std::string>{"+Super_L", "+Shift_L", "+t",
                                                                    "-t", "-Shift_L", "-Super_L"}));
    events = observer.during({{{"action", "key"}, {"text", "ctrl+alt+delete"}}});
    EXPECT_EQ(keySequence(events, names),
              (std::vector<std::string>{"+Control_L", "+Alt_L", "+BackSpace", "-BackSpace",
                                        "-Alt_L", "-Control_L"}));
    events = observer.during({{{"action", "key"}, {"text", "fn+pagedown"}},
                              {{"action", "key"}, {"text", "Return"}},
                              {{"action", "key"}, {"text", "opt+f5"}}});
    EXPECT_EQ(keySequence(events, names),
              (std::vector<std::string>{"+Next", "-Next", "+Return", "-Return", "+Alt_L", "+F5",
                                        "-F5", "-Alt_L"}));
    expectNothingHeld(events);
}

TEST_F(X11Test, HoldKeyHoldsForItsTimeAndNothingStaysHeld) {
    auto names = keysymNames(server);
    int shift = 0, a = 0;
    for (const auto& [keycode, name] : names) {
        if (name == "Shift_L" && !shift) shift = keycode;
        if (name == "a" && !a) a = keycode;
    }
    // Part-way through a long hold both keys are down; after the reply neither is.
    vantrel->send({{"id", 4}, {"action", "hold_key"}, {"text", "shift+a"}, {"holdMs", 2000}});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(keysDown(server), (std::set<int>{shift, a}));
    EXPECT_EQ(vantrel->reply(), (json{{"id", 4}, {"ok", true}}));
    EXPECT_TRUE(keysDown(server).empty());

    XiObserver observer(server, *vantrel, dir.path);
    auto events = observer.during({{{"action", "hold_key"}, {"text", "shift+a"}, {"holdMs", 50}}});
    EXPECT_EQ(keySequence(events, names),
              (std::vector<std::string>{"+Shift_L", "+a", "-a", "-Shift_L"}));
    expectNothingHeld(events);
}

TEST_F(X11Test, MediaKeyPressesAndReleasesItsKeysym) {
    auto names = keysymNames(server);
    XiObserver observer(server, *vantrel, dir.path);
    auto events = observer.during({{{"action", "media"}, {"key", 16}}});
    EXPECT_EQ(keySequence(events, names),
              (std::vector<std::string>{"+XF86AudioPlay", "-XF86AudioPlay"}));
    // A key type with no keysym posts nothing.
    events = observer.during({{{"action", "media"}, {"key", 11}}});
    EXPECT_TRUE(keySequence(events, names).empty());
}

// What a terminal receives for typed text: every line end is one Return, which it reads as CR.
std::string asTerminalReads(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += text[i] == '\n' ? '\r' : text[i];
    }
    return out;
}

std::string typeInto(Vantrel& vantrel, TextClient& client, const std::string& text) {
    EXPECT_EQ(vantrel.request({{"id", 1}, {"action", "type"}, {"text", text}}),
              (json{{"id", 1}, {"ok", true}}));
    return client.received(asTerminalReads(text).size());
}

const std::string everyKindOfText =
    "Plain ASCII: The quick brown fox jumps over the lazy dog 0123456789 "
    "!@#$%^&*()_+-=[]{};':\",./<>?\\|`~\t"
    "Latin-1: \u00e9\u00e8\u00ea\u00eb \u00fc\u00f6\u00e4 \u00df \u00f1 \u00e7 \u00a9 \u00bf\u00a1 "
    "CJK: \u65e5\u672c\u8a9e \u4e2d\u6587 \ud55c\uad6d\uc5b4 "
    "emoji: \U0001F600 \U0001F44D\U0001F3FD \u2764\ufe0f "
    "ZWJ: \U0001F468\u200D\U0001F469\u200D\U0001F467 \U0001F3F3\ufe0f\u200D\U0001F308 "
    "flags: \U0001F1E9\U0001F1EA\U0001F1EF\U0001F1F5 "
    "marks: e\u0301 a\u0300\u0323 n\u0303 \u0915\u094D\u0937 "
    "line ends: one\r\ntwo\nthree\rend";

TEST_F(X11Test, TextOfEveryKindArrivesExactlyInARealTextClient) {
    TextClient client(server, *vantrel, dir.path);
    EXPECT_EQ(typeInto(*vantrel, client, everyKindOfText), asTerminalReads(everyKindOfText));
}

TEST_F(X11Test, CharactersWithLegacyKeysymsArriveAsThemselvesInATerminal) {
    // Bound as their legacy keysyms, xterm turned these into other characters or none.
    const std::string legacy = "\u223c\u2243\u2500\u250c\u2030\u2025\u25af\u2218\u2261\u22a5"
                               "\u21d4\u203e\u2308\u2502\u3131\u314f\u2264\u2260\u221e";
    TextClient client(server, *vantrel, dir.path);
    EXPECT_EQ(typeInto(*vantrel, client, legacy), legacy);
}

TEST_F(X11Test, AGtkEntryDecodesTypedTextExactly) {
    // zenity's entry is a GTK program: it decodes keys with GDK's keymap, and prints the entry's
    // text when Return is pressed.
    if (capture({"sh", "-c", "command -v zenity"}, {}).empty()) GTEST_SKIP() << "no zenity";
    std::string printed = dir.path + "/zenity.txt";
    Process zenity({"zenity", "--entry", "--text", "type"}, {server.env()}, printed);
    std::string window = capture(
        {"xdotool", "search", "--sync", "--onlyvisible", "--class", "zenity"}, {server.env()});
    window = window.substr(0, window.find('\n'));
    std::string geometry =
        capture({"xdotool", "getwindowgeometry", "--shell", window}, {server.env()});
    auto field = [&](const std::string& name) {
        size_t at = geometry.find(name + "=");
        return std::stoi(geometry.substr(at + name.size() + 1));
    };
    int x = field("X") + field("WIDTH") / 2, y = field("Y") + field("HEIGHT") / 2;
    vantrel->request({{"action", "mouse_move"}, {"x", x}, {"y", y}});
    // Everything but the tab and the line ends, which move the focus or end the entry.
    size_t from = everyKindOfText.find("Latin-1");
    const std::string text = everyKindOfText.substr(from, everyKindOfText.find('\r') - from) +
                             " \u223c\u2243\u2500\u2030\u2025\u2261 \u00c0\u00c5\u00d3";
    EXPECT_EQ(vantrel->request({{"id", 5}, {"action", "type"}, {"text", text}}),
              (json{{"id", 5}, {"ok", true}}));
    vantrel->request({{"action", "key"}, {"text", "return"}});
    EXPECT_TRUE(eventually([&] { return !zenity.running(); }));
    std::ifstream file(printed);
    std::string got((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(got, text + "\n");
}

TEST_F(X11Test, FiveHundredRandomClustersMostlyAbsentFromTheKeymapArriveExactly) {
    // Far more distinct characters than there are spare keycodes, so bindings are reused.
    const std::vector<std::string> pools[] = {
        {"a", "Z", "7", "?", " "},
        {"\u00e9", "\u00f1", "\u0142", "\u0151", "\u0159", "\u1ebd", "\u00fe"},
        {"\u03b1", "\u03b2", "\u03a9", "\u03bb", "\u0416", "\u044f", "\u0491", "\u05d0", "\u05e9",
         "\u0627", "\u0644", "\u0e01", "\u0e2a"},
        {"\u65e5", "\u672c", "\u6f22", "\u5b57", "\u4e16", "\u754c", "\u3042", "\u30ab", "\ud55c",
         "\uae00", "\u9f8d"},
        {"\U0001F600", "\U0001F680", "\U0001F44D\U0001F3FF", "\U0001F1EB\U0001F1F7",
         "\U0001F469\u200D\U0001F4BB", "\u270C\ufe0f", "\U0001F9D1\U0001F3FD\u200D\U0001F33E"},
        {"e\u0301", "o\u0308\u0304", "\u0928\u093F", "\u0915\u094D\u0937", "\u1100\u1161\u11a8",
         "u\u031b\u0309"},
    };
    std::mt19937 random(20261208);
    std::string text;
    for (int i = 0; i < 500; ++i) {
        const auto& pool = pools[std::uniform_int_distribution<size_t>(0, 5)(random)];
        text += pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(random)];
    }
    TextClient client(server, *vantrel, dir.path);
    EXPECT_EQ(typeInto(*vantrel, client, text), text);
}

const std::string layoutText = "Grüße: @{[]}\\|~<> \u20ac \u00e4\u00f6\u00fc\u00df zy "
                               "\u041f\u0440\u0438\u0432\u0435\u0442 \u0451\u0401 \u65e5 "
                               "\U0001F600 AZaz 09";

TEST_F(X11Test, TextArrivesExactlyUnderAGermanLayout) {
    capture({"setxkbmap", "-display", server.name(), "de"}, {});
    TextClient client(server, *vantrel, dir.path);
    EXPECT_EQ(typeInto(*vantrel, client, layoutText), layoutText);
}

TEST_F(X11Test, TextArrivesExactlyUnderATwoGroupLayoutInEitherGroup) {
    capture(
        {"setxkbmap", "-display", server.name(), "-layout", "us,ru", "-option", "grp:caps_toggle"},
        {});
    TextClient client(server, *vantrel, dir.path);
    EXPECT_EQ(typeInto(*vantrel, client, layoutText), layoutText);
    // With the second group locked, the same text still arrives.
    capture({"xdotool", "key", "ISO_Next_Group"}, {server.env()});
    std::string more = layoutText + "\r";
    EXPECT_EQ(vantrel->request({{"id", 2}, {"action", "type"}, {"text", more}}),
              (json{{"id", 2}, {"ok", true}}));
    EXPECT_EQ(client.received(layoutText.size() * 2 + 1), layoutText + layoutText + "\r");
}

TEST_F(X11Test, LosingTheServerRefusesGatedRequestsUntilANewOneComesUp) {
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "probe"}})["trusted"], true);
    EXPECT_EQ(vantrel->request({{"id", 2}, {"action", "mouse_move"}, {"x", 5}, {"y", 5}}),
              (json{{"id", 2}, {"ok", true}}));
    int display = server.number();
    server.stop();
    // The message stays what callers match; the detail says why.
    auto refused = [&](const std::string& detail) {
        return json{{"id", 3},
                    {"ok", false},
                    {"error", "Accessibility permission is not granted to the vantrel"},
                    {"detail", detail}};
    };
    EXPECT_EQ(vantrel->request({{"id", 3}, {"action", "left_click"}}),
              refused("the connection to " + server.name() + " was lost"));
    EXPECT_EQ(vantrel->request({{"id", 4}, {"action", "probe"}})["trusted"], false);
    EXPECT_EQ(vantrel->request({{"id", 3}, {"action", "type"}, {"text", "x"}}),
              refused("cannot open display " + server.name()));
    EXPECT_EQ(vantrel->request({{"id", 5}, {"action", "cursor_position"}}),
              (json{{"id", 5}, {"ok", true}, {"x", 0}, {"y", 0}}));
    XServer again(display);
    EXPECT_EQ(vantrel->request({{"id", 6}, {"action", "probe"}})["trusted"], true);
    EXPECT_EQ(vantrel->request({{"id", 7}, {"action", "mouse_move"}, {"x", 33}, {"y", 44}}),
              (json{{"id", 7}, {"ok", true}}));
    EXPECT_EQ(mouseLocation(again), std::make_pair(33, 44));
    EXPECT_EQ(vantrel->finish(), 0);
    vantrel.reset();
}

// The server goes away during a move and during a hold: each action stops there and fails with
// the reason, instead of answering success when its time is up; the next server is used.
TEST_F(X11Test, AServerLostDuringAnActionFailsThatAction) {
    int display = server.number();
    json lost = {{"ok", false},
                 {"error", "input connection lost"},
                 {"detail", "x11: the connection to " + server.name() + " closed"}};
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "mouse_move"}, {"x", 1}, {"y", 1}})["ok"],
              true);
    vantrel->send(
        {{"id", 2}, {"action", "mouse_move"}, {"x", 900}, {"y", 700}, {"durationMs", 3000}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.stop();
    lost["id"] = 2;
    EXPECT_EQ(vantrel->reply(), lost);
    EXPECT_EQ(vantrel->request({{"id", 3}, {"action", "ping"}}), (json{{"id", 3}, {"ok", true}}));

    XServer second(display);
    vantrel->send({{"id", 4}, {"action", "hold_key"}, {"text", "shift+a"}, {"holdMs", 600000}});
    EXPECT_TRUE(eventually([&] { return !keysDown(second).empty(); }));
    second.stop();
    lost["id"] = 4;
    EXPECT_EQ(vantrel->reply(), lost);

    XServer third(display);
    EXPECT_EQ(vantrel->request({{"id", 5}, {"action", "mouse_move"}, {"x", 33}, {"y", 44}}),
              (json{{"id", 5}, {"ok", true}}));
    EXPECT_EQ(mouseLocation(third), std::make_pair(33, 44));
    EXPECT_EQ(vantrel->finish(), 0);
    vantrel.reset();
}

// The driving program dies (its pipes closed by the system) while vantrel holds keys and a
// button, idle and during a hold: everything is released and vantrel exits 0.
TEST_F(X11Test, ADriverThatDiesLeavesNothingHeld) {
    for (bool duringAHold : {false, true}) {
        Vantrel driven(server.name(), dir.path + "/driven.err");
        EXPECT_EQ(driven.request({{"id", 1}, {"action", "key_down"}, {"text", "shift+ctrl"}})["ok"],
                  true);
        EXPECT_EQ(driven.request({{"id", 2}, {"action", "mouse_down"}, {"x", 40}, {"y", 40}})["ok"],
                  true);
        if (duringAHold) {
            driven.send({{"id", 3}, {"action", "hold_key"}, {"text", "a"}, {"holdMs", 600000}});
            EXPECT_TRUE(eventually([&] { return keysDown(server).size() == 3; }));
        }
        EXPECT_FALSE(buttonsDown(server).empty());
        EXPECT_EQ(driven.abandon(), 0);
        EXPECT_EQ(keysDown(server), std::set<int>{}) << "during a hold: " << duringAHold;
        EXPECT_EQ(buttonsDown(server), std::set<int>{}) << "during a hold: " << duringAHold;
    }
}

// Whether vantrel ends on SIGTERM while the server is frozen (SIGSTOP), which is thawed only
// once it has, or after a long while should vantrel hang, so that nothing is left stopped.
bool endsWhileTheServerIsFrozen(XServer& server, std::optional<Vantrel>& vantrel) {
    std::atomic<bool> thawed = false, ended = false;
    std::thread guard([&] {
        for (int i = 0; i < 300 && !ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        thawed = true;
        server.signal(SIGCONT);
    });
    int signal = vantrel->stopWith(SIGTERM);
    bool endedWhileFrozen = !thawed;
    ended = true;
    guard.join();
    server.signal(SIGCONT);
    vantrel.reset();
    EXPECT_EQ(signal, SIGTERM);
    return endedWhileFrozen;
}

// A frozen server never freezes vantrel: idle, or waiting for the server's answer in a request,
// it ends on a stop signal at once. (The releases it sends are lost: Xvfb, thawed, drops what a
// client that has gone sent it.)
TEST_F(X11Test, AFrozenServerDoesNotHoldOffAStop) {
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "key_down"}, {"text", "shift"}})["ok"], true);
    EXPECT_EQ(keysDown(server).size(), 1u);
    server.signal(SIGSTOP);
    EXPECT_TRUE(endsWhileTheServerIsFrozen(server, vantrel));

    vantrel.emplace(server.name(), errors);
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "key_down"}, {"text", "shift"}})["ok"], true);
    server.signal(SIGSTOP);
    // Reading the pointer for the click waits for the server.
    vantrel->send({{"id", 2}, {"action", "left_click"}, {"x", 10}, {"y", 10}, {"durationMs", -1}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(endsWhileTheServerIsFrozen(server, vantrel));
}

// Another program holds Shift: a combination or a character that needs it neither presses nor
// releases it, so it is still held afterwards.
TEST_F(X11Test, AModifierHeldByAnotherProgramIsNeverReleased) {
    capture({"xdotool", "keydown", "Shift_L"}, {server.env()});
    std::set<int> shift = keysDown(server);
    ASSERT_EQ(shift.size(), 1u);
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "key"}, {"text", "shift+a"}})["ok"], true);
    EXPECT_EQ(keysDown(server), shift);
    EXPECT_EQ(vantrel->request({{"id", 2}, {"action", "type"}, {"text", "A!"}})["ok"], true);
    EXPECT_EQ(keysDown(server), shift);
    EXPECT_EQ(
        vantrel->request(
            {{"id", 3}, {"action", "hold_key"}, {"text", "ctrl+shift+b"}, {"holdMs", 10}})["ok"],
        true);
    EXPECT_EQ(keysDown(server), shift);
    capture({"xdotool", "keyup", "Shift_L"}, {server.env()});
    EXPECT_EQ(keysDown(server), std::set<int>{});
}

// Another program holds Shift: text arrives as sent all the same (on keys and levels that still
// type each character), and a combination that does not name Shift is refused rather than sent
// with it. With Control held, typing would send shortcuts: refused, and nothing is typed.
TEST_F(X11Test, TextArrivesAsSentUnderAnotherProgramsShiftAndControlIsRefused) {
    TextClient client(server, *vantrel, dir.path);
    capture({"xdotool", "keydown", "Shift_L"}, {server.env()});
    std::set<int> shift = keysDown(server);
    std::string text = "hello World; 1/2 \u00e9\u4e16.";
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "type"}, {"text", text}}),
              (json{{"id", 1}, {"ok", true}}));
    json refused = vantrel->request({{"id", 2}, {"action", "key"}, {"text", "ctrl+u"}});
    EXPECT_EQ(refused["error"], "input not delivered");
    EXPECT_NE(refused["detail"].get<std::string>().find("Shift_L held by another program"),
              std::string::npos)
        << refused.dump();
    EXPECT_EQ(keysDown(server), shift);
    capture({"xdotool", "keyup", "Shift_L"}, {server.env()});

    capture({"xdotool", "keydown", "Control_L"}, {server.env()});
    refused = vantrel->request({{"id", 3}, {"action", "type"}, {"text", "uw"}});
    EXPECT_EQ(refused["error"], "input not delivered");
    EXPECT_NE(refused["detail"].get<std::string>().find("Control_L held"), std::string::npos)
        << refused.dump();
    capture({"xdotool", "keyup", "Control_L"}, {server.env()});
    // Nothing of the refused requests arrived: the terminal reads exactly the text and the end.
    EXPECT_EQ(vantrel->request({{"id", 4}, {"action", "type"}, {"text", "!"}})["ok"], true);
    EXPECT_EQ(client.received(text.size() + 1), text + "!");
    EXPECT_EQ(keysDown(server), std::set<int>{});
}

// Caps Lock locked by someone else: text arrives as sent, and Caps Lock is locked again after.
TEST_F(X11Test, TextArrivesAsSentUnderCapsLockWhichStaysLocked) {
    auto capsLocked = [&] {
        return capture({"xset", "q"}, {server.env()}).find("Caps Lock:   on") != std::string::npos;
    };
    TextClient client(server, *vantrel, dir.path);
    capture({"xdotool", "key", "Caps_Lock"}, {server.env()});
    ASSERT_TRUE(capsLocked());
    EXPECT_EQ(typeInto(*vantrel, client, "Hello World, 1!"), "Hello World, 1!");
    EXPECT_TRUE(capsLocked());
}

// Spare keycodes belong to the display: an idle vantrel that typed many characters the layout
// lacks gives its bindings back, and a second vantrel then types exactly.
TEST_F(X11Test, AnIdleVantrelGivesItsBindingsBackForASecondOne) {
    std::string before = keymapDump(server);
    std::string ideographs;
    for (char32_t c = 0x4E00; c < 0x4E00 + 80; ++c) {
        ideographs += utf8(c);
    }
    EXPECT_EQ(vantrel->request({{"id", 1}, {"action", "type"}, {"text", ideographs}})["ok"], true);
    EXPECT_NE(keymapDump(server), before);
    EXPECT_TRUE(eventually([&] { return keymapDump(server) == before; }));

    Vantrel second(server.name(), dir.path + "/second.err");
    TextClient client(server, second, dir.path);
    std::string text = "\u00e9\u4e16\u03b1\u0436\U0001F600\u00f1";
    EXPECT_EQ(typeInto(second, client, text), text);
}

// Another program has taken every spare keycode: a character the layout lacks cannot be typed,
// and the request says so instead of answering success.
TEST_F(X11Test, NoSpareKeycodeLeftIsAnErrorNotASilentDrop) {
    std::vector<std::string> xmodmap{"xmodmap"};
    std::istringstream keymap(capture({"xmodmap", "-pke"}, {server.env()}));
    for (std::string line; std::getline(keymap, line);) {
        int keycode = 0;
        char rest[8] = {};
        if (std::sscanf(line.c_str(), "keycode %d =%7s", &keycode, rest) == 1) {
            xmodmap.push_back("-e");
            xmodmap.push_back("keycode " + std::to_string(keycode) + " = F35");
        }
    }
    ASSERT_GT(xmodmap.size(), 1u);
    capture(xmodmap, {server.env()});
    EXPECT_EQ(
        vantrel->request({{"id", 1}, {"action", "type"}, {"text", "a\u4e16b"}}),
        (json{{"id", 1},
              {"ok", false},
              {"error", "input not delivered"},
              {"detail", "x11: the keymap has no key for U+4E16 and no spare keycode is free"}}));
    EXPECT_EQ(vantrel->request({{"id", 2}, {"action", "type"}, {"text", "ab"}}),
              (json{{"id", 2}, {"ok", true}}));
}

// A vantrel killed outright leaves its bindings in the keymap; the next vantrel that needs a
// spare keycode reclaims them, types exactly, and in the end the keymap is as it was.
TEST_F(X11Test, TheBindingsOfAKilledVantrelAreReclaimed) {
    std::string before = keymapDump(server);
    {
        Vantrel killed(server.name(), dir.path + "/killed.err");
        std::string ideographs;
        for (char32_t c = 0x4E00; c < 0x4E00 + 80; ++c) {
            ideographs += utf8(c);
        }
        EXPECT_EQ(killed.request({{"id", 1}, {"action", "type"}, {"text", ideographs}})["ok"],
                  true);
    } // killed with SIGKILL
    EXPECT_NE(keymapDump(server), before);
    TextClient client(server, *vantrel, dir.path);
    std::string text = "\u00e9\u4e16\u03b1\u0436\U0001F600\u00f1";
    EXPECT_EQ(typeInto(*vantrel, client, text), text);
    EXPECT_TRUE(eventually([&] { return keymapDump(server) == before; }));
}

// The code points of UTF-8 text, sorted: what arrived, whatever the order.
std::vector<char32_t> sortedCodePoints(const std::string& text) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t j = 1; j < length && i + j < text.size(); ++j)
            c = (c << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
        out.push_back(c);
        i += length;
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Two vantrels type characters the layout lacks into one terminal at the same time, with a busy
// loop taking a core: far more distinct characters than there are spare keycodes, so both bind,
// reuse and give back keycodes of the display while the other does. The characters interleave,
// but every one arrives, and none is replaced by another.
TEST_F(X11Test, TwoVantrelsTypingAbsentCharactersAtOnceAreExact) {
    TextClient client(server, *vantrel, dir.path);
    Vantrel second(server.name(), dir.path + "/second.err");
    Process busy({"sh", "-c", "while :; do :; done"}, {});
    std::string texts[2];
    for (char32_t c = 0; c < 150; ++c) {
        texts[0] += utf8(0x4E00 + c * 7) + (c % 10 ? "" : "a");
        texts[1] += utf8(0xAC00 + c * 11) + utf8(0x0430 + c % 32);
    }
    vantrel->send({{"id", 1}, {"action", "type"}, {"text", texts[0]}});
    second.send({{"id", 1}, {"action", "type"}, {"text", texts[1]}});
    EXPECT_EQ(vantrel->reply(), (json{{"id", 1}, {"ok", true}}));
    EXPECT_EQ(second.reply(), (json{{"id", 1}, {"ok", true}}));
    busy.stop();
    std::string arrived = client.received(texts[0].size() + texts[1].size());
    EXPECT_EQ(sortedCodePoints(arrived), sortedCodePoints(texts[0] + texts[1]));
    EXPECT_EQ(second.finish(), 0);
}

// The layout is changed twice while a text is typed: every character arrives as sent.
TEST_F(X11Test, TextArrivesExactlyAcrossLayoutChangesMidText) {
    TextClient client(server, *vantrel, dir.path);
    std::string text;
    const char* pieces[] = {"yz", "\u00e9", "\u0436", "\u4e16", "Q", "\u00df", "\u03b1", "1"};
    for (int i = 0; i < 240; ++i)
        text += pieces[i % std::size(pieces)];
    vantrel->send({{"id", 1}, {"action", "type"}, {"text", text}});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    capture({"setxkbmap", "-display", server.name(), "de"}, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    capture({"setxkbmap", "-display", server.name(), "us,ru"}, {});
    EXPECT_EQ(vantrel->reply(), (json{{"id", 1}, {"ok", true}}));
    EXPECT_EQ(client.received(text.size()), text);
}

TEST_F(X11Test, StopSignalsLeaveNoKeyNoButtonAndTheKeymapAsItWas) {
    const std::string keymap = keymapDump(server);
    auto stopped = [&](const json& request, const std::function<bool()>& holding, int signal) {
        Vantrel stopping(server.name(), errors);
        stopping.send(request);
        EXPECT_TRUE(eventually(holding)) << request.dump();
        EXPECT_EQ(stopping.stopWith(signal), signal) << request.dump();
        EXPECT_EQ(keysDown(server), std::set<int>{}) << request.dump() << " " << signal;
        EXPECT_EQ(buttonsDown(server), std::set<int>{}) << request.dump() << " " << signal;
        EXPECT_EQ(keymapDump(server), keymap) << request.dump() << " " << signal;
    };
    json hold = {{"action", "hold_key"}, {"text", "ctrl+shift+a"}, {"holdMs", 5000}};
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        stopped(
            hold, [&] { return keysDown(server).size() == 3; }, signal);
    stopped(
        {{"action", "left_click_drag"}, {"x", 300}, {"y", 300}, {"durationMs", 5000}},
        [&] { return buttonsDown(server) == std::set<int>{1}; }, SIGTERM);
    stopped(
        {{"id", 1}, {"action", "left_mouse_down"}, {"x", 20}, {"y", 20}},
        [&] { return buttonsDown(server) == std::set<int>{1}; }, SIGTERM);
    // Characters the keymap lacks bind spare keycodes; the stop must unbind them.
    std::string absent;
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c)
        absent += utf8(c);
    stopped(
        {{"action", "type"}, {"text", absent}}, [&] { return keymapDump(server) != keymap; },
        SIGTERM);
}

TEST_F(X11Test, ModifierClicksCarryTheirStateAndARightDragHoldsButtonThree) {
    XiObserver observer(server, *vantrel, dir.path);
    auto events =
        observer.during({{{"action", "left_click"}, {"x", 40}, {"y", 40}, {"modifiers", "shift"}},
                         {{"action", "key_down"}, {"text", "ctrl"}},
                         {{"action", "left_click"}, {"x", 60}, {"y", 40}},
                         {{"action", "key_up"}, {"text", "ctrl"}},
                         {{"action", "left_click"}, {"x", 80}, {"y", 40}}});
    auto presses = only(events, "ButtonPress", true);
    ASSERT_EQ(presses.size(), 3u);
    EXPECT_EQ(presses[0].modifiers & 0xFF, 0x1); // Shift
    EXPECT_EQ(presses[1].modifiers & 0xFF, 0x4); // Control
    EXPECT_EQ(presses[2].modifiers & 0xFF, 0x0);
    expectNothingHeld(events);

    events =
        observer.during({{{"action", "mouse_down"}, {"button", "right"}, {"x", 100}, {"y", 100}},
                         {{"action", "mouse_move"}, {"x", 200}, {"y", 150}},
                         {{"action", "mouse_up"}, {"button", "right"}, {"x", 200}, {"y", 150}}});
    EXPECT_EQ(buttonSequence(events), (std::vector<std::string>{"+3", "-3"}));
    EXPECT_GT(motionsHolding(events, 3), 5);
    expectNothingHeld(events);
    EXPECT_EQ(keysDown(server), std::set<int>{});
    EXPECT_EQ(buttonsDown(server), std::set<int>{});

    EXPECT_EQ(vantrel->request({{"id", 7}, {"action", "screen_size"}}),
              (json{{"id", 7}, {"ok", true}, {"width", 1280}, {"height", 800}}));
    EXPECT_EQ(vantrel->request({{"id", 8}, {"action", "version"}})["platform"], "x11");
}

TEST(X11WithoutServer, ProbeIsFalseAndNothingIsWritten) {
    TempDir dir;
    std::string errors = dir.path + "/stderr.txt";
    // A display number no server listens on.
    Vantrel vantrel(":4094", errors);
    EXPECT_EQ(vantrel.request({{"id", 1}, {"action", "probe"}}),
              (json{{"id", 1}, {"ok", true}, {"trusted", false}}));
    EXPECT_EQ(vantrel.request({{"id", 2}, {"action", "key"}, {"text", "a"}})["detail"],
              "cannot open display :4094");
    EXPECT_EQ(vantrel.finish(), 0);
    Vantrel unset("", errors);
    EXPECT_EQ(unset.request({{"id", 2}, {"action", "key"}, {"text", "a"}})["detail"],
              "DISPLAY is not set");
    EXPECT_EQ(unset.finish(), 0);
    struct stat info {};
    ASSERT_EQ(stat(errors.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
}

// A display without the keyboard extension (a forwarding display that says it is absent, since
// Xvfb always has it): nothing typed could arrive, so posting is refused with the reason, while
// what the core protocol answers still works.
TEST(X11WithoutXkeyboard, PostingIsRefusedAndThePointerAndScreenStillAnswer) {
    TempDir dir;
    XServer server;
    int number = 300;
    struct stat info {};
    while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &info) == 0 ||
           stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &info) == 0)
        ++number;
    std::string socketPath = "/tmp/.X11-unix/X" + std::to_string(number);
    Process forwarder({"python3", VANTREL_X11_SCRIPTS "/hide_extension.py", socketPath,
                       "/tmp/.X11-unix/X" + server.name().substr(1), "XKEYBOARD"},
                      {}, dir.path + "/forwarder.out");
    ASSERT_TRUE(eventually([&] { return stat(socketPath.c_str(), &info) == 0; }));
    std::string errors = dir.path + "/stderr.txt";
    Vantrel vantrel(":" + std::to_string(number), errors);
    EXPECT_EQ(vantrel.request({{"id", 1}, {"action", "probe"}}),
              (json{{"id", 1}, {"ok", true}, {"trusted", false}}));
    for (const char* action : {"type", "key"}) {
        json refused = vantrel.request({{"id", 2}, {"action", action}, {"text", "a"}});
        EXPECT_EQ(refused["ok"], false);
        EXPECT_EQ(refused["detail"], "the display has no XKEYBOARD extension");
    }
    json position = vantrel.request({{"id", 3}, {"action", "cursor_position"}});
    EXPECT_EQ(position["ok"], true) << position.dump();
    EXPECT_TRUE(position.contains("x")) << position.dump();
    json size = vantrel.request({{"id", 4}, {"action", "screen_size"}});
    EXPECT_EQ(size["width"], 1280) << size.dump();
    EXPECT_EQ(size["height"], 800) << size.dump();
    EXPECT_EQ(vantrel.finish(), 0);
    forwarder.stop();
    unlink(socketPath.c_str());
    ASSERT_EQ(stat(errors.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
}

} // namespace
} // namespace vantrel::testing
