#ifndef VIDEOPROC_C331_MANAGE_H
#define VIDEOPROC_C331_MANAGE_H

// Owner of the video processing chip. Every writer of the parameter image
// takes manage_mutex, changes the image and raises the apply request
// para_changed (1 = changed, 2 = changed and user modes to be examined again);
// the chip thread applies what differs from the snapshot.

#include <cstdint>
#include <pthread.h>

class c331_manage
{
public:
    static c331_manage *pInstance();
    static c331_manage *p_c331_manage;

    ~c331_manage() {}

    pthread_mutex_t manage_mutex;
    uint8_t para_changed = 0;
    // 1 when one output channel pair carries the whole wall.
    uint8_t use1och = 0;

private:
    c331_manage();
};

// Holds manage_mutex of the chip manager for one scope.
class ManageLock
{
public:
    ManageLock();
    ~ManageLock();
    ManageLock(const ManageLock &) = delete;
    ManageLock &operator=(const ManageLock &) = delete;

private:
    pthread_mutex_t *m_mutex;
};

// Raises the apply request `level` (1 or 2) under manage_mutex. A pending 2
// is never lowered to 1.
void raise_apply_request(uint8_t level = 1);
// The same for a caller that already holds manage_mutex (through ManageLock).
void raise_apply_request_locked(uint8_t level = 1);

#endif
