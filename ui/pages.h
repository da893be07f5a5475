#ifndef UI_PAGES_H
#define UI_PAGES_H

// Pointers of the open front-panel pages (null while a page is closed) and
// the page ids. The page framework keeps the pointers and g_page_focus, the
// id of the page in front, in step.

#include <cstdint>

namespace page {

enum Id : uint8_t {
    Lock = 0,               // LockWindow, the status screen
    Main = 1,               // MainWindow, the home screen
    MachineState = 2,
    InputChoose = 3,
    CustomMode = 4,
    Option = 5,             // the Setting menu
    OutputSet = 6,
    InputCut = 7,
    EdidSet = 8,
    ImageLayout = 9,
    LinkOption = 10,
    ImageQuality = 11,
    AdvancedOption = 12,
    LedSet = 13,
    NetSet = 14,
    LcdShow = 15,
    TestChart = 16,
    OtherSetup = 17,
    Factory = 18,
    Quality = 19,
    Temperature = 20,
    LinkCom = 21,
    LinkWlan = 22,
    FactoryAge = 23,
    SmartMapping = 24,      // the receiving-card mapping wizard
    RcvRecovery = 25,
    FirmwareUsbgrade = 26,
};

} // namespace page

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
class InputChoose;
class InputCut;
class CustomMode;
class EDIDset;
class ImageLayout;
class ledset;
class netset;
class SmartMapping;
class test_chart;
class quality;
class temperature;
class lcdshow;
class othersetup;
class factory;
class factoryage;
class rcv_recovery;
class firmware_usbgrade;
class linkcom;
class linkwlan;

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

// Input, window and user-mode pages.
extern InputChoose *g_inputchoose;
extern InputCut *g_inputcut;
extern CustomMode *g_custommode;
extern EDIDset *g_edidset;
extern ImageLayout *g_imagelayout;

// LED output and picture pages.
extern ledset *g_ledset;
extern netset *g_netset;
extern SmartMapping *g_smartmapping;
extern test_chart *g_test_chart;
extern quality *g_quality;
extern temperature *g_temperature;
extern lcdshow *g_lcdshow;

// System and maintenance pages.
extern othersetup *g_othersetup;
extern factory *g_factory;
extern factoryage *g_factoryage;
extern rcv_recovery *g_rcv_recovery;
extern firmware_usbgrade *g_firmware_usbgrade;
extern linkcom *g_linkcom;
extern linkwlan *g_linkwlan;

#endif
