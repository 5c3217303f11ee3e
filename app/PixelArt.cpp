#include "app/PixelArt.h"

namespace {

uint32_t PaletteColour(char pixel, uint32_t background) {
    switch (pixel) {
    case 'K':
        return 0xFF000000;
    case 'W':
        return 0xFFFFFFFF;
    case 'Y':
        return 0xFFFFFF00;
    case 'O':
        return 0xFF808000;
    case 'B':
        return 0xFF000080;
    case 'S':
        return 0xFFC0C0C0;
    case 'D':
        return 0xFF808080;
    case 'R':
        return 0xFFFF0000;
    default:
        return background;
    }
}

} // namespace

std::vector<uint32_t> DecodePixelArt(std::initializer_list<std::span<const std::string_view>> blocks,
                                     uint32_t background) {
    std::vector<uint32_t> pixels;
    for (std::span<const std::string_view> rows : blocks)
        for (std::string_view row : rows)
            for (char pixel : row)
                pixels.push_back(PaletteColour(pixel, background));
    return pixels;
}
