#ifndef BENCH_CHIP_BENCH_FIXTURE_H
#define BENCH_CHIP_BENCH_FIXTURE_H

// A chip manager with its model at the bring-up values on a fresh simulated
// chip (no bus timing) under a private root; its dumps captured.

#include "app/global.h"
#include "app/zemrampara.h"
#include "platform/sim_c331.h"
#include "platform/spi.h"
#include "support/dump_capture.h"
#include "support/temp_root.h"
#include "videoproc/c331_drv.h"
#include "videoproc/c331_manage.h"

#include <memory>

struct BenchChip {
    zemtest::TempRoot root;
    std::shared_ptr<platform::sim::SimC331> chip = std::make_shared<platform::sim::SimC331>();
    zemtest::DumpCapture dump;
    ZemRamPara *store = nullptr;
    c331_manage m;

    BenchChip()
    {
        g_debugSwitch = 0;   // the chip's work, not its debug prints
        platform::spi::sim::attach(c331_drv::DEVICE, chip);
        store = ZemRamPara::pInstance();
        m.c331_fd = m.c331drv->initialize();
        m.dump_out = dump.file();
        m.load_system_param();
        m.define_param();
        m.load_param();
    }
    ~BenchChip() { platform::spi::sim::detachAll(); }

    // Every chip port with a 1080p60 source.
    void sources1080p()
    {
        for (int p = 0; p < c331_manage::PORT_NUM; ++p) {
            m.PI_ACT[p] = m.PI_ACT_FULL[p] = ST_ACT{192, 1920, 41, 1080};
            m.PI_STATE[p] = 4;
            m.PI_FV[p] = 60;
            m.PI_PORT_INFO[p].NOSIG = 0;
            m.PI_HDMI_INFO[p].lane = 2;
        }
    }
};

#endif
