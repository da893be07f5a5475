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

// The cloud settings: a 3-byte header, then the properties.
const char *const kSetinfoFile = "/data/configs/cloud_setinfo";
constexpr size_t SETINFO_HEADER = 3;
// The 4G module's information block as the 4G side keeps it; a new settings
// file removes it, so that the module reports afresh.
const char *const kModuleFile = "/data/configs/cloud_barcode";

enum class Load { Done, Missing, Failed };

// Reloads `block` from the bytes of `file` behind its header (the rest of
// the block cleared). A missing file leaves the block as it is; a file that
// cannot be read or holds nothing behind its header is a failure.
Load loadBlock(const char *file, size_t header, uint8_t *block, size_t size)
{
    if (!platform::files::exists(file))
        return Load::Missing;
    std::string data;
    if (!platform::files::readAll(file, data) || data.size() <= header)
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
    const Load properties = loadBlock(kSetinfoFile, SETINFO_HEADER, g_4G_property, sizeof g_4G_property);
    const Load module = loadBlock(kModuleFile, 0, g_4G_RAM, sizeof g_4G_RAM);
    return properties == Load::Failed || module == Load::Failed ? 1 : 0;
}
