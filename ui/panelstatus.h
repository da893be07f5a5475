#ifndef UI_PANELSTATUS_H
#define UI_PANELSTATUS_H

// Simulation: <root>/sim/status tells whoever drives the simulated device
// which page is in front ("page_focus N") and whether the status screen is
// shown ("lockwindow shown|hidden").

#include <QByteArray>

namespace ui {

// What the status tells.
struct PanelState {
    int page = -1;          // -1: nothing written yet
    bool locked = false;
    bool operator==(const PanelState &o) const { return page == o.page && locked == o.locked; }
    bool operator!=(const PanelState &o) const { return !(*this == o); }
};

// The state as it stands now.
PanelState panelState();
// The status text of a state (by default the one as it stands now).
QByteArray panelStatus(const PanelState &state = panelState());
// Writes the status file (simulation only); true when written.
bool writePanelStatus(const QByteArray &status);
// Writes the status when the state differs from `written`, the last one
// written; the tick calls it, so the file follows every change of the page in
// front, and the text is built only then.
void publishPanelStatus(PanelState &written);

} // namespace ui

#endif
