#pragma once
// Colours and the drawing surface of a window.

#include <cstdint>
#include <memory>
#include <vector>

// Red + green * 256 + blue * 65536, as the window code stores colours.
using TColor = uint32_t;

constexpr TColor RGBColor(uint8_t red, uint8_t green, uint8_t blue) {
    return red | (green << 8) | (static_cast<TColor>(blue) << 16);
}

// A picture as ARGB pixels, row by row.
struct TPixelImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;

    uint32_t Pixel(int x, int y) const { return Pixels.at(static_cast<size_t>(y) * Width + x); }
    // The pixel as a TColor (alpha dropped).
    TColor Color(int x, int y) const {
        const uint32_t argb = Pixel(x, y);
        return RGBColor((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
    }
};

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
