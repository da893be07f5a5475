#include "cloud/networkclient_manage.h"

#include "app/global.h"
#include "app/logMsg.h"
#include "app/utils.h"

#include <chrono>
#include <mutex>

std::atomic<networkclient_Manage *> networkclient_Manage::p_networkclient_Manage{nullptr};

namespace {
constexpr int TURN_MS = 1000;   // a settings change is taken up within a turn
}

networkclient_Manage *networkclient_Manage::pInstance()
{
    if (p_networkclient_Manage)
        return p_networkclient_Manage;
    auto *m = new networkclient_Manage();
    writeLogMsg(3, "networkclient_Manage created");
    if (!m->m_worker.start(&networkclient_Manage::acceptThread, m, "cloud"))
        writeLogMsg(1, "networkclient acceptThread create error");
    p_networkclient_Manage = m;
    return p_networkclient_Manage;
}

void networkclient_Manage::accept_turn()
{
    ++thread_turns;
    bool reconfig = false;
    {
        std::lock_guard<std::mutex> lock(Utils::_reconfig_device_kumocloud_mutex);
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
    do
        self->accept_turn();
    while (!self->m_worker.waitTurn(std::chrono::milliseconds(TURN_MS)));
    return nullptr;
}

void networkclient_Manage::stop()
{
    m_worker.stop();
}
