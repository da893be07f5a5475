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

// Guards g_4G_property, the barcode's cloud id and g_4G_RAM.
std::mutex g_property_mutex;

// Bytes 25..36 of the properties as set from the barcode; a reload of the
// settings file puts them back over the file's own bytes.
constexpr size_t CLOUD_ID_AT = 25;
constexpr size_t CLOUD_ID_SIZE = 12;
bool g_cloud_id_set = false;
uint8_t g_cloud_id[CLOUD_ID_SIZE] = {};

// The cloud settings: a 3-byte header, then the properties.
const char *const kSetinfoFile = "/data/configs/cloud_setinfo";
constexpr size_t SETINFO_HEADER = 3;
// The 4G module's information block as the 4G side keeps it; a new settings
// file removes it, so that the module reports afresh.
const char *const kModuleFile = "/data/configs/cloud_barcode";

using platform::files::Kind;

enum class Load { Done, Missing, Failed };

// Reloads `block` from the bytes of `file` behind its header (the rest of
// the block cleared). A missing file leaves the block as it is; a file that
// cannot be read or holds nothing behind its header is a failure.
Load loadBlock(const char *file, Kind kind, size_t header, uint8_t *block, size_t size)
{
    if (!platform::files::exists(file))
        return Load::Missing;
    std::string data;
    if (!platform::files::readAll(file, kind, data) || data.size() <= header)
        return Load::Failed;
    std::memset(block, 0, size);
    std::memcpy(block, data.data() + header, std::min(size, data.size() - header));
    return Load::Done;
}

} // namespace

int message_deal_4g::message_deal_4G(uint8_t *body)
{
    (void)body;
    return 0;
}

int message_deal_4g::get_4G_property()
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    // Each block is reloaded on its own: a missing file fails neither.
    const Load properties =
        loadBlock(kSetinfoFile, Kind::CloudSettings, SETINFO_HEADER, g_4G_property, sizeof g_4G_property);
    if (g_cloud_id_set)
        std::memcpy(g_4G_property + CLOUD_ID_AT, g_cloud_id, CLOUD_ID_SIZE);
    const Load module = loadBlock(kModuleFile, Kind::ModuleInfo, 0, g_4G_RAM, sizeof g_4G_RAM);
    return properties == Load::Failed || module == Load::Failed ? 1 : 0;
}

void message_deal_4g::set_cloud_id(const uint8_t id[12])
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    std::memcpy(g_cloud_id, id, CLOUD_ID_SIZE);
    g_cloud_id_set = true;
    std::memcpy(g_4G_property + CLOUD_ID_AT, id, CLOUD_ID_SIZE);
}

void message_deal_4g::copy_4G_property(uint8_t out[sizeof g_4G_property])
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    std::memcpy(out, g_4G_property, sizeof g_4G_property);
}

void message_deal_4g::write_4G_RAM(uint32_t at, const uint8_t *data, uint32_t len)
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    if (at < sizeof g_4G_RAM)
        std::memcpy(g_4G_RAM + at, data, std::min<size_t>(len, sizeof g_4G_RAM - at));
}

void message_deal_4g::copy_4G_RAM(uint8_t *out, uint32_t at, uint32_t len)
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    const size_t have = at < sizeof g_4G_RAM ? std::min<size_t>(len, sizeof g_4G_RAM - at) : 0;
    std::memcpy(out, g_4G_RAM + at, have);
    std::memset(out + have, 0, len - have);
}

void message_deal_4g::resetForTest()
{
    std::lock_guard<std::mutex> lock(g_property_mutex);
    std::memset(g_4G_property, 0, sizeof g_4G_property);
    g_cloud_id_set = false;
}
