#pragma once

namespace platform {

// Blocks the calling thread for ms milliseconds (the protocol's short waits). Bytes arriving meanwhile wait in
// the device's input queue.
void sleepMs(int ms);

} // namespace platform
