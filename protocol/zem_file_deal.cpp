#include "protocol/zem_file_deal.h"

#include "app/front_panel.h"
#include "app/global.h"
#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "protocol/message_deal.h"

#include <cstring>

ZemFileDeal g_zem_file_deal_para;
std::mutex g_zem_file_deal_mutex;

namespace file_transfer {

uint32_t capacity(uint8_t type)
{
    switch (type) {
    case TYPE_KERNEL: return KERNEL_PARTITION_SIZE;
    case TYPE_LOGO: return LOGO_PARTITION_SIZE - LOGO_HEADER_SIZE;
    default: return FILEBUF_TARIX_SIZE;
    }
}

bool is_plain_name(const char *name, size_t len)
{
    if (len == 0 || len > 240)
        return false;
    if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    static const char EXTRA[] = "._-+=,@%";
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && (c == 0 || !std::strchr(EXTRA, c)))
            return false;
    }
    return true;
}

namespace {

void put8(uint8_t *p, uint32_t off, uint8_t v) { p[off] = v; }

using para::set16;
using para::set32;

} // namespace

void build_logo_header(uint8_t *out, uint32_t imageLen)
{
    std::memset(out, 0, LOGO_HEADER_SIZE);
    std::memcpy(out + 0, "SSTA", 4);
    put8(out, 4, 0x52);
    put8(out, 8, 2);
    std::memcpy(out + 12, "DISP", 4);
    set16(out, 44, 260);
    put8(out, 48, 0x38);
    put8(out, 52, 1);
    put8(out, 56, 0x44);
    put8(out, 62, 0x30);
    set16(out, 66, 816);
    put8(out, 68, 1);
    std::memcpy(out + 72, "LMT050_NAD", 10);
    set32(out, 104, 0x08049630);
    put8(out, 116, 1);
    put8(out, 125, 1);
    set16(out, 126, 0x0101);
    set32(out, 128, 0x01020201);
    set16(out, 132, 0x0101);
    for (uint32_t off : {134u, 136u, 138u, 140u, 142u})
        put8(out, off, 1);
    put8(out, 144, 10);
    put8(out, 146, 12);
    put8(out, 148, 4);
    put8(out, 150, 12);
    set16(out, 156, 320);
    put8(out, 158, 240);
    set32(out, 160, 0x01680168);
    set32(out, 164, 0x01180168);
    set32(out, 168, 0x01180118);
    put8(out, 172, 7);
    put8(out, 174, 7);
    put8(out, 176, 6);
    put8(out, 178, 25);
    put8(out, 180, 0xC0);
    set16(out, 182, 0xFFA0);
    put8(out, 184, 0x50);
    put8(out, 188, 1);
    put8(out, 196, 2);
    put8(out, 200, 2);
    put8(out, 220, 2);
    put8(out, 232, 1);
    put8(out, 236, 2);
    put8(out, 240, 3);
    put8(out, 244, 4);
    std::memcpy(out + 328, "LOGO", 4);
    set32(out, 360, imageLen);
    put8(out, 364, 0x2C);
    put8(out, 368, 1);
}

void panel_step(PanelStep step)
{
    switch (step) {
    case PanelStep::UpgradeStart:
        // The pop-up is shown once per upgrade: only the start that finds the
        // flag down asks for it.
        if (g_update_flag.exchange(1) == 0)
            front_panel::show_upgrade_popup();
        ZemRamPara::pInstance()->test_signal(105);
        break;
    case PanelStep::AliasArrived:
        ZemRamPara::pInstance()->test_signal(103);
        break;
    case PanelStep::RecoveryFiles:
        // The advanced-option page enables its recovery entry only while
        // recovery files exist.
        front_panel::retext_advanced_menu();
        break;
    case PanelStep::MappingFiles:
        // A new mapping file closes the mapping page that lists the old ones.
        front_panel::close_mapping_page();
        break;
    }
}

} // namespace file_transfer
