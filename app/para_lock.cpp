#include "app/para_lock.h"

#include <atomic>

namespace {

// Program-wide: the request outlives any one store or chip manager object.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
uint8_t g_request = 0;        // pending, or being applied by the running pass
bool g_in_pass = false;       // a pass is applying g_request
uint8_t g_raised_in_pass = 0; // raised while it runs: for the next pass
std::atomic<void (*)()> g_hook{nullptr};

void raise_to(uint8_t &request, uint8_t level)
{
    if (request != 2)
        request = level;
}

} // namespace

namespace para_lock {

pthread_mutex_t &mutex() { return g_mutex; }

uint8_t &request() { return g_request; }

uint8_t begin_pass()
{
    g_in_pass = g_request != 0;
    g_raised_in_pass = 0;
    return g_request;
}

void end_pass()
{
    g_in_pass = false;
    g_request = g_raised_in_pass;
    g_raised_in_pass = 0;
}

void set_request_hook(void (*hook)()) { g_hook = hook; }

} // namespace para_lock

ParaLock::ParaLock()
{
    pthread_mutex_lock(&g_mutex);
}

ParaLock::~ParaLock()
{
    pthread_mutex_unlock(&g_mutex);
}

void raise_apply_request_locked(uint8_t level)
{
    raise_to(g_in_pass ? g_raised_in_pass : g_request, level);
    if (void (*hook)() = g_hook.load())
        hook();
}

void raise_apply_request(uint8_t level)
{
    ParaLock lock;
    raise_apply_request_locked(level);
}
