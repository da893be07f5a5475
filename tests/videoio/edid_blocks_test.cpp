// The data blocks of the generated EDID's CEA extension: a sink walks them by
// their header bytes, so each block must be as long as its kind is, and the
// walk must end where the detailed timings begin.

#include "videoio/edid.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(EdidBlocks, DataBlocksHaveTheirStandardLengthsAndEndAtTheTimings)
{
    uint8_t e[edid::SIZE];
    edid::build(1920, 1080, 60, e);
    const uint8_t *cea = e + 128;
    std::vector<std::pair<int, int>> blocks;   // tag, payload length
    int p = 4;
    while (p < cea[2]) {
        blocks.emplace_back(cea[p] >> 5, cea[p] & 0x1F);
        p += 1 + (cea[p] & 0x1F);
    }
    EXPECT_EQ(p, cea[2]);
    // One 3-byte short audio descriptor, the 3-byte speaker allocation, and
    // the HDMI vendor block with its licensing id and physical address.
    EXPECT_EQ(blocks, (std::vector<std::pair<int, int>>{{1, 3}, {4, 3}, {3, 5}}));
}

} // namespace
