#pragma once
// Sound helpers.

#include <string_view>

// Plays the WAV file at `path` (returning at once when `async`); does nothing when the path is
// empty or names no file. Whether the file is a playable sound is not looked at.
void PlayWaveFile(std::u16string_view path, bool async);
