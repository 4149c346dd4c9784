#include "keyboard/keyboard.h"

#include "keyboard/unicode.h"
#include "platform/event_services.h"
#include "support/held.h"
#include "support/stop.h"

#include <set>
#include <span>

namespace vantrel {

namespace {

constexpr uint32_t typingPauseMicroseconds = 8000;
// The most units one keyboard event carries: macOS keeps only the first 20 of a longer string.
constexpr size_t mostUnitsPerEvent = 20;

// Typed text carries no flags, unless keys held on their own (key_down) add theirs.
platform::Event textEvent(bool keyDown, std::span<const uint16_t> units) {
    platform::Event event = platform::createKeyboardEvent(0, keyDown);
    if (!event) return event;
    if (heldModifierFlags()) platform::setFlags(*event, heldModifierFlags());
    platform::keyboardSetUnicodeString(*event, units);
    return event;
}

void typeUnits(std::span<const uint16_t> units) {
    Held held;
    held.kind = Held::Kind::text;
    held.flags = heldModifierFlags();
    held.setsFlags = false;
    held.units.assign(units.begin(), units.end());
    postPress(textEvent(true, units), std::move(held));
    postRelease(textEvent(false, units), Held::Kind::text, 0);
    pauseOrStop(typingPauseMicroseconds);
}

// The pieces the text is typed in: each cluster, cut into events of at most 20 units, never
// between the two halves of a surrogate pair.
template <typename Each>
void forEachPiece(std::span<const uint16_t> all, const std::vector<size_t>& ends, Each each) {
    size_t start = 0;
    for (size_t end : ends) {
        while (start < end) {
            size_t take = end - start;
            if (take > mostUnitsPerEvent) {
                take = mostUnitsPerEvent;
                if ((all[start + take - 1] & 0xFC00) == 0xD800) --take;
            }
            each(all.subspan(start, take));
            start += take;
        }
    }
}

// The characters named in a refusal, each once, in the order they first come; a long text names
// its first few and counts the rest.
constexpr size_t mostNamed = 8;

} // namespace

std::optional<std::string> typeText(std::string_view text) {
    std::u16string units = toUtf16(text);
    std::span<const uint16_t> all(reinterpret_cast<const uint16_t*>(units.data()), units.size());
    std::vector<size_t> ends = clusterEnds(units);

    // Nothing of a text is typed unless all of it can be: partial text is never delivered.
    std::vector<std::u16string> missing;
    std::set<std::u16string> seen;
    forEachPiece(all, ends, [&](std::span<const uint16_t> piece) {
        if (platform::canTypeUnicodeString(piece)) return;
        std::u16string named(piece.begin(), piece.end());
        if (seen.insert(named).second) missing.push_back(std::move(named));
    });
    if (!missing.empty()) {
        std::string detail = "the keyboard layout has no key for ";
        for (size_t i = 0; i < missing.size() && i < mostNamed; ++i)
            detail += (i ? ", " : "") + toUtf8(missing[i]);
        if (missing.size() > mostNamed)
            detail += " and " + std::to_string(missing.size() - mostNamed) + " more";
        return detail;
    }

    if (!all.empty()) platform::willType(all);
    forEachPiece(all, ends, typeUnits);
    return std::nullopt;
}

} // namespace vantrel
