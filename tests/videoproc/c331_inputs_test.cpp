// Input ports and input monitoring against the simulated chip and receivers.

#include "input_fixture.h"

#include <cmath>

using namespace chiptest;

namespace {

TEST(C331Maps, SourcesPortsReceiversAndMultiPortWindows)
{
    c331_manage m;
    const int ports[] = {3, 2, 1, 0, 5, 4};
    for (int s = 0; s < 6; ++s) {
        EXPECT_EQ(m.zemApi_inputCvtC331(s), ports[s]);
        EXPECT_EQ(m.zemApi_GetPortDevId(ports[s]), s);
    }
    for (int bad : {-1, 6, 255}) {
        EXPECT_EQ(m.zemApi_inputCvtC331(bad), 255);
        EXPECT_EQ(m.zemApi_GetPortDevId(bad), 3);
    }
    const struct {
        int32_t mode;
        int result;
        std::vector<int> list;
    } cases[] = {
        {20, 1, {0, 1, 6, 6, 6, 6}}, {23, 1, {2, 3, 6, 6, 6, 6}}, {30, 1, {0, 1, 2, 6, 6, 6}},
        {41, 1, {0, 1, 2, 3, 6, 6}}, {50, 1, {5, 4, 6, 6, 6, 6}}, {1, 0, {6, 6, 6, 6, 6, 6}},
        {24, 0, {6, 6, 6, 6, 6, 6}},
    };
    for (const auto &c : cases) {
        m.PM_WIN_DBD_MODE[2] = c.mode;
        int list[6] = {0};
        EXPECT_EQ(m.zemApi_GetWinDbdMultiPort(2, list), c.result) << c.mode;
        EXPECT_EQ(std::vector<int>(list, list + 6), c.list) << c.mode;
    }
    int list[6];
    EXPECT_EQ(m.zemApi_GetWinDbdMultiPort(6, list), 0);
    EXPECT_EQ(m.zemApi_IsWinValid(5), 1);
    EXPECT_EQ(m.zemApi_IsWinValid(6), 0);
}

TEST_F(InputTest, StateFollowsTheFormatOfTheInput)
{
    const struct {
        const char *line;
        int port;
        int32_t state, ip;
        ST_ACT act, full;
        int frange;   // V-by-One low-range bit, -1 for HDMI
    } cases[] = {
        {"2 1920x1080@60", 1, 4, 0, {192, 1920, 41, 1080}, {192, 1920, 41, 1080}, -1},
        {"2 3840x2160@30", 1, 3, 0, {96, 1920, 41, 2160}, {192, 3840, 41, 2160}, -1},   // two pixels per clock
        {"2 1920x1080i@59.94", 1, 5, 1, {192, 1920, 20, 540}, {192, 1920, 20, 540}, -1},
        {"2 1920x1080i@50", 1, 6, 1, {192, 1920, 20, 540}, {192, 1920, 20, 540}, -1},
        {"2 720x480i@59.94", 1, 7, 1, {192, 720, 20, 240}, {192, 720, 20, 240}, -1},
        {"2 720x576i@50", 1, 8, 1, {192, 720, 20, 288}, {192, 720, 20, 288}, -1},
        {"2 800x756i@50", 1, 4, 0, {192, 800, 20, 378}, {192, 800, 20, 378}, -1},   // 400 lines: no known field
        {"4 1920x1080@60 lanes=2", 5, 4, 0, {192, 1920, 41, 1080}, {192, 1920, 41, 1080}, 0},
        {"4 1920x1080@60 lanes=4", 5, 1, 0, {96, 960, 41, 1080}, {192, 1920, 41, 1080}, 1},
        {"4 1920x1080@60 lanes=8", 5, 1, 0, {96, 960, 41, 1080}, {192, 1920, 41, 1080}, 1},
        {"4 2560x1080@60 lanes=4", 5, 1, 0, {96, 1280, 41, 1080}, {192, 2560, 41, 1080}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        show(0, c.port);
        plug(c.line);
        turn();
        EXPECT_EQ(m->PI_UPDATE[c.port], 1);
        EXPECT_EQ(m->PI_STATE[c.port], c.state);
        EXPECT_EQ(m->PI_PORT_INFO[c.port].IP, c.ip);
        EXPECT_EQ(m->PI_SCAN_MODE[c.port], c.ip);
        EXPECT_EQ(m->PI_PORT_INFO[c.port].NOSIG, 0);
        const ST_ACT &a = m->PI_ACT[c.port], &f = m->PI_ACT_FULL[c.port];
        EXPECT_EQ((std::vector<int32_t>{a.hst, a.hw, a.vst, a.vw}),
                  (std::vector<int32_t>{c.act.hst, c.act.hw, c.act.vst, c.act.vw}));
        EXPECT_EQ((std::vector<int32_t>{f.hst, f.hw, f.vst, f.vw}),
                  (std::vector<int32_t>{c.full.hst, c.full.hw, c.full.vst, c.full.vw}));
        if (c.frange >= 0) {
            EXPECT_EQ((chip->reg(0x02, 0x4C + 0x1C) >> 3) & 1, c.frange);
        }
        m->g_chg_input[0] = 0;
    }
    EXPECT_NEAR(m->PI_FV[5], 60.0, 0.001);
    const std::vector<std::string> calls = texts(*m);
    EXPECT_TRUE(has(calls, "zemApi_updateCrop(1)"));
    EXPECT_TRUE(has(calls, "zemApi_updateCrop(5)"));
}

// An unchanged measurement leaves the port alone; small drifts are no change.
TEST_F(InputTest, ChangeTestToleratesTwoLinesAndHundredCounts)
{
    show(0, 1);
    plug("2 1920x1080@60");
    turn();
    const double fvm = 200e6 / 60.0;
    struct Case {
        const char *what;
        uint32_t dh;
        double rate;
        int32_t dact;
        bool updated;
    } cases[] = {
        {"same", 0, 60, 0, false},
        {"HTOTAL +2", 2, 60, 0, false},
        {"HTOTAL +3", 3, 60, 0, true},
        {"FVM +100", 0, 200e6 / (std::round(fvm) + 100), 0, false},
        {"FVM +101", 0, 200e6 / (std::round(fvm) + 101), 0, true},
        {"ACTHW +1", 0, 60, 1, true},
    };
    platform::sim::SimC331Inputs::Signal base;
    base.htotal = 2200;
    base.vtotal = 1125;
    base.hactive = 1920;
    base.rate = 60;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        chip->inputs().plug(1, base);
        turn();
        m->g_chg_input[0] = 0;
        platform::sim::SimC331Inputs::Signal s = base;
        s.htotal += c.dh;
        s.rate = c.rate;
        s.hactive += c.dact;
        chip->inputs().plug(1, s);
        turn();
        EXPECT_EQ(m->PI_UPDATE[1], c.updated ? 1 : 0);
        m->g_chg_input[0] = 0;
    }
    // A pending window request or a source change counts as a change.
    chip->inputs().plug(1, base);
    turn();
    m->g_chg_input[0] = 0;
    turn();
    EXPECT_EQ(m->PI_UPDATE[1], 0);
    m->g_chg_input[0] = 1;
    turn();
    EXPECT_EQ(m->PI_UPDATE[1], 1);
    m->g_chg_input[0] = 0;
    m->g_chg_hdmi[1] = 1;
    turn();
    EXPECT_EQ(m->PI_UPDATE[1], 1);
}

TEST_F(InputTest, SignalLossShowsTheBackgroundOnTheWindowsChannelsOnce)
{
    show(0, 1, {0, 1});
    plug("2 1920x1080@60");
    turn();
    ASSERT_EQ(m->PI_STATE[1], 4);
    chip->setReg(0x00, 0x18, 0x30);   // port 1 packed two pixels per clock before

    plug("2 none");
    uint64_t mark = chip->mark();
    turn();
    EXPECT_EQ(m->PI_PORT_INFO[1].NOSIG, 1);
    EXPECT_EQ(m->PI_STATE[1], 0);
    EXPECT_EQ(m->PI_UPDATE[1], 1);   // its windows are to be programmed again
    EXPECT_EQ(m->PI_FV[1], 0.0);
    EXPECT_EQ(m->PI_ACT[1].hst, 16);
    EXPECT_EQ(m->PI_ACT[1].hw, 0);
    EXPECT_EQ(m->PI_ACT_FULL[1].vst, 16);
    for (int c : {0, 1}) {
        EXPECT_EQ(chip->value(0x084801, 16 * c), 1u) << c;
        EXPECT_EQ(chip->value(0x084903, 16 * c), 0u) << c;
    }
    EXPECT_EQ(chip->value(0x084801, 32), 0u);   // channel 2 belongs to no window of port 1
    EXPECT_EQ(chip->reg(0x00, 0x18), 0x20);
    EXPECT_EQ(chip->writeHistory(0x08, 0x48, mark).size(), 1u);

    // The second pass without signal changes nothing.
    mark = chip->mark();
    turn();
    EXPECT_TRUE(chip->writeHistory(0x08, 0x48, mark).empty());
    EXPECT_EQ(m->PI_UPDATE[1], 0);

    plug("2 1280x720@60");
    turn();
    EXPECT_EQ(m->PI_STATE[1], 4);
    EXPECT_EQ(m->PI_PORT_INFO[1].NOSIG, 0);
    EXPECT_EQ(m->PI_UPDATE[1], 1);
}

TEST_F(InputTest, VByOneReceiverWithoutSignalIsArmedAgainEveryPass)
{
    show(0, 5);
    plug("4 none");
    for (int pass = 0; pass < 2; ++pass) {
        const uint8_t range = chip->reg(0x02, 0x68);
        const uint64_t mark = chip->mark();
        turn();
        EXPECT_EQ(chip->writeHistory(0x02, 0x7F, mark), (std::vector<uint8_t>{0x0D, 0x0F}));
        EXPECT_EQ(chip->writeHistory(0x02, 0x40 + 0x1C, mark), std::vector<uint8_t>{5});
        EXPECT_EQ(chip->writeHistory(0x02, 0x4F + 0x1C, mark), std::vector<uint8_t>{0x80});
        EXPECT_EQ(chip->reg(0x02, 0x68), range ^ 0x08);
    }
}

TEST_F(InputTest, OnlyShownPortsWithSettledRecordsAreMeasured)
{
    plug("2 1920x1080@60");
    auto measured = [&](uint64_t mark) {
        for (const SimC331::Frame &f : chip->framesSince(mark))
            if (!f.write && (f.bank == 0xAE || f.bank == 0xAF))
                return true;
        return false;
    };
    uint64_t mark = chip->mark();
    turn();
    EXPECT_FALSE(measured(mark));
    EXPECT_EQ(m->PI_STATE[1], 0);

    show(0, 1);
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        record(2).stable = 0;   // timing not settled yet
    }
    mark = chip->mark();
    turn();
    EXPECT_FALSE(measured(mark));
    src->check_source_turn();
    turn();
    EXPECT_EQ(m->PI_STATE[1], 4);
}

