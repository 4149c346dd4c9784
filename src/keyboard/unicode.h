#pragma once
// The few Unicode operations keyboard synthesis needs, over ICU.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// UTF-8 in, UTF-16 code units out; the input is valid UTF-8 (the request loop repaired it).
std::u16string toUtf16(std::string_view text);
std::string toUtf8(std::u16string_view text);

// The full Unicode lowercase mapping, independent of any locale.
std::u16string lowercase(std::u16string_view text);

// Canonical composition (NFC), so that canonically equivalent names compare equal.
std::u16string composed(std::u16string_view text);

// The ends of the extended grapheme clusters of `text`, as offsets in code units, in order; the
// last one is text.size().
std::vector<size_t> clusterEnds(std::u16string_view text);

} // namespace vantrel
