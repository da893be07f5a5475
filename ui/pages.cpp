#include "ui/pages.h"

MainWindow *g_mainwindow = nullptr;
LockWindow *g_lockwindow = nullptr;
MachineState *g_machinestate = nullptr;
Option *g_option = nullptr;
AdvancedOption *g_advancedoption = nullptr;
LinkOption *g_linkoption = nullptr;
ImageQuality *g_imagequality = nullptr;
OutputSet *g_outputset = nullptr;
NumberKeyboard *g_numberkeyboard = nullptr;
TIP *g_tip = nullptr;
QRoundProgressBar *g_qround_bar = nullptr;
QTimer *g_timer = nullptr;
