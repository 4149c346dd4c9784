#include "pointer/pointer.h"

#include <limits>

namespace vantrel {

const char* scrollAt(Point point, std::string_view direction, int64_t amount) {
    MovePlan approach = planMove(point, 200);
    if (approach.refusal) return approach.refusal;
    int64_t largest = platform::largestScrollAmount();
    if (largest > std::numeric_limits<int32_t>::max())
        largest = std::numeric_limits<int32_t>::max();
    if (amount > largest) return "amount out of range";
    runMove(approach);
    auto lines = static_cast<int32_t>(amount > 1 ? amount : 1);
    int32_t vertical = 0, horizontal = 0;
    if (direction == "up") {
        vertical = lines;
    } else if (direction == "down") {
        vertical = -lines;
    } else if (direction == "left") {
        horizontal = lines;
    } else if (direction == "right") {
        horizontal = -lines;
    }
    platform::Event wheel = platform::createScrollWheelEvent2(platform::scrollEventUnitLine, 2,
                                                              vertical, horizontal, 0);
    if (wheel && heldModifierFlags()) platform::setFlags(*wheel, heldModifierFlags());
    post(wheel);
    return nullptr;
}

} // namespace vantrel
