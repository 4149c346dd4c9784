// Text that key events cannot carry. A key event gives a client one keysym, and some clients
// (Chromium among them) turn its character into a single UTF-16 unit, so a character beyond the
// Basic Multilingual Plane typed on a key arrives cut to its low 16 bits. A client that takes
// text from an input method (text-input) receives such a cluster whole when vantrel, as the
// seat's input method, commits it.
//
// A seat has one input method. vantrel asks to be it only when a text needs it, and gives it
// back once idle for a second, so that another vantrel or the user's own input method can have
// it; while it is vantrel's, clients keep their text input on. When another program has it, the
// compositor says so at once: vantrel asks again for a while (an idle vantrel gives it back),
// then fails the request rather than cut the cluster on keys.

#include "input-method-unstable-v2-client-protocol.h"
#include "platform/wayland/compositor.h"
#include "support/posix/fd_wait.h"

#include <algorithm>
#include <cstdio>

namespace vantrel::platform::wayland {

namespace {

// How long a new input method waits for the focused client to take text from it: the
// compositor announces the input method to the client, which turns its text input on. A client
// that has none never does, and its first such text waits this long once.
constexpr auto activationWait = std::chrono::milliseconds(200);

// How long a text waits for the seat's input method while another program has it, asking again
// this often: longer than an idle vantrel keeps it.
constexpr auto seatWait = std::chrono::milliseconds(2000);
constexpr auto seatRetry = std::chrono::milliseconds(50);

// Key events and commits reach a client by different objects, and a client may not handle them
// in the order they came: GTK emits a commit as it reads it, but a key event only when its main
// loop takes it from its queue, so a commit right after a key overtakes it. A commit therefore
// waits until the client has handled the keys before it: until the text before its cursor, which
// a client that takes text input reports after each change, ends with what they typed (at most
// keysHandledWait), or, for a client that reports no text or keys that typed none, for
// keysRest after the last key. A client whose report does not come in time is given the rest
// for as long as its text input stays active.
constexpr auto keysHandledWait = std::chrono::milliseconds(100);
constexpr auto keysRest = std::chrono::milliseconds(20);
// How much of the text typed since the last commit is compared: enough to tell the report that
// follows the last key from the ones before it, and within what clients report around a cursor.
constexpr size_t comparedCharacters = 8;

// A client that moves its focus itself (Chromium on a Tab another program pressed) may take a
// commit after the move and drop it, and tells the compositor that its text input is off only
// afterwards: 3 to 7 ms after the commit in the losses measured. A client that restates its text
// input (foot, when a keyboard joins the seat) drops every commit that reached it after, and
// tells the compositor once it has handled them: 22 ms after the oldest it dropped, measured. A
// focus that leaves, or a restating, within this long of commits (and not just after vantrel's
// own key or click) fails the request as one whose commits since may not have arrived; the
// request's reply waits as long after its last commit.
constexpr auto commitSettle = std::chrono::milliseconds(100);

// The oldest commit that a client stopping or restating its text input now may have dropped.
std::string mayBeDropped(const InputMethod& method, Clock::time_point now) {
    for (const auto& [at, units] : method.recentCommits)
        if (now - at <= commitSettle) return units;
    return {};
}

void activate(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->pendingActive = true;
    method->activated = true;
    method->pendingBeforeCursor.reset(); // a new text input states its text afresh
    // Keys sent before went to the client that had the focus then.
    method->keysSinceCommit = false;
    method->expected.clear();
    method->reportsKeys = true;
}
void deactivate(void* data, zwp_input_method_v2*) {
    static_cast<InputMethod*>(data)->pendingActive = false;
}
void surroundingText(void* data, zwp_input_method_v2*, const char* text, uint32_t cursor,
                     uint32_t) {
    std::string_view all(text ? text : "");
    auto* method = static_cast<InputMethod*>(data);
    method->pendingBeforeCursor = std::string(all.substr(0, std::min<size_t>(cursor, all.size())));
    method->reported = true;
}
void textChangeCause(void*, zwp_input_method_v2*, uint32_t) {}
void contentType(void*, zwp_input_method_v2*, uint32_t, uint32_t) {}
void done(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    Clock::time_point now = Clock::now();
    bool soonAfterCommit =
        now - method->lastUse <= commitSettle && now - method->focusMayMove > activationWait;
    // An activate while active: the client states its text input afresh, and drops a commit
    // answered against its earlier state.
    if (method->active && (!method->pendingActive || method->activated)) {
        method->deactivatedAt = now;
        ++method->deactivations;
        if (soonAfterCommit && method->crossed.empty())
            method->crossed = mayBeDropped(*method, now);
    } else if (method->active && method->commits > 0) {
        // The client stated its text input again: in answer to the first commit, or with its
        // text, it is one that answers commits; from one that does not, a restating (foot's when
        // a keyboard joins the seat), which drops a commit that crossed it.
        if (method->answers == InputMethod::Answers::unknown &&
            (method->commits == 1 || method->reported))
            method->answers = InputMethod::Answers::yes;
        else if (method->answers != InputMethod::Answers::yes && !method->reported &&
                 soonAfterCommit && method->crossed.empty())
            method->crossed = mayBeDropped(*method, now);
        method->answered = true;
    }
    if (method->active != method->pendingActive || method->activated) {
        method->commits = 0;
        method->answers = InputMethod::Answers::unknown;
    }
    method->activated = method->reported = false;
    method->active = method->pendingActive;
    method->beforeCursor = method->pendingBeforeCursor;
    ++method->serial;
}
void unavailable(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->unavailable = true;
    method->active = method->pendingActive = false;
}
const zwp_input_method_v2_listener listener = {
    activate, deactivate, surroundingText, textChangeCause, contentType, done, unavailable};

bool outsideTheBasicPlane(std::span<const uint16_t> units) {
    return std::any_of(units.begin(), units.end(),
                       [](uint16_t unit) { return unit >= 0xD800 && unit < 0xE000; });
}

// The code point that starts at units[i], moving i past it; a lone surrogate becomes U+FFFD, as
// nothing can carry it.
char32_t nextCodePoint(std::span<const uint16_t> units, size_t& i) {
    char32_t c = units[i++];
    if (c >= 0xD800 && c < 0xDC00 && i < units.size() && units[i] >= 0xDC00 && units[i] < 0xE000)
        return 0x10000 + ((c - 0xD800) << 10) + (units[i++] - 0xDC00);
    return c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
}

// UTF-16 to UTF-8.
std::string utf8Of(std::span<const uint16_t> units) {
    std::string text;
    for (size_t i = 0; i < units.size();) {
        char32_t c = nextCodePoint(units, i);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// The end of `text`: its last `characters` code points.
std::string lastCharacters(const std::string& text, size_t characters) {
    size_t at = text.size();
    while (at > 0 && characters > 0) {
        --at;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) --characters;
    }
    return text.substr(at);
}

// Sends what is queued and waits until `until`, so that the client has that long to handle it.
void restUntil(Compositor& c, Clock::time_point until) {
    if (Clock::now() >= until) return;
    wl_display_flush(c.display.get());
    sleepUntil(until);
}

bool keysHandled(const InputMethod& method) {
    return method.beforeCursor && method.beforeCursor->ends_with(method.expected);
}

// Waits until the client has handled the keys sent since the last commit (see keysHandledWait).
void awaitKeys(Compositor& c) {
    InputMethod& method = c.inputMethod;
    if (!method.keysSinceCommit) return;
    wl_display* display = c.display.get();
    if (method.beforeCursor && !method.expected.empty() && method.reportsKeys) {
        Clock::time_point until = Clock::now() + keysHandledWait;
        while (!keysHandled(method) && method.active && wl_display_get_error(display) == 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) {
                // No report came for them: this client is given the rest from now on.
                method.reportsKeys = false;
                break;
            }
            readEvents(c, left);
        }
    } else {
        restUntil(c, c.lastKey + keysRest);
    }
}

// Reads what the compositor sends until `done` holds, `until` passes, the connection breaks or a
// stop comes.
template <typename Done> void readUntil(Compositor& c, Clock::time_point until, Done done) {
    while (!done() && wl_display_get_error(c.display.get()) == 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || !takePendingSignals()) return;
        readEvents(c, left);
    }
}

// Reads what the compositor sends until the focused client takes text, the seat is refused, or
// `until` passes.
void awaitActivation(Compositor& c, Clock::time_point until) {
    const InputMethod& method = c.inputMethod;
    readUntil(c, until, [&] { return method.active || method.unavailable; });
}

// The code points of a cluster, as "U+1F600 U+1F3FD".
std::string codePoints(std::span<const uint16_t> units) {
    std::string out;
    for (size_t i = 0; i < units.size();) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(nextCodePoint(units, i)));
        out += (out.empty() ? "" : " ") + std::string(code);
    }
    return out;
}

