#include "audio/system_audio_log.h"

#if defined(_WIN32)

// Windows' audio stack reports through return codes only.
void quietSystemAudioLog() {}

#else

#include <dlfcn.h>

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

} // namespace

// SDL loads the same libasound.so.2 later, so a handler set here is the one
// used. Reached through dlopen: the demo does not link ALSA itself.
void quietSystemAudioLog() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    if (void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL)) {
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
            set(quietAlsa);
        }
        // Kept loaded: the handler must outlive every later use of the library.
    }
}

#endif
