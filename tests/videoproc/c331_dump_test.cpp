// The register dumps as a person in the field reads them.

#include "chip_fixture.h"

#include "app/utils.h"
#include "support/blocked_call.h"
#include "support/pctool.h"
#include "videoio/tarixsource.h"

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

using namespace chiptest;

namespace {

using DumpTest = ModelTest;

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

TEST_F(DumpTest, ListingPrintsEveryRegisterWithTheChipsValue)
{
    const std::vector<uint32_t> &list = c331_manage::c331_register_list();
    EXPECT_EQ(std::vector<uint32_t>(list.begin(), list.begin() + 3), (std::vector<uint32_t>{0x000801, 0x000901, 0x000A01}));
    EXPECT_EQ(std::vector<uint32_t>(list.end() - 2, list.end()), (std::vector<uint32_t>{0xFF0401, 0xFF0503}));
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    auto listed = [&](uint32_t reg) { return std::find(list.begin(), list.end(), reg) != list.end(); };
    // The input measurements, each value whole: line total, frame period and
    // active width of HDMI port 0, frame period of V-by-One receiver 1's lock
    // sub-channel 3, field width of input channel 3 and its status byte.
    for (uint32_t reg : {0xAE0802u, 0xAE5003u, 0xAE7103u, 0xAF0802u, 0xA81A02u, 0xA84E01u})
        EXPECT_TRUE(listed(reg)) << std::hex << reg;
    // Per-channel copies: output channel 7's V height, input channel 7's last
    // frame buffer, CMOS input 3's deinterlacer memory, mixer 7's layer order.
    for (uint32_t reg : {0x784602u, 0x862C04u, 0x475B04u, 0x7E0904u})
        EXPECT_TRUE(listed(reg)) << std::hex << reg;
    // Not listed: the second byte of a wide register, banks the chip code
    // never names, a fifth CMOS input, and the data ports (flash, character
    // list, palette).
    for (uint32_t reg : {0xAE0901u, 0x0D0801u, 0x130801u, 0x570801u, 0x8E0801u, 0x045201u, 0x042901u, 0x092001u})
        EXPECT_FALSE(listed(reg)) << std::hex << reg;

    for (uint8_t k = 0; k < 4; ++k)
        chip->setReg(0x16, uint8_t(0x1C + k), uint8_t(0x12 + 0x22 * k));   // input channel 0's first frame buffer
    chip->setReg(0xFF, 0x05, 0x01);
    chip->setReg(0xFF, 0x07, 0x03);
    m->c331_print();
    const std::vector<std::string> printed = lines(dump.text());
    ASSERT_EQ(printed.size(), list.size());
    EXPECT_EQ(printed.front(), "000801  00000000h");
    EXPECT_NE(std::find(printed.begin(), printed.end(), "161C04  78563412h"), printed.end());
    EXPECT_EQ(printed.back(), "FF0503  00030001h");
    EXPECT_EQ(printed[std::find(list.begin(), list.end(), 0xB20801u) - list.begin()], "B20801  00000024h");
}

// A flash read on another link holds bank 4 while it takes its bytes from
// the data port: the listing waits for it and never takes a byte itself.
TEST_F(DumpTest, ListingLeavesAFlashReadOfAnotherLinkIntact)
{
    const pctool::Bytes data = pctool::pattern(6, 0x40);
    chip->flash().preset(0x1000, data);
    auto next = [&] { return uint8_t(m->c331drv->read_C331(m->c331_fd, C331_REG(4, 0x52, 1), 0)); };
    std::unique_ptr<zemtest::BlockedCall> print;
    {
        std::lock_guard<std::recursive_mutex> reading(m->bank4_mutex);
        uint8_t first[2];
        ASSERT_EQ(m->read_flash(m->c331_fd, 0x1000, 2, first), c331_manage::SFL_OK);
        print.reset(new zemtest::BlockedCall([&] { m->c331_print(); }));
        EXPECT_TRUE(print->waits());
        EXPECT_EQ(next(), data[2]);
        EXPECT_EQ(next(), data[3]);
    }
    EXPECT_TRUE(print->finishes());
    EXPECT_EQ(next(), data[4]);
    EXPECT_EQ(next(), data[5]);
}

// A link reloads the fonts while the chip thread prints the model (a
// ThreadSanitizer build reports font addresses the two share unguarded).
TEST_F(DumpTest, ModelDumpWhileALinkReloadsTheFonts)
{
    m->load_font_map();
    std::thread reload([&] { m->update_font(m->c331_fd); });
    m->zemDbg_c331_param(14);
    reload.join();
    EXPECT_NE(dump.text().find("\tg_font_addr_64CHN:"), std::string::npos);
}

TEST_F(DumpTest, ModelDumpShowsThePanel)
{
    m->zemApi_PnlInit2(1920, 2160, 1920, 1000, 1);
    const uint32_t osd[1][c331_manage::OSD_LINE_CHARS] = {{'A', 0x4E00}};
    const int length = 2;
    m->zemApi_OsdSetUnicode(1, &length, osd);
    m->g_osd_mwi = 32;
    m->g_font_addr_32ASCII = 11;
    m->g_font_addr_32CHN = 22;
    m->g_font_addr_64ASCII = 33;
    m->g_font_addr_64CHN = 44;
    dump.clear();
    m->zemDbg_c331_param(14);   // 14 is mode 0
    const std::string text = dump.text();
    EXPECT_EQ(text.rfind("[zemDbg_c331_param] c331_param\r\n<<===OCH SPEC\r\n\tPS_ACTHW:1920\r\n", 0), 0u);
    for (const char *line : {"\tPS_ACTVW:1160\r\n", "\tPS_HTOTAL:1984\r\n", "\tPS_VTOTAL:4990\r\n",
                             "<<===PS VBO\r\n\tPS_VBOTX_MODE:2\r\n\tPS_VBOTX_LAYOUT:1\r\n", "\tPM_WIN_NUM[2]:6\r\n",
                             "\tPM_OVERLAY[0]:0x1\r\n", "\tPS_PANEL_VW:2320\r\n", "\tOSD_WIN.HW:0\r\n",
                             "\tg_osd_mwi:32\r\n\tg_osd_mwi_shift:0\r\n",
                             "\tg_font_addr_32ASCII:11\r\n\tg_font_addr_32CHN:22\r\n"
                             "\tg_font_addr_64ASCII:33\r\n\tg_font_addr_64CHN:44\r\n",
                             "\tg_unicode_line:1\r\n\tline 0:\r\n[0,0x41] [0x4e,0] \r\n", "<<===PI HDMI INFO\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;

    dump.clear();
    m->zemDbg_c331_param(3);
    EXPECT_EQ(dump.text(), "[zemDbg_c331_param] c331_mwi\r\n");
}

TEST_F(DumpTest, DebugModesForceTheirSettings)
{
    m->zemDbg_c331_param(6);
    m->zemDbg_c331_param(8);
    m->zemDbg_c331_param(9);
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(chip->value(0x084903, 16 * c), 0xFFFFFFu);
        EXPECT_EQ(chip->value(0x084801, 16 * c), 1u);
        EXPECT_EQ(chip->value(0x504B03, 16 * c), 0x80FF80u);
        EXPECT_EQ(chip->value(0x0A4B01, 16 * c), c < 2 ? 3u : 0u);
    }
    EXPECT_EQ(chip->value(0x0A4601, 16), 3u);
}

TEST_F(DumpTest, RegisterGroups)
{
    m->zemDbg_c331_print_regGrp(2);
    EXPECT_EQ(dump.text(), "\033[1m[zemDbg_c331_print_regGrp] grp:2\033[0m\n\t not found valid grp!!!!!!!\n");

    window(0, 0, 0, 3840, 1080);
    m->zemApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    chip->setReg(0x18, 0x42, 0x23);   // channel 2's output width
    chip->setReg(0x18, 0x43, 0x01);
    dump.clear();
    m->zemDbg_c331_print_regGrp(0);
    const std::string text = dump.text();
    EXPECT_NE(text.find("\twin0: 2 OCH1 OCH2\n"), std::string::npos);
    EXPECT_NE(text.find("OACT_HW=0123"), std::string::npos);
    EXPECT_NE(text.find("8: ICHSEL="), std::string::npos);
}

// The receivers' records belong to the input manager's thread: mode 10
// copies them only while holding its lock.
TEST_F(DumpTest, ReceiverRecordsAreRefreshedAndReadUnderTheInputManagersLock)
{
    tarixsource *src = tarixsource::pInstance();
    std::atomic<bool> done{false};
    std::thread dumper;
    {
        // The receivers' register copies: input 5 shows 3840 pixels, input 4 nothing.
        namespace rx = platform::i2c::rx;
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        std::fill(std::begin(src->receivers[5].regs), std::end(src->receivers[5].regs), 0);
        src->receivers[5].regs[rx::STATUS] = rx::STATUS_SIGNAL | rx::STATUS_STABLE;
        src->receivers[5].regs[rx::HACT] = 3840 & 0xFF;
        src->receivers[5].regs[rx::HACT + 1] = 3840 >> 8;
        std::fill(std::begin(src->receivers[4].regs), std::end(src->receivers[4].regs), 0);
        src->source_hdminfo[5] = hdminfo{};
        dumper = std::thread([&] {
            m->zemDbg_c331_param(10);
            done = true;
        });
        EXPECT_FALSE(waitFor([&] { return done.load(); }, 100));
    }
    dumper.join();
    const std::string text = dump.text();
    const size_t five = text.find("[iTE6805_Get_Hdmi] dev_id:1, idx:5\r\n\tHact:3840 ");
    ASSERT_NE(five, std::string::npos) << text;
    const size_t four = text.find("[iTE6805_Get_Hdmi] dev_id:0, idx:4", five);
    ASSERT_NE(four, std::string::npos);
    EXPECT_NE(text.find("signal:0", four), std::string::npos);
}

} // namespace
