#ifndef PROTOCOL_ZEM_FILE_DEAL_H
#define PROTOCOL_ZEM_FILE_DEAL_H

// File transfer of command 0xC0: the record of the one write transfer the
// whole program runs at a time, who a transfer belongs to, and the helpers
// the transfer shares with the rest of the program.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace file_transfer {

// Who a transfer belongs to: the handler of the link (never 0) and the
// origin on that link (message_deal::set_origin) of the start that opened
// it; {0, 0} while nothing is started.
using Owner = std::pair<uint64_t, uint64_t>;

// True when a transfer of `owner` takes blocks and an end from `sender`: it
// started the transfer, or nothing is started.
inline bool takesFrom(const Owner &owner, const Owner &sender)
{
    return owner.first == 0 || owner == sender;
}

} // namespace file_transfer

// The current write transfer. It belongs to the link (and, on a network
// port, the connection or peer) whose start opened it: blocks and an end
// from anywhere else are refused, and a start from anywhere takes it over.
// Guarded by g_zem_file_deal_mutex together with fileBuf_tarix (while a
// transfer uses it), the transfer's digest and the read transfer's open file.
struct ZemFileDeal {
    int fd = -1;                 // MTD partition open at the end of a kernel or logo transfer
    uint8_t type = 0;            // file type code; 0 until the first start
    std::string path;            // destination of types 7, 9 and 13
    uint32_t total_len = 0;      // file length from the start request
    bool refused = false;        // the last start was refused: no end stores
                                 // anything until a start is accepted
    file_transfer::Owner owner{0, 0};   // handler id and origin of its start
};

extern ZemFileDeal g_zem_file_deal_para;
extern std::mutex g_zem_file_deal_mutex;

namespace file_transfer {

// File type codes of the start requests.
enum Type : uint8_t {
    TYPE_NONE = 0,
    TYPE_APP = 1,
    TYPE_BOOT = 2,
    TYPE_KERNEL = 3,
    TYPE_LOGO = 4,
    TYPE_ALIAS = 5,
    TYPE_USER_OSD = 7,
    TYPE_OSD = 8,
    TYPE_RECOVERY = 9,
    TYPE_MAPPING = 13,
};

constexpr uint32_t LOGO_HEADER_SIZE = 372;
constexpr uint32_t LOGO_PARTITION_SIZE = 0x60000;
constexpr uint32_t KERNEL_PARTITION_SIZE = 0x500000;

// Largest file a start of this type may announce.
uint32_t capacity(uint8_t type);

// True for a plain file name the PC tool may use inside the receiving-card
// folders: 1 to 240 characters from letters, digits and "._-+=,@%", not "."
// or "..". Anything else (a path, a control or shell character) is refused.
bool is_plain_name(const char *name, size_t len);

// The 372-byte header written in front of the boot logo image; `imageLen`
// is the image length already rounded up to a multiple of 4.
void build_logo_header(uint8_t *out, uint32_t imageLen);

// Follow-ups of a transfer. The change codes are emitted from the caller's
// thread (queued to the GUI thread by the signal's connection); page work is
// queued to the GUI thread and skipped when the program has no front panel.
enum class PanelStep {
    UpgradeStart,    // upgrade pop-up, g_update_flag = 1, change code 105
    AliasArrived,    // change code 103
    RecoveryFiles,   // the advanced-option page re-evaluates its recovery entry
    MappingFiles,    // the smart-mapping page closes
};
void panel_step(PanelStep step);

} // namespace file_transfer

#endif
