#pragma once
// Small pictures written in the source as text, one character per pixel.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

// The ARGB pixels of the rows of every block in turn, in the classic 16-colour palette: 'K' black,
// 'W' white, 'Y' yellow, 'O' olive, 'B' navy, 'S' silver, 'D' grey, 'R' red. Any other character is
// `background`.
std::vector<uint32_t> DecodePixelArt(std::initializer_list<std::span<const std::string_view>> blocks,
                                     uint32_t background);
