// The header decoder on any bytes: a whole header block is searched for its From and Subject
// fields, and the input is decoded as one value and as a sender. What comes out must be fit for
// display (no control characters, no bidirectional overrides, single blanks, trimmed) and no
// longer than four characters a byte; a value without encoded words must come back as its own
// text with the blanks made one.

#include "fuzz/FuzzChecks.h"
#include "mail/HeaderText.h"

namespace {

void CheckFitForDisplay(std::u16string_view shown, std::string_view from) {
    FUZZ_CHECK(shown.size() <= 4 * from.size(), Quoted(from));
    FUZZ_CHECK(shown.empty() || (shown.front() != u' ' && shown.back() != u' '), Quoted(shown));
    for (size_t i = 0; i < shown.size(); ++i) {
        const char16_t c = shown[i];
        FUZZ_CHECK(c >= 0x20 && !(c >= 0x7F && c < 0xA0), Quoted(shown));
        FUZZ_CHECK(!(c >= 0x202A && c <= 0x202E) && !(c >= 0x2066 && c <= 0x2069), Quoted(shown));
        FUZZ_CHECK(c != u' ' || i + 1 == shown.size() || shown[i + 1] != u' ', Quoted(shown));
    }
}

// Printable ASCII with its blanks made one and trimmed.
std::u16string PlainShown(std::string_view value) {
    std::u16string shown;
    for (char c : value) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!shown.empty() && shown.back() != u' ')
                shown += u' ';
        } else {
            shown += static_cast<char16_t>(c);
        }
    }
    if (!shown.empty() && shown.back() == u' ')
        shown.pop_back();
    return shown;
}

bool IsPlainAscii(std::string_view value) {
    for (char c : value)
        if (!(c >= 0x20 && c < 0x7F) && c != '\t' && c != '\r' && c != '\n')
            return false;
    return value.find("=?") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::string_view name : {"From", "Subject"}) {
        const std::string value = HeaderFieldValue(bytes, name);
        FUZZ_CHECK(value.size() <= bytes.size(), Quoted(bytes));
        FUZZ_CHECK(value.find('\n') == std::string::npos, Quoted(bytes));
        CheckFitForDisplay(DecodeHeaderText(value), value);
        CheckFitForDisplay(SenderOfFrom(value), value);
    }
    const std::u16string shown = DecodeHeaderText(bytes);
    CheckFitForDisplay(shown, bytes);
    CheckFitForDisplay(SenderOfFrom(bytes), bytes);
    if (IsPlainAscii(bytes))
        FUZZ_CHECK(shown == PlainShown(bytes), Quoted(bytes) + " gave " + Quoted(shown));
    return 0;
}
