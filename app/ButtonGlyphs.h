#pragma once
// The 16x16 pictures left of the button captions, as ARGB pixels. They are drawn in the 16
// colours of the classic palette on a magenta background, which is left transparent.

#include <cstdint>
#include <vector>

// A yellow open folder, on both Browse buttons.
std::vector<uint32_t> OpenFolderGlyph();
// A floppy disk, on Save.
std::vector<uint32_t> FloppyDiskGlyph();
