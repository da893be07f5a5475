#include "ui/panelstatus.h"

#include "app/global.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "ui/lockwindow.h"
#include "ui/pages.h"

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
    return platform::files::writeAtomic("/sim/status", status.constData(), size_t(status.size()));
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
