#pragma once
// The process's only loop: standard input, one request line at a time, to its end.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// Lines longer than this many bytes (line end not counted) are read and dropped, not kept.
inline constexpr size_t maxLineBytes = 16 * 1024 * 1024;

// Why the loop ended.
enum class LoopEnd {
    endOfInput, // the input ended or could not be read
    readerGone, // nobody reads standard output any more: a reply could not be written, or its
                // reader was seen gone while waiting
    stopped,    // a stop signal came (support/stop.h); the interrupted request got no reply
};

// Reads standard input until it ends (or fails), handling each line. Lines still queued when the
// reader has gone or a stop signal came are not run.
LoopEnd runRequestLoop();

// One line, without its line feed or the carriage return before it: repairs, trims and parses it,
// then hands the object to the dispatcher or answers it with the invalid-json reply. A blank line
// gets no reply. False when the reply could not be written. A stop signal during the action
// throws Stopped before any reply is written.
bool handleLine(std::string_view line);

// Valid UTF-8 is returned unchanged; each maximal ill-formed subsequence becomes one U+FFFD.
std::string repairUtf8(std::string_view bytes);

// Strips spaces of the Zs category and tabs from both ends of valid UTF-8 text.
std::string_view trimLine(std::string_view text);

} // namespace vantrel
