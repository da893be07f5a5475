// The window output sequence on a laid-out model: which windows a pass
// re-programs, the held picture or the fade around it, the user's freeze,
// black and dot-by-dot, mirrors and crops.

#include "chip_fixture.h"

#include "app/global.h"
#include "videoproc/c331_defaults.h"

using namespace chiptest;

namespace {

constexpr uint32_t WRITE_CTRL = 0x100901;     // per input channel
constexpr uint32_t CAP_HW = 0x101902;
constexpr uint32_t BUF_INDICES = 0x166603;
constexpr uint32_t OUT_HW = 0x084202;         // per output channel
constexpr uint32_t READ_INDICES = 0x166C02;
constexpr uint32_t BKG_ON = 0x084801;
constexpr uint32_t LR_MIRROR = 0x082201;
constexpr uint32_t H_SHRINK = 0x114702;       // per input channel
constexpr uint32_t LINE_PITCH = 0x163101;
constexpr uint32_t H_ZOOM = 0x0A4902;         // per output channel
constexpr uint32_t V_CTRL = 0x0A4B01;
constexpr uint32_t READ_ADDR = 0x160804;
constexpr uint32_t READ_PITCH = 0x163001;

// Two windows side by side on a 2 x 1 output of 1920 x 1080 areas: window 0
// shows source 0 (port 3), window 1 source 1 (port 2), both 1080p60. The
// first pass has programmed them.
class WindowsTest : public ModelTest
{
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_debugSwitch = 0;
        g_force_bkcolor = 2;
        for (int p : {3, 2})
            signal(p, 1920, 1080);
        window(0, 0, 0, 1920, 1080, 0, 0);
        window(1, 1920, 0, 1920, 1080, 1, 1);
        m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
        m->set_output(m->c331_fd);
        syncSnapshot();
        m->set_call_recording(true);
        mark = chip->mark();
        frameReads = chip->outputFrameReads();
    }

    void signal(int p, int w, int h)
    {
        m->PI_ACT[p] = m->PI_ACT_FULL[p] = ST_ACT{192, w, 41, h};
        m->PI_STATE[p] = 4;
        m->PI_PORT_INFO[p].NOSIG = 0;
        m->PI_FV[p] = 60;
    }

    // Values written to a per-channel register of channel n since the mark.
    std::vector<uint8_t> written(uint32_t descriptor, int n) const
    {
        return chip->writeHistory(uint8_t((descriptor >> 16) + 16 * n), uint8_t(descriptor >> 8), mark);
    }
    bool stopped(int ich) const
    {
        const auto v = written(WRITE_CTRL, ich);
        return std::find(v.begin(), v.end(), 2) != v.end();
    }
    unsigned framesWaited() const { return chip->outputFrameReads() - frameReads; }
    int ich(int w) const { return m->win_ich[w][0]; }
    int calls(const std::string &text) const
    {
        const auto t = texts(*m);
        return int(std::count(t.begin(), t.end(), text));
    }

    uint64_t mark = 0;
    unsigned frameReads = 0;
};

TEST_F(WindowsTest, FirstPassProgramsTheWindowsAndClearsWhatNothingUses)
{
    ASSERT_EQ(ich(0), 0);
    ASSERT_EQ(ich(1), 1);
    for (int c = 2; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(chip->value(CAP_HW, 16 * c), 0u);
        EXPECT_EQ(chip->value(OUT_HW, 16 * c), 0u);
    }
    EXPECT_NE(chip->value(CAP_HW, 0), 0u);
    EXPECT_NE(chip->value(OUT_HW, 16), 0u);
    EXPECT_EQ(m->win_ich_prev[1][0], 1);
    EXPECT_EQ(m->PM_WIN_NUM_prev[1], 1);
    for (int w = 0; w < 6; ++w)
        EXPECT_FALSE(m->g_chg_win[w] || m->g_chg_input[w] || m->g_chg_dbd[w] || m->g_chg_attr[w]) << w;
}

