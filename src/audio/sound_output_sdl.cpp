#include "audio/sound_output.h"

#include "audio/system_audio_log.h"
#include "audio/system_sound.h"
#include "base/log.h"

#include <SDL2/SDL.h>
#include <cstdlib>
#include <string>

namespace {

void deviceCallback(void* self, Uint8* stream, int bytes) {
    const auto* output = static_cast<const SoundOutput*>(self);
    const std::size_t frames = static_cast<std::size_t>(bytes) / (sizeof(float) * output->channels);
    output->fill(output->user, reinterpret_cast<float*>(stream), frames);
}

void sdlLog(void*, int, SDL_LogPriority, const char* message) {
    logLine(stderr, "[Audio] SDL: %s\n", message);
}

// Keeps the sound libraries' own chatter off stderr and SDL's hands off the
// process signals.
void prepareSdl() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_LogSetOutputFunction(sdlLog, nullptr);
    quietSystemAudioLog();
}

// The platform's own sound system is asked first, unless SDL_AUDIODRIVER
// names another of SDL's drivers (the tests' disk and dummy devices).
bool systemSoundWanted() {
    const char* named = std::getenv("SDL_AUDIODRIVER");
    if (named == nullptr || *named == '\0') {
        return true;
    }
    const std::string list = named;
    return SDL_strcasecmp(list.substr(0, list.find(',')).c_str(), kSystemSoundSdlDriver) == 0;
}

} // namespace

bool SoundOutput::open(int rate, unsigned channelCount, int periodFrames, Fill callback,
                       void* context) {
    close();
    fill = callback;
    user = context;
    channels = channelCount;
    if (systemSoundWanted()) {
        system = openSystemSound(*this, rate, channelCount, periodFrames);
        if (system != nullptr) {
            return true;
        }
    }
    prepareSdl();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channelCount);
    want.samples = static_cast<Uint16>(periodFrames);
    want.callback = deviceCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the hardware wants.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    // Where no sound server answers, SDL tells nothing past its own buffer:
    // the one filled now is heard once the one before it has played.
    latencyFrames.store(have.samples, std::memory_order_relaxed);
    SDL_PauseAudioDevice(device, 0);
    return true;
}

void SoundOutput::close() {
    if (system != nullptr) {
        closeSystemSound(system);
        system = nullptr;
    }
    if (device != 0) {
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}
