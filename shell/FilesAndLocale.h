#pragma once
// File test and regional settings of the desktop.

#include <string_view>

// True when the path names an existing file; a folder does not count.
bool FileExists(std::u16string_view path);

// The thousands separator of the user's regional settings.
char16_t LocaleThousandSeparator();