// A receiver whose lock fails right after a new timing was taken is armed
// again, and the crop still follows the new timing.
TEST_F(InputTest, FailedLockCheckArmsTheReceiverAndStillRecomputesTheCrop)
{
    show(0, 5);
    plug("4 1920x1080@60 lanes=4");
    platform::sim::SimC331Inputs::Signal twoLanes;
    twoLanes.htotal = 2200;
    twoLanes.vtotal = 1125;
    twoLanes.hactive = 1920;
    twoLanes.rate = 60;
    twoLanes.lanes = 2;   // sub-channel 1 does not lock
    chip->inputs().plug(5, twoLanes);
    m->clear_calls();
    turn();
    EXPECT_EQ(m->PI_UPDATE[5], 1);
    EXPECT_EQ(chip->reg(0x02, 0x4F + 0x1C), 0xF0);
    EXPECT_EQ(chip->writeHistory(0x02, 0x4F + 0x1C), (std::vector<uint8_t>{0xF0, 0xF0}));
    EXPECT_TRUE(has(texts(*m), "zemApi_updateCrop(5)"));
}

// A V-by-One record without a lane count is taken as one lane.
TEST_F(InputTest, LaneCountZeroIsOneLane)
{
    show(0, 5);
    plug("4 640x480@60 lanes=1");
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        record(4).lane = 0;
    }
    turn();
    EXPECT_EQ(m->PI_STATE[5], 4);
    EXPECT_EQ(chip->reg(0x02, 0x68) & 0x08, 0x08);   // 29 MHz on its lane: low range
}