// Only a changed window's channels are written; the other keeps its picture.
TEST_F(WindowsTest, SourceChangeReprogramsOnlyThatWindow)
{
    signal(1, 1280, 720);
    m->c331_SetInputsource(1, 2);   // source 2 arrives on port 1
    EXPECT_EQ(m->PM_INPUT[1], 1);
    EXPECT_FALSE(written(CAP_HW, ich(1)).empty());
    EXPECT_TRUE(written(CAP_HW, ich(0)).empty());
    EXPECT_TRUE(written(OUT_HW, 0).empty());
    EXPECT_FALSE(written(OUT_HW, 1).empty());
    EXPECT_EQ(calls("set_output()"), 1);
}

// One window changing source with fading on fades out, is switched, fades
// in; anything more holds the picture instead.
TEST_F(WindowsTest, FadeOrHold)
{
    struct Case {
        const char *what;
        bool fadeOn[2];
        int32_t input[2];
        int32_t win[2];
        int32_t overlay;
        bool fades;
    } cases[] = {
        {"one window, fade on", {false, true}, {0, 1}, {0, 0}, 0, true},
        {"one window, fade off", {false, false}, {0, 1}, {0, 0}, 0, false},
        {"two windows, both fade on", {true, true}, {1, 1}, {0, 0}, 0, false},
        {"one window and a timing change", {true, true}, {1, 2}, {0, 0}, 0, false},
        {"one window and new priorities", {false, true}, {0, 1}, {0, 0}, 1, false},
        {"one window and a re-layout", {false, true}, {0, 1}, {1, 0}, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        mark = chip->mark();
        frameReads = chip->outputFrameReads();
        for (int w = 0; w < 2; ++w) {
            m->PM_WIN_FADE_EN[w] = c.fadeOn[w];
            m->PM_WIN_FADE_OUT[w] = 3;
            m->PM_WIN_FADE_IN[w] = 2;
            m->g_chg_input[w] = c.input[w];
            m->g_chg_win[w] = c.win[w];
        }
        m->g_chg_overlay = c.overlay;
        m->set_output(m->c331_fd);

        if (!c.fades) {
            EXPECT_EQ(framesWaited(), 1u);
            EXPECT_TRUE(stopped(ich(1)));
            EXPECT_FALSE(written(READ_INDICES, 1).empty());
            continue;
        }
        EXPECT_EQ(framesWaited(), 4u + 3u) << "a wait per fade step";
        EXPECT_FALSE(stopped(ich(1)));
        EXPECT_TRUE(written(READ_INDICES, 1).empty());
        // The window's input is written between the last step out and the
        // first step in.
        std::vector<size_t> waits, captures;
        const auto log = chip->framesSince(mark);
        for (size_t k = 0; k < log.size(); ++k) {
            if (!log[k].write && log[k].bank == 0x05 && log[k].sub == 0x23)
                waits.push_back(k);
            if (log[k].write && log[k].bank == 0x10 + 16 * ich(1) && log[k].sub == 0x19)
                captures.push_back(k);
        }
        ASSERT_EQ(waits.size(), 7u);
        ASSERT_FALSE(captures.empty());
        EXPECT_GT(captures.front(), waits[3]);
        EXPECT_LT(captures.back(), waits[4]);
    }
}

// The writers stop in the first window's slot; its ring turns the frame last
// written into the spare, which every output of the held windows reads.
TEST_F(WindowsTest, HoldAndReleaseTurnTheRing)
{
    chip->inputs().pinWriteSlot(ich(0), 2);
    for (int w = 0; w < 2; ++w)
        std::copy(c331_defaults::BUF_RING, c331_defaults::BUF_RING + 5, m->win_buf_idx[w]);
    m->g_chg_win[0] = m->g_chg_win[1] = 1;
    m->set_freeze(m->c331_fd, 1);

    const uint8_t ring[5] = {0, 4, 2, 3, 1};   // slot 1 swapped with the spare
    for (int w = 0; w < 2; ++w) {
        SCOPED_TRACE(w);
        EXPECT_TRUE(std::equal(ring, ring + 5, m->win_buf_idx[w]));
        EXPECT_EQ(m->win_frozen[w], 1);
        EXPECT_TRUE(stopped(ich(w)));
        EXPECT_EQ(chip->reg(0x00, uint8_t(0x08 + ich(w))), 1) << "channel held";
        EXPECT_EQ(chip->value(BUF_INDICES, 16 * ich(w)), 0x13240u);
        EXPECT_EQ(chip->value(READ_INDICES, 16 * w), 0x1111u);
    }
    EXPECT_EQ(framesWaited(), 1u);

    m->set_freeze(m->c331_fd, 0);
    for (int w = 0; w < 2; ++w) {
        EXPECT_EQ(chip->value(READ_INDICES, 16 * w), 0x2403u) << "entries 3, 0, 1, 2";
        EXPECT_EQ(m->win_frozen[w], 0);
    }

    // Nothing changed: only the update timing is switched.
    mark = chip->mark();
    m->g_chg_win[0] = m->g_chg_win[1] = 0;
    m->set_freeze(m->c331_fd, 1);
    EXPECT_EQ(chip->writeHistory(0x00, 0x22, mark), std::vector<uint8_t>{0});
    EXPECT_FALSE(stopped(ich(0)));
}

// An output that never reports a frame costs each wait its limit; the pass
// goes on and completes.
TEST_F(WindowsTest, StillOutputCostsEachWaitItsLimit)
{
    chip->setOutputRunning(false);
    m->g_chg_input[1] = 1;
    m->set_output(m->c331_fd);
    EXPECT_EQ(framesWaited(), 70001u);
    EXPECT_FALSE(written(OUT_HW, 1).empty());
    EXPECT_EQ(m->g_chg_input[1], 0);
}

// ---- output word, dot-by-dot mode, mirror ----

TEST_F(WindowsTest, OutputWord)
{
    struct Case {
        const char *what;
        uint16_t before, word, modeWord;
        bool signal;
        bool pass, background, frozen;
        int32_t fade, dbd;
    } cases[] = {
        {"black", 0, 0x0001, 0, true, true, true, false, 0, 0},
        {"freeze with signal", 0, 0x0002, 0, true, false, false, true, 0, 0},
        {"freeze without signal", 0, 0x0002, 0, false, true, false, false, 0, 0},
        {"release", 0x0002, 0, 0, true, false, false, false, 0, 0},
        {"fade and dot-by-dot", 0, 0x0104, 7, true, true, false, false, 1, 41},
        // The fade and dot-by-dot bits of a word that also freezes are kept,
        // and the window stays held after the pass they need.
        {"freeze, fade and dot-by-dot", 0, 0x0106, 7, true, true, false, true, 1, 41},
        {"unknown mode word", 0, 0x0100, 12, true, true, false, false, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setWord(para::window(1, para::WIN_P2P_MODE), c.modeWord);
        setWord(para::window(1, para::WIN_FLAGS), c.word);
        m->gWininfo[1].outmode = uint8_t(c.before & 3);
        m->PI_PORT_INFO[2].NOSIG = c.signal ? 0 : 1;
        m->PM_WIN_DBD_MODE[1] = 0;
        m->clear_calls();
        mark = chip->mark();

        m->c331_SetWinOutput(m->c331_fd, 1, c.word);
        EXPECT_EQ(calls("set_output()"), c.pass ? 1 : 0);
        EXPECT_EQ(m->gWininfo[1].outmode, c.word & (c.signal ? 3 : 1));
        EXPECT_EQ(chip->value(BKG_ON, 16), c.background ? 1u : 0u);
        const auto writes = written(WRITE_CTRL, ich(1));
        EXPECT_EQ(!writes.empty() && writes.back() == 2, c.frozen) << "the writer's last command";
        EXPECT_EQ(m->PM_WIN_FADE_EN[1], c.fade);
        EXPECT_EQ(m->PM_WIN_DBD_MODE[1], c.dbd);
        m->c331_SetWinOutput(m->c331_fd, 1, 0);
    }
}

// A mode word written while dot-by-dot is off waits in the image; the model
// does not show the window one to one meanwhile.
TEST_F(WindowsTest, DotByDotModeTakesEffectOnlyWhileEnabled)
{
    m->c331_SetWinDbdMode(m->c331_fd, 1, 7);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 0);
    EXPECT_EQ(calls("set_output()"), 0);
    m->c331_SetInputsource(1, 1);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 0);

    setWord(para::window(1, para::WIN_FLAGS), 0x0100);
    m->c331_SetWinDbdMode(m->c331_fd, 1, 12);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 1);
    EXPECT_EQ(calls("set_output()"), 2);
}

