#include "app/para_lock.h"

namespace {

// Program-wide: the request outlives any one store or chip manager object.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
uint8_t g_request = 0;

} // namespace

namespace para_lock {

pthread_mutex_t &mutex() { return g_mutex; }

uint8_t &request() { return g_request; }

} // namespace para_lock

ManageLock::ManageLock()
{
    pthread_mutex_lock(&g_mutex);
}

ManageLock::~ManageLock()
{
    pthread_mutex_unlock(&g_mutex);
}

void raise_apply_request_locked(uint8_t level)
{
    if (g_request != 2)
        g_request = level;
}

void raise_apply_request(uint8_t level)
{
    ManageLock lock;
    raise_apply_request_locked(level);
}
