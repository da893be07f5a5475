#ifndef VIDEOIO_TARIXSOURCE_H
#define VIDEOIO_TARIXSOURCE_H

// The input-source manager: six video inputs (0..3 HDMI receivers, 4 and 5 the
// receivers feeding the chip's V-by-One inputs), their timing records, EDIDs,
// hot-plug and audio selection, served by its check-source thread.

#include <atomic>
#include <cstdint>
#include <pthread.h>

// Timing record of one receiver, written under Utils::_source_hdminfo_mutex.
struct hdminfo {
    int32_t Hact, Hsync, Hback, Hpol, Htotal;
    int32_t Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;          // pixel clock, MHz
    int32_t type;
    int32_t datamode;     // nonzero: two pixels per clock
    int32_t lane;         // V-by-One lanes 1, 2, 4 or 8
    int32_t ip;           // 1 = interlaced
    int32_t nosignal;     // 1 = no signal
    int32_t stable;       // nonzero: the record describes a stable input
};

constexpr int SOURCE_COUNT = 6;

// Uploaded EDIDs; flag p set makes input p use table p.
extern uint8_t edid_ram_table[SOURCE_COUNT][256];
extern uint8_t edid_ram_table_from[SOURCE_COUNT];

class tarixsource
{
public:
    static tarixsource *pInstance();
    static tarixsource *p_tarix_source;

    hdminfo source_hdminfo[SOURCE_COUNT] = {};

    // Requests served by the check-source thread.
    std::atomic<uint8_t> edid_request[SOURCE_COUNT] = {};   // 1 = rewrite port p's EDID
    std::atomic<uint8_t> edid_done[SOURCE_COUNT] = {};
    std::atomic<uint8_t> audio_request{0};                  // 1 = select the audio input again
    std::atomic<uint8_t> sdi_reset_request{0};              // 1 = pulse the SDI receiver's reset line

private:
    tarixsource() {}
};

#endif