// Each receiver's mode word and its byte of the lane select by lane count;
// the other receiver's byte is kept.
TEST_F(InputTest, VByOneLaneSetUpByLaneCount)
{
    const struct {
        int32_t lane;
        uint32_t mode;
        uint8_t select;
    } cases[] = {{1, 0x0000, 0x00}, {2, 0x0001, 0x10}, {4, 0x0011, 0x04}, {8, 0x0404, 0x02}, {3, 0x0404, 0x02}};
    for (int k : {0, 1})
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "receiver " << k << ", " << c.lane << " lanes");
            chip->setReg(0x00, uint8_t(0x1E + 2 * k), 0x55);
            chip->setReg(0x00, uint8_t(0x1F + 2 * k), 0x55);
            chip->setReg(0x00, 0x39, 0xA5);
            chip->setReg(0x00, 0x3A, 0xA5);
            m->PI_HDMI_INFO[4 + k].lane = c.lane;
            m->set_VBOInput(m->c331_fd, k);
            EXPECT_EQ(chip->value(0x00, uint8_t(0x1E + 2 * k), 2), c.mode);
            EXPECT_EQ(chip->reg(0x00, uint8_t(0x39 + k)), c.select);
            EXPECT_EQ(chip->reg(0x00, uint8_t(0x3A - k)), 0xA5);
        }
}

