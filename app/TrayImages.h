#pragma once
// The two 16x16 pictures of the tray icon, as ARGB pixels with a transparent background.

#include <cstdint>
#include <vector>

// Image 0: an empty horizontal mail slot.
std::vector<uint32_t> EmptyMailSlotImage();
// Image 1: the same slot with a sheet bearing three lines of text sliding out of it.
std::vector<uint32_t> LetterInMailSlotImage();
