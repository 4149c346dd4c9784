#pragma once
// The process's only loop: standard input, one request line at a time, to its end.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// Lines longer than this many bytes (line end not counted) are read and dropped, not kept.
inline constexpr size_t maxLineBytes = 16 * 1024 * 1024;

// Reads `fd` until it ends (or fails), handling each line; returns the exit status, 0.
int runRequestLoop(int fd);

// One line, without its line feed or the carriage return before it: repairs, trims and parses it,
// then hands the object to the dispatcher or answers it with the invalid-json reply. A blank line
// gets no reply.
void handleLine(std::string_view line);

// Valid UTF-8 is returned unchanged; each maximal ill-formed subsequence becomes one U+FFFD.
std::string repairUtf8(std::string_view bytes);

// Strips spaces of the Zs category and tabs from both ends of valid UTF-8 text.
std::string_view trimLine(std::string_view text);

} // namespace vantrel
