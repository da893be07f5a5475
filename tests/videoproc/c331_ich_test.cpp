// Input-channel allocation and the channels' input selectors.

#include "input_fixture.h"

using namespace chiptest;

namespace {

class IchAllocTest : public InputTest
{
protected:
    // Window w, available, shows port p (interlaced when `ip`).
    void window(int w, int port, bool ip = false)
    {
        show(w, port);
        m->PM_WIN_SHAPE[w][0] = m->PM_WIN_SHAPE[w][1] = 1;
        if (port >= 0 && port < 6)
            m->PI_PORT_INFO[port].IP = ip ? 1 : 0;
    }
    std::vector<int32_t> owners() const { return std::vector<int32_t>(m->ich_owner, m->ich_owner + 8); }
    std::vector<int32_t> channels(int w) const
    {
        std::vector<int32_t> out;
        for (int i = 0; i < 8 && m->win_ich[w][i] >= 0; ++i)
            out.push_back(m->win_ich[w][i]);
        return out;
    }
};

TEST_F(IchAllocTest, HdmiWindowsTakeOneChannelVByOneWindowsAPair)
{
    struct Case {
        const char *what;
        std::vector<int> ports;
        std::vector<int> results;
        std::vector<int32_t> owners;
    } cases[] = {
        {"six HDMI", {0, 1, 2, 3, 0, 1}, {0, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, -1, -1}},
        {"two V-by-One, four HDMI", {4, 5, 0, 1, 2, 3}, {0, 0, 0, 0, 0, 0}, {2, 3, 4, 5, 0, 0, 1, 1}},
        {"one V-by-One", {4}, {0}, {-1, -1, -1, -1, 0, 0, -1, -1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m->define_param();
        for (size_t w = 0; w < c.ports.size(); ++w)
            window(int(w), c.ports[w]);
        for (size_t w = 0; w < c.ports.size(); ++w)
            EXPECT_EQ(m->set_input(int(w), c.ports[w]), c.results[w]) << w;
        EXPECT_EQ(owners(), c.owners);
    }
    EXPECT_EQ(channels(0), (std::vector<int32_t>{4, 5}));

    // A second V-by-One window gets the next pair.
    window(1, 5);
    EXPECT_EQ(m->set_input(1, 5), 0);
    EXPECT_EQ(channels(1), (std::vector<int32_t>{6, 7}));
}

// Nine channels do not fit: nothing changes.
TEST_F(IchAllocTest, OversubscriptionFailsWithoutChangingTheAllocation)
{
    const int ports[] = {4, 5, 0, 1, 2};
    for (int w = 0; w < 5; ++w) {
        window(w, ports[w]);
        ASSERT_EQ(m->set_input(w, ports[w]), 0);
    }
    const std::vector<int32_t> before = owners();
    window(5, 5);   // a third V-by-One window: 2 + 2 + 2 + 3 = 9 channels
    EXPECT_EQ(m->check_ich_all(5), -1);
    EXPECT_EQ(m->set_input(5, 5), 2);
    EXPECT_EQ(owners(), before);
}

TEST_F(IchAllocTest, ChoiceOfAFreeChannel)
{
    struct Case {
        std::vector<int32_t> taken;   // channels owned by window 0
        int interlaced, pair, expected;
    } cases[] = {
        {{}, 0, 0, 0},           {{2}, 0, 0, 3},        {{0, 2}, 0, 0, 1},   {{0, 1, 2, 3, 6}, 0, 0, 7},
        {{0, 1, 2, 3, 4}, 0, 0, 5}, {{0, 1, 2, 3}, 1, 0, -1}, {{4, 6}, 0, 1, 2}, {{1, 2, 4, 6}, 0, 1, -1},
    };
    for (const Case &c : cases) {
        for (int k = 0; k < 8; ++k)
            m->ich_owner[k] = -1;
        for (int32_t k : c.taken)
            m->ich_owner[k] = 0;
        EXPECT_EQ(m->check_ich(c.interlaced, c.pair), c.expected)
            << "taken " << c.taken.size() << " interlaced " << c.interlaced << " pair " << c.pair;
    }
}

TEST_F(IchAllocTest, InterlacedWindowMovesAProgressiveSingleChannelOwnerUp)
{
    const int ports[] = {0, 0, 2, 3};
    for (int w = 0; w < 4; ++w) {
        window(w, ports[w]);
        ASSERT_EQ(m->set_input(w, ports[w]), 0);
    }
    ASSERT_EQ(owners(), (std::vector<int32_t>{0, 1, 2, 3, -1, -1, -1, -1}));
    window(4, 1, true);
    EXPECT_EQ(m->set_input(4, 1), 1);
    EXPECT_EQ(owners(), (std::vector<int32_t>{4, 1, 2, 3, 0, -1, -1, -1}));
    EXPECT_EQ(m->g_chg_input[0], 2);
    EXPECT_EQ(m->g_chg_input[1], 0);
}

// The owner of a channel pair is moved as a whole; its pair is never split.
TEST_F(IchAllocTest, InterlacedWindowMovesAChannelPairWhole)
{
    window(0, 0, true);
    window(1, 1, true);
    window(2, 4);
    m->ich_owner[0] = 0;
    m->ich_owner[1] = 1;
    m->ich_owner[2] = m->ich_owner[3] = 2;   // V-by-One window on the pair 2, 3
    window(3, 2, true);
    EXPECT_EQ(m->set_input(3, 2), 1);
    EXPECT_EQ(owners(), (std::vector<int32_t>{0, 1, 3, -1, 2, 2, -1, -1}));
    EXPECT_EQ(m->g_chg_input[2], 2);
    EXPECT_EQ(channels(2), (std::vector<int32_t>{4, 5}));
}

TEST_F(IchAllocTest, PairFreedByMovingThePartnersOwner)
{
    window(0, 0);
    m->ich_owner[5] = 0;
    m->ich_owner[6] = m->ich_owner[7] = 1;
    m->ich_owner[2] = m->ich_owner[3] = 2;
    window(1, 4);
    window(2, 5);
    m->ich_owner[0] = m->ich_owner[1] = 3;
    window(3, 1);
    EXPECT_EQ(m->check_ich(0, 1), -1);
    EXPECT_EQ(m->adjust_ich(0, 1, 4), -1);   // owner of 5 has nowhere to go
    EXPECT_EQ(m->ich_owner[5], 0);
    m->ich_owner[1] = -1;
    EXPECT_EQ(m->adjust_ich(0, 1, 4), 0);
    EXPECT_EQ(owners(), (std::vector<int32_t>{3, 0, 2, 2, 4, 4, 1, 1}));
    EXPECT_EQ(m->g_chg_input[0], 2);
}

TEST_F(IchAllocTest, DotByDotWindowsTakeSeveralSingleChannels)
{
    window(0, 0);
    m->PM_WIN_DBD_MODE[0] = 40;
    m->g_chg_dbd[0] = 1;
    EXPECT_EQ(m->set_input(0, 0), 0);
    EXPECT_EQ(channels(0), (std::vector<int32_t>{0, 1, 2, 3}));
    m->g_chg_dbd[0] = 0;
    EXPECT_EQ(m->set_input(0, 0), 0);   // unchanged set-up: keeps its channels
    window(1, 1);
    m->PM_WIN_DBD_MODE[1] = 60;
    m->g_chg_dbd[1] = 1;
    EXPECT_EQ(m->set_input(1, 1), 2);
}

TEST_F(IchAllocTest, UnavailableWindowsLoseTheirChannels)
{
    window(0, 4);
    ASSERT_EQ(m->set_input(0, 4), 0);
    m->reset_ich(0);   // available: kept
    EXPECT_EQ(channels(0), (std::vector<int32_t>{4, 5}));
    m->PM_WIN_SHAPE[0][1] = 0;
    m->reset_ich(0);
    EXPECT_TRUE(channels(0).empty());
    EXPECT_EQ(owners(), std::vector<int32_t>(8, -1));
    EXPECT_EQ(m->set_input(0, 4), 2);
}

TEST_F(IchAllocTest, SelectorsOfTheWindowsChannels)
{
    struct Case {
        int port;
        int32_t mode, lanes;
        std::vector<int32_t> ich;
        std::vector<uint8_t> selectors;
    } cases[] = {
        {2, 0, 0, {3}, {4}},
        {5, 1, 8, {6, 7}, {12, 14}},
        {0, 22, 0, {1, 5}, {4, 6}},
        {0, 51, 2, {0, 1, 2, 3}, {8, 9, 12, 13}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        show(0, c.port);
        m->PM_WIN_DBD_MODE[0] = c.mode;
        m->PI_HDMI_INFO[4].lane = m->PI_HDMI_INFO[5].lane = c.lanes;
        for (int i = 0; i < 8; ++i)
            m->win_ich[0][i] = i < int(c.ich.size()) ? c.ich[i] : -1;
        for (int k = 0; k < 8; ++k)
            chip->setReg(0x00, 0x10 + k, 0xEE);
        m->set_ichsel(m->c331_fd, 0);
        for (size_t i = 0; i < c.ich.size(); ++i)
            EXPECT_EQ(chip->reg(0x00, 0x10 + c.ich[i]), c.selectors[i]) << i;
    }
}

TEST_F(IchAllocTest, DualChannelSplit)
{
    m->PI_ACT[2] = ST_ACT{96, 960, 41, 1080};
    m->set_idual(m->c331_fd, 5, 1, 2);
    EXPECT_EQ(chip->reg(0x03, 0x08 + 18), 3);
    EXPECT_EQ(chip->value(0x031B02), 96u);
    EXPECT_EQ(chip->value(0x031D02), 1920u);
    m->set_idual(m->c331_fd, 4, 0, 2);
    EXPECT_EQ(chip->reg(0x03, 0x08 + 18), 0);
}

} // namespace
