#include "platform/beeper.h"

#include "platform/sleep.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

namespace platform {

namespace {

constexpr unsigned sampleRate = 44100;

// Quiets ALSA's own messages about missing devices on a machine without sound.
void silentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

bool play(int frequencyHz, int durationMs) {
    snd_lib_error_set_handler(silentErrorHandler);
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
    bool ok = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, sampleRate, 1,
                                 50000) >= 0;
    if (ok) {
        const size_t frames = sampleRate * static_cast<unsigned>(durationMs) / 1000;
        std::vector<short> samples(frames);
        for (size_t i = 0; i < frames; ++i)
            samples[i] = static_cast<short>(8000 * std::sin(2 * std::numbers::pi * frequencyHz * i / sampleRate));
        size_t done = 0;
        while (ok && done < frames) {
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, frames - done);
            if (n < 0)
                ok = snd_pcm_recover(pcm, static_cast<int>(n), 1) >= 0;
            else
                done += static_cast<size_t>(n);
        }
        if (ok) snd_pcm_drain(pcm);
    }
    snd_pcm_close(pcm);
    return ok;
}

} // namespace

void beep(int frequencyHz, int durationMs) {
    if (durationMs <= 0) return;
    const auto start = std::chrono::steady_clock::now();
    if (!play(frequencyHz, durationMs)) {
        // Take the tone's time all the same, so the program behaves alike with and without sound.
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        sleepMs(durationMs - static_cast<int>(spent.count()));
    }
}

} // namespace platform
