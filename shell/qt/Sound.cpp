#include "shell/BackEnd.h"

#include <canberra.h>
#include <condition_variable>
#include <mutex>

#include "base/Text.h"

namespace {

// One sound context for the whole run, made at the first sound; none when it cannot be had.
ca_context* SoundContext() {
    static ca_context* context = [] {
        ca_context* made = nullptr;
        if (ca_context_create(&made) != CA_SUCCESS)
            return static_cast<ca_context*>(nullptr);
        return made;
    }();
    return context;
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
ca_proplist* SoundProperties(const std::string& path) {
    ca_proplist* properties = nullptr;
    if (ca_proplist_create(&properties) != CA_SUCCESS)
        return nullptr;
    ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, path.c_str());
    ca_proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    return properties;
}

void PlayThroughSoundService(const std::string& path, bool async) {
    ca_context* context = SoundContext();
    if (!context)
        return;
    ca_proplist* properties = SoundProperties(path);
    if (!properties)
        return;
    if (async) {
        ca_context_play_full(context, 0, properties, nullptr, nullptr);
    } else {
        SoundEnd end;
        if (ca_context_play_full(context, 0, properties, OnSoundEnded, &end) == CA_SUCCESS) {
            std::unique_lock lock(end.mutex);
            end.ended.wait(lock, [&] { return end.done; });
        }
    }
    ca_proplist_destroy(properties);
}

} // namespace

void PlaySoundThroughSystem(std::u16string_view path, bool async) {
    PlayThroughSoundService(TextToUtf8(path), async);
}
