#ifndef PLATFORM_SIM_FPGA_H
#define PLATFORM_SIM_FPGA_H

// Simulated sending-card FPGA behind one SPI chip select. Every SPI message is
// one command word and its data (one full-duplex transfer):
//
//   00 rr vv                    register write: register rr := vv
//   40 rr xx                    register read: the third byte returns register rr
//   80|bank a2 a1 a0 data...    RAM write of bank 0..63 at address a2a1a0
//   C0|bank a2 a1 a0 xx data... RAM read (one turn-around byte, then the data)
//   20 pp lh ll data...         card frame of lh:ll bytes out of output port pp (FF: all)
//   30 pp xx xx data...         read the card frame waiting on port pp
//
// Card frames that arrived are announced in registers 129 (port 0) and 145
// (port 1), bit 0, with their length in registers 130/131 and 146/147 (high,
// low). Writing 0 to the ready register takes the frame away and presents the
// next one. Register 80 (state) starts at 3: configured and running.
// Register 128 holds the output ports' link state (bit 0: port 0, bit 1:
// port 1 has a link); both start without one.
// The model keeps an ordered log of register writes, RAM writes and card
// frames, the newest LOG_LIMIT of them; tests read it and queue
// receiving-card replies.

#include "platform/spi.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace simfpga {

enum class OpKind { RegisterWrite, RamWrite, CardFrame };

struct Op {
    OpKind kind;
    uint8_t target;      // register, bank or port
    uint32_t address;    // RAM address; 0 otherwise
    std::vector<uint8_t> data;
};

class SimFpga : public spi::sim::Device
{
public:
    static constexpr size_t LOG_LIMIT = 4096;   // oldest operations are dropped beyond this

    SimFpga();
    void transfer(const spi::Xfer &x) override;

    uint8_t reg(uint8_t r) const;
    void setReg(uint8_t r, uint8_t v);
    std::vector<uint8_t> ram(uint8_t bank, uint32_t address, uint32_t len) const;
    void setRam(uint8_t bank, uint32_t address, const std::vector<uint8_t> &data);

    std::vector<Op> ops() const;
    void clearOps();

    // A receiving card's reply arriving on output port 0 or 1.
    void queueCardReply(uint8_t port, const std::vector<uint8_t> &frame);
    // A cable to the receiving cards plugged into (or pulled from) output port 0 or 1.
    void setPortLink(uint8_t port, bool up);

private:
    void present(uint8_t port);
    void regWrite(uint8_t r, uint8_t v);
    void record(Op op);

    mutable std::mutex m_mutex;
    uint8_t m_regs[256];
    std::map<uint8_t, std::vector<uint8_t>> m_ram;
    std::deque<Op> m_ops;
    std::deque<std::vector<uint8_t>> m_replies[2];
};

} // namespace simfpga
} // namespace platform

#endif