// The lock check asks for the sub-channels a link's lanes use (two lanes
// each: all four with 8 lanes, two with 4, the first otherwise), their line
// and their frame periods; when one of them does not lock, the receiver is
// armed again with the link's lane mask.
TEST_F(InputTest, LockCheckAsksForTheSubChannelsOfTheLinksLanes)
{
    const struct {
        int32_t lanes;       // the receiver's record
        uint8_t locking;     // lanes the chip sees locked
        uint8_t frameLost;   // sub-channels without a frame period
        std::vector<uint8_t> rearm;
    } cases[] = {
        {8, 8, 0, {}}, {8, 6, 0, {0xFF}}, {4, 4, 0, {}}, {4, 2, 0, {0xF0}}, {2, 2, 0, {}}, {1, 1, 0, {}},
        {8, 8, 0x08, {0xFF}}, {4, 4, 0x02, {0xF0}}, {4, 4, 0x0C, {}},
    };
    show(0, 5);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.lanes << " lanes, " << int(c.locking) << " locked");
        plug("4 1920x1080@60 lanes=" + std::to_string(c.lanes));
        platform::sim::SimC331Inputs::Signal s;
        s.htotal = 2200;
        s.vtotal = 1125;
        s.hactive = 1920;
        s.rate = 60;
        s.lanes = c.locking;
        chip->inputs().plug(5, s);
        chip->inputs().setFrameLost(5, c.frameLost);
        turn();   // takes the new timing
        m->g_chg_input[0] = 0;
        const uint64_t mark = chip->mark();
        turn();   // unchanged: only the lock check
        EXPECT_EQ(chip->writeHistory(0x02, 0x4F + 0x1C, mark), c.rearm);
    }
}

// A new timing arms the receiver with the mask of its lanes.
TEST_F(InputTest, NewVByOneTimingArmsTheReceiverWithItsLaneMask)
{
    const struct {
        int lanes;
        uint8_t mask;
    } cases[] = {{2, 0xC0}, {8, 0xFF}, {1, 0x80}, {4, 0xF0}};
    show(0, 4);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lanes);
        plug("5 1920x1080@60 lanes=" + std::to_string(c.lanes));
        const uint64_t mark = chip->mark();
        turn();
        EXPECT_EQ(chip->writeHistory(0x02, 0x4F, mark), std::vector<uint8_t>{c.mask});
    }
}

TEST_F(InputTest, SyncPolarityKeepsTheLowestBitOfEachWord)
{
    chip->setReg(0x06, 0x3C + 2, 0xCD);
    chip->setReg(0x06, 0x3C + 3, 0xAB);
    m->PI_HDMI_INFO[1].Hpol = 3;
    m->PI_HDMI_INFO[1].Vpol = 2;
    m->PI_HDMI_INFO[4].Hpol = 2;
    m->PI_HDMI_INFO[4].Vpol = 3;
    m->set_sypol(m->c331_fd, 0, 1);
    m->set_sypol(m->c331_fd, 1, 0);
    EXPECT_EQ(chip->reg(0x06, 0x39), 2 * 1 + 0 + 4);
    EXPECT_EQ(chip->value(0x063C04), 0xABCD1111u);
    EXPECT_EQ(chip->writeHistory(0x00, 0x29), (std::vector<uint8_t>{0x80, 0x00, 0x80, 0x00}));
}