TEST_F(WindowsTest, MirrorAttributeReprogramsTheOutputSide)
{
    m->c331_SetWinAttr(1, 3);
    EXPECT_EQ(m->win_hmirror[1], 1);
    EXPECT_EQ(m->win_vmirror[1], 1);
    EXPECT_EQ(chip->value(LR_MIRROR, 16), 1u);
    EXPECT_TRUE(written(CAP_HW, ich(1)).empty()) << "the input side is left alone";
    EXPECT_TRUE(written(LR_MIRROR, 0).empty());
    m->c331_SetWinAttr(2, 3);   // beyond the window count
    EXPECT_EQ(m->win_hmirror[2], 0);
}

// Under output interface mode 2 (what every panel set-up leaves) a window
// zoomed vertically reads without the one-line lead of V control 5, and one
// wider than 2176 pixels is carried 2176 wide from the input side to the
// output side, which zooms it out again. A pass that re-programs the window
// for its mirror alone keeps all of that.
TEST_F(WindowsTest, VerticallyZoomedWindowsUnderInterfaceMode2)
{
    struct Case {
        const char *what;
        int led[2], vbotx;
        uint16_t winW, winH, source;
        int32_t src[2];
        bool halves;   // the line arrives in two halves
        uint32_t shrink, zoom, vctrl, lead;
    } cases[] = {
        {"720p in 1920 x 1080", {1920, 1080}, 2, 1920, 1080, 0, {1280, 720}, false, 0, 43680, 0x84, 0},
        {"3840 x 1080 in 3840 x 2160", {3840, 2160}, 2, 3840, 2160, 4, {3840, 1080}, true, 37130, 37130, 0x84, 0},
        {"3840 x 1080 in 1920 x 2160", {3840, 2160}, 2, 1920, 2160, 4, {3840, 1080}, true, 32760, 0, 0x84, 0},
        {"720p in 1920 x 1080, mode 0", {1920, 1080}, 0, 1920, 1080, 0, {1280, 720}, false, 0, 43680, 5, 0x10000},
        {"1080p in 1920 x 1080: not zoomed", {1920, 1080}, 2, 1920, 1080, 0, {1920, 1080}, false, 0, 0, 5, 0x10000},
    };
    setWord(para::window(1, para::WIN_ENABLE), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int p = m->zemApi_inputCvtC331(c.source);
        signal(p, c.src[0], c.src[1]);
        if (c.halves) {
            m->PI_STATE[p] = 1;
            m->PI_ACT[p].hst /= 2;
            m->PI_ACT[p].hw /= 2;
        }
        window(0, 0, 0, c.winW, c.winH, c.source, 0);
        m->zemApi_PnlInit2(c.led[0], c.led[1], c.led[0], c.led[1], 4);
        m->PS_VBOTX_MODE = c.vbotx;
        m->set_output(m->c331_fd);
        for (const char *pass : {"source", "mirror only"}) {
            SCOPED_TRACE(pass);
            EXPECT_EQ(chip->value(H_SHRINK, 16 * ich(0)), c.shrink);
            EXPECT_EQ(chip->value(H_ZOOM, 0), c.zoom);
            EXPECT_EQ(chip->value(V_CTRL, 0), c.vctrl);
            EXPECT_EQ(chip->value(READ_ADDR, 0), m->PS_MEM_SC[ich(0)][0] - c.lead);
            m->c331_SetWinAttr(0, 0);
        }
    }
}

