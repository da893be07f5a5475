#include "videoproc/c331_manage.h"

c331_manage *c331_manage::p_c331_manage = nullptr;

c331_manage::c331_manage()
{
    pthread_mutex_init(&manage_mutex, nullptr);
}

c331_manage *c331_manage::pInstance()
{
    if (!p_c331_manage) {
        p_c331_manage = new c331_manage();
        p_c331_manage->para_changed = 0;
    }
    return p_c331_manage;
}

ManageLock::ManageLock() : m_mutex(&c331_manage::pInstance()->manage_mutex)
{
    pthread_mutex_lock(m_mutex);
}

ManageLock::~ManageLock()
{
    pthread_mutex_unlock(m_mutex);
}

void raise_apply_request_locked(uint8_t level)
{
    c331_manage *m = c331_manage::pInstance();
    if (m->para_changed != 2)
        m->para_changed = level;
}

void raise_apply_request(uint8_t level)
{
    ManageLock lock;
    raise_apply_request_locked(level);
}
