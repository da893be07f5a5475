#include "cloud/message_deal_4g.h"

#include "platform/files.h"

#include <algorithm>
#include <cstring>
#include <mutex>

uint8_t g_4G_RAM[256] = {0};
uint8_t g_4G_property[256] = {0};
uint8_t g_reconfig_4g = 0;
uint8_t g_rconfig_device_kumocloud = 0;

namespace {
std::mutex g_property_mutex;
// The settings file starts with a 3-byte header; the properties follow.
constexpr size_t SETINFO_HEADER = 3;
} // namespace

int message_deal_4g::message_deal_4G(uint8_t *body)
{
    (void)body;
    return 0;
}

int message_deal_4g::get_4G_property()
{
    std::string data;
    if (!platform::files::readAll("/data/configs/cloud_setinfo", data) || data.size() <= SETINFO_HEADER)
        return 1;
    std::lock_guard<std::mutex> lock(g_property_mutex);
    size_t n = std::min(sizeof g_4G_property, data.size() - SETINFO_HEADER);
    std::memset(g_4G_property, 0, sizeof g_4G_property);
    std::memcpy(g_4G_property, data.data() + SETINFO_HEADER, n);
    return 0;
}
