#ifndef PROTOCOL_PROTOCOL_PHY_H
#define PROTOCOL_PROTOCOL_PHY_H

// Escaping of the command frame. On the wire a frame is 0xA5 (three in the
// frames the controller sends), the escaped body, 0x5A:
//   A5 -> A6 02, A6 -> A6 01, 5A -> 5B 02, 5B -> 5B 01.
// Body: destination u16, source u16, length word, FPGA selector, port
// selector, header byte, command, sub-command/status, payload, XOR.
//
// Both directions copy the runs of ordinary bytes between special bytes in
// bulk; the escaper keeps no state between frames, so one object may serve
// several threads.

#include <cstddef>
#include <cstdint>

class protocol_phy
{
public:
    protocol_phy() {}

    // Un-escapes one whole frame. Returns the body length (XOR included);
    // *done = 1 when the closing 0x5A was met. At most `outMax` body bytes
    // are written; a longer body gives 0 and done = 0.
    uint32_t data_transf_meaning(const uint8_t *in, uint8_t *out, uint32_t len, uint8_t *done,
                                 uint32_t outMax = 0xFFFFFFFFu);
    // Escapes `len` body bytes into `out` (room for 4 + 2 * len bytes);
    // returns the wire length. *done is set to 0.
    uint32_t data_re_transf_meaning(uint8_t *out, const uint8_t *in, uint32_t len, uint8_t *done);
    // Swaps destination (bytes 0-1) and source (bytes 2-3).
    static void swap_phy_head(uint8_t *body);

    // Worst-case wire length of a body of `len` bytes.
    static constexpr uint32_t wireMax(uint32_t len) { return 4 + 2 * len; }

    // True for the four bytes that are escaped (A5, A6, 5A, 5B).
    static constexpr bool is_special(uint8_t b) { return b == 0xA5 || b == 0xA6 || b == 0x5A || b == 0x5B; }
    // Number of leading bytes of p[0..n) that are not special (n when none is).
    static size_t plain_run(const uint8_t *p, size_t n);
    // The same with word-at-a-time arithmetic only (the fallback where no
    // vector unit is used).
    static size_t plain_run_portable(const uint8_t *p, size_t n);
};

#endif
