#pragma once

#include <functional>

namespace platform {

// Routes SIGINT and SIGTERM to onQuit, called on the main thread from the event loop, so that a program stopped
// from its terminal or by its session manager still runs its orderly shutdown. Call once, from the main thread,
// after the application object exists.
void onQuitSignals(std::function<void()> onQuit);

} // namespace platform
