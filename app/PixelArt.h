#pragma once
// Small pictures written in the source as text, one character per pixel.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Appends the ARGB pixels of the rows, in the classic 16-colour palette: 'K' black, 'W' white,
// 'Y' yellow, 'O' olive, 'B' navy, 'S' silver, 'D' grey. Any other character is `background`.
void AppendPixelArt(std::vector<uint32_t>& pixels, std::span<const std::string_view> rows,
                    uint32_t background);
