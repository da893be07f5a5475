#ifndef TESTS_PROTOCOL_REG_CMD_FIXTURE_H
#define TESTS_PROTOCOL_REG_CMD_FIXTURE_H

// Register commands as the PC tool sends them over the RS-485 line, with a
// chip manager (the program's, as the handlers see it) against the simulated
// chip.

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
#include "platform/timing.h"
#include "protocol/qy_uart_inout.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_manage.h"
#include "support/device_process.h"
#include "support/dump_capture.h"
#include "support/locked_reads.h"
#include "support/pctool.h"
#include "support/temp_root.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <thread>

namespace regtest {

using pctool::Bytes;
using namespace std::chrono_literals;

// Polls cond() until it holds or the timeout passes (scaled by the build's
// slowdown); runs the Qt event loop meanwhile when there is an application.
inline bool waitFor(const std::function<bool()> &cond, std::chrono::milliseconds timeout = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + zemtest::patience(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
        if (cond())
            return true;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        else
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
        chip->take_loaded_image();   // drops a request an earlier test left to a silent chip
        chip->set_call_recording(true);
        chip->dump_out = dump.file();

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
        chipModel->setOutputRunning(true);   // lets a held pass end
        chip->stop_thread();
        platform::setPausesEnabled(false);
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

    // True once no apply request is pending: a request stays raised until
    // the pass that applies it (debug registers included) has ended.
    bool waitPass()
    {
        return waitFor([&] {
            pthread_mutex_lock(&para_lock::mutex());
            bool idle = chip->para_changed == 0;
            pthread_mutex_unlock(&para_lock::mutex());
            return idle;
        });
    }

    // Starts an apply pass that waits for output frames of a chip whose output
    // stands still (about 70 s each, with the device's pauses): a new source
    // for window 0, written and applied as the PC tool does.
    void holdApplyPass()
    {
        platform::setPausesEnabled(true);
        const uint32_t source = para::window(0, para::WIN_SOURCE);
        const uint8_t other = uint8_t((zemtest::imageWord(source) + 1) % 6);
        chipModel->setOutputRunning(false);
        ASSERT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, source, {other, 0})), Bytes{0});
        ASSERT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
        const unsigned reads = chipModel->outputFrameReads();
        ASSERT_TRUE(waitFor([&] { return chipModel->outputFrameReads() > reads + 50; })) << "the pass waits for a frame";
    }
    // True when the held pass is still waiting for a frame.
    bool passStillHeld()
    {
        const unsigned reads = chipModel->outputFrameReads();
        return waitFor([&] { return chipModel->outputFrameReads() > reads; }) && seenCodes().empty();
    }

    // The reply data (status on) to a request body sent over the RS-485 line.
    Bytes ask(const Bytes &body, std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        return askWire(pctool::frame(body), timeout);
    }
    Bytes askWire(const Bytes &wire, std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        EXPECT_TRUE(pctool::writeAll(pty->master(), wire));
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
    zemtest::DumpCapture dump;   // what the chip's dumps print
    c331_manage *chip = nullptr;
    c331_manage *previous = nullptr;
    std::unique_ptr<zemtest::PtyLink> pty;
    std::unique_ptr<Qy_uart_inout> link;
    QObject receiver;
    std::mutex codesMutex;
    std::vector<int> codes;
};

} // namespace regtest

#endif