// Whether the commit just sent reached the client, as far as can be told. The focus may move
// at any moment, by the compositor (a click, another program) or within the client (a field
// left), and a commit that meets a client no longer taking text is dropped. The compositor
// handles requests in order: when the client stopped taking text before the compositor handled
// the commit, the deactivation comes before the answer to a round trip sent after it, and the
// commit may have gone nowhere. (A client that leaves a field on its own tells the compositor
// only later: that case a round trip cannot see.)
bool commitTaken(Compositor& c) {
    uint32_t deactivations = c.inputMethod.deactivations;
    return roundTrip(c) && c.inputMethod.deactivations == deactivations;
}

// Asks to be the seat's input method; while another program is (the compositor answers
// `unavailable` at once), asks again every `seatRetry` until `seatWait` has passed: an idle
// vantrel gives it back within `idleKeep`. False when it stays taken, or a stop came.
bool becomeInputMethod(Compositor& c) {
    InputMethod& method = c.inputMethod;
    Clock::time_point until = Clock::now() + seatWait;
    for (;;) {
        if (method.object && method.unavailable) {
            // The compositor sends nothing more to a refused input method; it is only destroyed.
            zwp_input_method_v2_destroy(method.object);
            method = InputMethod{};
        }
        if (!method.object) {
            method.object =
                zwp_input_method_manager_v2_get_input_method(c.inputMethodManager, c.seat);
            zwp_input_method_v2_add_listener(method.object, &listener, &method);
            if (!roundTrip(c)) return false;
        }
        if (!method.unavailable) return true;
        if (Clock::now() >= until || !sleepUntil(std::min(until, Clock::now() + seatRetry)))
            return false;
    }
}

} // namespace

