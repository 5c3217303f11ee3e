#include "toolz/MMToolz.h"

#include "shell/FilesAndLocale.h"
#include "shell/Sound.h"

void PlayWaveFile(std::u16string_view path, bool async) {
    if (path.empty() || !FileExists(path))
        return;
    PlaySoundFile(path, async);
}
