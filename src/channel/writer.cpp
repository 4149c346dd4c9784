#include "channel/writer.h"

#include "platform/event_services.h"
#include "support/standard_streams.h"

namespace vantrel {

bool emit(const Reply& reply) {
    std::string line = serialize(reply);
    platform::replyWritten(line);
    line += '\n';
    return writeOutput(line);
}

} // namespace vantrel
