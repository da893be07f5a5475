#ifndef SENDCARD_FPGA_MANAGE_H
#define SENDCARD_FPGA_MANAGE_H

// The sending-card manager: the two FPGAs' registers and RAM pages, the
// receiving-card frames, and the requests its thread serves for the chip
// thread and the links.

#include <atomic>
#include <cstdint>
#include <pthread.h>

class fpga_manage
{
public:
    static fpga_manage *pInstance();
    static fpga_manage *p_fpga_manage;

    // Brightness request: set to 1 (under Utils::_bri_set_mutex) when the
    // image's brightness changes; the FPGA thread applies and clears it.
    std::atomic<uint8_t> bri_set_request{0};
    // Output-status request: set to 1 when the LED-off word changes.
    std::atomic<uint8_t> output_status_request{0};
    // Link state of the output ports, bit n = port n + 1 up (code 11 announces changes).
    std::atomic<uint8_t> port_link_state{0};

private:
    fpga_manage() {}
};

#endif
