#include "ui/panelstatus.h"

#include "app/global.h"
#include "platform/platform.h"
#include "ui/lockwindow.h"
#include "ui/pages.h"

#include <QSaveFile>

namespace ui {

QByteArray panelStatus()
{
    const bool locked = g_lockwindow && g_lockwindow->isVisible();
    return "page_focus " + QByteArray::number(g_page_focus.load()) + "\nlockwindow " +
           (locked ? "shown" : "hidden") + "\n";
}

bool writePanelStatus(const QByteArray &status)
{
    if (!platform::isSim())
        return false;
    // Replaced as a whole, so a reader never sees half a status.
    QSaveFile file(platform::qpath(QStringLiteral("/sim/status")));
    return file.open(QIODevice::WriteOnly) && file.write(status) == status.size() && file.commit();
}

void publishPanelStatus(QByteArray &written)
{
    if (!platform::isSim())
        return;
    const QByteArray now = panelStatus();
    if (now != written && writePanelStatus(now))
        written = now;
}

} // namespace ui