Commit commitThroughInputMethod(Compositor& c, std::span<const uint16_t> units) {
    InputMethod& method = c.inputMethod;
    if (!outsideTheBasicPlane(units) || !c.inputMethodManager) return Commit::keys;
    if (!method.object || method.unavailable) {
        if (!becomeInputMethod(c)) {
            // On keys the cluster would reach many clients cut to one UTF-16 unit.
            if (c.undelivered.empty())
                c.undelivered = "wayland: another program keeps the seat's input method, so "
                                "text beyond the Basic Multilingual Plane cannot reach the "
                                "focused client whole; nothing more was typed";
            return Commit::refused;
        }
        awaitActivation(c, Clock::now() + activationWait);
    } else {
        // A key or a click just sent may move the focus, to a field or away from one, and the
        // client tells the compositor only once it has handled them: it is given the rest after
        // them before the compositor is asked, and, when its text input is off then, what is
        // left of the activation wait since them (a field it turns text input on for). Another
        // program may have moved the focus too: the client it went to is given the activation
        // wait since the last one stopped taking text.
        Clock::time_point moved = method.focusMayMove;
        restUntil(c, moved + keysRest);
        roundTrip(c);
        if (!method.active)
            awaitActivation(c, std::max(moved, method.deactivatedAt) + activationWait);
    }
    if (!method.active || method.unavailable) return Commit::keys;
    awaitKeys(c);
    if (!method.active) return Commit::keys; // focus moved meanwhile
    if (method.commits == 1 && method.answers == InputMethod::Answers::unknown) {
        // Whether the client answers commits (Chromium within a millisecond): given as long
        // after the first as a restating is watched for.
        readUntil(c, method.lastUse + commitSettle,
                  [&] { return method.answered || !method.active; });
        if (!method.answered) method.answers = InputMethod::Answers::no;
        checkCommits(c, false);
        if (!c.undelivered.empty()) return Commit::refused;
        if (!method.active) return Commit::keys;
    }
    std::string text = utf8Of(units);
    zwp_input_method_v2_commit_string(method.object, text.c_str());
    zwp_input_method_v2_commit(method.object, method.serial);
    method.lastUse = Clock::now();
    while (!method.recentCommits.empty() &&
           method.lastUse - method.recentCommits.front().first > commitSettle)
        method.recentCommits.pop_front();
    method.recentCommits.emplace_back(method.lastUse, codePoints(units));
    ++method.commits;
    method.answered = false;
    method.expected = lastCharacters(text, comparedCharacters);
    method.keysSinceCommit = false;
    if (!commitTaken(c)) {
        if (c.undelivered.empty())
            c.undelivered = "wayland: the focused client stopped taking text while " +
                            codePoints(units) +
                            " was committed, and may not have received it; nothing more was "
                            "typed";
        return Commit::refused;
    }
    checkCommits(c, false);
    return c.undelivered.empty() ? Commit::committed : Commit::refused;
}

