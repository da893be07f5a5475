#include "sendcard/fpga_manage.h"

#include "app/global.h"
#include "app/utils.h"
#include "platform/platform.h"
#include "sendcard/fpga_drv.h"

#include <cstring>
#include <mutex>
#include <vector>

fpga_manage *fpga_manage::p_fpga_manage = nullptr;

namespace {

constexpr uint8_t REG_STATE = 80;
constexpr uint8_t REG_READY[2] = {129, 145};   // bit 0: a card frame waits on port 0 / 1

bool isLiveRegister(uint8_t reg) { return reg < 64 || reg > 127; }

} // namespace

fpga_manage::fpga_manage()
{
    pthread_mutex_init(&card_mutex, nullptr);
    std::memset(flash_uid, 0, sizeof flash_uid);
}

fpga_manage *fpga_manage::pInstance()
{
    // The links reach the manager from their own threads: one creates it.
    static std::mutex creation;
    std::lock_guard<std::mutex> lock(creation);
    if (!p_fpga_manage) {
        platform::ensureDir("/data/smartmapping");
        platform::ensureDir("/data/rcvrecovery");
        p_fpga_manage = new fpga_manage();
        fpga_drv::open_devices();
    }
    return p_fpga_manage;
}

uint8_t fpga_manage::Dealwith1_PC_to_eth(uint32_t len, const uint8_t *body)
{
    if (len >= CARD_FRAME_MAX || len < 11)
        return 1;
    const uint8_t *data = body;
    uint32_t n = len;
    if (body[9] == 2) {
        if (len <= 12)
            return 1;
        data += 12;
        n -= 12;
    }
    if (body[7] == 255) {
        fpga_drv::send_card_frame(0, 0xFF, data, n);
        fpga_drv::send_card_frame(1, 0xFF, data, n);
    } else {
        fpga_drv::send_card_frame(body[6] == 1 ? 1 : 0, body[7] & 1, data, n);
    }
    return 0;
}

uint8_t fpga_manage::multi_port_send(const uint8_t *frame, uint32_t len)
{
    if (len == 0 || len >= CARD_FRAME_MAX)
        return 1;
    std::lock_guard<std::mutex> lock(Utils::_fpga_multicast_mutex);
    const uint32_t ports = multicast_word & 0x0F;
    if (multicast_mode != 0 || ports == 0)
        return 1;
    for (uint8_t n = 0; n < 2; ++n) {
        const uint32_t pair = (ports >> (2 * n)) & 0x03;
        if (pair)
            fpga_drv::send_card_frame(n, pair == 0x03 ? 0xFF : uint8_t(pair >> 1), frame, len);
    }
    return 0;
}

void fpga_manage::reg_IRQ_Dealwith(uint8_t fpga, uint8_t force)
{
    fpga &= 1;
    uint8_t state = fpga_drv::read_reg(fpga, REG_STATE);
    set_reg_shadow(fpga, REG_STATE, state);
    if (state != 2 && state != 3)
        return;
    // The receive-ready bits stand for the interrupt line (a frame waiting on
    // either port raises it), so `force` reads nothing more than they show.
    for (uint8_t port = 0; port < 2; ++port) {
        if (!(fpga_drv::read_reg(fpga, REG_READY[port]) & 1))
            continue;
        uint32_t len = (uint32_t(fpga_drv::read_reg(fpga, REG_READY[port] + 1)) << 8) |
                       fpga_drv::read_reg(fpga, REG_READY[port] + 2);
        if (len == 0)
            continue;
        std::vector<uint8_t> frame(len);
        fpga_drv::read_card_frame(fpga, port, frame.data(), len);
        fpga_drv::write_reg(fpga, REG_READY[port], 0);
        Rcv_data_from_eth(frame.data(), len);
    }
}

void fpga_manage::Rcv_data_from_eth(const uint8_t *frame, uint32_t len)
{
    uint8_t owner = g_passby_trans_port.load();
    if (owner < 1 || owner > 4)
        return;
    {
        // Delivered under the sink lock, so that a link taking itself out
        // of the routing (set_reply_sink) waits until its reply is in.
        std::lock_guard<std::mutex> lock(m_sink_mutex);
        card_reply_sink *sink = m_sinks[owner];
        if (!sink)
            return;
        sink->card_reply(frame, len);
    }
    g_passby_trans_port = 255;
    reply_ready = 1;
}

void fpga_manage::set_reply_sink(uint8_t transport, card_reply_sink *sink)
{
    std::lock_guard<std::mutex> lock(m_sink_mutex);
    if (transport < 5)
        m_sinks[transport] = sink;
}

card_reply_sink *fpga_manage::reply_sink(uint8_t transport)
{
    std::lock_guard<std::mutex> lock(m_sink_mutex);
    return transport < 5 ? m_sinks[transport] : nullptr;
}

void fpga_manage::write_fpga_ram(const uint8_t *buf, uint32_t address, uint32_t len, uint8_t bank, uint8_t fpga)
{
    fpga_drv::write_ram(fpga & 1, bank, address & 0xFF0FFF, buf, len);
}

void fpga_manage::read_fpga_ram(uint8_t *buf, uint32_t address, uint32_t len, uint8_t bank, uint8_t fpga)
{
    fpga_drv::read_ram(fpga & 1, bank, address & 0xFF0FFF, buf, len);
}

void fpga_manage::write_to_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga)
{
    if (reg >= REG_COUNT)
        return;
    fpga &= 1;
    // The read, the change and the write go together: another thread's
    // change of other bits must not land in between and be overwritten.
    std::lock_guard<std::mutex> rmw(m_rmw_mutex);
    if (isLiveRegister(reg))
        read_from_register(reg, fpga);
    const uint8_t v = with_pages([&](card_pages &c) {
        uint8_t &shadow = c.MCU_REG_func[fpga][reg];
        shadow = uint8_t((shadow & ~mask) | (value & mask));
        return shadow;
    });
    fpga_drv::write_reg(fpga, reg, v);
}

void fpga_manage::read_from_register(uint8_t reg, uint8_t fpga)
{
    if (reg >= REG_COUNT || !isLiveRegister(reg))
        return;
    fpga &= 1;
    set_reg_shadow(fpga, reg, fpga_drv::read_reg(fpga, reg));
}

uint8_t fpga_manage::reg_shadow(uint8_t fpga, uint8_t reg)
{
    return with_pages([&](card_pages &c) { return c.MCU_REG_func[fpga & 1][reg]; });
}

void fpga_manage::set_reg_shadow(uint8_t fpga, uint8_t reg, uint8_t value)
{
    with_pages([&](card_pages &c) { c.MCU_REG_func[fpga & 1][reg] = value; });
}