// Under output interface mode 2 a vertically zoomed window of 2176 pixels
// is not wide: its output side reads the shrunk crop (which starts at pixel
// 100 of 3740 and, shrunk 38123/65536, at pixel 58: byte 232). One pixel
// wider and the output side takes the input 2176 wide and zooms it, reading
// from the crop's own start (byte 400).
TEST_F(WindowsTest, WideWindowsUnderInterfaceMode2BeginAbove2176Pixels)
{
    const struct {
        uint16_t winW;
        uint32_t zoom, offset;
    } cases[] = {{2176, 0, 232}, {2177, 65506, 400}};
    const uint16_t crop[5] = {para::CROP_USED | 0, 100, 0, 3740, 1080};
    for (int k = 0; k < 5; ++k)
        setWord(para::crop_record(0) + 2 * k, crop[k]);
    setWord(para::window(1, para::WIN_ENABLE), 0);
    signal(3, 3840, 1080);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.winW);
        window(0, 0, 0, c.winW, 2160, para::WIN_SOURCE_CROP | 0, 0);
        m->zemApi_PnlInit2(3840, 2160, 3840, 2160, 4);
        ASSERT_EQ(m->PS_VBOTX_MODE, 2);
        m->set_output(m->c331_fd);
        EXPECT_EQ(chip->value(H_SHRINK, 16 * ich(0)), 38123u);
        EXPECT_EQ(chip->value(H_ZOOM, 0), c.zoom);
        EXPECT_EQ(chip->value(READ_ADDR, 0), m->PS_MEM_SC[ich(0)][0] + c.offset);
    }
}

