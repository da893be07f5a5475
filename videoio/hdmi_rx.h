#ifndef VIDEOIO_HDMI_RX_H
#define VIDEOIO_HDMI_RX_H

// Register copy of one input receiver and the timing record it describes.
// Both receiver families (the HDMI receivers of inputs 0..3 and the ones
// feeding the chip's V-by-One inputs 4 and 5) report the timing block of
// platform/i2c.h; the check-source thread refreshes the copy over I2C. The
// copy is guarded by Utils::_source_hdminfo_mutex, as the records are.

#include "platform/i2c.h"
#include "videoio/hdminfo.h"

#include <cstdint>

class hdmi_rx
{
public:
    explicit hdmi_rx(uint8_t addr8 = 0) : addr8(addr8) {}

    // Reads the receiver's timing block into the copy: 1 done, 0 when the
    // receiver did not answer (the copy is kept). Takes the lock.
    int refresh(int fd);
    // Forgets the copy: the input reads as having no signal. Takes the lock.
    void clear();
    // The timing record the copy describes; all zero with nosignal 1 when the
    // input has no signal, stable 0 while a signal has not settled yet.
    // Called with the lock held.
    hdminfo record() const;

    uint8_t addr8;
    uint8_t regs[platform::i2c::rx::BLOCK_SIZE] = {};
};

#endif
