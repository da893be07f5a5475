#ifndef TESTS_PROTOCOL_PROTO_FIXTURE_H
#define TESTS_PROTOCOL_PROTO_FIXTURE_H

#include "app/global.h"
#include "app/zemrampara.h"
#include "platform/sim_fpga.h"
#include "platform/spi.h"
#include "sendcard/fpga_drv.h"
#include "sendcard/fpga_manage.h"
#include "support/pctool.h"
#include "support/pending_saves.h"
#include "support/temp_root.h"
#include "videoproc/c331_manage.h"

#include <cstring>
#include <memory>

// A private root, fresh simulated FPGAs, clean card-side shadows and a
// zeroed parameter image with no apply request pending.
class ProtoTest : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i) {
            fpga[i] = std::make_shared<platform::simfpga::SimFpga>();
            platform::spi::sim::attach(fpga_drv::DEVICE_PATH[i], fpga[i]);
        }
        card = fpga_manage::pInstance();
        card->with_pages([](card_pages &c) { c = card_pages{}; });
        card->reply_ready = 0;
        g_passby_trans_port = 255;
        store = ZemRamPara::pInstance();
        chip = c331_manage::instance();
        chip->gPanel.use1och = 0;
        chip->zemApi_WriteRam(para::LED_SPLICE);   // published to the links
        std::memset(store->ram_para, 0, sizeof store->ram_para);
        zemtest::dropPendingSaves(store);
        chip->para_changed = 0;
    }

    // A copy of the card side's shadows and page buffers.
    card_pages pages() { return card->with_pages([](card_pages &c) { return c; }); }

    std::shared_ptr<platform::simfpga::SimFpga> fpga[2];
    fpga_manage *card = nullptr;
    ZemRamPara *store = nullptr;
    c331_manage *chip = nullptr;
};

#endif
