#pragma once
// The three 16x16 pictures of the tray icon, as ARGB pixels with a transparent background.

#include <cstdint>
#include <vector>

// The images' places in the tray's image list.
enum TrayImage : uint8_t { tiNoMail = 0, tiMailWaiting = 1, tiCheckFailed = 2 };

// Image 0: an empty horizontal mail slot.
std::vector<uint32_t> EmptyMailSlotImage();
// Image 1: the same slot with a sheet bearing three lines of text sliding out of it.
std::vector<uint32_t> LetterInMailSlotImage();
// Image 2: the empty slot with a red disc bearing a white cross over its lower right end.
std::vector<uint32_t> TroubleAtMailSlotImage();
