#include "app/TrayImages.h"

#include <string_view>

namespace {

// One character per pixel: '.' transparent, 'K' black, 'D' dark grey, 'L' light grey, 'W' white.
std::vector<uint32_t> FromPixelArt(const std::string_view (&rows)[16]) {
    std::vector<uint32_t> pixels;
    for (std::string_view row : rows) {
        for (char pixel : row) {
            switch (pixel) {
            case 'K':
                pixels.push_back(0xFF000000);
                break;
            case 'D':
                pixels.push_back(0xFF808080);
                break;
            case 'L':
                pixels.push_back(0xFFC0C0C0);
                break;
            case 'W':
                pixels.push_back(0xFFFFFFFF);
                break;
            default:
                pixels.push_back(0x00000000);
                break;
            }
        }
    }
    return pixels;
}

} // namespace

std::vector<uint32_t> EmptyMailSlotImage() {
    static constexpr std::string_view rows[16] = {
        "................", "................", "................", "................",
        "KKKKKKKKKKKKKKKK", "KWWWWWWWWWWWWWWK", "KWLLLLLLLLLLLLDK", "KWLKKKKKKKKKKLDK",
        "KWLLLLLLLLLLLLDK", "KDDDDDDDDDDDDDDK", "KKKKKKKKKKKKKKKK", "................",
        "................", "................", "................", "................",
    };
    return FromPixelArt(rows);
}

std::vector<uint32_t> LetterInMailSlotImage() {
    static constexpr std::string_view rows[16] = {
        "................", "................", "................", "................",
        "KKKKKKKKKKKKKKKK", "KWWWWWWWWWWWWWWK", "KWLLLLLLLLLLLLDK", "KWLKKKKKKKKKKLDK",
        "KWLLKWWWWWWKLLDK", "KDDDKWWWWWWKDDDK", "KKKKKWWWWWWKKKKK", "....KWKKKKWK....",
        "....KWWWWWWK....", "....KWKKKKWK....", "....KWWWWWWK....", "....KWKKKWWK....",
    };
    return FromPixelArt(rows);
}
