#include "keyboard/keyboard.h"

#include "platform/event_services.h"
#include "support/held.h"

namespace vantrel {

namespace {

constexpr uint64_t systemDefinedType = 14;
constexpr int16_t auxControlButtonsSubtype = 8;
constexpr uint32_t keyDownState = 0x0A;
constexpr uint32_t keyUpState = 0x0B;

platform::SystemDefinedFields mediaFields(int32_t code, uint32_t state) {
    platform::SystemDefinedFields fields;
    fields.type = systemDefinedType;
    fields.modifierFlags = state << 8;
    fields.subtype = auxControlButtonsSubtype;
    // Bits 16 to 31: the key type; 8 to 15: the key state. Read as signed 32 bits, then widened,
    // so a key type with bit 15 set gives a negative word.
    uint32_t word = ((static_cast<uint32_t>(code) & 0xFFFF) << 16) | (state << 8);
    fields.data1 = static_cast<int64_t>(static_cast<int32_t>(word));
    fields.data2 = -1;
    return fields;
}

} // namespace

void mediaKey(int32_t code) {
    Held held;
    held.kind = Held::Kind::media;
    held.code = static_cast<uint32_t>(code) & 0xFFFF;
    held.release = mediaFields(code, keyUpState);
    postPress(platform::createSystemDefinedEvent(mediaFields(code, keyDownState)), held);
    postRelease(platform::createSystemDefinedEvent(held.release), Held::Kind::media, held.code);
}

} // namespace vantrel
