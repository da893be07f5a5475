// The LED geometry hand-shake between the chip manager and the FPGA thread:
// the chip's panel change waits while the FPGA thread runs its timed steps,
// then hands the FPGA resets back, and nobody waits for ever.

#include "../videoproc/chip_fixture.h"
#include "support/device_process.h"

#include "app/global.h"
#include "app/utils.h"
#include "platform/devmem.h"
#include "platform/sim_fpga.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_gpio.h"
#include "sendcard/fpga_manage.h"

#include <atomic>
#include <mutex>

namespace {

class LedHandShake : public chiptest::ChipTest
{
protected:
    void SetUp() override
    {
        ChipTest::SetUp();
        for (int i = 0; i < 2; ++i) {
            fpga[i] = std::make_shared<platform::simfpga::SimFpga>();
            platform::spi::sim::attach(fpga_drv::DEVICE_PATH[i], fpga[i]);
        }
        g_debugSwitch = 0;
        setLed(0);
        chipManager.reset(new c331_manage());
        chipManager->c331_fd = chipManager->c331drv->initialize();
        for (int k = 0; k < 100 && chipManager->setup_state < 8; ++k)
            chipManager->run_turn();
        ASSERT_GE(chipManager->setup_state.load(), 8);
        card = fpga_manage::pInstance();
        // The front panel's 10 ms tick, ten times faster.
        ticking = true;
        ticker = std::thread([this] {
            while (ticking) {
                ++G_timeTicks;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        ASSERT_EQ(card->initialize_start(), 0);
    }
    void TearDown() override
    {
        card->stop_thread();
        ticking = false;
        if (ticker.joinable())
            ticker.join();
        chipManager.reset();
        setLed(0);
        g_debugSwitch = 254;
        ChipTest::TearDown();
    }
    void setLed(uint8_t v)
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        g_set_led_para = v;
        g_set_led_setup = 0;
    }
    uint8_t led()
    {
        std::lock_guard<std::mutex> lock(Utils::_led_para_init_mutex);
        return g_set_led_para;
    }

    std::shared_ptr<platform::simfpga::SimFpga> fpga[2];
    std::unique_ptr<c331_manage> chipManager;
    fpga_manage *card = nullptr;
    std::atomic<bool> ticking{false};
    std::thread ticker;
};

TEST_F(LedHandShake, PanelChangeWaitsForTheStepsThenResetsBothFpgas)
{
    chipManager->led_para_wait_ms = 20000;   // a wait that ran out would show in the steps below
    setLed(1);                                 // the LED page announced a new geometry
    setWord(para::LED_WIDTH, 2000);
    pthread_mutex_lock(&para_lock::mutex());
    chipManager->para_changed = 1;
    pthread_mutex_unlock(&para_lock::mutex());
    chipManager->run_turn();

    // The panel was set up only after the FPGA thread showed the screen again.
    std::vector<uint8_t> status;
    for (const auto &op : fpga[0]->ops())
        if (op.kind == platform::simfpga::OpKind::RegisterWrite && op.target == 3)
            status.push_back(op.data.at(0));
    EXPECT_EQ(status, (std::vector<uint8_t>{0, 5}));

    // The chip handed back value 2: both FPGAs go through reset and come back.
    EXPECT_TRUE(zemtest::waitFor([&] { return led() == 0; }, std::chrono::seconds(10)));
    EXPECT_TRUE(zemtest::waitFor([&] {
        return card->reset_pending[0].load() == 0 && card->reset_pending[1].load() == 0 &&
               platform::devmem::sim::peek16(fpga_gpio::GPIO_BASE + 0x1A8) == 0x10;
    }, std::chrono::seconds(10)));
}

} // namespace
