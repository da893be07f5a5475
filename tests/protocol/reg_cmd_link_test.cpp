// Register commands as the PC tool sends them over the RS-485 line, with the
// chip manager's thread running against the simulated chip.

#include "app/global.h"
#include "app/para_defaults.h"
#include "app/para_layout.h"
#include "app/zemrampara.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/sim_c331.h"
#include "platform/sim_fpga.h"
#include "platform/spi.h"
#include "protocol/qy_uart_inout.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_manage.h"
#include "support/device_process.h"
#include "support/pctool.h"
#include "support/temp_root.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <QSettings>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <thread>

using pctool::Bytes;
using namespace std::chrono_literals;

namespace {

bool waitFor(const std::function<bool()> &cond, std::chrono::milliseconds timeout = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (cond())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return cond();
}

class RegLinkTest : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        g_debugSwitch = 0;
        g_app_reset_flag = 0;
        g_update_status = 0;
        platform::spi::sim::detachAll();
        for (int i = 0; i < 2; ++i) {
            fpga[i] = std::make_shared<platform::simfpga::SimFpga>();
            platform::spi::sim::attach(fpga_drv::DEVICE_PATH[i], fpga[i]);
        }
        chipModel = std::make_shared<platform::sim::SimC331>();
        platform::spi::sim::attach(c331_drv::DEVICE, chipModel);
        card = fpga_manage::pInstance();
        card->bri_set_request = 0;
        ZemRamPara::resetForTest();
        store = ZemRamPara::pInstance();
        std::memcpy(store->ram_para_back, store->ram_para, para::IMAGE_SIZE);
        QObject::connect(store, &ZemRamPara::sig_update_para, &receiver,
                         [this](int c) {
                             std::lock_guard<std::mutex> lock(codesMutex);
                             codes.push_back(c);
                         },
                         Qt::DirectConnection);

        // The handlers reach the program's chip manager: make it this test's.
        previous = c331_manage::p_c331_manage;
        chip = new c331_manage();
        c331_manage::p_c331_manage = chip;
        chip->set_call_recording(true);

        platform::ensureDir("/dev");
        pty.reset(new zemtest::PtyLink(root.host("/dev/ttyS2")));
        ASSERT_TRUE(pty->ok());
        link.reset(new Qy_uart_inout());
        ASSERT_EQ(link->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    }
    void TearDown() override
    {
        link.reset();
        pty.reset();
        chip->stop_thread();
        c331_manage::p_c331_manage = previous;
        delete chip;
        platform::spi::sim::detachAll();
        g_app_reset_flag = 0;
    }

    void startChip()
    {
        ASSERT_EQ(chip->initialize(), 0);
        ASSERT_TRUE(waitFor([&] { return chip->setup_state.load() == 8; }));
        ASSERT_TRUE(waitPass());
        chip->clear_calls();
        std::lock_guard<std::mutex> lock(codesMutex);
        codes.clear();
    }

    // True once no apply request is pending; the pass (debug registers
    // included) runs entirely under the lock taken here.
    bool waitPass()
    {
        return waitFor([&] {
            pthread_mutex_lock(&chip->manage_mutex);
            bool idle = chip->para_changed == 0;
            pthread_mutex_unlock(&chip->manage_mutex);
            return idle;
        });
    }

    Bytes ask(const Bytes &body, std::chrono::milliseconds timeout = 3000ms)
    {
        EXPECT_TRUE(pctool::writeAll(pty->master(), pctool::frame(body)));
        Bytes r = pctool::decode(pctool::readFrames(pty->master(), 1, timeout));
        return r.size() > 11 ? Bytes(r.begin() + 10, r.end() - 1) : Bytes();
    }
    Bytes writeReg(uint8_t r, uint8_t m, uint8_t v)
    {
        return ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, r, {m, 0, v}));
    }

    std::vector<std::string> chipCalls()
    {
        static const char *const polling[] = {"load_hdmi()", "check_port_valid()", "check_input_port()"};
        std::vector<std::string> out;
        for (const c331_call &c : chip->calls())
            if (std::none_of(std::begin(polling), std::end(polling), [&](const char *p) { return c.text == p; }))
                out.push_back(c.text);
        return out;
    }
    size_t count(const std::vector<std::string> &v, const std::string &s)
    {
        return size_t(std::count(v.begin(), v.end(), s));
    }
    size_t countPrefix(const std::vector<std::string> &v, const std::string &prefix)
    {
        return size_t(std::count_if(v.begin(), v.end(), [&](const std::string &s) { return s.rfind(prefix, 0) == 0; }));
    }
    std::vector<int> seenCodes()
    {
        std::lock_guard<std::mutex> lock(codesMutex);
        return codes;
    }

    std::shared_ptr<platform::simfpga::SimFpga> fpga[2];
    std::shared_ptr<platform::sim::SimC331> chipModel;
    fpga_manage *card = nullptr;
    ZemRamPara *store = nullptr;
    c331_manage *chip = nullptr;
    c331_manage *previous = nullptr;
    std::unique_ptr<zemtest::PtyLink> pty;
    std::unique_ptr<Qy_uart_inout> link;
    QObject receiver;
    std::mutex codesMutex;
    std::vector<int> codes;
};

