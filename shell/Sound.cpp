// Sound output: the desktop's sound service, or the replacement a test puts in its place.

#include "shell/Sound.h"

#include "shell/BackEnd.h"

namespace {

TSoundOutput& TestOutput() {
    static TSoundOutput output;
    return output;
}

} // namespace

void PlaySoundFile(std::u16string_view path, bool async) {
    if (TestOutput())
        TestOutput()(path, async);
    else
        PlaySoundThroughSystem(path, async);
}

void SetSoundOutputForTesting(TSoundOutput output) {
    TestOutput() = std::move(output);
}
