#include "keyboard/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <memory>

namespace vantrel {

namespace {
icu::UnicodeString view(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}
std::u16string copy(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}
} // namespace

std::u16string toUtf16(std::string_view text) {
    return copy(icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))));
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    view(text).toUTF8String(out);
    return out;
}

std::u16string lowercase(std::u16string_view text) {
    icu::UnicodeString result = view(text);
    result.toLower(icu::Locale::getRoot());
    return copy(result);
}

std::u16string composed(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::u16string(text);
    icu::UnicodeString result = nfc->normalize(view(text), status);
    if (U_FAILURE(status)) return std::u16string(text);
    return copy(result);
}

std::vector<size_t> clusterEnds(std::u16string_view text) {
    std::vector<size_t> ends;
    if (text.empty()) return ends;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !clusters) {
        // Without segmentation data, each code point stands alone rather than nothing typing.
        for (size_t i = 0; i < text.size(); ++i) {
            bool pair = i + 1 < text.size() && (text[i] & 0xFC00) == 0xD800 &&
                        (text[i + 1] & 0xFC00) == 0xDC00;
            if (pair) ++i;
            ends.push_back(i + 1);
        }
        return ends;
    }
    icu::UnicodeString whole = view(text);
    clusters->setText(whole);
    for (int32_t end = clusters->next(); end != icu::BreakIterator::DONE; end = clusters->next())
        ends.push_back(static_cast<size_t>(end));
    return ends;
}

} // namespace vantrel
