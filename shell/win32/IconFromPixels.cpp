#include "shell/win32/IconFromPixels.h"

#include <cstring>

#include "shell/ImageList.h"

namespace {

// The colour part: a top-down 32-bit bitmap whose bytes (blue, green, red, alpha) are exactly
// the pixels' ARGB words in memory.
HBITMAP ColourBitmap(const std::vector<uint32_t>& argbPixels, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap)
        std::memcpy(bits, argbPixels.data(), argbPixels.size() * sizeof(uint32_t));
    return bitmap;
}

// The mask part: one bit a pixel, set where the picture is transparent; rows of whole 16-bit words.
HBITMAP MaskBitmap(const std::vector<uint32_t>& argbPixels, int width, int height) {
    const int rowBytes = (width + 15) / 16 * 2;
    std::vector<uint8_t> bits(static_cast<size_t>(rowBytes) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((argbPixels[static_cast<size_t>(y) * width + x] >> 24) == 0)
                bits[static_cast<size_t>(y) * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return CreateBitmap(width, height, 1, 1, bits.data());
}

} // namespace

HICON IconFromPixels(const std::vector<uint32_t>& argbPixels, int width, int height) {
    if (width <= 0 || height <= 0 || argbPixels.size() != static_cast<size_t>(width) * height)
        return nullptr;
    HBITMAP colour = ColourBitmap(argbPixels, width, height);
    HBITMAP mask = MaskBitmap(argbPixels, width, height);
    HICON icon = nullptr;
    if (colour && mask) {
        ICONINFO parts{TRUE, 0, 0, mask, colour};
        icon = CreateIconIndirect(&parts);
    }
    if (colour)
        DeleteObject(colour);
    if (mask)
        DeleteObject(mask);
    return icon;
}

HICON IconOfSize(const TImageList& images, int index, int systemSize) {
    int factor = TImageList::ScaleFactors[0];
    for (int candidate : TImageList::ScaleFactors) {
        factor = candidate;
        if (images.Width() * candidate >= systemSize)
            break;
    }
    return IconFromPixels(images.ScaledPixels(index, factor), images.Width() * factor,
                          images.Height() * factor);
}