// A one-to-one window that fits its channel's own memory is written with
// the line pitch its output reads it with.
TEST_F(WindowsTest, OneToOneWindowIsWrittenAndReadWithOnePitch)
{
    setWord(para::window(1, para::WIN_FLAGS), 0x0100);
    m->c331_SetWinOutput(m->c331_fd, 1, 0x0100);
    ASSERT_EQ(m->PM_WIN_DBD_MODE[1], 1);
    EXPECT_EQ(written(LINE_PITCH, ich(1)), std::vector<uint8_t>{64});
    EXPECT_EQ(written(READ_PITCH, 1), std::vector<uint8_t>{64});
}

// A freeze the window's input could not hold is not stored: a re-layout
// does not bring it back once the signal returns. A freeze asked for with
// the re-layout itself is decided as the output word decides it.
TEST_F(WindowsTest, FreezeAcrossARelayout)
{
    struct Case {
        const char *what;
        bool earlier, signalThen, signalAtRelayout, frozen;
    } cases[] = {
        {"refused earlier, signal back", true, false, true, false},
        {"held earlier", true, true, true, true},
        {"asked with the re-layout, no signal", false, false, false, false},
        {"asked with the re-layout, signal", false, true, true, true},
    };
    m->input_poll_ms = 3600 * 1000;   // the passes alone: no input checks
    m->last_input_check = std::chrono::steady_clock::now();
    uint16_t width = 1920;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m->PI_PORT_INFO[2].NOSIG = c.signalThen ? 0 : 1;
        setWord(para::window(1, para::WIN_FLAGS), 0x0002);
        if (c.earlier) {
            m->para_changed = 1;
            c331_manage::c331managerdeal(m.get());
        }
        m->PI_PORT_INFO[2].NOSIG = c.signalAtRelayout ? 0 : 1;
        mark = chip->mark();
        setWord(para::window(0, para::WIN_W), width -= 8);
        m->para_changed = 1;
        c331_manage::c331managerdeal(m.get());
        EXPECT_EQ(m->gWininfo[1].outmode & 2, c.frozen ? 2 : 0);
        const auto writes = written(WRITE_CTRL, ich(1));
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back() == 2, c.frozen) << "the writer's last command";

        m->PI_PORT_INFO[2].NOSIG = 0;
        setWord(para::window(1, para::WIN_FLAGS), 0);
        m->para_changed = 1;
        c331_manage::c331managerdeal(m.get());
    }
}

// ---- crop ----

