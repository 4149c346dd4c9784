#include "channel/writer.h"

#include "platform/event_services.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace vantrel {

bool emit(const Reply& reply) {
    std::string line = serialize(reply);
    platform::replyWritten(line);
    line += '\n';
    // One write call per reply where the pipe allows it; the loop covers partial writes, and a
    // non-blocking standard output that is full is waited for rather than taken for gone.
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd out{STDOUT_FILENO, POLLOUT, 0};
                (void)::poll(&out, 1, -1);
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace vantrel
