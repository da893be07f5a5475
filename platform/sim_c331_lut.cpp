// Scaler filter-table loads of the simulated chip.

#include "platform/sim_c331.h"

namespace platform {
namespace sim {

void SimC331::noteFilterWrite(uint8_t bank, uint8_t sub, uint8_t value)
{
    if (bank != LUT_BANK)
        return;
    if (sub == LUT_TABLE_SUB) {
        m_filterTable = value;
    } else if (sub == LUT_DEST_SUB) {
        // The destination write was recorded just before.
        m_filterLoads.push_back(FilterLoad{m_seq - 1, m_filterTable, value});
        if (m_filterLoads.size() > m_logLimit)
            m_filterLoads.pop_front();
    }
}

std::vector<SimC331::FilterLoad> SimC331::filterLoads(uint64_t since) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<FilterLoad> out;
    for (const FilterLoad &f : m_filterLoads)
        if (f.seq >= since)
            out.push_back(f);
    return out;
}

} // namespace sim
} // namespace platform