TEST_F(RegLinkTest, RamWrittenBrightnessIsAppliedByRegister11)
{
    startChip();
    const uint16_t bri = store->word(para::BRIGHTNESS) == 80 ? 60 : 80;
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {uint8_t(bri), 0})), Bytes{0});
    EXPECT_EQ(chip->para_changed, 0);   // stored, not applied yet

    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    ASSERT_TRUE(waitFor([&] { return !seenCodes().empty(); }));
    ASSERT_TRUE(waitPass());
    auto calls = chipCalls();
    EXPECT_EQ(count(calls, "c331_SetBrightness(50)"), 1u);
    EXPECT_EQ(countPrefix(calls, "c331_SetContrast"), 0u);
    EXPECT_EQ(countPrefix(calls, "c331_SetSharpness"), 0u);
    EXPECT_EQ(countPrefix(calls, "c331_SetSaturation"), 0u);
    EXPECT_EQ(card->bri_set_request.load(), 1);
    EXPECT_EQ(seenCodes(), std::vector<int>{1});
}

TEST_F(RegLinkTest, DebugRegistersReachTheChipThread)
{
    startChip();
    EXPECT_EQ(writeReg(162, 0xFF, 0x41), Bytes{0});
    ASSERT_TRUE(waitPass());
    auto calls = chipCalls();
    EXPECT_EQ(count(calls, "input_slidebar()"), 1u);
    EXPECT_EQ(chip->setup_state.load(), 8);   // bit 6 (restart) not run
    EXPECT_EQ(store->reg_para[34], 0);

    EXPECT_EQ(writeReg(165, 0xFF, 0x10), Bytes{0});
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(store->reg_para[33], 0x10);

    chip->clear_calls();
    EXPECT_EQ(writeReg(163, 0x00, 2), Bytes{0});   // the register holds 3: dump mode 2
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(count(chipCalls(), "zemDbg_c331_param(2)"), 1u);
    EXPECT_EQ(store->reg_para[35], 0);
}

TEST_F(RegLinkTest, FactoryDefaultsAndApplicationInstallOverTheLine)
{
    startChip();
    platform::ensureDir("/data/modes");
    zemtest::writeFile(root.host("/data/modes/custom_mode2"), "m");
    store->user_mode_ram[1][0] = store->user_mode_ram[1][1] = 0xAA;
    store->setWord(para::CONTRAST, uint16_t(store->word(para::CONTRAST) + 1));
    EXPECT_EQ(writeReg(16, 0x01, 0x01), Bytes{0});
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(store->ram_para[para::CONTRAST], default_para_ramlist[para::CONTRAST - 766]);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode2"));
    EXPECT_EQ(store->user_mode_ram[1][0], 0xFF);

    platform::ensureDir("/data/app");
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "application");
    EXPECT_EQ(writeReg(14, 0x01, 0x01), Bytes{0});
    EXPECT_EQ(zemtest::readFile(root.host("/data/app/zemR47N")), "application");
    QSettings ini(QString::fromStdString(root.host("/data/configs/led_load_config.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("app-1/app_path").toString(), "/data/app/zemR47N -platform linuxfb");
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// A chip that never identifies keeps its thread probing; the commands that
// wait for it must not hold the link.
TEST_F(RegLinkTest, LinkKeepsAnsweringWithASilentChip)
{
    chipModel->setIdentity(0xFF);
    ASSERT_EQ(chip->initialize(), 0);
    ASSERT_TRUE(waitFor([&] { return chipModel->identityReads() > 3; }));
    EXPECT_EQ(writeReg(11, 0x0E, 0x00), Bytes{0});
    EXPECT_EQ(writeReg(162, 0xFF, 0x01), Bytes{0});
    EXPECT_EQ(writeReg(163, 0x00, 1), Bytes{0});
    EXPECT_EQ(writeReg(16, 0x13, 0x00), Bytes{0});
    EXPECT_EQ(writeReg(161, 0x10, 0x10), Bytes{0});
    EXPECT_EQ(ask(pctool::ramRead(pctool::CONTROLLER, para::BRIGHTNESS, 2)).size(), 3u);
    EXPECT_EQ(chip->setup_state.load(), 0);
    EXPECT_EQ(store->reg_para[34], 0x01);   // kept for the first pass
}

} // namespace
