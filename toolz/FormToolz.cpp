#include "toolz/FormToolz.h"

#include <algorithm>

#include "shell/Application.h"
#include "shell/Window.h"

namespace {

TColor ShiftChannels(TColor color, int amount) {
    auto shifted = [amount](TColor channel) {
        return static_cast<uint8_t>(std::clamp(static_cast<int>(channel & 0xFF) + amount, 0, 255));
    };
    return RGBColor(shifted(color), shifted(color >> 8), shifted(color >> 16));
}

} // namespace

void ProcessPendingMessages() {
    if (Application)
        Application->ProcessMessages();
}

void DrawEtchedLine(TForm* window, int x1, int y1, int x2, int y2, bool horizontal, int amount) {
    const TColor base = window->Color();
    TCanvas* canvas = window->Canvas();
    canvas->SetPenColor(DarkerColor(base, amount));
    canvas->MoveTo(x1, y1);
    canvas->LineTo(x2, y2);
    canvas->SetPenColor(LighterColor(base, amount));
    const int dx = horizontal ? 0 : 1;
    const int dy = horizontal ? 1 : 0;
    canvas->MoveTo(x1 + dx, y1 + dy);
    canvas->LineTo(x2 + dx, y2 + dy);
}

TColor LighterColor(TColor color, int amount) {
    return ShiftChannels(color, amount);
}

TColor DarkerColor(TColor color, int amount) {
    return ShiftChannels(color, -amount);
}
