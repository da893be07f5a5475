#ifndef APP_LAYERING_H
#define APP_LAYERING_H

// Which folder of the program may include which, and the seams that keep it
// so. This header holds no code; scripts/check_includes.sh checks the rules
// (CTest runs it as IncludeRules). Whoever needs a new direction writes it
// down here and in the script, with the reason.
//
// FOLDERS, lowest first (a folder includes its own and those listed)
//
//   platform/   nothing: devices, paths and shell commands, real or simulated
//   app/        platform: the parameter store, its lock and apply request,
//               the change dispatcher, configuration, toolbox
//   sendcard/   app, platform
//   videoio/    app, platform
//   videoproc/  app, platform, sendcard, videoio: the chip applies the image
//               and raises the FPGA and input requests
//   cloud/      app, platform, protocol (the WiFi relay of the UDP links)
//   protocol/   app, platform, cloud, sendcard, videoio, videoproc
//   ui/         app, platform, protocol (gui_call), sendcard, videoio, videoproc
//
//   Exceptions: app/main.cpp starts everything and includes any folder;
//   app/syncupdate.cpp, the change dispatcher, includes the page headers of
//   ui/ for its page refresh.
//
// SEAMS
//
//   - The image's lock and the apply request belong to the store
//     (app/para_lock.h: ParaLock, raise_apply_request). Whoever writes the
//     image includes that header; the chip manager depends on the store and
//     names the two manage_mutex and para_changed, never the reverse. A
//     command handler includes videoproc/c331_manage.h only to use the chip
//     itself (its flash, fonts, dumps, the OSD menu of a recalled user mode).
//   - The chip thread hears of a raised apply request and of a changed
//     input record through hooks the chip manager sets
//     (para_lock::set_request_hook, tarixsource::inputs_changed_hook).
//   - Workers reach the front panel through app/front_panel.h, which the page
//     framework implements in ui/ by queuing each call to the GUI thread. No
//     file of protocol/ includes a ui/ header.
//   - Page ids are the enum page::Id of ui/pages.h.
//   - Image offsets are the names of app/para_layout.h.

#endif