TEST_F(InputTest, FrequencyRangeWaitIsBounded)
{
    const auto lockReads = [&](uint64_t mark) {
        unsigned n = 0;
        for (const SimC331::Frame &f : chip->framesSince(mark))
            n += !f.write && f.bank == 0xB2 && f.sub == 0x63;
        return n;
    };
    uint64_t mark = chip->mark();
    m->set_VBORXfrange(m->c331_fd, 0, 100e6f, 0);   // nothing plugged: never locks
    EXPECT_EQ(lockReads(mark), 250u);

    plug("5 1920x1080@60");
    chip->inputs().setMeasureBusy(4, platform::sim::SimC331Inputs::NEVER);
    chip->inputs().setLockBusy(0, 3);
    mark = chip->mark();
    m->set_VBORXfrange(m->c331_fd, 0, 30e6f, 0);
    EXPECT_EQ(lockReads(mark), 4u);
    EXPECT_EQ(chip->reg(0x02, 0x4C) & 0x08, 0x08);
    m->set_VBORXfrange(m->c331_fd, 2, 30e6f, 1);   // no receiver 2
}

TEST_F(InputTest, NoSignalWatchMeasuresTheWatchedPortsOnly)
{
    show(0, 1);
    show(1, 4);
    plug("2 1920x1080@60");
    m->PI_NOSIG[1] = 0x81;
    m->PI_NOSIG[4] = 0x80;
    uint64_t mark = chip->mark();
    m->check_port_valid(m->c331_fd);
    EXPECT_EQ(m->PI_NOSIG[1], 0x80u);
    EXPECT_EQ(m->PI_NOSIG[4], 0x81u);
    EXPECT_EQ(chip->writeHistory(0x02, 0x7F, mark), (std::vector<uint8_t>{0x0E, 0x0F}));
    m->PI_NOSIG[1] = 0x01;   // not watched: left alone
    m->check_port_valid(m->c331_fd);
    EXPECT_EQ(m->PI_NOSIG[1], 0x01u);
}

TEST_F(InputTest, RunningLoopChecksTheInputsOncePerPollPeriod)
{
    show(0, 1);
    plug("2 1920x1080@60");
    m->setup_state = 8;
    auto measuredIn = [&](const std::function<void()> &run) {
        const uint64_t mark = chip->mark();
        run();
        for (const SimC331::Frame &f : chip->framesSince(mark))
            if (!f.write && f.bank == 0xAE)
                return true;
        return false;
    };
    EXPECT_TRUE(measuredIn([&] { m->run_turn(); }));
    EXPECT_FALSE(measuredIn([&] { m->run_turn(); }));   // the same period
    m->last_input_check -= std::chrono::milliseconds(c331_manage::INPUT_POLL_MS);
    EXPECT_TRUE(measuredIn([&] { m->run_turn(); }));
}

// A source plugged while the chip thread sleeps is measured when the source
// manager's next turn (every tarixsource::TURN_MS) sees the new record, not at
// the chip's own next check, which this test puts a minute away.
TEST_F(InputTest, PluggedSourceIsMeasuredAtTheSourceManagersNextTurn)
{
    CurrentManager current(m.get());
    show(0, 1);
    m->input_poll_ms = 60000;
    m->setup_state = 8;   // running, the inputs checked just now
    m->last_input_check = std::chrono::steady_clock::now();
    const uint64_t mark = chip->mark();
    ASSERT_EQ(m->initialize(), 0);
    plug("2 1920x1080@60");   // with the source manager's turn
    ASSERT_TRUE(waitFor([&] {
        for (const SimC331::Frame &f : chip->framesSince(mark))
            if (!f.write && f.bank == 0xAE)
                return true;
        return false;
    }));
    m->stop_thread();
    EXPECT_EQ(m->PI_HDMI_INFO[1].Hact, 1920);
    EXPECT_EQ(m->PI_HDMI_INFO[1].nosignal, 0);
}

