#include "ui/panelstatus.h"

#include "app/global.h"
#include "platform/platform.h"
#include "ui/lockwindow.h"
#include "ui/pages.h"

#include <QSaveFile>

namespace ui {

PanelState panelState()
{
    PanelState s;
    s.page = g_page_focus.load();
    s.locked = g_lockwindow && g_lockwindow->isVisible();
    return s;
}

QByteArray panelStatus(const PanelState &state)
{
    return "page_focus " + QByteArray::number(state.page) + "\nlockwindow " + (state.locked ? "shown" : "hidden") +
           "\n";
}

bool writePanelStatus(const QByteArray &status)
{
    if (!platform::isSim())
        return false;
    // Replaced as a whole, so a reader never sees half a status.
    QSaveFile file(platform::qpath(QStringLiteral("/sim/status")));
    return file.open(QIODevice::WriteOnly) && file.write(status) == status.size() && file.commit();
}

void publishPanelStatus(PanelState &written)
{
    if (!platform::isSim())
        return;
    const PanelState now = panelState();
    if (now != written && writePanelStatus(panelStatus(now)))
        written = now;
}

} // namespace ui
