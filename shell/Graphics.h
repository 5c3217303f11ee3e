#pragma once
// Colours and the drawing surface of a window.

#include <cstdint>
#include <memory>

// Red + green * 256 + blue * 65536, as the window code stores colours.
using TColor = uint32_t;

constexpr TColor RGBColor(uint8_t red, uint8_t green, uint8_t blue) {
    return red | (green << 8) | (static_cast<TColor>(blue) << 16);
}

// Draws on a window while it paints; outside a paint event drawing does nothing.
class TCanvas {
public:
    TCanvas();
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TColor PenColor() const { return penColor_; }
    void SetPenColor(TColor color) { penColor_ = color; }
    void MoveTo(int x, int y);
    // Draws a one-pixel line from the pen position up to, but not including, (x, y).
    void LineTo(int x, int y);

    struct Impl;
    Impl* Handle() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
    TColor penColor_ = 0;
    int penX_ = 0;
    int penY_ = 0;
};
