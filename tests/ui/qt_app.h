#ifndef TESTS_UI_QT_APP_H
#define TESTS_UI_QT_APP_H

// One QApplication for the whole test program (offscreen platform), and a
// deadline-bounded wait that keeps the event loop running.

#include "support/patience.h"

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

namespace zemtest {

inline QApplication *qtApp()
{
    static int argc = 1;
    static char name[] = "zemtest";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

// Processes events until cond() holds or ms pass (scaled by the build's
// slowdown); returns cond().
inline bool waitFor(const std::function<bool()> &cond, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms * SLOWDOWN)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace zemtest

#endif