TEST_F(InputTest, NewSourceOfAWindow)
{
    m->gMwin.count = 2;
    m->c331_SetInputsource(1, 7);   // source 7 is source 1
    EXPECT_EQ(m->PM_INPUT[1], 2);
    EXPECT_EQ(m->gWininfo[1].input, 1);
    EXPECT_EQ(m->g_chg_input[1], 0) << "taken by the output pass";
    EXPECT_EQ(texts(*m), std::vector<std::string>{"set_output()"});
    m->clear_calls();
    m->c331_SetInputsource(2, 0);    // beyond the window count
    m->c331_SetInputsource(-1, 0);
    m->c331_SetInputsource(0, -3);   // no such source
    EXPECT_EQ(m->PM_INPUT[0], 6);
    EXPECT_TRUE(texts(*m).empty());
}

// The output pass that follows a new source takes the timing measured for
// it; the running loop adds no pass of its own, and a steady source costs
// none at all.
TEST_F(InputTest, NewSourceIsProgrammedOnceAndSteadySourceCostsNothing)
{
    show(0, 1, {0});
    m->PM_WIN_SHAPE[0][0] = m->PM_WIN_SHAPE[0][1] = 1;
    m->PM_AREA_NUM[0] = 0;
    plug("2 1920x1080@60");
    turn();
    m->setup_state = 8;
    m->c331_SetInputsource(0, 2);
    ASSERT_EQ(m->win_ich[0][0], 0);
    m->clear_calls();
    for (int k = 0; k < 4; ++k) {
        if (k % 2)
            m->last_input_check -= std::chrono::milliseconds(c331_manage::INPUT_POLL_MS);
        else
            m->last_input_check = std::chrono::steady_clock::now();
        m->run_turn();
    }
    EXPECT_FALSE(has(texts(*m), "set_output()"));
}

TEST_F(InputTest, NewReceiverTimingFlagsTheWindowsShowingThePort)
{
    show(0, 1);
    show(1, 3);
    show(2, 6);
    m->PM_WIN_DBD_MODE[2] = 20;   // ports 0 and 1 side by side
    m->win_ich[2][0] = 2;
    m->win_ich[2][1] = 3;
    plug("2 1920x1080@60");
    const uint64_t mark = chip->mark();
    m->load_hdmi();
    EXPECT_EQ(m->g_chg_input[0], 1);
    EXPECT_EQ(m->g_chg_input[1], 0);
    EXPECT_EQ(m->g_chg_input[2], 1);
    EXPECT_EQ(chip->writeHistory(0x00, 0x12, mark), std::vector<uint8_t>{0});   // selectors of window 2
    EXPECT_EQ(chip->writeHistory(0x00, 0x13, mark), std::vector<uint8_t>{2});
    EXPECT_EQ(m->PI_HDMI_INFO[1].Hact, 1920);
    EXPECT_EQ(m->PI_HDMI_INFO[1].nosignal, 0);

    m->g_chg_input[0] = 0;
    m->load_hdmi();   // the same record again: nothing to do
    EXPECT_EQ(m->g_chg_input[0], 0);
}

// Windows without a chip port (-1, 6 = none, 255 = a source above 5) read as
// having no signal everywhere a port indexes the model.
TEST_F(InputTest, WindowsWithoutAChipPortReadAsNoSignal)
{
    for (int port : {-1, 6, 255}) {
        SCOPED_TRACE(port);
        show(0, port, {0});
        m->PM_WIN_SHAPE[0][0] = m->PM_WIN_SHAPE[0][1] = 1;
        m->g_chg_input[0] = 1;
        EXPECT_EQ(m->check_dbd_input(port), 0);
        EXPECT_EQ(m->set_input(0, port), 2);
        m->win_ich[0][0] = 1;
        chip->setReg(0x08, 0x48, 0);
        const uint64_t mark = chip->mark();
        turn();
        m->set_ichsel(m->c331_fd, 0);
        m->wait1_pivs2(m->c331_fd);
        m->set_idual(m->c331_fd, 1, 1, port);
        m->set_input_bkg2(m->c331_fd, 0, 0);
        EXPECT_EQ(chip->reg(0x08, 0x48), 1);   // background on
        EXPECT_EQ(chip->reg(0x03, 0x08), 0);   // nothing to split
        for (const SimC331::Frame &f : chip->framesSince(mark)) {
            EXPECT_FALSE(f.bank == 0xAE || f.bank == 0x05) << "measured or waited";
            EXPECT_FALSE(f.write && f.bank == 0x00 && f.sub >= 0x10 && f.sub < 0x18) << "selector written";
        }
    }
}

} // namespace
