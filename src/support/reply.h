#pragma once
// Replies: the record the dispatcher builds and the channel writes, and its JSON text.

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vantrel {

// A list of strings as a reply value: one of the tables that live as long as the process.
using Names = const std::vector<std::string>*;

// One output record: keys in the order they were added, each with an integer, boolean, string,
// double or list-of-strings value.
struct Reply {
    using Value = std::variant<int64_t, bool, std::string, double, Names>;
    std::vector<std::pair<std::string, Value>> entries;

    Reply& add(std::string key, Value value) {
        entries.emplace_back(std::move(key), std::move(value));
        return *this;
    }
};

Reply successReply(int64_t id);
Reply errorReply(int64_t id, std::string message);

// Compact JSON: the solidus is written \/, control characters are escaped, other characters are
// raw UTF-8, doubles are the shortest text that reads back as the same double (a non-finite
// double, which JSON cannot hold, is written 0). It cannot fail.
std::string serialize(const Reply& reply);

} // namespace vantrel