void checkCommits(Compositor& c, bool settle) {
    InputMethod& method = c.inputMethod;
    if (!method.object) return;
    if (settle)
        readUntil(c, method.lastUse + commitSettle, [&] { return !method.crossed.empty(); });
    if (method.crossed.empty() || !c.undelivered.empty()) return;
    c.undelivered = "wayland: the focused client stopped taking text, or restated it, within " +
                    std::to_string(commitSettle.count()) + " ms of the commit of " +
                    method.crossed +
                    " (another program moved its focus, or a keyboard joined the seat), and may "
                    "not have received that or what followed";
    if (!settle) c.undelivered += "; nothing more was typed";
}

uint32_t giveBackInputMethodWhenIdle(Compositor& c) {
    InputMethod& method = c.inputMethod;
    if (!method.object) return 0;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(method.lastUse + idleKeep -
                                                                      Clock::now());
    if (left.count() > 0) return static_cast<uint32_t>(left.count());
    zwp_input_method_v2_destroy(method.object);
    method = InputMethod{};
    wl_display_flush(c.display.get());
    return 0;
}

void typedOnKeys(Compositor& c, std::span<const uint16_t> units) {
    InputMethod& method = c.inputMethod;
    // A line end or a tab moves the cursor or the focus rather than adding itself to the text.
    bool text = !units.empty() &&
                std::none_of(units.begin(), units.end(), [](uint16_t unit) { return unit < 0x20; });
    if (!text) {
        method.expected.clear();
        method.focusMayMove = Clock::now();
    } else if (!method.keysSinceCommit || !method.expected.empty()) {
        method.expected = lastCharacters(method.expected + utf8Of(units), comparedCharacters);
    }
    method.keysSinceCommit = true;
}

void clicked(Compositor& c) {
    c.inputMethod.focusMayMove = Clock::now();
}

