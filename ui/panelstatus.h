#ifndef UI_PANELSTATUS_H
#define UI_PANELSTATUS_H

// Simulation: <root>/sim/status tells whoever drives the simulated device
// which page is in front ("page_focus N") and whether the status screen is
// shown ("lockwindow shown|hidden").

#include <QByteArray>

namespace ui {

// The status as it stands now.
QByteArray panelStatus();
// Writes the status file (simulation only); true when written.
bool writePanelStatus(const QByteArray &status);
// Writes the status when it differs from `written`, the last one written;
// the tick calls it, so the file follows every change of the page in front.
void publishPanelStatus(QByteArray &written);

} // namespace ui

#endif
