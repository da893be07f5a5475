#ifndef VIDEOIO_TARIXSOURCE_H
#define VIDEOIO_TARIXSOURCE_H

// The input-source manager: six video inputs (0..3 HDMI receivers, 4 and 5 the
// receivers feeding the chip's V-by-One inputs), their timing records, EDIDs,
// hot-plug and audio selection, served by its check-source thread.

#include "app/thread_wake.h"
#include "videoio/hdmi_rx.h"
#include "videoio/hdminfo.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <pthread.h>

constexpr int SOURCE_COUNT = 6;

// Uploaded EDIDs; flag p set makes input p use table p. All three under the
// image's lock. edid_ram_table_new[p] is set with each upload of table p and
// taken by the chip's next apply pass, which then has the EDID of input p
// programmed once.
extern uint8_t edid_ram_table[SOURCE_COUNT][256];
extern uint8_t edid_ram_table_from[SOURCE_COUNT];
extern uint8_t edid_ram_table_new[SOURCE_COUNT];

// Bits of controller register 160 (register-file byte 32), served and cleared
// by the check-source thread.
namespace reg160 {
constexpr uint8_t VBO_HOTPLUG_LOW = 0x01;   // pull the V-by-One receivers' (inputs 4, 5) hot-plug low
constexpr uint8_t VBO_HOTPLUG_HIGH = 0x02;  // release it (high) again
constexpr uint8_t VBO_REINIT = 0x04;        // re-initialise the V-by-One receivers
constexpr uint8_t ALL_REINIT = 0x08;        // re-initialise all six receivers
constexpr uint8_t SERVED = VBO_HOTPLUG_LOW | VBO_HOTPLUG_HIGH | VBO_REINIT | ALL_REINIT;
} // namespace reg160

class tarixsource
{
public:
    static tarixsource *pInstance();
    static tarixsource *p_tarix_source;

    // Opens the I2C bus, takes the enabled-input mask from g_check_source,
    // creates /data/edidramtable and starts checksourceThread (once).
    // 0 done, 255 when the bus cannot be opened (the thread still runs and
    // serves what needs no bus).
    int initialize();
    static void *checksourceThread(void *arg);

    // One turn of the check-source thread: EDID and audio requests, register
    // 160, the receivers' timing and its publication into the image. The
    // thread runs one every TURN_MS, and at once when woken.
    void check_source_turn();
    // Wakes the thread for a turn now (after a request was raised).
    void wake() { m_wake.notify(); }
    // Raise a request and wake the thread: the audio input, and port p's EDID.
    void request_audio();
    void request_edid(int p);
    // Register 17: pulse the SDI receiver's reset line.
    void request_sdi_reset();
    // Ends the thread and waits for it (tests; the program never stops it).
    void stop();

    // Services; each returns 1 when done, 0 when not (retried next turn).
    // On the device nothing is sent to the simulated board's EEPROMs,
    // hot-plug port, audio switch or transmitter: an EDID request is dropped
    // with done left 0, the audio and hot-plug services count as served.
    int Set_Custom_HDMI_EDID(int port);
    int set_audio_source();
    void reg160_service();
    // Starts a requested reset pulse of the SDI receiver, and ends it once
    // more than SDI_RESET_TICKS ticks have passed.
    void sdi_reset_service();
    // Reads the receivers' timing and publishes the records into image bytes
    // 256 + 6p; emits code 12 when any changed.
    void update_vid_info_delay();
    // Refreshes the timing record of input p from its receiver's register
    // copy; true when the record changed.
    bool get_hdmi(int p);

    // Self-checks run when the thread starts; each sets or clears its bit of
    // the status page (1 = passed).
    // The HDMI transmitter answers and keeps a value written to it; its
    // output is then switched on (byte 0 bit 1).
    int it66121_sdi_enable();
    // A write to the check device (8-bit address 238) is acknowledged (byte 1 bit 5).
    int sourcecheck();
    // The input side is set up: byte 1 bit 7 cleared, byte 2 bit 0 set.
    void s5p210_setup();

    // Timing records of the six receivers, under Utils::_source_hdminfo_mutex.
    hdminfo source_hdminfo[SOURCE_COUNT] = {};
    // Register copies of the receivers, refreshed by the check-source thread.
    hdmi_rx receivers[SOURCE_COUNT];

    // Requests served by the check-source thread.
    std::atomic<uint8_t> edid_request[SOURCE_COUNT] = {};   // 1 = rewrite port p's EDID
    std::atomic<uint8_t> edid_done[SOURCE_COUNT] = {};
    std::atomic<uint8_t> audio_request{0};                  // 1 = select the audio input again
    std::atomic<uint8_t> sdi_reset_request{0};              // 1 = pulse the SDI receiver's reset line

    int i2c_fd = -1;                                        // bus descriptor
    std::atomic<uint8_t> source_enable{0};                  // bit p: input p watched
    std::atomic<uint32_t> receiver_init_count[SOURCE_COUNT] = {};

    // Attempts after which a failing EDID request is dropped (done stays 0).
    static constexpr int EDID_ATTEMPTS = 3;
    // Pause between turns: the receivers are read as often as the chip
    // thread measures its inputs (c331_manage::INPUT_POLL_MS). A record that
    // changed wakes the chip thread, so a plugged source is measured within
    // one period.
    static constexpr int TURN_MS = 50;
    // Called by the source thread when a receiver's timing record changed
    // (the chip manager sets it to measure its ports at once).
    static std::atomic<void (*)()> inputs_changed_hook;
    // Turns a receiver may fail to answer before its input counts as lost
    // (half a second).
    static constexpr int RECEIVER_MISSES = 500 / TURN_MS;
    // Reset line of the SDI receiver on the simulated board: one GPIO word, 0
    // holds the receiver in reset, 0x10 releases it (not driven on the device).
    static constexpr uint32_t SDI_RST_GPIO = 0x1F2079B0;
    static constexpr uint16_t SDI_RST_ACTIVE = 0x00;
    static constexpr uint16_t SDI_RST_RELEASED = 0x10;
    static constexpr uint32_t SDI_RESET_TICKS = 15;

private:
    tarixsource();
    int write_edid_eeprom(int port, const uint8_t *edid);
    int set_hotplug(uint8_t mask, bool high);
    // Reads receiver p and refreshes its timing record; true when the record changed.
    bool poll_receiver(int p);
    void set_status_bit(int byte, int bit, bool on);

    pthread_t m_thread{};
    bool m_started = false;
    std::mutex m_startMutex;   // start and stop of the thread
    thread_wake m_wake;
    int m_edidFailures[SOURCE_COUNT] = {};
    int m_receiverMisses[SOURCE_COUNT] = {};
    bool m_sdiResetPending = false;   // the reset line is held low since m_sdiResetTick
    uint32_t m_sdiResetTick = 0;
};

#endif
