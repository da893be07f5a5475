#include "app/global.h"

u8 g_debugSwitch = 254;

std::atomic<int> g_port{5005};
std::atomic<int> g_int_tcp_port{5005};
u8 g_networkMode = 1;
u8 g_udpnetmode = 1;
std::atomic<u8> g_passby_trans_port{255};
int g_dataLen = 32;
QString g_str_ip;
QString g_str_gateway;
QString g_srt_mask;
// Until a search reads the interface or the PC tool sets one: the broadcast MAC.
QString g_str_mac = QStringLiteral("FF:FF:FF:FF:FF:FF");
QString g_str_barcode;
QString g_str_wifi_ip = QStringLiteral("192.168.22.101");
QString g_check_edid;
QString g_imagelayoutpassword;
std::atomic<int> g_check_source{0};
QString g_Kumo_cloudserverip;
std::atomic<int> g_Kumo_cloudserverport{0};
QString g_Kumo_clouduserid;
QString g_Kumo_controllername;
std::atomic<int> g_Kumo_cloud{0};
std::atomic<int> g_zem_max_pixel{0};
QString g_usb_grade_path;
QString g_rcv_sync_led;
std::mutex g_config_text_mutex;

QString g_pid;
std::atomic<u8> g_update_status{0};
std::atomic<int> factoryage_log_num{0};

u8 ScreenState = 1;
int g_auto_lock_time = 30000;
int g_back_to_mainwindow_time = 3000;
std::atomic<u8> g_page_focus{0};
std::atomic<u8> g_image_current{0};
std::atomic<u8> g_language{0};
std::atomic<u32> g_lcd_lang_valid{0};
u8 g_zem_keys = 0;
std::vector<QString> factoryage_log;

std::atomic<u32> G_timeTicks{0};
std::atomic<u32> G_reboot_tickTicks{0};
std::atomic<u8> g_update_flag{0};
std::atomic<u8> g_app_reset_flag{0};
std::atomic<int> g_delay_usbserver{0};

u8 g_cut_source_state[30] = {0};

u8 g_set_led_para = 0;
u8 g_set_led_setup = 0;
std::condition_variable g_set_led_para_done;

std::mutex g_flash_uid_mutex;

std::atomic<u8> pc_cmd_valid{0};
std::atomic<u32> pc_cmd_time{0};

// g_reconfig_4g and g_rconfig_device_kumocloud are defined with the 4G handler
// (cloud/message_deal_4g.cpp).

// Video processing chip.
std::atomic<int32_t> g_osd_update{0};
std::atomic<int32_t> g_c331_source_online{0};
std::atomic<int32_t> g_force_bkcolor{1};
