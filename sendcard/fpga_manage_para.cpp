// Back-parameter image of the FPGAs' parameter pages, and the FPGA reset lines.

#include "sendcard/fpga_manage.h"

#include "app/global.h"
#include "app/para_layout.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/devmem.h"

namespace {

// Port-position records of the parameter page: x (u16) and y (u16) in the
// first four bytes of each 8-byte record.
bool isPortPosition(uint32_t a)
{
    return (a >= 520 && a < 552 && (a - 520) % 8 == 0) || (a >= 576 && a < 640 && (a - 576) % 8 == 0);
}

platform::devmem::Window *resetWindow()
{
    static platform::devmem::BoardGpio lines(fpga_manage::FPGA_RST_GPIO[0],
                                             fpga_manage::FPGA_RST_GPIO[1] + 2 - fpga_manage::FPGA_RST_GPIO[0]);
    return lines.get();
}

void driveReset(uint8_t n, uint16_t value)
{
    if (platform::devmem::Window *w = resetWindow())
        w->write16(fpga_manage::FPGA_RST_GPIO[n & 1], value);
}

} // namespace

int fpga_manage::back_para_offset(uint32_t a)
{
    if (a >= 8 && a <= 10) return int(a - 4);
    if (a >= 19 && a <= 21) return int(a - 7);
    if (a == 22) return 18;
    if (a >= 32 && a <= 35) return int(a - 12);
    if (a >= 43 && a <= 46) return int(a - 15);
    if (a >= 56 && a <= 59) return int(a + 76);
    if (a >= 60 && a <= 63) return int(a - 60);
    if (a >= 520 && a <= 547 && (a - 520) % 8 < 4) return int(a - 484);
    if (a >= 576 && a <= 635 && (a - 576) % 8 < 4) return int(a - 508);
    return -1;
}

void fpga_manage::R47_back_mcu_set_net_para(uint8_t n)
{
    n &= 1;
    with_pages([n](card_pages &c) {
        for (uint32_t a = 0; a < PAGE_SIZE; ++a) {
            int b = back_para_offset(a);
            if (b >= 0)
                c.MCU_RAM_ETH_BACK_PARA_func[n][b] = c.MCU_RAM_PARA_func[n][a];
        }
    });
}

void fpga_manage::R47_mcu_set_net_para(uint8_t n)
{
    n &= 1;
    uint8_t start[4];   // the LED wall's start position, X then Y
    static_assert(para::LED_Y == para::LED_X + 2, "X and Y are read together");
    ZemRamPara::pInstance()->copy_image(start, para::LED_X, sizeof start);
    const uint16_t dx = para::get16(start, 0);
    const uint16_t dy = para::get16(start, 2);
    with_pages([n, dx, dy](card_pages &c) {
        uint8_t *page = c.MCU_RAM_PARA_func[n];
        const uint8_t *back = c.MCU_RAM_ETH_BACK_PARA_func[n];
        for (uint32_t a = 0; a < PAGE_SIZE; ++a) {
            if (isPortPosition(a)) {
                int b = back_para_offset(a);
                para::set16(page, a, uint16_t(para::get16(back, uint32_t(b)) + dx));
                para::set16(page, a + 2, uint16_t(para::get16(back, uint32_t(b) + 2) + dy));
                a += 3;
                continue;
            }
            int b = back_para_offset(a);
            if (b >= 0)
                page[a] = back[b];
        }
    });
}

void fpga_manage::reset_fpga_rst(uint8_t n)
{
    n &= 1;
    driveReset(n, RST_ACTIVE);
    reset_tick[n] = G_timeTicks.load();
    reset_pending[n] = 1;
    vbyone_ready[n] = 0;
    wake();   // the thread times the release
}

void fpga_manage::check_fpga_rst()
{
    for (uint8_t n = 0; n < 2; ++n) {
        if (!reset_pending[n] || Utils::getTimeSpace(reset_tick[n]) <= RESET_TICKS)
            continue;
        driveReset(n, RST_RELEASED);
        reset_pending[n] = 0;
        set_reg_shadow(n, 80, 0);
        set_reg_shadow(n, 31, 0);
    }
}
