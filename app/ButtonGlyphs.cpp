#include "app/ButtonGlyphs.h"

#include <string_view>

#include "app/PixelArt.h"

namespace {

using GlyphRows = std::string_view[16];

// Drawn on magenta, which is left transparent.
constexpr uint32_t TransparentMagenta = 0x00FF00FF;

} // namespace

std::vector<uint32_t> OpenFolderGlyph() {
    static constexpr GlyphRows rows = {
        "................", "................", "................", "..KKKK..........",
        ".KWYYWK.........", ".KYYYYKKKKKKK...", ".KYYYYYYYYYYK...", ".KYYYYYYYYYYK...",
        ".KYYYKKKKKKKKKKK", ".KYYKOOOOOOOOOK.", ".KYKOOOOOOOOOK..", ".KYKOOOOOOOOOK..",
        ".KKOOOOOOOOOK...", ".KKKKKKKKKKKK...", "................", "................",
    };
    return DecodePixelArt({rows}, TransparentMagenta);
}

std::vector<uint32_t> FloppyDiskGlyph() {
    static constexpr GlyphRows rows = {
        "................", ".KKKKKKKKKKKKKK.", ".KBWWWWWWWWWWBK.", ".KBWWWWWWWWWWBK.",
        ".KBWKKKKKKKKWBK.", ".KBWWWWWWWWWWBK.", ".KBWKKKKKKKKWBK.", ".KBWWWWWWWWWWBK.",
        ".KBBBBBBBBBBBBK.", ".KBBSSSSSSSSBBK.", ".KBBSSKKSSSSBBK.", ".KBBSSKKSSSSBBK.",
        ".KBBSSKKSSSSBBK.", ".KBBSSSSSSSSBBK.", "..KKKKKKKKKKKKK.", "................",
    };
    return DecodePixelArt({rows}, TransparentMagenta);
}
