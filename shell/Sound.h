#pragma once
// Sound output through the desktop's sound service.

#include <functional>
#include <string_view>

// Plays a WAV file to its end; returns at once when `async`, else when the sound has ended.
// Stays silent, without an error, when no sound can be played.
void PlaySoundFile(std::u16string_view path, bool async);

// Replaces the sound output for tests that observe what would be played; an empty function
// restores the real output.
using TSoundOutput = std::function<void(std::u16string_view path, bool async)>;
void SetSoundOutputForTesting(TSoundOutput output);
