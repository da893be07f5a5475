#include "protocol/gui_call.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <deque>
#include <mutex>
#include <utility>

namespace gui_call {

namespace {

// Lives in the GUI thread and runs what the workers queued.
class Runner : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void run_pending();
};

std::mutex g_mutex;                              // guards the two below
std::deque<std::function<void()>> g_pending;
Runner *g_runner = nullptr;

void Runner::run_pending()
{
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        batch.swap(g_pending);
    }
    for (std::function<void()> &work : batch)
        work();
}

// The runner is made by the GUI thread itself, as the application starts.
void createRunner()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_runner)
        g_runner = new Runner();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(createRunner)

void post(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    Runner *runner;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        runner = g_runner;
        if (!runner)
            return;   // no application has started
        g_pending.push_back(std::move(work));
    }
    // A wake-up by name: Qt builds the call inside its own library.
    QMetaObject::invokeMethod(runner, "run_pending", Qt::QueuedConnection);
}

void post(QObject *context, std::function<void()> work)
{
    QPointer<QObject> guard(context);
    post([guard, work] {
        if (guard)
            work();
    });
}

} // namespace gui_call

#include "gui_call.moc"
