#ifndef APP_THREAD_WAKE_H
#define APP_THREAD_WAKE_H

// How a worker thread sleeps between pieces of work: until another thread
// hands it a request (notify), until the time its periodic work is due, or
// until it is asked to end. A request raised while the thread is busy is not
// lost: the next wait returns at once. The lock inside is a leaf: notify()
// may be called with any of the program's locks held.

#include <chrono>
#include <condition_variable>
#include <mutex>

class thread_wake
{
public:
    using clock = std::chrono::steady_clock;

    // A request is waiting: the thread's current or next wait returns now.
    void notify()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = true;
        m_cv.notify_all();
    }

    // A deadline for a thread that has nothing periodic to do.
    static clock::time_point never() { return clock::time_point::max(); }

    // Sleeps until notify(), `deadline` or stop(); false once stop() was called.
    bool wait_until(clock::time_point deadline)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto woken = [this] { return m_pending || m_stop; };
        if (deadline == never())
            m_cv.wait(lock, woken);
        else
            m_cv.wait_until(lock, deadline, woken);
        m_pending = false;
        return !m_stop;
    }

    bool wait_for(std::chrono::milliseconds period) { return wait_until(clock::now() + period); }

    // Ends every wait, now and later, until reset().
    void stop()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_cv.notify_all();
    }

    void reset()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
        m_pending = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_pending = false;
    bool m_stop = false;
};

#endif
