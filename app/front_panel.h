#ifndef APP_FRONT_PANEL_H
#define APP_FRONT_PANEL_H

// What the worker threads (the command links, the USB listener) ask of the
// front panel. Each call is queued to the GUI thread and acts there on the
// page in front at that time; without a front panel nothing happens. The
// page framework implements these (ui/front_panel.cpp): no worker touches
// a page itself.

#include <QByteArray>

namespace front_panel {

// The panel as its screen shows it now (the window in front over those
// below it, each with the values it shows), as the bytes of a PNG file;
// empty without a Qt application. Unlike the calls below, it is made in the
// GUI thread itself: the screen capture and the picture on request take it
// there.
QByteArray picture_png();

// The firmware-upgrade pop-up, shown or hidden as g_update_flag is when
// the GUI thread gets to the request.
void show_upgrade_popup();
void hide_upgrade_popup();

// Each of these acts only while its page is in front.
void close_setting_menu();       // the Setting menu closes to the home screen
void close_mapping_page();       // the receiving-card mapping page closes
void close_recovery_page();      // the receiving-card recovery page closes
void retext_setting_menu();      // the Setting menu is drawn again
void retext_advanced_menu();     // the advanced-options menu is drawn again

} // namespace front_panel

#endif
