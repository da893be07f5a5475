#ifndef SENDCARD_FPGA_MANAGE_H
#define SENDCARD_FPGA_MANAGE_H

// The sending-card manager: the two FPGAs' registers and RAM pages, the
// receiving-card frames, and the requests its thread serves for the chip
// thread and the links.

#include "app/thread_wake.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <pthread.h>
#include <utility>

// The card side's register shadows and page buffers. The links (RAM write
// and read, parameter save, register commands) and the FPGA thread use them
// at the same time; the owner lock of fpga_manage guards them all, and code
// reaches them only through fpga_manage::with_pages and the shadow accessors.
struct card_pages {
    static constexpr uint32_t PAGE = 1024;
    uint8_t MCU_REG_func[2][256];                  // register shadows, per FPGA
    uint8_t MCU_RAM_PARA_func[2][PAGE];            // parameter-page shadows (FPGA bank 1)
    uint8_t MCU_RAM_ETH_BACK_PARA_func[2][136];    // back-parameter images
    uint8_t MCU_RAM_TX_func[2][PAGE];              // staging of the port pages
    uint8_t MCU_RAM_RX_func[2][PAGE];
    uint8_t MCU_RAM_DEFAULT[2 * PAGE];             // scaling pages (banks 33, 34..48)
    uint8_t MCU_RAM_ZOOM[PAGE];
    uint8_t MCU_RAM_CMD[PAGE];                     // command page
    uint8_t MCU_RAM_EXTEND[PAGE];                  // status page kept by the controller
};

// A command link that card replies can be routed to. The card side calls
// card_reply() with the card's frame body while it holds the card mutex.
class card_reply_sink
{
public:
    virtual ~card_reply_sink() {}
    virtual void card_reply(const uint8_t *body, uint32_t len) = 0;
};

class fpga_manage
{
public:
    static fpga_manage *pInstance();
    static fpga_manage *p_fpga_manage;

    static constexpr uint32_t REG_COUNT = 171;
    static constexpr uint32_t PAGE_SIZE = 1024;
    static constexpr uint32_t BACK_PARA_SIZE = 136;
    static constexpr uint32_t CARD_FRAME_MAX = 1024;   // card frames of this length or more are refused

    // Brightness request: set to 1 (under Utils::_bri_set_mutex) when the
    // image's brightness changes; the FPGA thread applies and clears it.
    std::atomic<uint8_t> bri_set_request{0};
    // Output-status request: set to 1 when the LED-off word changes.
    std::atomic<uint8_t> output_status_request{0};
    // Link state of the output ports, bit n = port n + 1 up: bits 0 and 1
    // are FPGA 0's ports 0 and 1, bits 2 and 3 FPGA 1's. The FPGA thread
    // reads it from the FPGAs' status registers and announces a change with
    // change code 11.
    std::atomic<uint8_t> port_link_state{0};

    // Card pass-through. Every link holds card_mutex while it hands a card
    // frame over and while it polls for replies; reply_ready is 1 once a card
    // reply was queued on the owning link (cleared by the link under the mutex).
    pthread_mutex_t card_mutex;
    std::atomic<uint8_t> reply_ready{0};

    // Sends an un-escaped card frame body (XOR byte included) to the
    // receiving cards. Byte 6 selects the FPGA (1: FPGA 1, else FPGA 0),
    // byte 7 its output port (0 or 1); byte 7 = 255 sends on every port of
    // both FPGAs. Command 2 frames go out without their first 12 bytes.
    // 0 sent, 1 refused (1024 bytes or more, or too short to be a frame).
    uint8_t Dealwith1_PC_to_eth(uint32_t len, const uint8_t *body);
    // Sends a card frame out of the ports the multicast parameter word names
    // (bit n = port n + 1, numbered as port_link_state) while the multicast
    // mode is 0, all under Utils::_fpga_multicast_mutex. 0 sent; 1 refused
    // (an empty frame or one of 1024 bytes or more, another multicast mode,
    // or a word that names no port).
    uint8_t multi_port_send(const uint8_t *frame, uint32_t len);
    // Reads the card frames waiting on FPGA `fpga` and routes them.
    void reg_IRQ_Dealwith(uint8_t fpga, uint8_t force);
    // Routes one card reply to the link named by g_passby_trans_port.
    void Rcv_data_from_eth(const uint8_t *frame, uint32_t len);
    // Where card replies of transport 1 (RS-485), 2 (TCP), 3 (UDP) and 4 (4G) go.
    void set_reply_sink(uint8_t transport, card_reply_sink *sink);
    card_reply_sink *reply_sink(uint8_t transport);

    // FPGA RAM pages and registers.
    void write_fpga_ram(const uint8_t *buf, uint32_t address, uint32_t len, uint8_t bank, uint8_t fpga);
    void read_fpga_ram(uint8_t *buf, uint32_t address, uint32_t len, uint8_t bank, uint8_t fpga);
    void write_to_register(uint8_t reg, uint8_t mask, uint8_t value, uint8_t fpga);
    void read_from_register(uint8_t reg, uint8_t fpga);

