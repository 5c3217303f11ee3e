#pragma once
// Icons made from the shell's pictures (ARGB pixels, row by row; alpha 0 is transparent).

#include <windows.h>

#include <cstdint>
#include <vector>

class TImageList;

// The caller destroys the icon (DestroyIcon); null when the system cannot make it.
HICON IconFromPixels(const std::vector<uint32_t>& argbPixels, int width, int height);

// Image `index` of the list as an icon of the list's smallest size that is at least `systemSize`
// pixels wide (else its largest), for the system to draw at `systemSize`. The caller destroys it.
HICON IconOfSize(const TImageList& images, int index, int systemSize);
