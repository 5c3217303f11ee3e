#include "app/TrayImages.h"

#include <string_view>

namespace {

using PixelRows = std::string_view[8];

// The upper half of both images: the top of the slot with its opening.
constexpr PixelRows SlotTop = {
    "................", "................", "................", "................",
    "KKKKKKKKKKKKKKKK", "KWWWWWWWWWWWWWWK", "KWLLLLLLLLLLLLDK", "KWLKKKKKKKKKKLDK",
};

uint32_t PixelColour(char pixel) {
    switch (pixel) {
    case 'K':
        return 0xFF000000;
    case 'D':
        return 0xFF808080;
    case 'L':
        return 0xFFC0C0C0;
    case 'W':
        return 0xFFFFFFFF;
    default:
        return 0x00000000;
    }
}

// One character per pixel: '.' transparent, 'K' black, 'D' dark grey, 'L' light grey, 'W' white.
std::vector<uint32_t> FromPixelArt(const PixelRows& upper, const PixelRows& lower) {
    std::vector<uint32_t> pixels;
    for (const PixelRows* half : {&upper, &lower})
        for (std::string_view row : *half)
            for (char pixel : row)
                pixels.push_back(PixelColour(pixel));
    return pixels;
}

} // namespace

std::vector<uint32_t> EmptyMailSlotImage() {
    static constexpr PixelRows slotBottom = {
        "KWLLLLLLLLLLLLDK", "KDDDDDDDDDDDDDDK", "KKKKKKKKKKKKKKKK", "................",
        "................", "................", "................", "................",
    };
    return FromPixelArt(SlotTop, slotBottom);
}

std::vector<uint32_t> LetterInMailSlotImage() {
    static constexpr PixelRows slotBottomWithSheet = {
        "KWLLKWWWWWWKLLDK", "KDDDKWWWWWWKDDDK", "KKKKKWWWWWWKKKKK", "....KWKKKKWK....",
        "....KWWWWWWK....", "....KWKKKKWK....", "....KWWWWWWK....", "....KWKKKWWK....",
    };
    return FromPixelArt(SlotTop, slotBottomWithSheet);
}