// GNOME: IBus. The same race as above, with one more step: a key goes from mutter to gnome-shell,
// which hands it to the global engine (vantrel's, now) and sends it on to the client only once
// the engine has answered, while a commit goes from the engine to gnome-shell, which passes it
// on at once. A commit therefore waits until the engine has been handed every key sent before
// it, then until the client has handled them as above. Commits that reach a client in one frame
// are lost but the last, so each commit is waited for the same way.
namespace {

// How long the engine is given, after the switch, to learn which input context it serves.
constexpr auto engageWait = std::chrono::milliseconds(1000);
// How long a commit waits for the engine to be handed the keys sent before it.
constexpr auto keysToEngineWait = std::chrono::milliseconds(200);
// How long a commit waits for a client's report that it has handled the keys before it, and the
// next key or commit for its report of the commit. Longer than on wlroots: a GTK 4 entry drawing
// its first colour emoji reports only after loading the font, well beyond 100 ms, and a commit
// sent before that report is lost. A client that lets it pass once is given the rest from then
// on, until the focus moves.
constexpr auto reportWait = std::chrono::milliseconds(1000);
// How long a client that has not reported the text around its cursor since it took the focus is
// given for a first report, once: a client that never reports (foot), or reports only after
// commits (Chromium), pays it once per focus.
constexpr auto firstReportWait = std::chrono::milliseconds(500);

// The daemon's placeholder context has the engine while no text field has the focus: what is
// committed there goes nowhere.
bool textFieldFocused(const IBusState& state) {
    return state.engaged && state.focused && state.client != "fake" &&
           state.context.starts_with("/") &&
           state.context != "/org/freedesktop/IBus/InputContext_1";
}

// Waits until `done` holds for the engine's state or `until` passes; whether it held.
template <typename Done> bool awaitState(IBus& ibus, Clock::time_point until, Done done) {
    for (;;) {
        if (done(ibusState(ibus))) return true;
        if (!awaitIBus(ibus, until)) return done(ibusState(ibus));
    }
}

bool ibusFailed(Compositor& c, const std::string& why) {
    if (c.undelivered.empty()) c.undelivered = "gnome: " + why + "; nothing more was typed";
    return false;
}

} // namespace

bool ibusRoute(Compositor& c, bool needed) {
    if (c.device != Device::mutter) return false;
    if (!c.ibusAsked) {
        c.ibusAsked = true;
        c.ibusActivationAwaited = false;
        // A daemon that went away (gnome-shell restarted it) is found afresh.
        if (c.ibus && ibusState(*c.ibus).closed) c.ibus.reset();
        std::string why;
        if (!c.ibus) c.ibus = openIBus(why);
        if (!c.ibus) return false;
        IBusState state = engageIBus(*c.ibus, Clock::now() + engageWait);
        c.ibusKeysBefore = state.keysSeen;
        c.ibusKeptBefore = state.keysKept;
        c.keysSinceEngaged = 0;
    }
    if (!c.ibus) return false;
    // A window that has just taken the keyboard turns its text input on a moment later.
    if (needed && !c.ibusActivationAwaited && !textFieldFocused(ibusState(*c.ibus))) {
        c.ibusActivationAwaited = true;
        if (ibusState(*c.ibus).engaged)
            awaitState(*c.ibus, Clock::now() + activationWait, textFieldFocused);
    }
    return textFieldFocused(ibusState(*c.ibus));
}

void ibusGuardKey(Compositor& c, xkb_keycode_t keycode) {
    if (!c.ibusAsked || !c.ibus || !textFieldFocused(ibusState(*c.ibus))) return;
    xkb_keysym_t keysym = xkb_state_key_get_one_sym(c.state.get(), keycode);
    // A modifier key of vantrel's own changes the seat's modifiers whatever the engine answers.
    if ((keysym >= XKB_KEY_Shift_L && keysym <= XKB_KEY_Hyper_R) ||
        (keysym >= XKB_KEY_ISO_Lock && keysym <= XKB_KEY_ISO_Level5_Lock))
        return;
    guardKey(*c.ibus, keycode - 8, keysym,
             xkb_state_serialize_mods(c.state.get(), XKB_STATE_MODS_EFFECTIVE));
}

bool ibusKeptKeys(Compositor& c) {
    if (!c.ibusAsked || !c.ibus) return false;
    IBusState state = ibusState(*c.ibus);
    if (state.keysKept == c.ibusKeptBefore) return false;
    if (c.undelivered.empty()) {
        static constexpr std::pair<uint32_t, const char*> names[] = {
            {0x1, "Shift"}, {0x2, "Caps Lock"}, {0x4, "Control"}, {0x8, "Alt"},
            {0x20, "Mod3"}, {0x40, "Super"},    {0x80, "AltGr"}};
        std::string held;
        for (const auto& [mask, name] : names)
            if (state.keptUnder & mask) held += (held.empty() ? "" : ", ") + std::string(name);
        c.undelivered =
            "gnome: " +
            (held.empty() ? std::string("the seat's keyboard state (another layout group?)")
                          : held + " held by another program or a person") +
            " would have made vantrel's key type another character or a shortcut (vantrel does "
            "not release what it did not press), so the key was kept from the client and "
            "nothing more was typed";
    }
    return true;
}

