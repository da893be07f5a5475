// Output frames of the simulated chip: the output-frame status register that
// the chip code polls to pace its changes to the output's frames.

#include "platform/sim_c331.h"

namespace platform {
namespace sim {

namespace {
constexpr uint8_t STATUS_BANK = 0x05;
constexpr uint8_t STATUS_SUB = 0x23;
constexpr uint8_t SELECT_SUB = 0x09;
constexpr uint8_t ENABLE_BANK = 0x00;
constexpr uint8_t ENABLE_SUB = 0x29;
constexpr uint8_t ENABLE_BIT = 0x80;
} // namespace

void SimC331::setOutputRunning(bool running)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputRunning = running;
}

unsigned SimC331::outputFrameReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputFrameReads;
}

// Called with the model's lock held.
bool SimC331::outputFrameStatus(uint8_t bank, uint8_t sub, uint8_t &value)
{
    if (bank != STATUS_BANK || sub != STATUS_SUB)
        return false;
    ++m_outputFrameReads;
    const bool enabled = m_regs[ENABLE_BANK][ENABLE_SUB] & ENABLE_BIT;
    value = m_outputRunning && enabled ? m_regs[STATUS_BANK][SELECT_SUB] : 0;
    return true;
}

} // namespace sim
} // namespace platform
