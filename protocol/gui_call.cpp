#include "protocol/gui_call.h"

#include <QCoreApplication>
#include <QThread>

namespace gui_call {

void post(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace gui_call