    // Parameter page and back-parameter image. The back image keeps the
    // network and port-position fields of the page as the PC tool set them;
    // back_para_offset(a) is the back-image offset of page offset a, or -1.
    static int back_para_offset(uint32_t a);
    // Rebuilds FPGA n's back image from its parameter-page shadow.
    void R47_back_mcu_set_net_para(uint8_t n);
    // Puts the back image's fields into FPGA n's shadow, the port positions
    // moved by the LED wall's start position in the parameter image.
    void R47_mcu_set_net_para(uint8_t n);

    // FPGA reset lines (one GPIO word each of the simulated board, not
    // driven on the device: 0 holds the FPGA in reset, 0x10 releases it).
    // reset_fpga_rst drives line n low and stamps the start tick;
    // check_fpga_rst (FPGA thread) releases it after more than RESET_TICKS
    // ticks and forgets the FPGA's state and version registers.
    static constexpr uint32_t FPGA_RST_GPIO[2] = {0x1F2079A8, 0x1F2079AC};
    static constexpr uint16_t RST_ACTIVE = 0x00;
    static constexpr uint16_t RST_RELEASED = 0x10;
    static constexpr uint32_t RESET_TICKS = 50;
    void reset_fpga_rst(uint8_t n);
    void check_fpga_rst();
    std::atomic<uint8_t> reset_pending[2] = {{0}, {0}};
    std::atomic<uint32_t> reset_tick[2] = {{0}, {0}};

    // Runs fn(card_pages &) under the owner lock and returns its result.
    // The owner lock is the last lock taken: fn only reads and writes the
    // buffers; it takes no other lock and talks to no FPGA.
    template <class Fn>
    auto with_pages(Fn fn) -> decltype(fn(std::declval<card_pages &>()))
    {
        std::lock_guard<std::mutex> lock(m_pages_mutex);
        return fn(m_pages);
    }
    // One register shadow byte of FPGA `fpga` (0 or 1).
    uint8_t reg_shadow(uint8_t fpga, uint8_t reg);
    void set_reg_shadow(uint8_t fpga, uint8_t reg, uint8_t value);

    // Multicast sending (guarded by Utils::_fpga_multicast_mutex): the mode
    // byte and the parameter word the RAM write takes from status-page bytes
    // 257 to 260.
    uint8_t multicast_mode = 0;
    uint32_t multicast_word = 0;

    // Facts the device-information block reports.
    std::atomic<uint8_t> vbyone_ready[2] = {{0}, {0}};  // V-by-One start-up finished per FPGA
    uint8_t flash_uid[16];                               // unique id of the sending card's flash
    std::atomic<uint16_t> rcv_card_count{0};             // receiving cards on both output ports

    // The FPGA thread (sendcard/fpga_manage_thread.cpp): soft initialisation,
    // then turns serving the LED geometry hand-shake, the brightness and
    // output-status requests and the FPGA resets, and reading the FPGAs'
    // state and the output ports' link state. The thread sleeps until a
    // request wakes it (wake()), a timed step of the hand-shake or of a reset
    // is due (counted in ticks), or IDLE_TURN_MS have passed.
    int initialize_start();
    static void *fpgamanageThread(void *arg);
    void fpga_manage_turn();
    // Ends the thread and waits for it (tests; the program never stops it).
    void stop_thread();
    // A request was raised (LED geometry, brightness, output status, a
    // reset): the thread runs a turn now.
    void wake() { m_wake.notify(); }
    // When the turn after the one just run is due: after the ticks left
    // before the next step of a running hand-shake or reset (at least one),
    // else after IDLE_TURN_MS.
    std::chrono::steady_clock::time_point next_turn();
    // The FPGAs' state and the port links are read this often while nothing
    // else is due, and a brightness or output-status request the FPGAs did
    // not take is tried again as often: a cable plugged into an output port
    // shows on the panel within a quarter of a second.
    static constexpr unsigned IDLE_TURN_MS = 250;
    void set_led_para_deal();
    // 1 when the FPGAs took the value, 0 when not (the request stays).
    int set_fpga_bri_val();
    int set_output_status();
    // Reads FPGA n's state register (80) into its shadow.
    void refresh_state(uint8_t n);
    // Reads the output ports' link state of the running FPGAs (an FPGA in
    // reset or not running has its ports down) and emits code 11 when it
    // changed.
    void check_port_links();

    static constexpr uint32_t LED_STEP1_TICKS = 11;
    static constexpr uint32_t LED_STEP2_TICKS = 31;
    uint32_t led_para_tick = 0;                          // start of the current hand-shake step

private:
    fpga_manage();

    pthread_t m_thread{};
    bool m_thread_started = false;
    std::mutex m_thread_mutex;   // start and stop of the thread
    thread_wake m_wake;

    std::mutex m_pages_mutex;   // the owner lock of m_pages
    std::mutex m_rmw_mutex;   // one register read-modify-write at a time, shadow to FPGA
    std::mutex m_sink_mutex;
    card_reply_sink *m_sinks[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    card_pages m_pages{};
};

#endif
