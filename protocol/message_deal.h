#ifndef PROTOCOL_MESSAGE_DEAL_H
#define PROTOCOL_MESSAGE_DEAL_H

// The controller's command handler. A link hands it the un-escaped body of a
// frame (without the XOR byte); the operation rewrites the body from byte 10
// on and returns the reply length counted from byte 10 (0: no reply). Each
// link owns one handler; what the commands share is program-wide.

#include <cstdint>

class message_deal_4g;

// Capture and file-transfer buffer: AA AA, then the data.
constexpr uint32_t FILEBUF_TARIX_SIZE = 5 * 1024 * 1024;
extern uint8_t fileBuf_tarix[FILEBUF_TARIX_SIZE];

class message_deal
{
public:
    message_deal();
    ~message_deal();
    message_deal(const message_deal &) = delete;
    message_deal &operator=(const message_deal &) = delete;

    // Largest reply body (10 header bytes, the reply, the XOR) the owning
    // link can carry; longer replies are refused. The body buffer handed to
    // the handler must hold at least this many bytes.
    void set_reply_capacity(uint32_t maxBody) { m_reply_max = maxBody; }
    uint32_t reply_capacity() const { return m_reply_max; }

    uint32_t message_group_deal(uint8_t *body, uint32_t length, uint8_t port);
    uint32_t write_file_group(uint8_t *body);
    uint32_t barcode_group(uint8_t *body);
    uint32_t net_eth_group(uint8_t *body);

    // 0x60: RAM write; reply 0 done, 1 refused.
    uint32_t write_ram(uint8_t *body, uint32_t length);
    // 0xB0: single video parameter writes.
    uint32_t vedio_write_single_para(uint8_t *body, uint32_t length);
    // Refreshes the controller-kept bytes of the status page.
    void FPGA_Ex_ram_update();
    // 0x61: RAM read.
    uint32_t read_ram(uint8_t *body, uint32_t length);
    // Clock and run-log fields of the status page.
    void Time_to_RAM();

    message_deal_4g *deal_4g() { return m_4g; }

private:
    uint32_t read_local(uint8_t *body, uint32_t address, uint32_t len);
    uint32_t read_remote(uint8_t *body, uint32_t address, uint32_t len);

    message_deal_4g *m_4g;
    uint32_t m_reply_max = 65534;
};

namespace screen_capture {
// Grabs the front panel into "/123.png" and loads it into fileBuf_tarix from
// byte 2 (under Utils::_file_deal_mutex). The grab runs in the GUI thread.
// False when there is no application, no screen, or the file cannot be
// saved or read; the previous capture then stays in place.
bool take();
uint32_t length();
} // namespace screen_capture

#endif
