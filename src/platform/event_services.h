#pragma once
// The one seam between vantrel's core and the operating system's input services.
//
// Mechanism only: create an event, fill its fields, post it, read the pointer, pause, and ask
// whether posting is allowed. Every policy (click numbers, easing, step counts, pauses, the order
// of key events, grapheme walking) lives above this header, so every platform gets it identically.
// The shapes follow the Quartz event services; other platforms render the same values.
//
// Each implementation lives in its own folder beside this header and defines `EventRecord`; the
// build links exactly one of them. All calls come from the process's single thread.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace vantrel {

// A position in the global display space, in points; (0, 0) is the top left of the main display.
struct Point {
    double x = 0.0;
    double y = 0.0;
};

namespace platform {

// Mouse event types, numbered as Quartz numbers them.
inline constexpr uint32_t leftMouseDown = 1;
inline constexpr uint32_t leftMouseUp = 2;
inline constexpr uint32_t rightMouseDown = 3;
inline constexpr uint32_t rightMouseUp = 4;
inline constexpr uint32_t mouseMoved = 5;
inline constexpr uint32_t leftMouseDragged = 6;
inline constexpr uint32_t rightMouseDragged = 7;
inline constexpr uint32_t otherMouseDown = 25;
inline constexpr uint32_t otherMouseUp = 26;
inline constexpr uint32_t otherMouseDragged = 27;

// Mouse buttons.
inline constexpr uint32_t mouseButtonLeft = 0;
inline constexpr uint32_t mouseButtonRight = 1;
inline constexpr uint32_t mouseButtonCenter = 2;
// The side buttons, as Quartz numbers its other buttons: back (X11 button 8, evdev BTN_SIDE) and
// forward (X11 button 9, evdev BTN_EXTRA). They press and release with the other-button types.
inline constexpr uint32_t mouseButtonBack = 3;
inline constexpr uint32_t mouseButtonForward = 4;

// The integer field that numbers a click within a multi-click.
inline constexpr uint32_t mouseEventClickState = 1;

// Scroll units: whole lines rather than pixels.
inline constexpr uint32_t scrollEventUnitLine = 1;

// Modifier flag bits of a keyboard event.
inline constexpr uint64_t flagMaskShift = 0x20000;
inline constexpr uint64_t flagMaskControl = 0x40000;
inline constexpr uint64_t flagMaskAlternate = 0x80000;
inline constexpr uint64_t flagMaskCommand = 0x100000;
inline constexpr uint64_t flagMaskSecondaryFn = 0x800000;

// One event, owned by whoever created it. Its release is the handle's destructor, so an event is
// released exactly once, by its creator, whatever path the creator leaves by.
struct EventRecord;
struct EventRelease {
    void operator()(EventRecord* event) const noexcept;
};
using Event = std::unique_ptr<EventRecord, EventRelease>;

// Called once before the first request and once after the last. Between them, nothing is
// connected or checked until a request needs it.
void openEventServices();
void closeEventServices();

// An empty event located at the current pointer position; null when the position cannot be read.
Event createEvent();
Point eventLocation(const EventRecord& event);

// A mouse event of `type` at `location` (points) for `button`; null when the platform cannot
// make one.
Event createMouseEvent(uint32_t type, Point location, uint32_t button);
void setIntegerValueField(EventRecord& event, uint32_t field, int64_t value);

// A keyboard event for a virtual key code (the ANSI positions Quartz numbers), down or up.
Event createKeyboardEvent(uint16_t virtualKey, bool keyDown);
// Replaces all of the event's modifier flags with `flags`, a mask of the flagMask bits.
void setFlags(EventRecord& event, uint64_t flags);
// The event delivers these UTF-16 code units instead of its key's own character.
void keyboardSetUnicodeString(EventRecord& event, std::span<const uint16_t> units);

// A scroll-wheel event; wheel1 is the vertical wheel, wheel2 the horizontal, in `units`.
Event createScrollWheelEvent2(uint32_t units, uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                              int32_t wheel3);

// The fields of a system-defined event, as AppKit's otherEventWithType takes them; media and
// special keys travel this way, with the key type and state packed into data1.
struct SystemDefinedFields {
    uint64_t type = 0;
    Point location;
    uint64_t modifierFlags = 0;
    double timestamp = 0.0;
    int64_t windowNumber = 0;
    int16_t subtype = 0;
    int64_t data1 = 0;
    int64_t data2 = 0;
};
Event createSystemDefinedEvent(const SystemDefinedFields& fields);

// Injects the event where hardware input enters the system. Reports nothing.
void postEvent(EventRecord& event);

// A hint, mechanism only: these UTF-16 units are about to be typed, in order, by keyboard events
// carrying them. A platform may prepare for them (X11 binds keysyms ahead during the pauses);
// one that needs nothing ignores it.
void willType(std::span<const uint16_t> units);

// Whether keyboard events carrying these UTF-16 units (one user-perceived character, or a piece
// of a long one) would deliver them as they are. Asked for every piece of a text before any of it
// is posted, so text with no route is refused whole; a platform that can deliver any text says
// yes. False also when the answer cannot be known (not connected).
bool canTypeUnicodeString(std::span<const uint16_t> units);

// A hint, mechanism only: vantrel is waiting for its next request. A platform may give back what
// it took for the requests before, once they are far enough behind (X11 unbinds its spare
// keycodes, which other programs on the display may need). Returns how many microseconds later
// it wants to be asked again if vantrel is still idle then; 0 when it has nothing left to give.
uint32_t whileIdle();

// Whether this process may post input now. Asked afresh each time; never prompts.
bool isProcessTrusted();

// Why the last isProcessTrusted said no, in a few words ("cannot open display :5"), for the
// refusal's "detail"; empty when there is nothing to add to the refusal itself.
std::string_view untrustedDetail();

// Why the connection that carries the posted events broke during the current request, naming
// it ("x11: the connection to :1 closed"); empty while it holds, or when nothing is connected. The
// core asks after every pause and before answering a request that posted input; a platform
// that can tell only by sending may send what it buffered to find out. The next trust check
// drops the broken connection and connects afresh.
std::string_view connectionLost();

// Why input the current request posted could not be delivered as asked, in a few words ("x11: no
// spare keycode is free for U+4E16"); empty when everything went out. The core asks after a
// request that posted input, and answers it with an error then.
std::string_view undeliveredInput();

// Blocks the thread for `microseconds`, or less when a stop signal is taken meanwhile (see
// support/wait.h): it then returns at once and the core unwinds.
void pause(uint32_t microseconds);

// How toolkits on this platform count clicks: a press within `interval` (microseconds) of the
// previous release of its button, and within `distance` (points) of where it was, counts as the
// next click of a multi-click. An interval of 0: the platform's events carry their click number,
// and applications count by it, so nothing more is needed to keep actions' clicks apart.
struct MultiClick {
    uint32_t interval = 0;
    double distance = 0.0;
};
MultiClick multiClick();

// The largest line count one scroll event can carry out on this platform.
int64_t largestScrollAmount();

// The size of the main display, in the units of the global space (points on macOS, root-window
// pixels on X11); 0 by 0 when it cannot be read.
struct Size {
    double width = 0.0;
    double height = 0.0;
};
Size mainDisplaySize();

// The platform's name as replies report it: "macos", "x11" or "trace".
std::string_view platformName();

// A reply line (without its line feed) is about to be written to standard output: its request
// has ended. A platform that buffers its posts sends them now; one that records what happens,
// such as the trace, records the line.
void replyWritten(std::string_view line);

} // namespace platform
} // namespace vantrel
