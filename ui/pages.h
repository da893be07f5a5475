#ifndef UI_PAGES_H
#define UI_PAGES_H

// Pointers of the open front-panel pages (null while a page is closed). The
// page framework keeps them and g_page_focus in step.

class MainWindow;
class LockWindow;
class MachineState;
class Option;
class AdvancedOption;
class LinkOption;
class ImageQuality;
class OutputSet;
class NumberKeyboard;
class TIP;
class QRoundProgressBar;
class QTimer;

extern MainWindow *g_mainwindow;
extern LockWindow *g_lockwindow;
extern MachineState *g_machinestate;
extern Option *g_option;
extern AdvancedOption *g_advancedoption;
extern LinkOption *g_linkoption;
extern ImageQuality *g_imagequality;
extern OutputSet *g_outputset;
extern NumberKeyboard *g_numberkeyboard;
extern TIP *g_tip;
extern QRoundProgressBar *g_qround_bar;
extern QTimer *g_timer;

#endif
