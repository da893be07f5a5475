#ifndef APP_GLOBAL_H
#define APP_GLOBAL_H

// Program-wide globals shared by several subsystems. Values that threads other
// than the writer read are atomic.

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

// Debug lines are printed only while this equals 254.
extern u8 g_debugSwitch;

// Network and link settings (filled from the configuration store).
extern std::atomic<int> g_port;           // TCP command port
// The ports the links serve besides g_port. The command port may be none of
// them (Utils::tcp_command_port): it would take the controller port's place,
// and a port number the PC tool knows as a UDP port is no TCP command port.
constexpr int DEFAULT_TCP_PORT = 5005;
constexpr int TCP_CONTROLLER_PORT = 10002;
constexpr int UDP_COMMAND_PORT = 5008;
constexpr int UDP_CONTROLLER_PORT = 10005;
constexpr int UDP_WIFI_PORT = 13769;
extern std::atomic<int> g_int_tcp_port;   // the port reported to the PC tool
extern u8 g_networkMode;                  // the TCP server on g_port runs while 1
extern u8 g_udpnetmode;                   // the UDP servers run while 1
extern std::atomic<u8> g_passby_trans_port; // owner of the card pass-through: 1 RS-485, 2 TCP, 3 UDP, 4 4G, 255 none
extern int g_dataLen;
extern QString g_str_ip;
extern QString g_str_gateway;
extern QString g_srt_mask;
extern QString g_str_mac;                  // eth0 MAC, colon-separated hex (network commands)
extern QString g_str_barcode;
extern QString g_str_wifi_ip;
extern QString g_check_edid;
extern QString g_imagelayoutpassword;
extern std::atomic<int> g_check_source;
extern QString g_Kumo_cloudserverip;
extern std::atomic<int> g_Kumo_cloudserverport;
extern QString g_Kumo_clouduserid;
extern QString g_Kumo_controllername;
extern std::atomic<int> g_Kumo_cloud;
extern std::atomic<int> g_zem_max_pixel;
extern QString g_usb_grade_path;
extern QString g_rcv_sync_led;

// Guards the configuration texts above: written by the configuration reload,
// read by the links, the screens and the cloud client.
extern std::mutex g_config_text_mutex;

// Device identity and launcher state (configuration store start-up).
extern QString g_pid;                      // 32 lower-case hex digits; empty while unknown (guarded by g_config_text_mutex)
extern std::atomic<u8> g_update_status;    // 1 when the launcher file starts this program
extern std::atomic<int> factoryage_log_num;

// Front panel.
extern u8 ScreenState;
extern int g_auto_lock_time;
extern int g_back_to_mainwindow_time;
extern std::atomic<u8> g_page_focus;      // page id (0..26) of the page in front
extern std::atomic<u8> g_image_current;   // window 0..5 the panel acts on
extern std::atomic<u8> g_language;        // 0 zh, 1 en, 2 ru, 3 vn, 4 tw
extern std::atomic<u32> g_lcd_lang_valid; // bit n enables language n
extern u8 g_zem_keys;                     // 1 when the USB keypad was found at start-up
extern std::vector<QString> factoryage_log;

// Clock, reboot and upgrade state.
extern std::atomic<u32> G_timeTicks;      // 10 ms ticks since start
constexpr unsigned TICK_MS = 10;          // length of one tick
extern std::atomic<u32> G_reboot_tickTicks;
extern std::atomic<u8> g_update_flag;
extern std::atomic<u8> g_app_reset_flag;
extern std::atomic<int> g_delay_usbserver;

// Crop-use map: 40 bits per source, source s in bytes 5s..5s+4.
extern u8 g_cut_source_state[30];

// LED geometry hand-shake with the FPGA thread (guarded by Utils::_led_para_init_mutex).
extern u8 g_set_led_para;
extern u8 g_set_led_setup;
// Signalled by the FPGA thread whenever g_set_led_para leaves 1, so that the
// chip thread waiting for the end of the hand-shake goes on at once.
extern std::condition_variable g_set_led_para_done;

extern std::mutex g_flash_uid_mutex;

// Cloud settings change: set to 1 after a settings file is stored; the cloud
// client thread acts on it and clears it.
extern u8 g_rconfig_device_kumocloud;     // guarded by Utils::_reconfig_device_kumocloud_mutex

// Command links: the PC tool was active (stamped by every link after a good frame).
extern std::atomic<u8> pc_cmd_valid;
extern std::atomic<u32> pc_cmd_time;
// Video processing chip.
extern std::atomic<int32_t> g_osd_update;          // 1 = reload the OSD menu file after the apply pass
extern std::atomic<int32_t> g_c331_source_online;  // 1 once a window was re-programmed for a new input
// Output backgrounds: 1 while bring-up paints every output channel with the
// forced colour; 2 once bring-up ends and the background shows only where a
// window has no signal.
extern std::atomic<int32_t> g_force_bkcolor;

#endif
