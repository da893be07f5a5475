// Simulated chip: the input channels' measurement unit.

#include "platform/sim_c331.h"

namespace platform {
namespace sim {

namespace {
constexpr uint8_t MEASURE_BANK = 0xA8;
constexpr uint8_t LINE_LENGTH_SUB = 0x08;   // 2 bytes, 6 sub-addresses per channel
constexpr uint8_t FIELD_LINES_SUB = 0x0A;   // 2 bytes
} // namespace

void SimC331::setInputChannelCounts(int ich, uint16_t lineLength, uint16_t fieldLines)
{
    if (ich < 0 || ich > 7)
        return;
    const uint16_t raw = lineLength ? uint16_t(lineLength - 1) : 0;
    const uint8_t line = uint8_t(LINE_LENGTH_SUB + 6 * ich);
    const uint8_t field = uint8_t(FIELD_LINES_SUB + 6 * ich);
    std::lock_guard<std::mutex> lock(m_mutex);
    store(MEASURE_BANK, line, uint8_t(raw & 0xFF));
    store(MEASURE_BANK, uint8_t(line + 1), uint8_t(raw >> 8));
    store(MEASURE_BANK, field, uint8_t(fieldLines & 0xFF));
    store(MEASURE_BANK, uint8_t(field + 1), uint8_t(fieldLines >> 8));
}

} // namespace sim
} // namespace platform