Clock::time_point ibusHasKeys(Compositor& c) {
    if (!c.ibusAsked || !c.ibus || !textFieldFocused(ibusState(*c.ibus))) return c.lastKey;
    awaitState(*c.ibus, Clock::now() + keysToEngineWait, [&](const IBusState& state) {
        return state.keysSeen - c.ibusKeysBefore >= c.keysSinceEngaged;
    });
    return Clock::now();
}

bool commitThroughIBus(Compositor& c, std::span<const uint16_t> units) {
    if (!c.ibus) return ibusFailed(c, "IBus is gone, so " + codePoints(units) + " cannot be typed");
    IBus& ibus = *c.ibus;
    InputMethod& method = c.inputMethod;
    if (uint64_t focus = ibusState(ibus).focusChanges; focus != c.ibusFocus) {
        c.ibusFocus = focus;
        method.reportsKeys = true;
        c.ibusSilent = false;
    }
    // Whether a report is to be waited for: from a client that reports, and from one that has
    // not reported yet since it took the focus (a fresh GTK 4 entry reports its first keys only
    // after a while, and a commit sent before that lands ahead of them), once.
    auto awaitReport = [&](auto done) {
        bool reported = ibusState(ibus).beforeCursor.has_value();
        if (!method.reportsKeys || (!reported && c.ibusSilent)) {
            sleepUntil(Clock::now() + keysRest);
            return;
        }
        if (awaitState(ibus, Clock::now() + (reported ? reportWait : firstReportWait), done))
            return;
        if (ibusState(ibus).beforeCursor)
            method.reportsKeys = false;
        else
            c.ibusSilent = true;
    };
    if (method.keysSinceCommit) {
        if (c.remote) settleRemoteDesktop(*c.remote, true);
        awaitState(ibus, Clock::now() + keysToEngineWait, [&](const IBusState& state) {
            return state.keysSeen - c.ibusKeysBefore >= c.keysSinceEngaged;
        });
        auto handled = [&](const IBusState& state) {
            return state.beforeCursor && state.beforeCursor->ends_with(method.expected);
        };
        if (method.expected.empty())
            sleepUntil(Clock::now() + keysRest);
        else
            awaitReport(handled);
    }
    IBusState state = ibusState(ibus);
    if (!textFieldFocused(state)) {
        // gnome-shell puts its own engine back for a password field: vantrel's is asked for
        // again.
        state = engageIBus(ibus, Clock::now() + engageWait);
        if (!textFieldFocused(state))
            return ibusFailed(c, state.closed ? "the connection to IBus closed before " +
                                                    codePoints(units) + " was committed"
                                              : "no text field has the focus, so " +
                                                    codePoints(units) + " cannot be committed");
    }
    std::string text = utf8Of(units);
    commitIBus(ibus, text);
    method.expected = lastCharacters(text, comparedCharacters);
    method.keysSinceCommit = false;
    auto arrived = [&](const IBusState& now) {
        return now.focusChanges != state.focusChanges ||
               (now.beforeCursor && now.beforeCursor->ends_with(method.expected));
    };
    awaitReport(arrived);
    if (ibusState(ibus).focusChanges != state.focusChanges)
        return ibusFailed(c, "the focus moved while " + codePoints(units) +
                                 " was committed, and it may not have arrived");
    return true;
}

void endIBus(Compositor& c, bool wait) {
    if (!c.ibusAsked) return;
    c.ibusAsked = false;
    if (c.ibus && !ibusState(*c.ibus).closed) releaseIBus(*c.ibus, wait);
}

void destroyInputMethod(Compositor& c) {
    if (c.inputMethod.object) zwp_input_method_v2_destroy(c.inputMethod.object);
    if (c.inputMethodManager) zwp_input_method_manager_v2_destroy(c.inputMethodManager);
    c.inputMethod = {};
    c.inputMethodManager = nullptr;
}

} // namespace vantrel::platform::wayland
