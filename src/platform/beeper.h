#pragma once

namespace platform {

// Plays a sine tone on the default sound device and returns when it has finished. Where there is no sound device
// (a headless machine, CI) it still takes the tone's time and makes no sound; it never reports an error.
void beep(int frequencyHz, int durationMs);

} // namespace platform
