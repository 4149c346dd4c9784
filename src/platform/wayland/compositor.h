#pragma once
// What the Wayland implementation keeps while it is connected: the compositor connection, the
// one virtual pointer and one virtual keyboard it offers, the input method it may have become,
// the keymap vantrel uploaded, and what vantrel holds pressed. Internal to src/platform/wayland.

#include "platform/wayland/ibus.h"
#include "platform/wayland/remote_desktop.h"
#include "platform/xkb/keysyms.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwp_input_method_manager_v2;
struct zwp_input_method_v2;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct org_kde_kwin_fake_input;

namespace vantrel::platform::wayland {

using Clock = std::chrono::steady_clock;

struct DisplayDisconnect {
    void operator()(wl_display* display) const noexcept { wl_display_disconnect(display); }
};
using xkb::KeymapUnref;
using xkb::StateUnref;

// An output as the compositor announces it: its place in the layout and its size there. The
// xdg output's logical box is exact; without it, the box is worked out from the mode, the
// transform and the (integer) scale, which a fractional scale rounds up.
struct Output {
    wl_output* output = nullptr;
    zxdg_output_v1* logical = nullptr;
    uint32_t name = 0;
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0; // of the current mode, in pixels
    int32_t scale = 1;
    int32_t transform = 0; // WL_OUTPUT_TRANSFORM_*: the odd ones turn it a quarter
    std::string connector; // its name (wl_output version 4), which GNOME's screen casts take
    bool fresh = true;     // bound, and what it says of itself not yet read
    bool hasLogical = false;
    int32_t logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;
};

// Where a keysym is typed: a keycode of the keymap, and whether its level needs Shift, or the
// third-level shift (AltGr; only in a keymap vantrel did not make).
struct KeyPlace {
    xkb_keycode_t keycode = 0;
    bool shift = false;
    bool levelThree = false;
};

// A key held down, and the modifier keys pressed before it, released after it.
struct Stroke {
    xkb_keycode_t keycode = 0;
    std::vector<xkb_keycode_t> modifiers;
};

// The seat's input method, once vantrel has asked to be it: whether the focused client takes
// text from it now, as of the last `done`, and how many `done`s have come (a commit names the
// state it answers).
struct InputMethod {
    zwp_input_method_v2* object = nullptr;
    bool pendingActive = false; // as activate and deactivate say, until the next done
    bool active = false;
    bool unavailable = false; // another input method has the seat
    uint32_t serial = 0;
    // The text before the client's cursor, as its last state reported it (empty when it does
    // not report one), and the same as the next done will make it.
    std::optional<std::string> beforeCursor, pendingBeforeCursor;
    // What the client should show before its cursor once it has handled the keys sent since the
    // last commit: the end of that commit and the text typed on keys after it. Empty when those
    // keys did something else than type text, or there were none.
    std::string expected;
    bool keysSinceCommit = false;
    // Whether the client's reports follow what keys type (Chromium reports its text only after
    // commits); until a wait for one runs out, each activation is taken to.
    bool reportsKeys = true;
    // When a key that types no text or a button last went to the client: either may move its
    // focus, and it turns its text input off and on only as it handles them.
    Clock::time_point focusMayMove;
    // When the focused client last stopped taking text (another program moved the focus, say),
    // and when vantrel last committed: the seat's input method is given back once idle.
    Clock::time_point deactivatedAt, lastUse;
    // How many times the focused client stopped taking text, or stated it afresh.
    uint32_t deactivations = 0;
    bool activated = false; // an activate came since the last done
    // The code points of the commits of the last `commitSettle` (the last at `lastUse`), oldest
    // first. A client that moves its focus itself tells the compositor only after it has dropped
    // the commits that met the move, so a focus moved by another program soon after a commit
    // means it may be lost (`crossed` names the oldest that may).
    std::deque<std::pair<Clock::time_point, std::string>> recentCommits;
    std::string crossed;
    // Commits to the client since it last took text, and whether it answers each by stating its
    // text input again (Chromium, GTK) or states it only when something else changes (foot):
    // for the latter, a state soon after a commit is a restating that may have crossed it.
    uint32_t commits = 0;
    enum class Answers { unknown, yes, no } answers = Answers::unknown;
    bool answered = false; // a state came since the last commit
    bool reported = false; // the state the next done completes holds the client's text
};

// How events reach the compositor: wlroots' virtual pointer and keyboard, with a keymap of
// vantrel's own; KWin's fake input device; or mutter's remote desktop session on the session
// bus. The last two press keys that the seat's own keymap decodes.
enum class Device { wlroots, kwin, mutter };

struct Compositor {
    Device device = Device::wlroots;
    std::unique_ptr<wl_display, DisplayDisconnect> display;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager = nullptr;
    zxdg_output_manager_v1* outputManager = nullptr; // optional
    // Each output's listener holds its address: they stay where they are while the list changes.
    std::vector<std::unique_ptr<Output>> outputs;
    zwlr_virtual_pointer_v1* pointer = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    zwp_input_method_manager_v2* inputMethodManager = nullptr; // optional
    org_kde_kwin_fake_input* fakeInput = nullptr;
    uint32_t fakeInputVersion = 0;
    bool kdeGlobals = false; // the compositor announced KDE's own interfaces: it is KWin
    // The seat's keyboard, read for the keymap the compositor decodes fake keys with.
    wl_keyboard* seatKeyboard = nullptr;
    std::string seatKeymap;
    // GNOME: the remote desktop session, and the monitors its screen casts show, in its order.
    RemoteDesktopSession remote;
    std::vector<std::string> castConnectors;
    // GNOME: vantrel's IBus engine, global while the current request needs it; whether this
    // request has asked for it, and the key events sent since it became global.
    IBusConnection ibus;
    bool ibusAsked = false, ibusActivationAwaited = false;
    uint64_t ibusKeysBefore = 0, keysSinceEngaged = 0;
    uint64_t ibusKeptBefore = 0;       // the engine's count of kept keys when it was engaged
    std::vector<xkb_keycode_t> unsent; // key presses not sent, whose releases are not either
    uint64_t ibusFocus = 0;            // the engine's focus change the commits last went to
    // Whether the focused client has let a first report pass since it took the focus: it does
    // not report the text around its cursor at all (foot), and gets rests.
    bool ibusSilent = false;
    InputMethod inputMethod;

