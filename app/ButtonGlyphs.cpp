#include "app/ButtonGlyphs.h"

#include <string_view>

namespace {

using GlyphRows = std::string_view[16];

constexpr uint32_t TransparentMagenta = 0x00FF00FF;

// One character per pixel: '.' background, 'K' black, 'W' white, 'Y' yellow, 'O' olive
// (dark yellow), 'B' navy, 'S' silver.
uint32_t PaletteColour(char pixel) {
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
    default:
        return TransparentMagenta;
    }
}

std::vector<uint32_t> FromPixelArt(const GlyphRows& rows) {
    std::vector<uint32_t> pixels;
    for (std::string_view row : rows)
        for (char pixel : row)
            pixels.push_back(PaletteColour(pixel));
    return pixels;
}

} // namespace

std::vector<uint32_t> OpenFolderGlyph() {
    static constexpr GlyphRows rows = {
        "................", "................", "................", "..KKKK..........",
        ".KWYYWK.........", ".KYYYYKKKKKKK...", ".KYYYYYYYYYYK...", ".KYYYYYYYYYYK...",
        ".KYYYKKKKKKKKKKK", ".KYYKOOOOOOOOOK.", ".KYKOOOOOOOOOK..", ".KYKOOOOOOOOOK..",
        ".KKOOOOOOOOOK...", ".KKKKKKKKKKKK...", "................", "................",
    };
    return FromPixelArt(rows);
}

std::vector<uint32_t> FloppyDiskGlyph() {
    static constexpr GlyphRows rows = {
        "................", ".KKKKKKKKKKKKKK.", ".KBWWWWWWWWWWBK.", ".KBWWWWWWWWWWBK.",
        ".KBWKKKKKKKKWBK.", ".KBWWWWWWWWWWBK.", ".KBWKKKKKKKKWBK.", ".KBWWWWWWWWWWBK.",
        ".KBBBBBBBBBBBBK.", ".KBBSSSSSSSSBBK.", ".KBBSSKKSSSSBBK.", ".KBBSSKKSSSSBBK.",
        ".KBBSSKKSSSSBBK.", ".KBBSSSSSSSSBBK.", "..KKKKKKKKKKKKK.", "................",
    };
    return FromPixelArt(rows);
}
