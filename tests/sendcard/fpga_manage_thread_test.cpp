#include "app/global.h"
#include "app/para_lock.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/devmem.h"
#include "platform/files.h"
#include "platform/sim_fpga.h"
#include "platform/spi.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_gpio.h"
#include "sendcard/fpga_manage.h"
#include "support/blocked_call.h"
#include "support/device_process.h"
#include "support/temp_root.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr uint32_t RESET_LINE[2] = {fpga_gpio::GPIO_BASE + 0x1A8, fpga_gpio::GPIO_BASE + 0x1AC};

// The FPGA manager's turns against two fresh simulated FPGAs, with the tick
// counter driven by the test.
class FpgaThread : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i) {
            fpga[i] = std::make_shared<platform::simfpga::SimFpga>();
            platform::spi::sim::attach(fpga_drv::DEVICE_PATH[i], fpga[i]);
        }
        ZemRamPara::resetForTest();
        store = ZemRamPara::pInstance();
        card = fpga_manage::pInstance();
        card->bri_set_request = 0;
        card->output_status_request = 0;
        card->port_link_state = 0;
        for (int i = 0; i < 2; ++i)
            card->reset_pending[i] = 0;
        card->with_pages([](card_pages &c) { std::memset(c.MCU_REG_func, 0, sizeof c.MCU_REG_func); });
        setLed(0, 0);
        G_timeTicks = 1000;
        QObject::connect(store, &ZemRamPara::sig_update_para, store, [this](int c) { codes.push_back(c); },
                         Qt::DirectConnection);
    }
    void TearDown() override
    {
        card->stop_thread();
        setLed(0, 0);
        ZemRamPara::resetForTest();
    }
    void setLed(uint8_t para, uint8_t setup)
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = para;
        g_set_led_setup = setup;
    }
    uint8_t ledPara()
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        return g_set_led_para;
    }
    // Values written to register r of FPGA n, in order.
    std::vector<uint8_t> writes(int n, uint8_t r)
    {
        std::vector<uint8_t> v;
        for (const auto &op : fpga[n]->ops())
            if (op.kind == platform::simfpga::OpKind::RegisterWrite && op.target == r)
                v.push_back(op.data.empty() ? 0 : op.data[0]);
        return v;
    }
    void turnAt(uint32_t ticks)
    {
        G_timeTicks = ticks;
        card->fpga_manage_turn();
    }

    std::shared_ptr<platform::simfpga::SimFpga> fpga[2];
    ZemRamPara *store = nullptr;
    fpga_manage *card = nullptr;
    std::vector<int> codes;
};

TEST_F(FpgaThread, LedGeometryHandShakeRunsItsTimedSteps)
{
    setLed(1, 0);
    turnAt(1000);
    EXPECT_EQ(writes(0, 3), std::vector<uint8_t>{0});   // screen held
    EXPECT_EQ(writes(1, 3), std::vector<uint8_t>{0});
    turnAt(1010);
    EXPECT_EQ(writes(0, 3).size(), 1u);                 // not before 11 ticks
    turnAt(1011);
    EXPECT_EQ(writes(0, 3), (std::vector<uint8_t>{0, 5}));
    EXPECT_EQ(writes(1, 3), (std::vector<uint8_t>{0, 5}));
    turnAt(1041);
    EXPECT_EQ(ledPara(), 1);
    turnAt(1042);
    EXPECT_EQ(ledPara(), 0);
    EXPECT_EQ(g_set_led_setup, 0);
}

TEST_F(FpgaThread, GeometryValue2ResetsBothFpgasAndReleasesThemAfter50Ticks)
{
    setLed(2, 1);
    turnAt(5000);
    EXPECT_EQ(ledPara(), 0);
    EXPECT_EQ(g_set_led_setup, 0);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(platform::devmem::sim::peek16(RESET_LINE[n]), 0) << n;
        EXPECT_EQ(card->reset_pending[n].load(), 1);
    }
    turnAt(5050);
    EXPECT_EQ(platform::devmem::sim::peek16(RESET_LINE[0]), 0);
    card->set_reg_shadow(0, 31, 7);
    turnAt(5051);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(platform::devmem::sim::peek16(RESET_LINE[n]), 0x10) << n;
        EXPECT_EQ(card->reset_pending[n].load(), 0);
    }
    EXPECT_EQ(card->reg_shadow(0, 31), 0);
    // The running state is read again from the FPGA on the next turn.
    turnAt(5052);
    EXPECT_EQ(card->reg_shadow(0, 80), 3);

    // Across the counter's wrap-around too.
    card->reset_fpga_rst(1);
    card->reset_tick[1] = 0xFFFFFFF0u;
    turnAt(0x23);
    EXPECT_EQ(card->reset_pending[1].load(), 1);
    turnAt(0x24);
    EXPECT_EQ(card->reset_pending[1].load(), 0);
}

TEST_F(FpgaThread, BrightnessRequestIsClearedOnlyOnceBothFpgasTookIt)
{
    store->setWord(para::BRIGHTNESS, 40);
    fpga[1]->setReg(80, 0);   // FPGA 1 not configured
    card->bri_set_request = 1;
    turnAt(100);
    EXPECT_EQ(card->bri_set_request.load(), 1);
    EXPECT_TRUE(codes.empty());
    fpga[1]->setReg(80, 3);
    turnAt(101);
    EXPECT_EQ(card->bri_set_request.load(), 0);
    EXPECT_EQ(fpga[0]->reg(4), 102);
    EXPECT_EQ(fpga[1]->reg(4), 102);
    EXPECT_EQ(codes, std::vector<int>{1});

    store->setWord(para::BRIGHTNESS, 250);   // out of range: full brightness
    card->bri_set_request = 1;
    turnAt(102);
    EXPECT_EQ(fpga[0]->reg(4), 255);
}

