#include "ui/panelpicture.h"

#include "ui/mainwindow.h"
#include "ui/pages.h"
#include "ui/panelpage.h"

#include <QApplication>
#include <QEvent>
#include <QList>
#include <QPainter>
#include <QPointer>
#include <QWidget>

namespace ui {

namespace {

bool isPanelWindow(const QObject *o)
{
    if (!o->isWidgetType())
        return false;
    const auto *w = static_cast<const QWidget *>(o);
    return w->isWindow() && w->windowType() != Qt::Desktop;
}

// The panel's windows from the bottom up, as the screen stacks them: a window
// goes on top when it is shown or raised (the panel never lowers one).
class StackingOrder : public QObject
{
public:
    explicit StackingOrder(QObject *parent) : QObject(parent) {}

    QList<QWidget *> bottomUp() const
    {
        QList<QWidget *> out;
        for (const QPointer<QWidget> &w : m_order)
            if (w)
                out << w.data();
        return out;
    }

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if ((e->type() == QEvent::Show || e->type() == QEvent::ZOrderChange) && isPanelWindow(o))
            putOnTop(static_cast<QWidget *>(o));
        return false;
    }

private:
    void putOnTop(QWidget *w)
    {
        m_order.removeAll(QPointer<QWidget>());
        m_order.removeAll(w);
        m_order.append(w);
    }

    QList<QPointer<QWidget>> m_order;
};

QPointer<StackingOrder> g_stacking;

// The visible windows from the bottom up; windows shown before the order was
// followed lie below those it saw.
QList<QWidget *> visibleWindows()
{
    const QList<QWidget *> followed = g_stacking ? g_stacking->bottomUp() : QList<QWidget *>();
    QList<QWidget *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (isPanelWindow(w) && w->isVisible() && !followed.contains(w))
            out << w;
    for (QWidget *w : followed)
        if (w->isVisible())
            out << w;
    return out;
}

} // namespace

void trackStacking()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || g_stacking)
        return;
    g_stacking = new StackingOrder(app);
    app->installEventFilter(g_stacking);
}

QImage panelPicture()
{
    // Where no window covers it, the LCD is dark.
    QImage picture(PANEL_W, PANEL_H, QImage::Format_RGB32);
    picture.fill(Qt::black);
    const QPoint origin = g_mainwindow ? static_cast<QWidget *>(g_mainwindow)->mapToGlobal(QPoint()) : QPoint();
    QPainter painter(&picture);
    for (QWidget *w : visibleWindows())
        w->render(&painter, w->mapToGlobal(QPoint()) - origin);
    return picture;
}

} // namespace ui
