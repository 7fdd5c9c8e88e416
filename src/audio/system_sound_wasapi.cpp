#include "audio/system_sound.h"

#include "audio/sound_output.h"
#include "base/log.h"

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// A shared-mode WASAPI stream of our own on the default output device, so
// that its audio clock, which says which frame the device is playing now, can
// tell how long a period takes to be heard. SDL hides its own. When the
// device goes away (a headset unplugged) the stream opens again on whatever
// is the default then.

const char* const kSystemSoundSdlDriver = "wasapi";

namespace {

// The device's own buffer: two periods, as SDL would ask.
constexpr int kBufferPeriods = 2;
// Between tries to open the default device again after it went away.
constexpr DWORD kReopenMs = 500;

template <typename T> void release(T*& p) {
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

std::int64_t qpcNow100ns() {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    // In two parts, so that a long uptime cannot overflow the product.
    const std::int64_t seconds = now.QuadPart / frequency.QuadPart;
    const std::int64_t rest = now.QuadPart % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

} // namespace

struct SystemSound {
    SoundOutput* output = nullptr;
    int rate = 0;
    unsigned channels = 0;
    UINT32 periodFrames = 0;
    std::thread thread;
    HANDLE wake = nullptr;
    std::atomic<bool> stopping{false};

    // The first opening's outcome, handed to openSystemSound.
    std::mutex mutex;
    std::condition_variable opened;
    int outcome = 0; // 1 playing, -1 failed

    // The audio thread's own.
    IAudioClient* client = nullptr;
    IAudioRenderClient* render = nullptr;
    IAudioClock* clock = nullptr;
    UINT32 bufferFrames = 0;
    UINT64 clockFrequency = 0;
    REFERENCE_TIME streamLatency = 0;
    std::uint64_t written = 0; // frames handed since the stream started

    bool openDevice();
    void closeDevice();
    // False when the device has gone away.
    bool feed();
    int latencyFrames(UINT32 padding);
    void run();
};

bool SystemSound::openDevice() {
    IMMDeviceEnumerator* devices = nullptr;
    IMMDevice* device = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                         __uuidof(IMMDeviceEnumerator),
                                         reinterpret_cast<void**>(&devices))) &&
              SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device)) &&
              SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                         reinterpret_cast<void**>(&client)));
    release(device);
    release(devices);
    if (!ok) {
        return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 32;
    format.nBlockAlign = static_cast<WORD>(channels * sizeof(float));
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    // In 100 ns units. The system converts to the device's own format.
    const REFERENCE_TIME buffer = static_cast<REFERENCE_TIME>(kBufferPeriods) * periodFrames *
                                  10000000 / static_cast<REFERENCE_TIME>(rate);
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    ok = SUCCEEDED(
             client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, buffer, 0, &format, nullptr)) &&
         SUCCEEDED(client->SetEventHandle(wake)) &&
         SUCCEEDED(client->GetBufferSize(&bufferFrames)) && bufferFrames >= periodFrames &&
         SUCCEEDED(
             client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render))) &&
         SUCCEEDED(client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock))) &&
         SUCCEEDED(clock->GetFrequency(&clockFrequency)) && clockFrequency > 0;
    if (ok && FAILED(client->GetStreamLatency(&streamLatency))) {
        streamLatency = 0;
    }
    written = 0;
    ok = ok && SUCCEEDED(client->Start());
    if (!ok) {
        closeDevice();
    }
    return ok;
}

void SystemSound::closeDevice() {
    if (client != nullptr) {
        client->Stop();
    }
    release(clock);
    release(render);
    release(client);
}

// How long the first frame handed now takes to be heard: what was handed
// before it, less the frame the device is playing now by its audio clock
// (carried on to this moment), and never less than what the buffer holds (a
// clock that ran on through an underrun). Without a clock reading, what the
// buffer holds plus the stream's own latency.
int SystemSound::latencyFrames(UINT32 padding) {
    UINT64 position = 0;
    UINT64 at = 0;
    double frames = padding;
    if (SUCCEEDED(clock->GetPosition(&position, &at))) {
        const double since = static_cast<double>(qpcNow100ns() - static_cast<std::int64_t>(at));
        const double playing =
            static_cast<double>(position) / static_cast<double>(clockFrequency) * rate +
            since * 1e-7 * rate;
        frames = std::max(frames, static_cast<double>(written) - playing);
    } else {
        frames += static_cast<double>(streamLatency) * 1e-7 * rate;
    }
    return static_cast<int>(std::min(frames, static_cast<double>(INT_MAX)));
}

bool SystemSound::feed() {
    UINT32 padding = 0;
    if (FAILED(client->GetCurrentPadding(&padding))) {
        return false;
    }
    while (bufferFrames - padding >= periodFrames) {
        BYTE* data = nullptr;
        output->latencyFrames.store(latencyFrames(padding), std::memory_order_relaxed);
        if (FAILED(render->GetBuffer(periodFrames, &data))) {
            return false;
        }
        output->fill(output->user, reinterpret_cast<float*>(data), periodFrames);
        if (FAILED(render->ReleaseBuffer(periodFrames, 0))) {
            return false;
        }
        written += periodFrames;
        padding += periodFrames;
    }
    return true;
}

void SystemSound::run() {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const bool ok = com && openDevice();
    {
        std::lock_guard<std::mutex> lock(mutex);
        outcome = ok ? 1 : -1;
    }
    opened.notify_all();
    if (ok) {
        bool lost = false;
        while (!stopping.load(std::memory_order_acquire)) {
            if (client == nullptr) {
                // Gone: the music waits, silent, for a device to play it.
                WaitForSingleObject(wake, kReopenMs);
                if (!stopping.load(std::memory_order_acquire) && openDevice()) {
                    logLine(stderr, "[Audio] playing on the new default output device\n");
                    lost = false;
                }
                continue;
            }
            WaitForSingleObject(wake, 200);
            if (!stopping.load(std::memory_order_acquire) && !feed()) {
                closeDevice();
                if (!lost) {
                    logLine(stderr, "[Audio] the output device went away\n");
                    lost = true;
                }
            }
        }
    }
    closeDevice();
    if (com) {
        CoUninitialize();
    }
}

SystemSound* openSystemSound(SoundOutput& output, int rate, unsigned channels, int periodFrames) {
    if (rate <= 0 || channels == 0 || periodFrames <= 0) {
        return nullptr;
    }
    auto* s = new SystemSound;
    s->output = &output;
    s->rate = rate;
    s->channels = channels;
    s->periodFrames = static_cast<UINT32>(periodFrames);
    s->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (s->wake == nullptr) {
        delete s;
        return nullptr;
    }
    // COM is set up on a thread of our own, whatever the caller's is.
    s->thread = std::thread([s] { s->run(); });
    bool ok = false;
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        s->opened.wait(lock, [s] { return s->outcome != 0; });
        ok = s->outcome > 0;
    }
    if (!ok) {
        closeSystemSound(s);
        return nullptr;
    }
    return s;
}

void closeSystemSound(SystemSound* s) {
    if (s == nullptr) {
        return;
    }
    s->stopping.store(true, std::memory_order_release);
    SetEvent(s->wake);
    if (s->thread.joinable()) {
        s->thread.join();
    }
    CloseHandle(s->wake);
    delete s;
}
