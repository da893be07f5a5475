#ifndef PLATFORM_TIMING_H
#define PLATFORM_TIMING_H

// Settling pauses that wait for hardware or flash (the 100 ms after a file
// write, the microsecond gaps between transfers). Unit tests switch them off;
// the program and the end-to-end tests keep them.

namespace platform {

void pauseMs(unsigned ms);
void pauseUs(unsigned us);
void setPausesEnabled(bool enabled);

} // namespace platform

#endif
