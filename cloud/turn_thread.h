#ifndef CLOUD_TURN_THREAD_H
#define CLOUD_TURN_THREAD_H

// The worker thread of a cloud-side service: its entry function runs a turn,
// waits out a period (or until asked to stop) and runs the next.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <pthread.h>

class TurnThread
{
public:
    // Starts entry(arg) as the thread named `name`; false when it could not
    // be created.
    bool start(void *(*entry)(void *), void *arg, const char *name);
    // Called by the thread between turns: waits `period`; true once stop()
    // has asked the thread to end.
    bool waitTurn(std::chrono::milliseconds period);
    // Asks the thread to end and waits for it; nothing when it was not started.
    void stop();

private:
    pthread_t m_thread{};
    bool m_started = false;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

#endif
