#include <windows.h>

#include <mmsystem.h>

#include "shell/BackEnd.h"
#include "shell/win32/Win32Bridge.h"

// SND_NODEFAULT: a file that cannot be played stays silent instead of the system's beep.
void PlaySoundThroughSystem(std::u16string_view path, bool async) {
    const std::wstring file = ToWide(path);
    PlaySoundW(file.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT | (async ? SND_ASYNC : 0));
}
