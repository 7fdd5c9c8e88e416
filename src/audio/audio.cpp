#include "audio/audio.h"

#include "core/log.h"

// Placeholder until playback lands: behaves as if no device were present.
struct Audio::Block {};

Audio::Audio() : state(std::make_unique<Block>()) {}
Audio::~Audio() {
    unload();
}
bool Audio::loadFile(const char*) {
    log(stderr, "[Audio] engine init failed\n");
    return false;
}
bool Audio::loadMemory(const void*, std::size_t) {
    log(stderr, "[Audio] engine init failed\n");
    return false;
}
void Audio::play() {}
void Audio::pause() {}
void Audio::resume() {}
void Audio::seek(double) {}
void Audio::update() {}
float Audio::bass() const {
    return 0.0f;
}
float Audio::treble() const {
    return 0.0f;
}
double Audio::lengthSeconds() const {
    return 0.0;
}
void Audio::unload() {}
