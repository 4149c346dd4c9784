// vantrel: reads one JSON request per line on standard input and answers each with one JSON line
// on standard output, once its input events have been posted. Its only options are --version and
// --help; it ignores any other argument.

#include "channel/request_loop.h"
#include "dispatch/dispatcher.h"
#include "keyboard/keyboard.h"
#include "platform/event_services.h"
#include "support/held.h"
#include "support/standard_streams.h"
#include "support/stop.h"
#include "support/wait.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string usage() {
    return std::string("usage: vantrel [--version | --help]\n"
                       "Drives the mouse and the keyboard: reads one JSON request per line on "
                       "standard input and\n"
                       "writes one JSON reply per line on standard output when the request's input "
                       "has been\n"
                       "delivered, for example\n"
                       "  {\"id\":1,\"action\":\"left_click\",\"x\":100,\"y\":200}  ->  "
                       "{\"id\":1,\"ok\":true}\n"
                       "It ends, releasing what it holds, at the end of its input, when the reader "
                       "of its replies\n"
                       "has gone, or on ") +
           std::string(vantrel::stopRequestNames) + ". See vantrel(1) for every action.\n";
}

// How long a mouse button still held at the end of input waits for the sign that the driver
// died rather than closed its end: a dying process closes its descriptors one after the other,
// and a stop signal sent with the end of input may come a moment after it.
constexpr auto endOfInputGrace = std::chrono::milliseconds(20);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
        return vantrel::writeOutput("vantrel " VANTREL_VERSION "\n") ? 0 : 1;
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0)
        return vantrel::writeOutput(usage()) ? 0 : 1;
    vantrel::prepareStandardStreams();
    vantrel::catchStopSignals();
    vantrel::keyCodes();
    vantrel::accessibilityActions();
    vantrel::platform::openEventServices();
    vantrel::LoopEnd end = vantrel::runRequestLoop();
    if (end == vantrel::LoopEnd::endOfInput) {
        // At the end of input a mouse button stays held, since a caller may press in one
        // short-lived process and release in the next; keys are let go, as nothing later could
        // release them. A driver that died, or a stop signal, releases the button too, also
        // when it comes just after the end of input; so the button's fate is known before
        // anything is released, and everything goes in the one order, last pressed first.
        bool stopped = vantrel::isAnyButtonHeld()
                           ? !vantrel::sleepUntil(vantrel::WaitClock::now() + endOfInputGrace)
                           : !vantrel::takePendingSignals();
        if (stopped)
            end = vantrel::stopSignal() != 0 ? vantrel::LoopEnd::stopped
                                             : vantrel::LoopEnd::readerGone;
        else
            vantrel::releaseHeldKeys();
    }
    if (end != vantrel::LoopEnd::endOfInput) vantrel::releaseAllHeld();
    vantrel::platform::closeEventServices();
    // A stop signal that came while releasing still ends the process by that signal.
    vantrel::takePendingSignals();
    if (end == vantrel::LoopEnd::stopped || vantrel::stopSignal() != 0)
        vantrel::dieOf(vantrel::stopSignal());
    return 0;
}
