#pragma once
// What the harnesses share: a property that does not hold ends the run as a finding, with the
// texts involved printed so the failure reads without a debugger.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Text.h"

[[noreturn]] inline void FuzzFinding(std::string_view property, std::string_view detail = {}) {
    std::fprintf(stderr, "\nPROPERTY BROKEN: %.*s\n%.*s\n", static_cast<int>(property.size()),
                 property.data(), static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// The text quoted, its non-printable characters escaped.
inline std::string Quoted(std::u16string_view text) {
    std::string out = "\"";
    for (char16_t c : text) {
        if (c >= 32 && c < 127 && c != u'"' && c != u'\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

inline std::string Quoted(std::string_view bytes) {
    std::u16string units;
    for (char c : bytes)
        units += static_cast<char16_t>(static_cast<unsigned char>(c));
    return Quoted(std::u16string_view(units));
}

#define FUZZ_CHECK(condition, detail)                                                                        \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            FuzzFinding(#condition, detail);                                                                 \
    } while (false)
