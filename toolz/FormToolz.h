#pragma once
// Window helpers: etched separator lines and message pumping.

#include "shell/Canvas.h"

class TForm;

// Lets the message loop handle all pending window messages, then returns.
void ProcessPendingMessages();

// Draws an etched line on the window's canvas during its paint event: a line in the background
// colour darkened by `amount` from (x1, y1) to (x2, y2), end point excluded, and beside it (one
// pixel lower when `horizontal`, else one pixel to the right) the same line lightened by `amount`.
void DrawEtchedLine(TForm* window, int x1, int y1, int x2, int y2, bool horizontal, int amount);

// Each of red, green and blue raised by `amount`, at most 255.
TColor LighterColor(TColor color, int amount);
// Each of red, green and blue lowered by `amount`, at least 0.
TColor DarkerColor(TColor color, int amount);
