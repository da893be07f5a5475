// The chip model's derived start-up values.

#include "setter_fixture.h"

using namespace chiptest;

namespace {

using ModelTest = SetterTest;

// The active area from the start-up timing (sync + back porch, plus the
// 1920 x 2160 active size), and the output frame that the transmitter's mode
// and layout make of such areas: channels across and down.
TEST_F(ModelTest, ActiveAreaAndOutputFrameFollowTheTimingAndTheTransmitter)
{
    EXPECT_EQ(m->PS_OAOIHST, 176);
    EXPECT_EQ(m->PS_OAOIHED, 2096);
    EXPECT_EQ(m->PS_OAOIVST, 82);
    EXPECT_EQ(m->PS_OAOIVED, 2242);
    EXPECT_EQ(m->PS_ACTHST, 176);
    EXPECT_EQ(m->PS_ACTVST, 82);
    const struct {
        int mode, layout, across, down;
    } cases[] = {{0, 0, 4, 1}, {0, 1, 2, 2}, {2, 0, 2, 1}, {2, 1, 1, 2}, {1, 0, 8, 1}, {1, 1, 4, 2}, {0, 0, 4, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " layout " << c.layout);
        m->PS_VBOTX_MODE = c.mode;
        m->PS_VBOTX_LAYOUT = c.layout;
        m->define_param();
        EXPECT_EQ(m->PS_PANEL_HSHAPE, c.across);
        EXPECT_EQ(m->PS_PANEL_VSHAPE, c.down);
        EXPECT_EQ(m->PS_PANEL_HW, c.across * 1920);
        EXPECT_EQ(m->PS_PANEL_VW, c.down * 2160);
    }
}

} // namespace
