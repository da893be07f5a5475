// A test pattern through the apply passes: the pattern byte reads what the
// wall shows when the chip refuses a pattern or the windows are laid out
// anew, and changes applied in one pass end where the same changes applied
// one at a time end.

#include "chip_fixture.h"

#include "app/global.h"
#include "app/para_lock.h"

using namespace chiptest;

namespace {

// What an output channel's generator shows: pattern type, red, green, blue.
using Shown = std::vector<uint32_t>;
const Shown OFF = {0, 0, 0, 0};
const Shown BLUE = {4, 0, 0, 0xFF};    // pattern 3
const Shown BLACK = {4, 0, 0, 0};      // pattern 5

// Window 0 over both channels of the 2 x 1 wall, or over the left or the
// right channel alone; window 2 a small window on the left channel.
enum Window { FULL, LEFT, RIGHT, SECOND };
// Changes of the image.
enum Change { SECOND_ON, SECOND_OFF, MOVE_RIGHT, PATTERN_5, PATTERN_OFF };

class PatternPassTest : public ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        g_debugSwitch = 0;
        g_set_led_para = 0;
    }
    void TearDown() override
    {
        m.reset();
        ChipTest::TearDown();
    }

    // A running manager on a 2 x 1 wall of 1920 x 1080 channels showing the
    // windows `wins` and pattern `n`, each applied by a pass of its own.
    void start(const std::vector<Window> &wins, uint8_t n)
    {
        m.reset();
        chip = std::make_shared<SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, chip);
        store->ram_para[para::TEST_PATTERN] = 0;
        for (uint32_t i = 0; i < para::WINDOW_COUNT; ++i)
            setWord(para::window(i, para::WIN_ENABLE), 0);
        syncSnapshot();
        m.reset(new c331_manage());
        m->take_loaded_image();
        m->c331_fd = m->c331drv->initialize();
        m->dump_out = dump.file();
        for (int k = 0; k < 100 && m->setup_state < 8; ++k)
            m->run_turn();
        ASSERT_EQ(m->setup_state.load(), 8);
        m->gPanel.och = ST_SIZE{1920, 1080};
        m->gPanel.och_HCnt = 2;
        m->gPanel.och_VCnt = 1;
        for (Window w : wins)
            show(w);
        applyOnce();
        pattern(n);
        applyOnce();
    }

    void show(Window w)
    {
        static const uint16_t x[] = {0, 100, 2000, 100};
        static const uint16_t width[] = {3840, 640, 640, 320};
        const uint32_t i = w == SECOND ? 2 : 0;
        setWord(para::window(i, para::WIN_ENABLE), 1);
        setWord(para::window(i, para::WIN_X), x[w]);
        setWord(para::window(i, para::WIN_Y), 0);
        setWord(para::window(i, para::WIN_W), width[w]);
        setWord(para::window(i, para::WIN_H), 480);
        setWord(para::window(i, para::WIN_SOURCE), 0);
        setWord(para::LAYER_PRIORITY + 2 * i, i);
    }
    void pattern(uint8_t n) { store->ram_para[para::TEST_PATTERN] = n; }
    void change(Change c)
    {
        switch (c) {
        case SECOND_ON: show(SECOND); break;
        case SECOND_OFF: setWord(para::window(2, para::WIN_ENABLE), 0); break;
        case MOVE_RIGHT: show(RIGHT); break;
        case PATTERN_5: pattern(5); break;
        case PATTERN_OFF: pattern(0); break;
        }
    }

    void applyOnce()
    {
        {
            ParaLock lock;
            raise_apply_request_locked(1);
        }
        m->run_turn();
    }

    Shown shown(int c) const
    {
        const int bank = 16 * c;
        return {chip->value(0x085701, bank), chip->value(0x086301, bank), chip->value(0x086401, bank),
                chip->value(0x086501, bank)};
    }
    std::vector<Shown> wall() const { return {shown(0), shown(1)}; }
    uint8_t byte() const { return store->ram_para[para::TEST_PATTERN]; }

    DumpCapture dump;
    std::unique_ptr<c331_manage> m;
};

// The same changes applied in one pass and in a pass each end alike: the
// byte names what the wall shows, and the generator runs only then (the
// input checks pause while it does).
TEST_F(PatternPassTest, ChangesTogetherEndAsChangesOneAtATime)
{
    struct Case {
        const char *name;
        std::vector<Window> wins;
        uint8_t pattern;
        std::vector<Change> changes;
        std::vector<Shown> wall;
        uint8_t byte;
    };
    const Case cases[] = {
        // The chip shows a pattern on a single window: a second one ends it.
        {"second window, pattern 5", {FULL}, 3, {SECOND_ON, PATTERN_5}, {OFF, OFF}, 0},
        {"then one window, Off", {FULL}, 3, {SECOND_ON, PATTERN_5, SECOND_OFF, PATTERN_OFF}, {OFF, OFF}, 0},
        {"second window gone, pattern 5", {FULL, SECOND}, 0, {SECOND_OFF, PATTERN_5}, {BLACK, BLACK}, 5},
        // The pattern follows window 0 to its channels.
        {"window moved", {LEFT}, 3, {MOVE_RIGHT}, {OFF, BLUE}, 3},
        {"window moved, pattern 5", {LEFT}, 3, {MOVE_RIGHT, PATTERN_5}, {OFF, BLACK}, 5},
    };
    for (const Case &c : cases) {
        for (bool together : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (together ? ", one pass" : ", a pass each"));
            start(c.wins, c.pattern);
            for (Change ch : c.changes) {
                change(ch);
                if (!together)
                    applyOnce();
            }
            if (together)
                applyOnce();
            EXPECT_EQ(wall(), c.wall);
            EXPECT_EQ(byte(), c.byte);
            EXPECT_EQ(store->ram_para_back[para::TEST_PATTERN], c.byte);
            EXPECT_EQ(m->zemApi_IsPatternGen(), c.byte != 0 ? 1 : 0);
        }
    }
}

} // namespace