// The links write brightness and the LED-off word under the image's lock;
// the thread reads them under it too, never half a word.
TEST_F(FpgaThread, BrightnessAndLedOffAreReadUnderTheImagesLock)
{
    store->setWord(para::BRIGHTNESS, 40);
    store->setWord(para::LED_OFF, 1);
    card->bri_set_request = 1;
    card->output_status_request = 1;
    pthread_mutex_lock(&para_lock::mutex());
    zemtest::BlockedCall turn([&] { turnAt(100); });
    EXPECT_TRUE(turn.waits());
    pthread_mutex_unlock(&para_lock::mutex());
    ASSERT_TRUE(turn.finishes());
    EXPECT_EQ(fpga[0]->reg(4), 102);
    EXPECT_EQ(fpga[0]->reg(5) & 1, 0);
}

// Each output state both FPGAs took is announced as a changed setting (code 1).
TEST_F(FpgaThread, OutputStatusFollowsTheLedOffWord)
{
    store->setWord(para::LED_OFF, 1);
    card->output_status_request = 1;
    turnAt(10);
    EXPECT_EQ(card->output_status_request.load(), 0);
    EXPECT_EQ(fpga[0]->reg(5) & 1, 0);
    EXPECT_EQ(fpga[1]->reg(5) & 1, 0);
    EXPECT_EQ(codes, std::vector<int>{1});
    store->setWord(para::LED_OFF, 0);
    card->reset_fpga_rst(0);   // an FPGA in reset takes nothing: retried
    card->output_status_request = 1;
    turnAt(11);
    EXPECT_EQ(card->output_status_request.load(), 1);
    EXPECT_EQ(codes, std::vector<int>{1});
    turnAt(70);
    turnAt(71);
    EXPECT_EQ(card->output_status_request.load(), 0);
    EXPECT_EQ(fpga[0]->reg(5) & 1, 1);
    EXPECT_EQ(codes, (std::vector<int>{1, 1}));
}

TEST_F(FpgaThread, OutputPortLinkChangesAreReadAndAnnouncedWithCode11)
{
    turnAt(10);
    EXPECT_TRUE(codes.empty());   // no cable yet: nothing changed
    fpga[0]->setPortLink(1, true);
    fpga[1]->setPortLink(0, true);
    turnAt(11);
    EXPECT_EQ(card->port_link_state.load(), 0x06);   // FPGA 0 port 1, FPGA 1 port 0
    EXPECT_EQ(codes, std::vector<int>{11});
    turnAt(12);
    EXPECT_EQ(codes, std::vector<int>{11});          // unchanged: announced once
    card->reset_fpga_rst(1);                         // an FPGA in reset has its ports down
    turnAt(13);
    EXPECT_EQ(card->port_link_state.load(), 0x02);
    fpga[0]->setPortLink(1, false);
    turnAt(14);
    EXPECT_EQ(card->port_link_state.load(), 0x00);
    EXPECT_EQ(codes, (std::vector<int>{11, 11, 11}));
}

// Between requests the thread sleeps until the next timed step of a running
// hand-shake or reset is due, counted in ticks, or for the idle turn.
TEST_F(FpgaThread, SleepsUntilTheNextTimedStepIsDue)
{
    const struct {
        uint8_t para, setup;
        uint32_t stepAgo;   // ticks since the hand-shake step began
        int resetAgo;       // ticks since FPGA 1 went into reset, -1 none
        uint32_t ticks;     // expected sleep
    } cases[] = {
        {0, 0, 0, -1, fpga_manage::IDLE_TURN_MS / TICK_MS},
        {1, 1, 4, -1, 7},     // screen held: shown again after 11 ticks
        {1, 2, 30, -1, 1},    // shown: done after 31 ticks
        {1, 2, 40, -1, 1},    // overdue: the next tick
        {0, 0, 0, 40, 11},    // released after 51 ticks
        {1, 1, 0, 45, 6},     // both: the sooner
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.para) << "/" << int(c.setup) << " reset " << c.resetAgo);
        G_timeTicks = 1000;
        setLed(c.para, c.setup);
        card->led_para_tick = 1000 - c.stepAgo;
        card->reset_pending[1] = c.resetAgo >= 0;
        card->reset_tick[1] = 1000 - uint32_t(c.resetAgo);
        const auto before = std::chrono::steady_clock::now();
        const auto due = card->next_turn();
        const auto after = std::chrono::steady_clock::now();
        const auto sleep = std::chrono::milliseconds(c.ticks * TICK_MS);
        EXPECT_GE(due, before + sleep);
        EXPECT_LE(due, after + sleep);
    }
}

TEST_F(FpgaThread, ThreadServesTheHandShakeAsTicksPass)
{
    EXPECT_TRUE(platform::files::exists("/data/smartmapping"));
    EXPECT_TRUE(platform::files::exists("/data/rcvrecovery"));
    ASSERT_EQ(card->initialize_start(), 0);
    setLed(1, 0);
    card->bri_set_request = 1;
    EXPECT_TRUE(zemtest::waitFor([&] {
        G_timeTicks += 1;   // the front panel's tick, faster
        return ledPara() == 0 && card->bri_set_request.load() == 0;
    }, std::chrono::seconds(10), std::chrono::milliseconds(2)));
    card->stop_thread();
}

} // namespace
