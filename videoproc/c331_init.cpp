// Initial register set of the chip and the register-update timing control.

#include "videoproc/c331_manage.h"

#include "platform/timing.h"

#include <thread>

void c331_manage::Sleep(int ms)
{
    platform::pauseMs(static_cast<unsigned>(ms));
}

void c331_manage::write_initial_setting(int fd, int full)
{
    c331_drv &d = *c331drv;
    auto W = [&](uint32_t reg, uint32_t value, int offset = 0) { d.write_C331(fd, reg, value, offset); };

    // 1. Clock generator and the band value of the V-by-One clock.
    uint32_t band = 0;
    if (full) {
        W(0xFF0001, 0x08);
        W(0xFF0101, 0x00);
        W(0xFF0201, 0xC8);
        W(0xFF0301, 0x00);
        W(0xFF0401, 0x61);
        W(0xFF0503, 0x000001);
        Sleep(20);
        const uint64_t inputClock = 27000000, multiplier = 22;
        const uint64_t reference = PS_VBOTX_MODE == 1 ? 2000000 : 4000000;
        uint64_t ratio = (multiplier * inputClock) / (reference * 1);
        band = ratio < 21 ? 68 : ratio < 41 ? 72 : 76;
    }

    // 2. Channel enables and order.
    for (uint32_t k = 0; k < 8; ++k)
        W(0x000801 + 0x100 * k, 0x11);
    for (uint32_t k = 0; k < 8; ++k)
        W(0x001001 + 0x100 * k, 2 * k);
    W(0x001802, 0x0000);
    for (uint32_t r = 0x001A01; r <= 0x001D01; r += 0x100)
        W(r, 0x04);
    W(0x001E02, 0x0404);
    W(0x002002, 0x0404);
    W(0x003801, 0x00);
    W(0x003902, 0x0202);
    for (uint32_t r = 0x002201; r <= 0x002701; r += 0x100)
        W(r, 0x00);
    W(0x004601, 0x00);

    // 3. Clock dividers.
    for (uint32_t k = 0; k < 5; ++k)
        W(0x004701 + 0x100 * k, PS_ICLK_DIV[k]);
    for (uint32_t r = 0x004C01; r <= 0x005001; r += 0x100)
        W(r, 0x00);
    for (uint32_t k = 0; k < 4; ++k)
        W(0x005101 + 0x100 * k, PS_OCLK_DIV[k]);
    W(0x005502, 0x0000);
    for (uint32_t r = 0x005901; r <= 0x006001; r += 0x100)
        W(r, 0x11);
    for (uint32_t r = 0x006101; r <= 0x006801; r += 0x100)
        W(r, 0x18);
    for (uint32_t r = 0x006901; r <= 0x007801; r += 0x100)
        W(r, 0x00);
    W(0x007901, 0x2E);
    static const uint8_t order[16] = {0x80, 0x81, 0x84, 0x85, 0x88, 0x89, 0x8C, 0x8D,
                                      0x90, 0x91, 0x94, 0x95, 0x98, 0x99, 0x9C, 0x9D};
    for (uint8_t v : order)
        W(0x007A01, v);

    // 4. Output path.
    W(0x030801, 0x00);
    W(0x030902, 0x0000);
    W(0x030B02, 0x0000);
    W(0x031101, 0x00);
    W(0x031202, 0x0000);
    W(0x031402, 0x0000);
    W(0x031A01, 0x00);
    W(0x031B02, 0x00C0);
    W(0x031D02, 0x0F00);
    W(0x032301, 0x00);
    W(0x032402, 0x00C0);
    W(0x032602, 0x0F00);
    W(0x032C02, 0x0000);
    W(0x032F02, 0x0000);
    W(0x033602, 0x0000);
    W(0x033902, 0x0000);
    W(0x034201, 0x09);
    W(0x034401, PS_HSW / 2 - 1);
    W(0x034501, PS_VSW - 1);
    W(0x034301, 0x09);
    W(0x034C01, PS_HSW / 2 - 1);
    W(0x034D01, PS_VSW - 1);
    W(0x057E02, 0x0040);

    // 5. V-by-One transmitter.
    if (PS_VBOTX_MODE == 0) {
        W(0x032C02, 0x0005);
        W(0x032F02, 0x0780);
        W(0x033602, 0x0005);
        W(0x033902, 0x0780);
        W(0x034602, 0x0001);
        W(0x034E02, 0x0001);
        W(0x035504, 0x73625140);
        W(0x035E04, 0x73625140);
        W(0x036204, 0x73625140);
    }

    // 6. Memory control.
    W(0x042B02, (PS_SFL_ADDR >> 16) | 0x8000);
    W(0x063804, 0x07070707);
    W(0x063C04, 0x33333333);

    // 7. Output channel clocking.
    W(0x080802, 0x0201);
    W(0x180802, 0x1211);
    W(0x280802, 0x1211);
    W(0x380802, 0x1211);
    for (uint32_t b = 0x48; b <= 0x78; b += 0x10)
        W(b << 16 | 0x0802, 0x0011);
    for (int c = 0; c < 8; ++c) {
        W(0x0E0801, c < 4 ? 0x0A : 0x01, 16 * c);
        W(0x0E0904, 8 + c, 16 * c);
        W(0x0E0D02, 0x0055, 16 * c);
    }
    for (int c = 0; c < 4; ++c)
        W(0x0E1701, 0x80, 16 * c);

    // 8. Input channels.
    for (uint32_t b = 0x10; b <= 0x50; b += 0x10)
        W(b << 16 | 0x0901, 0x01);
    W(0x600901, 0x0C);
    W(0x700901, 0x01);
    W(0x800901, 0x0E);
    for (int c = 0; c < 8; ++c) {
        W(0x166501, 0x01, 16 * c);
        W(0x166603, 0x043210, 16 * c);
        W(0x166B01, 0x00, 16 * c);
        W(0x166C02, 0x2103, 16 * c);
    }

    // 9. Timing generators, colour matrices and per-channel set-up.
    for (int c = 0; c < 8; ++c) {
        const int o = 16 * c;
        W(0x080A02, PS_HTOTAL - 2, o);
        W(0x080C02, PS_VTOTAL - 2, o);
        W(0x081D02, 0x0040, o);
        W(0x082802, PS_OAOIHST, o);
        W(0x082A02, PS_OAOIHED, o);
        W(0x082C02, PS_OAOIVST, o);
        W(0x082E02, PS_OAOIVED, o);
        W(0x083002, PS_OAOIHST, o);
        W(0x083202, PS_OAOIHED, o);
        W(0x083402, PS_OAOIVST, o);
        W(0x083602, PS_OAOIVED, o);
        W(0x084002, PS_ACTHST, o);
        W(0x084202, 0x0000, o);
        W(0x084402, PS_ACTVST, o);
        W(0x084602, PS_ACTVW + 1, o);
        for (uint32_t r : {0x090A02u, 0x090C02u, 0x090E02u, 0x091002u})
            W(r, 0x00FF, o);
        for (uint32_t r : {0x0A4401u, 0x0A4601u, 0x0A4701u, 0x0A4801u})
            W(r, 0x00, o);
        W(0x0A4902, 0x0000, o);
        for (uint32_t r : {0x0A4B01u, 0x0A4C01u, 0x0A4D01u})
            W(r, 0x00, o);
        W(0x0A4E02, 0x0000, o);
        W(0x0B5E01, 0x01, o);
        W(0x0C4801, 0x00, o);
        static const uint32_t matrixA[10][2] = {
            {0x0C4902, 0x3265}, {0x0C4B02, 0x2000}, {0x0C4D02, 0x0000}, {0x0C4F02, 0xF105},
            {0x0C5102, 0x2000}, {0x0C5302, 0xFA02}, {0x0C5502, 0x0000}, {0x0C5702, 0x2000},
            {0x0C5902, 0x3B61}, {0, 0}};
        for (int k = 0; k < 9; ++k)
            W(matrixA[k][0], matrixA[k][1], o);
        W(0x101001, 0x80, o);
        W(0x101101, 0x80, o);
        W(0x102801, 0x88, o);
        for (uint32_t r : {0x102902u, 0x102B02u, 0x102D02u})
            W(r, 0x0000, o);
        for (uint32_t r : {0x102F02u, 0x103102u, 0x103302u})
            W(r, 0x0200, o);
        static const uint32_t matrixB[9][2] = {
            {0x103502, 0x4000}, {0x103702, 0xC5DD}, {0x103902, 0xFA23}, {0x103B02, 0x1B36},
            {0x103D02, 0x5B8C}, {0x103F02, 0x093E}, {0x104102, 0xF155}, {0x104302, 0xCEAB},
            {0x104502, 0x4000}};
        for (const auto &m : matrixB)
            W(m[0], m[1], o);
        W(0x104701, 0x00, o);
        W(0x104801, 0x04, o);
        W(0x104901, 0x08, o);
        for (uint32_t r = 0x114201; r <= 0x114601; r += 0x100)
            W(r, 0x00, o);
        W(0x114702, 0x0000, o);
        for (uint32_t r : {0x114901u, 0x114A01u, 0x114B01u})
            W(r, 0x00, o);
        W(0x114C02, 0x0000, o);
    }

    // 10. Frame-store addresses of the input channels.
    for (int k = 0; k < 8; ++k) {
        static const int rows[8] = {0, 1, 2, 3, 4, 4, 5, 5};
        const uint32_t extra = (k == 5 || k == 7) ? 0x1E00 : 0;
        const uint32_t *row = PS_MEM_SC[rows[k]];
        W(0x161C04, row[0] + extra, 16 * k);
        W(0x162004, row[1] + extra, 16 * k);
        W(0x162404, row[2] + extra, 16 * k);
        W(0x162804, row[3] + extra, 16 * k);
    }

    // 11.
    for (int k = 0; k < 8; ++k) {
        W(0x163001, PS_ICH_MEMVAL, 16 * k);
        W(0x163101, PS_ICH_MEMVAL, 16 * k);
    }

    // 12. Deinterlacer set-up of the CMOS inputs.
    for (int c = 0; c < CMOS_NUM; ++c) {
        const int o = 16 * c;
        W(0x140D02, 0x0010, o);
        W(0x141601, 0x01, o);
        W(0x141701, 0x01, o);
        W(0x141801, 0x02, o);
        W(0x141901, 0x08, o);
        W(0x142201, 0x00, o);
        W(0x142301, 0x11, o);
        W(0x175801, PS_MWI_IP[c], o);
        W(0x175B04, PS_MEM_MV[c], o);
    }

    if (!full)
        return;

    // 13. Clock start.
    W(0xFF0201, 0x00);
    W(0xFF0401, 0x00);
    W(0x012601, 0x00);
    Sleep(1);
    W(0x010801, 0x30);
    W(0x010904, 0x22222222);
    W(0x010D04, 0x66663445);
    W(0x011104, 0x22222222);
    for (uint32_t r = 0x011501; r <= 0x011801; r += 0x100)
        W(r, 0x77);
    W(0x011901, 0x07);
    W(0x011A01, 0x3F);
    W(0x011B01, 0x3F);
    W(0x011C01, 0x00);
    W(0x011D01, 0x10);
    W(0x011E01, 0x10);
    W(0x011F01, 0x0E);
    W(0x012001, 0x0E);
    W(0x012101, 0x30);
    W(0x012201, 0x30);
    W(0x012301, 0x4F);
    W(0x012401, 0x4F);
    W(0x012501, 0x09);
    W(0x012601, 0x0F);
    W(0x012701, 0x11);
    W(0x012801, 0x01);
    W(0x012904, 0x88888888);
    for (uint32_t r = 0x012D01; r <= 0x013401; r += 0x100)
        W(r, 0x77);
    W(0x013501, 0x07);
    static const uint8_t trim[9] = {0x67, 0x65, 0x62, 0x60, 0x6A, 0x67, 0x64, 0x61, 0x6C};
    for (uint32_t k = 0; k < 9; ++k)
        W(0x013601 + 0x100 * k, trim[k]);
    W(0x013F01, 0x08);
    for (uint32_t k = 0; k < 8; ++k) {
        W(0x014003 + 0x300 * k, 0x924924);
        W(0x015803 + 0x300 * k, 0x6DB6DB);
    }
    W(0x017004, 0x33333333);
    Sleep(1);
    W(0xFF0201, 0x88);
    Sleep(1);
    W(0xFF0201, 0xC8);
    Sleep(1);
    W(0xFF0401, 0x61);
    Sleep(20);

    // 14. V-by-One and memory clock release: each reset bit of 0x027F is
    // pulsed on its own.
    const uint32_t lanes = PS_VBOTX_MODE == 1 ? 0x05 : 0x09;
    W(0x027F01, 0x0E);
    W(0x027F01, 0x0F);
    W(0x024001, 0x05);
    W(0x024F01, 0x80);
    W(0x024C01, 0xA3);
    W(0x027F01, 0x0D);
    W(0x027F01, 0x0F);
    W(0x025C01, 0x05);
    W(0x026B01, 0x80);
    W(0x026801, 0xA3);
    W(0x027F01, 0x0B);
    W(0x027F01, 0x0F);
    W(0x021C01, 0x00);
    W(0x020A02, 0x0011);
    W(0x021001, 0xFF);
    W(0x021301, 0x11);
    W(0x021801, band);
    W(0x021C01, 0x01);
    W(0x020801, lanes);
    W(0x020A02, 0x8011);
    W(0x027F01, 0x07);
    W(0x027F01, 0x0F);
    W(0x023401, 0x00);
    W(0x027A02, 0x0011);
    W(0x022801, 0xFF);
    W(0x022B01, 0x11);
    W(0x027801, band);
    W(0x023401, 0x01);
    W(0x027801, lanes);
    W(0x027A02, 0x8011);
}

void c331_manage::set_rtct(int fd, int mode)
{
    static const uint8_t table[5][7] = {
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
        {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
    };
    const uint8_t *row = table[(mode >= 0 && mode <= 3) ? mode : 4];
    c331drv->write_c331_mask(fd, 0x002901, 0x01, 0x01, 0);
    for (uint32_t k = 0; k < 7; ++k)
        c331drv->write_C331(fd, 0x002201 + 0x100 * k, row[k], 0);
    c331drv->write_c331_mask(fd, 0x002901, 0x00, 0x01, 0);
}
