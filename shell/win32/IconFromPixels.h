#pragma once
// Icons made from the shell's pictures (ARGB pixels, row by row; alpha 0 is transparent).

#include <windows.h>

#include <cstdint>
#include <vector>

// The caller destroys the icon (DestroyIcon); null when the system cannot make it.
HICON IconFromPixels(const std::vector<uint32_t>& argbPixels, int width, int height);
