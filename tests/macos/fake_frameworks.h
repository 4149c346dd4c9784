#pragma once
// A fake of the Apple framework functions the macOS layer calls. It records every call with its
// arguments, keeps every event it made so that releases can be counted, and renders each posted
// event in the trace build's line format so that the two layers can be compared.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vantrel::fake {

struct Settings {
    double pointerX = 0, pointerY = 0;
    double screenWidth = 1920, screenHeight = 1080;
    std::vector<bool> trusted{true};
    bool failLocation = false, failMouse = false, failKeyboard = false, failScroll = false;
    bool noNSEventClass = false, failNSEvent = false, failCGEventOfNSEvent = false;
    std::string layout = "us"; // "us", "azerty", or "none" (a layout without Unicode data)
};

struct OtherEventCall {
    unsigned long type;
    double x, y;
    unsigned long modifierFlags;
    double timestamp;
    long windowNumber;
    const void* context;
    short subtype;
    long data1, data2;
    int poolDepth; // how many autorelease pools were open when it was made
};

// Starts over: forgets every event and record.
void reset(const Settings& settings = {});

// Every effect in the trace build's format, in order (posts, sleeps, trust checks).
std::vector<nlohmann::json> lines();
// Misuse seen: a released NSEvent-owned event, a double release, a source that was not null,
// a tap other than the HID tap, a pool popped out of order, an event used after release.
std::vector<std::string> problems();

struct Counts {
    int created = 0;      // events the layer owns (CGEventCreate*)
    int releasedOnce = 0; // of those, released exactly once
    int fromNSEvent = 0;  // CGEvents handed out by NSEvent
    int nsEventReleases = 0;
    int poolPushes = 0, poolPops = 0, poolDepth = 0;
    int trustChecks = 0;
    int posts = 0;
    int inputSourceCopies = 0, inputSourceReleases = 0;
};
Counts counts();
std::vector<OtherEventCall> otherEventCalls();

} // namespace vantrel::fake
