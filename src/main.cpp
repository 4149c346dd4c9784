// vantrel: reads one JSON request per line on standard input and answers each with one JSON line
// on standard output, once its input events have been posted. No arguments, no options.

#include "channel/request_loop.h"
#include "dispatch/dispatcher.h"
#include "keyboard/keyboard.h"
#include "platform/event_services.h"
#include "support/held.h"
#include "support/stop.h"

#include <csignal>
#include <unistd.h>

int main() {
    // A reader that closes its end must not kill the process: the failed write tells the loop.
    std::signal(SIGPIPE, SIG_IGN);
    vantrel::catchStopSignals();
    vantrel::keyCodes();
    vantrel::accessibilityActions();
    vantrel::platform::openEventServices();
    vantrel::LoopEnd end = vantrel::runRequestLoop(STDIN_FILENO);
    // At the end of input a mouse button stays held, since a caller may press in one short-lived
    // process and release in the next; keys are let go, as nothing later could release them.
    if (end == vantrel::LoopEnd::endOfInput)
        vantrel::releaseHeldKeys();
    else
        vantrel::releaseAllHeld();
    vantrel::platform::closeEventServices();
    if (end == vantrel::LoopEnd::stopped) vantrel::dieOf(vantrel::stopSignal());
    return 0;
}
