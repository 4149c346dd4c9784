#include "support/stop.h"

#include "platform/event_services.h"
#include "support/wait.h"

namespace vantrel {

void stopIfSignalled() {
    if (stopSignal() != 0) throw Stopped{};
    if (outputReaderGone()) throw ReaderGone{};
}

void stopIfConnectionLost() {
    std::string_view lost = platform::connectionLost();
    if (!lost.empty()) throw ConnectionLost{std::string(lost)};
}

void pauseOrStop(uint32_t microseconds) {
    platform::pause(microseconds);
    stopIfSignalled();
    stopIfConnectionLost();
}

} // namespace vantrel
