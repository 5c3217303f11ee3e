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

constexpr uint32_t Transparent = 0x00000000;

} // namespace

std::vector<uint32_t> EmptyMailSlotImage() {
    static constexpr PixelRows slotBottom = {
        "KWSSSSSSSSSSSSDK", "KDDDDDDDDDDDDDDK", "KKKKKKKKKKKKKKKK", "................",
        "................", "................", "................", "................",
    };
    return DecodePixelArt({SlotTop, slotBottom}, Transparent);
}

std::vector<uint32_t> LetterInMailSlotImage() {
    static constexpr PixelRows slotBottomWithSheet = {
        "KWSSKWWWWWWKSSDK", "KDDDKWWWWWWKDDDK", "KKKKKWWWWWWKKKKK", "....KWKKKKWK....",
        "....KWWWWWWK....", "....KWKKKKWK....", "....KWWWWWWK....", "....KWKKKWWK....",
    };
    return DecodePixelArt({SlotTop, slotBottomWithSheet}, Transparent);
}

std::vector<uint32_t> TroubleAtMailSlotImage() {
    static constexpr PixelRows slotBottomWithMark = {
        "KWSSSSSSSSKKKKDK", "KDDDDDDDDKRRRRKK", "KKKKKKKKKRWRRWRK", "........KRRWWRRK",
        "........KRRWWRRK", "........KRWRRWRK", ".........KRRRRK.", "..........KKKK..",
    };
    return DecodePixelArt({SlotTop, slotBottomWithMark}, Transparent);
}
