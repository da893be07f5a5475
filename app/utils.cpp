#include "app/utils.h"
#include "app/global.h"
#include "platform/shell.h"

#include <cerrno>
#include <ctime>

std::mutex Utils::_system_mutex;
std::mutex Utils::_file_deal_mutex;
// Recursive: a slot run directly by an emission in the GUI thread may spin a
// nested event loop in which the same thread emits again.
std::recursive_mutex Utils::_test_signal_mutex;
std::mutex Utils::_led_para_init_mutex;
std::mutex Utils::_bri_set_mutex;
platform::spi::BusMutex Utils::_spi_mutex;
std::mutex Utils::_c331_bnk_mutex;
std::mutex Utils::_fpga_multicast_mutex;
std::mutex Utils::_source_hdminfo_mutex;
std::mutex Utils::_check_nosig_mutex;
std::mutex Utils::_source_init_mutex;
std::mutex Utils::_reconfig_4g_mutex;
std::mutex Utils::_reconfig_device_kumocloud_mutex;
std::mutex Utils::_usleep_mutex;

namespace {

struct Crc16Table {
    uint16_t v[256];
    Crc16Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
            v[i] = c;
        }
    }
};

struct Crc32Table {
    uint32_t v[256];
    Crc32Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            v[i] = c;
        }
    }
};

const Crc16Table crc16_tabel;
const Crc32Table crc32_table;

} // namespace

uint32_t Utils::BCC(const uint8_t *data, uint32_t count)
{
    uint8_t x = 0;
    for (uint32_t i = 0; i < count; ++i)
        x ^= data[i];
    return x;
}

uint32_t Utils::calcCRC16(const uint8_t *data, uint32_t count)
{
    uint16_t crc = 0;
    for (uint32_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>(crc16_tabel.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint32_t Utils::calcCRC32(const uint8_t *data, uint32_t count)
{
    if (count == 0)
        return 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < count; ++i)
        crc = crc32_table.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

uint32_t Utils::getTimeSpace(uint32_t stamp)
{
    uint32_t now = G_timeTicks.load();
    if (now >= stamp)
        return now - stamp;
    return now - stamp - 1;
}

int Utils::system_mutex(const QString &command, int *result)
{
    std::lock_guard<std::mutex> lock(_system_mutex);
    int status = platform::shell::run(command.toLatin1().toStdString());
    if (result)
        *result = status;
    return status == 0 ? 0 : 255;
}

std::string Utils::shell_exec(const std::string &command, int lineBuffer)
{
    return platform::shell::capture(command, lineBuffer);
}

void Utils::name_thread(pthread_t thread, const std::string &name)
{
    pthread_setname_np(thread, name.substr(0, 15).c_str());
}

int Utils::usleep_mutex(uint32_t us)
{
    std::lock_guard<std::mutex> lock(_usleep_mutex);
    struct timespec req;
    req.tv_sec = us / 1000000u;
    req.tv_nsec = static_cast<long>(us % 1000000u) * 1000;
    while (nanosleep(&req, &req) != 0) {
        if (errno != EINTR)
            return 255;
    }
    return 0;
}

int Utils::msleep_mutex(uint32_t ms)
{
    return usleep_mutex(ms * 1000u);
}
