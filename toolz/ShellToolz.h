#pragma once
// Shell helpers.

#include <string_view>

// Hands the text (a web address) to the desktop's default handler for it; does nothing for an
// empty text. Failures are not reported.
void ShellOpen(std::u16string_view text);
