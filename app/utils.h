#ifndef APP_UTILS_H
#define APP_UTILS_H

// Static toolbox used by every subsystem: frame and cloud checksums, tick
// arithmetic, shell commands one at a time, Ethernet set-up, flash partitions
// and the program-wide mutexes.

#include "platform/spi.h"

#include <QString>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <string>

class Utils
{
public:
    Utils() {}

    // XOR of the bytes (the command frame's check byte); 0 for count 0.
    static uint32_t BCC(const uint8_t *data, uint32_t count);
    // CRC-16/ARC (reflected 0xA001, start 0, no final XOR); 0 for count 0.
    static uint32_t calcCRC16(const uint8_t *data, uint32_t count);
    // CRC-32 (IEEE 802.3, reflected 0xEDB88320, start and final XOR 0xFFFFFFFF).
    static uint32_t calcCRC32(const uint8_t *data, uint32_t count);

    // Ticks of G_timeTicks elapsed since `stamp`, across wrap-around.
    static uint32_t getTimeSpace(uint32_t stamp);

    // Runs one shell command under _system_mutex; 0 when its status is 0,
    // else 255. The raw status goes to *result when given.
    static int system_mutex(const QString &command, int *result = nullptr);
    // A command's standard output; empty when it cannot be started.
    static std::string shell_exec(const std::string &command, int lineBuffer = 256);

    // Names a thread ("chip", "tcp-10002") so that top -H, ps and a debugger
    // show who spends what; names are cut to the system's 15 characters.
    static void name_thread(pthread_t thread, const std::string &name);

    // Sleeps under _usleep_mutex; 0, or 255 when the sleep fails.
    static int usleep_mutex(uint32_t us);
    static int msleep_mutex(uint32_t ms);

    // Configuration globals and Ethernet set-up.
    static void getIPAddress();
    // The TCP command port for a configured value: the value when it lies in
    // 1 to 65535 and is none of the links' fixed ports, else 5005.
    static int tcp_command_port(int configured);
    static int initIPAddress();
    static int init_resteth(const QString &address, const QString &gateway, const QString &netmask);

    // Raw flash partitions (an open MTD descriptor of the platform layer).
    static int non_region_erase(int fd, uint32_t start, uint32_t length, int unlock);
    static int non_region_write(int fd, const uint8_t *data, uint32_t length, uint32_t start);

    // Program-wide mutexes; each serialises one shared resource.
    static std::mutex _system_mutex;
    static std::mutex _file_deal_mutex;
    static std::recursive_mutex _test_signal_mutex;
    static std::mutex _led_para_init_mutex;
    static std::mutex _bri_set_mutex;
    static platform::spi::BusMutex _spi_mutex;
    static std::mutex _c331_bnk_mutex;
    static std::mutex _fpga_multicast_mutex;
    static std::mutex _source_hdminfo_mutex;
    static std::mutex _check_nosig_mutex;   // the chip ports' signal words
    static std::mutex _source_init_mutex;
    static std::mutex _reconfig_4g_mutex;
    static std::mutex _reconfig_device_kumocloud_mutex;
    static std::mutex _usleep_mutex;
};

#endif
