#include "toolz/MMToolz.h"

#include "shell/MMSystem.h"
#include "shell/SysUtils.h"

void PlayWaveFile(std::u16string_view path, bool async) {
    if (path.empty() || !FileExists(path))
        return;
    PlaySoundFile(path, async);
}
