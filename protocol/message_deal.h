#ifndef PROTOCOL_MESSAGE_DEAL_H
#define PROTOCOL_MESSAGE_DEAL_H

// The controller's command handler. A link hands it the un-escaped body of a
// frame (without the XOR byte); the operation rewrites the body from byte 10
// on and returns the reply length counted from byte 10 (0: no reply). Each
// link owns one handler; what the commands share is program-wide.

#include <cstdint>
#include <utility>

class message_deal_4g;

// File-transfer buffer: the file being written by command 0xC0.
constexpr uint32_t FILEBUF_TARIX_SIZE = 5 * 1024 * 1024;
extern uint8_t fileBuf_tarix[FILEBUF_TARIX_SIZE];
// The screen capture's data window of the RAM read (0x800080-0xA0007F):
// AA AA, then the PNG file.
constexpr uint32_t CAPTURE_WINDOW_SIZE = 0x200000;

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

    // Who sent the frame being handled, within the owning link: the TCP
    // connection number, the UDP peer's address and port, 0 on a serial
    // line. A file transfer (0xC0 upload or read, cloud-file upload)
    // belongs to the link and origin that started it.
    void set_origin(uint64_t origin) { m_origin = origin; }

    uint32_t message_group_deal(uint8_t *body, uint32_t length, uint8_t port);
    uint32_t write_file_group(uint8_t *body, uint32_t length);
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

    // 0x70 erase, 0x71 write, 0x72 read of a serial flash: the chip's flash,
    // an FPGA configuration flash or the run-log window (reply: status, and
    // the data of a read).
    uint32_t cmd_erase_flash(uint8_t *body);
    uint32_t cmd_write_flash(uint8_t *body);
    uint32_t cmd_read_flash(uint8_t *body);

    // 0x81 parameter save, 0x82 version, 0x83 flash unique id, 0x84 FPGA
    // update start, 0x87 clock set.
    uint32_t param_save(uint8_t *body);
    uint32_t get_card_version(uint8_t *body);
    uint32_t get_card_uid(uint8_t *body);
    uint32_t start_update(uint8_t *body, uint32_t length);
    uint32_t write_rtc_time(uint8_t *body, uint32_t length);

    // 0xC1 EDID tables: sub-command 1 upload, 2 read back.
    uint32_t write_edid_table_group(uint8_t *body, uint32_t length);
    uint32_t write_edid_table(uint8_t *body, uint32_t length);
    uint32_t read_edid_table(uint8_t *body, uint32_t length);
    // 0xA0 / 0xA1: one-byte registers of the FPGAs, or of the controller's
    // command-register file when sent to the controller (reply: status, value).
    uint32_t write_register(uint8_t *body, uint32_t length);
    uint32_t read_register(uint8_t *body, uint32_t length);
    // Action of a stored controller register; 1 when the register has none.
    uint8_t reg_cmd_run(uint8_t reg, uint8_t mask);
    uint8_t REG_fuction(uint8_t reg, uint8_t mask);
    uint8_t REG_FLASH_STATUS1_flag(uint8_t reg, uint8_t mask);
    uint8_t REG_comm_flag(uint8_t reg);
    uint8_t REG_com1_flag(uint8_t reg, uint8_t mask);
    uint8_t REG_mcu_flag(uint8_t reg, uint8_t mask);
    uint8_t RegUpdate0E(uint8_t mask);
    uint8_t RegUpdate10(uint8_t mask);
    uint8_t RegUpdate11(uint8_t mask);

    message_deal_4g *deal_4g() { return m_4g; }

    // 0xC0 file transfer (protocol/message_deal_file.cpp); `length` is the
    // body length without the XOR.
    uint32_t write_file_start(uint8_t *body, uint32_t length);
    uint32_t write_file_block(uint8_t *body, uint32_t length);
    uint32_t write_file_end(uint8_t *body, uint32_t length);
    uint32_t read_file_start(uint8_t *body, uint32_t length);
    uint32_t read_file_block(uint8_t *body, uint32_t length);
    uint32_t read_file_end(uint8_t *body, uint32_t length);
    uint32_t write_defined_file_start(uint8_t *body, uint32_t length);
    uint32_t read_defined_file_start(uint8_t *body, uint32_t length);
    uint32_t read_dir_file_para(uint8_t *body, uint32_t length);
    // 0xA4 network commands (sub-commands 0, 1, 3, 16).
    uint32_t init_MAC_address(uint8_t *body);
    uint32_t net_ip_set(uint8_t *body);
    uint32_t net_eth_search(uint8_t *body);
    uint32_t get_device_info(uint8_t *body);

    // 0xA2 barcode and front-panel languages (sub-commands 30, 31, 32).
    uint32_t set_barcode(uint8_t *body);
    uint32_t read_barcode(uint8_t *body);
    uint32_t set_lcd_lang_support(uint8_t *body);
    // 0xC0 sub-command 10: deletes the stored receiving-card files.
    uint32_t delete_file_name(uint8_t *body);

    // 0xC5..0xCC cloud settings files, 0x8E/0x8F 4G module information.
    uint32_t YP_SendFile(uint8_t *body);
    uint32_t YP_SendFileData(uint8_t *body);
    uint32_t YP_SendFileEND(uint8_t *body);
    uint32_t YP_SendFileCancel(uint8_t *body);
    uint32_t YP_RecvFile(uint8_t *body);
    uint32_t YP_RecvFileData(uint8_t *body);
    uint32_t YP_RecvFileEnd(uint8_t *body);
    uint32_t YP_RecvFileCancel(uint8_t *body);
    uint32_t get_yp_module_info(uint8_t *body);
    uint32_t check_yp_module(uint8_t *body);

private:
    uint32_t read_local(uint8_t *body, uint32_t address, uint32_t len);
    uint32_t read_remote(uint8_t *body, uint32_t address, uint32_t len);

    // This handler and the origin of the frame in hand, as a transfer owner.
    std::pair<uint64_t, uint64_t> sender() const { return {m_link_id, m_origin}; }

    message_deal_4g *m_4g;
    const uint64_t m_link_id;   // never 0 and never reused
    uint64_t m_origin = 0;
    uint32_t m_reply_max = 65534;
    uint32_t m_body_len = 0;   // length of the body being handled
};

namespace screen_capture {
enum class Result {
    Taken,    // the buffer holds the panel as it is now
    Busy,     // another link is capturing: it refreshes the same buffer
    Failed,   // no application, or the file cannot be saved;
              // the previous capture stays in place
};
// Grabs the front panel as a PNG picture, stores it as "/123.png" and in the
// capture's own buffer from byte 2 (under Utils::_file_deal_mutex). The grab
// runs in the GUI thread.
Result take();
uint32_t length();
} // namespace screen_capture

#endif
