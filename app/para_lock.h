#ifndef APP_PARA_LOCK_H
#define APP_PARA_LOCK_H

// The apply hand-shake of the parameter store: the image's lock and the
// one-byte apply request it guards. A writer that wants the chip to act
// holds ParaLock, changes the image (never its snapshot), raises the request
// and lets go:
//
//     ParaLock lock;
//     store->setWord(para::CONTRAST, 40);
//     raise_apply_request_locked(1);
//
// Request 1: the image changed; 2: it changed and the user modes are to be
// examined again (after a factory reset). A pending 2 is never lowered to 1.
//
// The image's lock is held only for short steps, never across hardware. The
// chip thread's apply pass has a lock of its own (c331_manage::manage_mutex,
// held across the chip's programming); it takes the image's lock when it
// begins (to take the request and a copy of the image), for the values it
// writes back into the image, and when it ends. So a writer never waits for
// a pass, and a request raised while a pass runs is applied by the next one.
// Lock order: manage_mutex, then the image's lock (app/threads.h).

#include <cstdint>
#include <pthread.h>

namespace para_lock {

// The image's lock.
pthread_mutex_t &mutex();

// The request, with ParaLock held (the chip manager names it para_changed):
// non-zero from the raise until the end of the pass that applies it, so
// whoever sees 0 knows that every change raised before has been applied.
uint8_t &request();

// For the chip's apply pass, with ParaLock held. begin_pass returns the
// request the pass is to apply (0: none pending, and then no pass runs);
// end_pass ends that pass. A request raised in between stays pending after
// end_pass, at the level raised, for the next pass.
uint8_t begin_pass();
void end_pass();

// Called after every raise, with the image's lock held, so that the thread
// that applies requests runs at once (the chip manager wakes its thread). It
// may take only leaf locks. nullptr: none.
void set_request_hook(void (*hook)());

} // namespace para_lock

// Holds the image's lock for one scope.
class ParaLock
{
public:
    ParaLock();
    ~ParaLock();
    ParaLock(const ParaLock &) = delete;
    ParaLock &operator=(const ParaLock &) = delete;
};

// Raises the apply request `level` (1 or 2) under the image's lock.
void raise_apply_request(uint8_t level = 1);
// The same for a caller that already holds it (through ParaLock).
void raise_apply_request_locked(uint8_t level = 1);

#endif