    // The layout's keymap (xkbcommon's defaults, which follow the XKB_DEFAULT_* convention), and
    // the keymap uploaded: the layout plus keys for characters it lacks.
    std::unique_ptr<xkb_keymap, KeymapUnref> base;
    std::string baseText;
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;
    std::unique_ptr<xkb_state, StateUnref> state; // what the compositor was told is down
    std::unordered_map<xkb_keysym_t, KeyPlace> places;
    std::vector<xkb_keycode_t> spare; // keycodes of the layout with no symbols
    std::vector<xkb_keysym_t> added;  // the keysyms on spare keys, in the order of `spare`
    xkb_keycode_t shiftKey = 0, levelThreeKey = 0;
    // The keysyms the text being typed lacks, in order; the keymap takes them 48 at a time.
    std::vector<xkb_keysym_t> upcoming;

    // Why something the current request typed could not be delivered; empty when all went out.
    std::string undelivered;

    Clock::time_point lastKey;       // when a key last went down or up
    bool modifiersChanged = false;   // and whether it changed the modifiers
    xkb_keycode_t lastPressed = 0;   // that key, when it went down
    std::map<uint32_t, Stroke> held; // by the core's key code, typed text or media key
    Point position;                  // where vantrel last put the pointer
};

// The one connection, when there is one.
std::optional<Compositor>& compositor();

// Why the last trust check said no, in a few words; empty when it said yes.
std::string& refusalDetail();

// Sends what is queued, then reads and handles what the compositor sent, waiting up to `wait`
// for something to come.
void readEvents(Compositor& c, std::chrono::milliseconds wait);

// Sends what is queued and waits until the compositor has handled it, in a wait that a stop ends:
// a frozen compositor must not hold vantrel. Once a stop has come, the compositor has a short
// grace in all to answer what releasing needs, then nothing more is waited for. False when it did
// not answer.
bool roundTrip(Compositor& c);

// Milliseconds for an event's time stamp.
uint32_t now();

// The keymap: read the layout (at connection), add the keysyms of text about to be typed, and
// render key events on its keys. KWin's fake keys are decoded with the seat's keymap, which
// gains nothing: a character it lacks goes by keysym where KWin takes that (version 6), and
// text with one it cannot type is refused before anything is posted.
bool loadLayout(Compositor& c);
bool canType(Compositor& c, std::span<const uint16_t> units);
void expectText(Compositor& c, std::span<const uint16_t> units);
void postKey(Compositor& c, const EventRecord& event);
void postSystem(Compositor& c, const EventRecord& event);
void releaseKeys(Compositor& c);

// Text beyond what key events carry: a cluster with characters outside the Basic Multilingual
// Plane is committed through the input method when the focused client takes text from one.
// `keys` when the focused client takes no text input, or the compositor has no input methods:
// the cluster is then typed on keys. `refused` when another program keeps the seat's input
// method: the cluster cannot be delivered whole, and `undelivered` says so.
enum class Commit { committed, keys, refused };
Commit commitThroughInputMethod(Compositor& c, std::span<const uint16_t> units);
// Gives the seat's input method back once vantrel has not committed for `idleKeep`, so that
// another vantrel, or the user's own input method, can have it; the microseconds until then.
uint32_t giveBackInputMethodWhenIdle(Compositor& c);
inline constexpr auto idleKeep = std::chrono::seconds(1);
// What the client was sent on keys since, to be handled before the next commit: a cluster of
// text, or (no units) a key that types none.
void typedOnKeys(Compositor& c, std::span<const uint16_t> units);
// A button went down or up: the focus may move.
void clicked(Compositor& c);
// Why a commit of this request may not have reached the client (see InputMethod::crossed), in
// `undelivered`; with `settle`, after waiting until the last commit is far enough behind.
void checkCommits(Compositor& c, bool settle);
void destroyInputMethod(Compositor& c);

// GNOME: characters the layout lacks are committed through IBus, by vantrel's own engine made
// the global one for the rest of the request (each text request makes it so, so that its keys
// can be paced by it). Whether that route is open now: IBus runs, and a text field has the
// focus; with `needed`, a window that has just taken the keyboard is given time to turn its text
// input on.
bool ibusRoute(Compositor& c, bool needed);
// gnome-shell 43 sends a key to the client with the modifiers mutter has when IBus answers for
// it, which a key sent meanwhile may have changed already: while vantrel's engine serves a
// text field, each key waits until the engine has been handed the one before. When that was.
Clock::time_point ibusHasKeys(Compositor& c);
// The seat's modifiers are shared by every keyboard on GNOME: a Shift, Control or Caps Lock
// that a person or another program holds applies to vantrel's keys too. While vantrel's engine
// serves a text field it sees every key with the seat's modifiers, and keeps from the client a
// key of vantrel's that would type another character or a shortcut. ibusGuardKey announces the
// key about to be pressed; ibusKeptKeys says whether one was kept (setting `undelivered`), once
// the engine has been handed the keys before.
void ibusGuardKey(Compositor& c, xkb_keycode_t keycode);
bool ibusKeptKeys(Compositor& c);
// Commits a cluster after the keys before it; false, with `undelivered` set, when it could not
// be delivered.
bool commitThroughIBus(Compositor& c, std::span<const uint16_t> units);
// The end of a request: the engine that was global before is given back (with `wait`, until the
// daemon has answered).
void endIBus(Compositor& c, bool wait);

} // namespace vantrel::platform::wayland
