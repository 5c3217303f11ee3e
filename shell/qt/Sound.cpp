#include "shell/BackEnd.h"

#include <canberra.h>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "base/RuntimeLibrary.h"
#include "base/Text.h"

namespace {

// The sound library's functions, bound when the first sound is played: a user without a sound
// never maps the library.
struct SoundLibrary {
    RuntimeLibrary library{"libcanberra.so.0"};
    decltype(&ca_context_create) contextCreate = nullptr;
    decltype(&ca_context_play_full) playFull = nullptr;
    decltype(&ca_proplist_create) proplistCreate = nullptr;
    decltype(&ca_proplist_sets) proplistSets = nullptr;
    decltype(&ca_proplist_destroy) proplistDestroy = nullptr;
    ca_context* context = nullptr;

    SoundLibrary() {
        library.Bind(contextCreate, "ca_context_create");
        library.Bind(playFull, "ca_context_play_full");
        library.Bind(proplistCreate, "ca_proplist_create");
        library.Bind(proplistSets, "ca_proplist_sets");
        library.Bind(proplistDestroy, "ca_proplist_destroy");
        if (contextCreate(&context) != CA_SUCCESS)
            context = nullptr;
    }
};

// The library for the whole run, made at the first sound; none when it cannot be had, which is
// said once on standard error and otherwise leaves the program silent.
SoundLibrary* Sounds() {
    static SoundLibrary* const sounds = []() -> SoundLibrary* {
        try {
            return new SoundLibrary;
        } catch (const ELibraryUnavailable& e) {
            std::fprintf(stderr, "brevgluggen: no sound: %s\n", e.what());
            return nullptr;
        }
    }();
    return sounds;
}

// Signals the end of one synchronous sound; the sound library calls it from its own thread.
struct SoundEnd {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

void OnSoundEnded(ca_context*, uint32_t, int, void* userdata) {
    auto* end = static_cast<SoundEnd*>(userdata);
    std::lock_guard lock(end->mutex);
    end->done = true;
    end->ended.notify_all();
}

// The file is read anew each time, as the user may have replaced it.
ca_proplist* SoundProperties(const SoundLibrary& sounds, const std::string& path) {
    ca_proplist* properties = nullptr;
    if (sounds.proplistCreate(&properties) != CA_SUCCESS)
        return nullptr;
    sounds.proplistSets(properties, CA_PROP_MEDIA_FILENAME, path.c_str());
    sounds.proplistSets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    return properties;
}

void PlayThroughSoundService(const std::string& path, bool async) {
    SoundLibrary* sounds = Sounds();
    if (!sounds || !sounds->context)
        return;
    ca_proplist* properties = SoundProperties(*sounds, path);
    if (!properties)
        return;
    if (async) {
        sounds->playFull(sounds->context, 0, properties, nullptr, nullptr);
    } else {
        SoundEnd end;
        if (sounds->playFull(sounds->context, 0, properties, OnSoundEnded, &end) == CA_SUCCESS) {
            std::unique_lock lock(end.mutex);
            end.ended.wait(lock, [&] { return end.done; });
        }
    }
    sounds->proplistDestroy(properties);
}

} // namespace

void PlaySoundThroughSystem(std::u16string_view path, bool async) {
    PlayThroughSoundService(TextToUtf8(path), async);
}
