#include "cloud/turn_thread.h"

#include "app/utils.h"

bool TurnThread::start(void *(*entry)(void *), void *arg, const char *name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started)
        return true;
    m_started = pthread_create(&m_thread, nullptr, entry, arg) == 0;
    if (m_started)
        Utils::name_thread(m_thread, name);
    return m_started;
}

bool TurnThread::waitTurn(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, period, [this] { return m_stop; });
}

void TurnThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started)
            return;
        m_stop = true;
        m_cv.notify_all();
    }
    pthread_join(m_thread, nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_started = false;
    m_stop = false;
}
