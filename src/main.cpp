// vantrel: reads one JSON request per line on standard input and answers each with one JSON line
// on standard output, once its input events have been posted. No arguments, no options.

#include "channel/request_loop.h"
#include "dispatch/dispatch.h"
#include "keyboard/keyboard.h"
#include "platform/event_services.h"

#include <csignal>
#include <unistd.h>

namespace {
// Opens the event services for the process's life and closes them at the end of input.
struct EventServicesSession {
    EventServicesSession() { vantrel::platform::openEventServices(); }
    ~EventServicesSession() { vantrel::platform::closeEventServices(); }
    EventServicesSession(const EventServicesSession&) = delete;
    EventServicesSession& operator=(const EventServicesSession&) = delete;
};
} // namespace

int main() {
    // A reader that closes its end must not kill the process; writes then fail and are ignored.
    std::signal(SIGPIPE, SIG_IGN);
    vantrel::keyCodes();
    vantrel::accessibilityActions();
    EventServicesSession session;
    return vantrel::runRequestLoop(STDIN_FILENO);
}
