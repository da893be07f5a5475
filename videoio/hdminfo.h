#ifndef VIDEOIO_HDMINFO_H
#define VIDEOIO_HDMINFO_H

#include <cstdint>

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

#endif
