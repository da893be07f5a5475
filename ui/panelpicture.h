#ifndef UI_PANELPICTURE_H
#define UI_PANELPICTURE_H

// The front panel as its screen shows it, on every Qt platform: the panel's
// visible windows drawn over each other in the order the screen stacks them.
// The LCD (and Qt's VNC platform) puts a window on top when it is shown or
// raised; Qt's offscreen platform keeps no such order and grabs only the
// first window it finds, as that window last reached it, so the panel keeps
// the order itself and draws each window as it stands.

#include <QImage>

namespace ui {

// Starts following which of the panel's windows lies on top (once per
// application; the home screen calls it when it is built, before any of the
// panel's windows shows).
void trackStacking();

// The panel now: PANEL_W x PANEL_H, with the home screen's corner at 0, 0
// (the screen's corner while there is no home screen). GUI thread only.
QImage panelPicture();

} // namespace ui

#endif
