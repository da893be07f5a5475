#include "cloud/networkclient_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"

#include <QMutexLocker>
#include <chrono>

networkclient_Manage *networkclient_Manage::p_networkclient_Manage = nullptr;

namespace {
constexpr int TURN_MS = 200;
}

networkclient_Manage *networkclient_Manage::pInstance()
{
    if (p_networkclient_Manage)
        return p_networkclient_Manage;
    auto *m = new networkclient_Manage();
    writeLogMsg(3, "networkclient_Manage created");
    std::lock_guard<std::mutex> lock(m->m_stopMutex);
    if (pthread_create(&m->m_thread, nullptr, &networkclient_Manage::acceptThread, m) == 0)
        m->m_started = true;
    else
        writeLogMsg(1, "networkclient acceptThread create error");
    p_networkclient_Manage = m;
    return p_networkclient_Manage;
}

void networkclient_Manage::accept_turn()
{
    ++thread_turns;
    bool reconfig = false;
    {
        QMutexLocker lock(&Utils::_reconfig_device_kumocloud_mutex);
        if (g_rconfig_device_kumocloud) {
            g_rconfig_device_kumocloud = 0;
            reconfig = true;
        }
    }
    if (reconfig) {
        // A new cloud settings file: the connection (none is opened by this
        // build) is dropped so the next one uses the new settings.
        link_up = 0;
        ++reconfig_count;
    }
}

void *networkclient_Manage::acceptThread(void *arg)
{
    auto *self = static_cast<networkclient_Manage *>(arg);
    for (;;) {
        self->accept_turn();
        std::unique_lock<std::mutex> lock(self->m_stopMutex);
        if (self->m_stopCv.wait_for(lock, std::chrono::milliseconds(TURN_MS), [self] { return self->m_stop; }))
            break;
    }
    return nullptr;
}

void networkclient_Manage::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        if (!m_started)
            return;
        m_stop = true;
        m_stopCv.notify_all();
    }
    pthread_join(m_thread, nullptr);
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_started = false;
    m_stop = false;
}