TEST_F(WindowsTest, CropMarginsFollowTheSource)
{
    const uint32_t rec = para::CROP_TABLE + 3 * para::CROP_ENTRY_SIZE;
    struct Case {
        const char *what;
        uint16_t id, x, y, w, h;
        int32_t enable, margins[4];
    } cases[] = {
        {"inside 1080p", 0x8001, 100, 50, 1720, 1000, 1, {100, 100, 50, 30}},
        {"wider than the source", 0x8001, 0, 0, 2000, 500, 1, {0, 0, 0, 580}},
        // A source byte that names no input is no crop, and no port index.
        {"source byte 9", 0x8009, 100, 50, 1720, 1000, 0, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const uint16_t v[5] = {c.id, c.x, c.y, c.w, c.h};
        for (int k = 0; k < 5; ++k)
            setWord(rec + 2 * k, v[k]);
        ST_RECT r{c.x, c.y, c.w, c.h};
        m->c331_SetInputsourceCrop(1, 0x8003);
        m->c331_SetCrop(1, 1, &r);
        EXPECT_EQ(m->PM_INPUT_OFFSET_EN[1], c.enable);
        for (int s = 0; s < 4; ++s)
            EXPECT_EQ(m->PM_INPUT_OFFSET[1][s], c.margins[s]) << s;
    }

    // The source goes to 720p: the crop keeps its left and top.
    setWord(rec, 0x8001);
    ST_RECT r{100, 50, 1720, 1000};
    m->c331_SetInputsourceCrop(1, 0x8003);
    m->c331_SetCrop(1, 1, &r);
    signal(2, 1280, 720);
    m->zemApi_updateCrop(2);
    const int32_t margins[4] = {100, 0, 50, 0};
    EXPECT_TRUE(std::equal(margins, margins + 4, m->PM_INPUT_OFFSET[1]));

    m->c331_SetCrop(1, 0, &r);
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[1], 0);
    EXPECT_EQ(m->PM_INPUT_OFFSET[1][0], 0);
}

// A crop is kept in frame lines, as the crop table holds it: an interlaced
// source shows the lines asked for, whether the source choice or the input
// check computed the margins last.
TEST_F(WindowsTest, CropOfAnInterlacedSourceCountsFrameLines)
{
    const uint16_t entry[5] = {0x8001, 100, 50, 1720, 1000};
    for (int k = 0; k < 5; ++k)
        setWord(para::CROP_TABLE + 3 * para::CROP_ENTRY_SIZE + 2 * k, entry[k]);
    signal(2, 1920, 540);
    m->PI_SCAN_MODE[2] = 1;
    ST_RECT r{100, 50, 1720, 1000};
    m->c331_SetInputsourceCrop(1, 0x8003);
    m->g_chg_input[1] = 1;
    m->c331_SetCrop(1, 1, &r);
    const _ImageWindowDef_st chosen = m->IWIN[1];
    m->zemApi_updateCrop(2);
    m->g_chg_input[1] = 1;
    m->set_output(m->c331_fd);
    for (const _ImageWindowDef_st &iw : {chosen, m->IWIN[1]})
        EXPECT_EQ((std::vector<int32_t>{iw.HST, iw.HW, iw.VST, iw.VW}), (std::vector<int32_t>{100, 1720, 50, 1000}));
}

// The apply pass hands an image window's words to its model slot: with
// window 0 disabled, image window 2 is slot 1 and its own mode word counts.
TEST_F(WindowsTest, ImageWindowWordsReachTheirSlot)
{
    setWord(para::window(0, para::WIN_ENABLE), 0);
    window(1, 0, 0, 1920, 1080, 0, 0);
    window(2, 1920, 0, 1920, 1080, 1, 1);
    setWord(para::window(1, para::WIN_P2P_MODE), 0);
    setWord(para::window(2, para::WIN_P2P_MODE), 7);
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    m->set_output(m->c331_fd);
    syncSnapshot();
    ASSERT_EQ(m->win_slot[2], 1);

    setWord(para::window(2, para::WIN_FLAGS), 0x0100);
    m->para_changed = 1;
    c331_manage::c331managerdeal(m.get());
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 41);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[0], 0);
}

} // namespace
