#include "app/TrayImages.h"

#include <string_view>

#include "app/PixelArt.h"

namespace {

using PixelRows = std::string_view[8];

// The upper half of both images: the top of the slot with its opening.
constexpr PixelRows SlotTop = {
    "................", "................", "................", "................",
    "KKKKKKKKKKKKKKKK", "KWWWWWWWWWWWWWWK", "KWSSSSSSSSSSSSDK", "KWSKKKKKKKKKKSDK",
};

std::vector<uint32_t> FromPixelArt(const PixelRows& upper, const PixelRows& lower) {
    std::vector<uint32_t> pixels;
    AppendPixelArt(pixels, upper, 0x00000000);
    AppendPixelArt(pixels, lower, 0x00000000);
    return pixels;
}

} // namespace

std::vector<uint32_t> EmptyMailSlotImage() {
    static constexpr PixelRows slotBottom = {
        "KWSSSSSSSSSSSSDK", "KDDDDDDDDDDDDDDK", "KKKKKKKKKKKKKKKK", "................",
        "................", "................", "................", "................",
    };
    return FromPixelArt(SlotTop, slotBottom);
}

std::vector<uint32_t> LetterInMailSlotImage() {
    static constexpr PixelRows slotBottomWithSheet = {
        "KWSSKWWWWWWKSSDK", "KDDDKWWWWWWKDDDK", "KKKKKWWWWWWKKKKK", "....KWKKKKWK....",
        "....KWWWWWWK....", "....KWKKKKWK....", "....KWWWWWWK....", "....KWKKKWWK....",
    };
    return FromPixelArt(SlotTop, slotBottomWithSheet);
}
