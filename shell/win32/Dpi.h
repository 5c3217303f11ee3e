#pragma once
// Dots per inch: the layout's positions are pixels at 96 and grow with the monitor's setting.

#include <windows.h>

// The dots per inch of the window's monitor (the system's setting where the system cannot tell).
int WindowDpi(HWND window);
