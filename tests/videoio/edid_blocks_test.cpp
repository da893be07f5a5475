// The data blocks of the generated EDID's CEA extension: a sink walks them by
// their header bytes, so each block must be as long as its kind is, and the
// walk must end where the detailed timings begin. The preferred timing's
// blanking is split into porches and sync as reduced blanking does.

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

// Reduced blanking: 160 pixels of horizontal blanking (front porch 48,
// sync 32), vertical front porch 3 and sync 5, and as many blank lines as
// cover 460 us: floor(460 us / line period) + 1, the line period being
// (1 s / rate - 460 us) / active lines. 1080 lines at 60 Hz: 15.006 us, 31
// lines; 720 lines at 50 Hz: 27.14 us, 17 lines.
TEST(EdidBlocks, PreferredTimingCarriesTheReducedBlankingPorchesAndSync)
{
    struct Case {
        int w, h, hz, vblank;
    } cases[] = {{1920, 1080, 60, 31}, {1280, 720, 50, 17}};
    for (const Case &c : cases) {
        uint8_t e[edid::SIZE];
        edid::build(c.w, c.h, c.hz, e);
        for (const uint8_t *d : {e + 54, e + 128 + e[130]}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << (d == e + 54 ? " base" : " extension"));
            EXPECT_EQ(d[3] | ((d[4] & 0x0F) << 8), 160) << "horizontal blanking";
            EXPECT_EQ(d[8] | ((d[11] >> 6) << 8), 48) << "horizontal front porch";
            EXPECT_EQ(d[9] | (((d[11] >> 4) & 3) << 8), 32) << "horizontal sync";
            EXPECT_EQ(d[6] | ((d[7] & 0x0F) << 8), c.vblank) << "vertical blanking";
            EXPECT_EQ((d[10] >> 4) | (((d[11] >> 2) & 3) << 4), 3) << "vertical front porch";
            EXPECT_EQ((d[10] & 0x0F) | ((d[11] & 3) << 4), 5) << "vertical sync";
        }
    }
}

} // namespace
