#include "support/held.h"

#include <algorithm>

namespace vantrel {

namespace {

// What vantrel holds, in the order of pressing, and the presses waiting for the next event; and
// the last release of each button, by button number.
std::vector<Held> record;
std::vector<Held> deferred;
std::vector<std::optional<ButtonRelease>> releases;

void noteRelease(const platform::Event& event, uint32_t button) {
    if (!event) return;
    if (releases.size() <= button) releases.resize(button + 1);
    releases[button] =
        ButtonRelease{platform::eventLocation(*event), std::chrono::steady_clock::now()};
}

platform::Event keyDownEvent(uint16_t keyCode, uint64_t flags) {
    platform::Event down = platform::createKeyboardEvent(keyCode, true);
    if (down) platform::setFlags(*down, flags);
    return down;
}

void postNow(const platform::Event& event, Held what) {
    if (!event) return;
    platform::postEvent(*event);
    record.push_back(std::move(what));
}

// A deferred press is a key_down posted late, with the flags held by then.
void flushDeferred() {
    if (deferred.empty()) return;
    std::vector<Held> presses;
    presses.swap(deferred);
    for (const Held& press : presses)
        postKeyDown(static_cast<uint16_t>(press.code), press.modifierFlag);
}

auto find(Held::Kind kind, uint32_t code) {
    return std::find_if(record.begin(), record.end(),
                        [&](const Held& h) { return h.kind == kind && h.code == code; });
}

// The event that releases `held`, made as its own release would be.
platform::Event releaseEvent(const Held& held) {
    switch (held.kind) {
    case Held::Kind::key:
    case Held::Kind::text: {
        platform::Event up = platform::createKeyboardEvent(
            static_cast<uint16_t>(held.kind == Held::Kind::key ? held.code : 0), false);
        if (!up) return up;
        uint64_t flags = held.ownKey ? heldModifierFlags() : held.flags & ~held.modifierFlag;
        if (held.setsFlags || flags) platform::setFlags(*up, flags);
        if (held.kind == Held::Kind::text) platform::keyboardSetUnicodeString(*up, held.units);
        return up;
    }
    case Held::Kind::button: {
        // Released where the pointer is now, so that the release moves nothing.
        platform::Event where = platform::createEvent();
        Point at = where ? platform::eventLocation(*where) : Point{};
        platform::Event up = platform::createMouseEvent(held.releaseType, at, held.code);
        if (up && heldModifierFlags()) platform::setFlags(*up, heldModifierFlags());
        return up;
    }
    case Held::Kind::media:
        return platform::createSystemDefinedEvent(held.release);
    }
    return nullptr;
}

void releaseWhere(bool (*which)(const Held&)) {
    for (size_t i = record.size(); i-- > 0;) {
        if (!which(record[i])) continue;
        Held held = record[i];
        // Forgotten before it is posted, so that the release carries the flags of what remains.
        record.erase(record.begin() + static_cast<std::ptrdiff_t>(i));
        platform::Event release = releaseEvent(held);
        post(release);
        if (held.kind == Held::Kind::button) noteRelease(release, held.code);
    }
}

} // namespace

void post(const platform::Event& event) {
    flushDeferred();
    if (event) platform::postEvent(*event);
}

void postPress(const platform::Event& event, Held what) {
    flushDeferred();
    auto existing = find(what.kind, what.code);
    if (existing != record.end()) record.erase(existing);
    postNow(event, std::move(what));
}

void postRelease(const platform::Event& event, Held::Kind kind, uint32_t code) {
    flushDeferred();
    auto existing = find(kind, code);
    if (existing != record.end()) record.erase(existing);
    if (event) platform::postEvent(*event);
    if (kind == Held::Kind::button) noteRelease(event, code);
}

void postKeyDown(uint16_t keyCode, uint64_t modifierFlag) {
    flushDeferred();
    if (isHeld(Held::Kind::key, keyCode)) return;
    Held held;
    held.code = keyCode;
    held.modifierFlag = modifierFlag;
    held.ownKey = true;
    held.flags = heldModifierFlags() | modifierFlag;
    postNow(keyDownEvent(keyCode, held.flags), std::move(held));
}

void postKeyUp(uint16_t keyCode) {
    flushDeferred();
    auto existing = find(Held::Kind::key, keyCode);
    if (existing == record.end()) return;
    Held held = *existing;
    record.erase(existing);
    post(releaseEvent(held));
}

void deferKeyDown(uint16_t keyCode, uint64_t modifierFlag) {
    if (isHeld(Held::Kind::key, keyCode)) return;
    for (const Held& waiting : deferred)
        if (waiting.code == keyCode) return;
    Held held;
    held.code = keyCode;
    held.modifierFlag = modifierFlag;
    held.ownKey = true;
    deferred.push_back(std::move(held));
}

bool dropDeferred() {
    bool any = !deferred.empty();
    deferred.clear();
    return any;
}

bool isHeld(Held::Kind kind, uint32_t code) {
    return find(kind, code) != record.end();
}

uint64_t heldModifierFlags() {
    uint64_t flags = 0;
    for (const Held& held : record)
        flags |= held.modifierFlag;
    for (const Held& held : deferred)
        flags |= held.modifierFlag;
    return flags;
}

bool isAnyButtonHeld() {
    return std::any_of(record.begin(), record.end(),
                       [](const Held& held) { return held.kind == Held::Kind::button; });
}

uint32_t moveType() {
    if (isHeld(Held::Kind::button, platform::mouseButtonLeft)) return platform::leftMouseDragged;
    if (isHeld(Held::Kind::button, platform::mouseButtonRight)) return platform::rightMouseDragged;
    return isAnyButtonHeld() ? platform::otherMouseDragged : platform::mouseMoved;
}

void releaseAllHeld() {
    deferred.clear(); // never pressed
    releaseWhere([](const Held&) { return true; });
}

void releaseHeldKeys() {
    deferred.clear();
    releaseWhere([](const Held& held) { return held.kind != Held::Kind::button; });
}

void forgetAllHeld() {
    record.clear();
    deferred.clear();
    releases.clear();
}

std::optional<ButtonRelease> lastRelease(uint32_t button) {
    return button < releases.size() ? releases[button] : std::nullopt;
}

} // namespace vantrel
