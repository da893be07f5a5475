#ifndef APP_PARA_LOCK_H
#define APP_PARA_LOCK_H

// The apply hand-shake of the parameter store: the lock of the parameter
// image and the one-byte apply request it guards. A writer that wants the
// chip to act holds ManageLock, changes the image (never its snapshot),
// raises the request and lets go:
//
//     ManageLock lock;
//     store->setWord(para::CONTRAST, 40);
//     raise_apply_request_locked(1);
//
// The chip thread applies what differs from the snapshot and then ends the
// request (videoproc/c331_manage.h, which names the two manage_mutex and
// para_changed). Request 1: the image changed; 2: it changed and the user
// modes are to be examined again (after a factory reset). A pending 2 is
// never lowered to 1.

#include <cstdint>
#include <pthread.h>

namespace para_lock {

// The image's lock and the request it guards.
pthread_mutex_t &mutex();
uint8_t &request();

} // namespace para_lock

// Holds the image's lock for one scope.
class ManageLock
{
public:
    ManageLock();
    ~ManageLock();
    ManageLock(const ManageLock &) = delete;
    ManageLock &operator=(const ManageLock &) = delete;
};

// Raises the apply request `level` (1 or 2) under the image's lock.
void raise_apply_request(uint8_t level = 1);
// The same for a caller that already holds it (through ManageLock).
void raise_apply_request_locked(uint8_t level = 1);

#endif
