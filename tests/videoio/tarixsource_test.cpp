#include "app/global.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "platform/devmem.h"
#include "platform/files.h"
#include "platform/i2c.h"
#include "platform/platform.h"
#include "platform/sim_inputs.h"
#include "support/device_process.h"
#include "support/temp_root.h"
#include "videoio/drv_i2c.h"
#include "videoio/edid.h"
#include "videoio/ite6805_drv.h"
#include "videoio/tarixsource.h"

#include "videoproc/c331_manage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <linux/i2c.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

namespace sim = platform::i2c::sim;
namespace board = platform::i2c::board;
namespace sources = platform::sim::inputs;

void plug(int input, uint16_t w, uint16_t h, double rate, bool interlaced = false)
{
    sources::Source s;
    s.plugged = true;
    s.width = w;
    s.height = h;
    s.rate = rate;
    s.interlaced = interlaced;
    sources::plug(input, s);
}

// Decodes the preferred timing of descriptor `d`.
struct Decoded {
    int w, h;
    double hz;
};
Decoded decode(const uint8_t *d)
{
    int clk = d[0] | (d[1] << 8);
    int w = d[2] | ((d[4] >> 4) << 8);
    int hb = d[3] | ((d[4] & 0x0F) << 8);
    int h = d[5] | ((d[7] >> 4) << 8);
    int vb = d[6] | ((d[7] & 0x0F) << 8);
    return {w, h, clk * 10000.0 / (double(w + hb) * (h + vb))};
}

TEST(Edid, BuildsValidBlocksWhosePreferredTimingIsTheRequestedOne)
{
    struct Case {
        int w, h, hz, ew, eh, ehz;
    } cases[] = {
        {1920, 1080, 60, 1920, 1080, 60}, {1280, 720, 50, 1280, 720, 50}, {3840, 1080, 60, 3840, 1080, 60},
        {0, 0, 0, 1920, 1080, 60},          // unset words: a sensible default
        {9000, 10, 300, 4095, 64, 120},     // clamped into what the descriptor holds
    };
    for (const Case &c : cases) {
        uint8_t e[edid::SIZE];
        edid::build(c.w, c.h, c.hz, e);
        ASSERT_TRUE(edid::valid(e)) << c.w << "x" << c.h;
        Decoded base = decode(e + 54);
        EXPECT_EQ(base.w, c.ew);
        EXPECT_EQ(base.h, c.eh);
        EXPECT_NEAR(base.hz, c.ehz, 0.5) << c.w << "x" << c.h;
        Decoded ext = decode(e + 128 + e[130]);
        EXPECT_EQ(ext.w, base.w);
        EXPECT_EQ(ext.h, base.h);
    }
}

TEST(Edid, ClockBeyondTheDescriptorLowersTheRateInsteadOfWrapping)
{
    uint8_t e[edid::SIZE];
    EXPECT_FALSE(edid::build(4095, 4095, 120, e));
    ASSERT_TRUE(edid::valid(e));
    Decoded d = decode(e + 54);
    EXPECT_EQ(d.w, 4095);
    EXPECT_LT(d.hz, 60);
    EXPECT_GE(d.hz, edid::MIN_HZ - 0.5);
}

TEST(Drv_I2C0, CombinedReadAndMuxedDevices)
{
    zemtest::TempRoot root;
    sim::reset();
    int fd = Drv_I2C0::I2C_Open();
    ASSERT_GE(fd, 0);
    uint8_t v = 0;
    // The EEPROMs answer only while their mux channel is selected.
    EXPECT_EQ(Drv_I2C0::I2C_ReadBytes(fd, board::EDID_EEPROM, 0, &v, 1), 0);
    uint8_t ch = 1u << 3;
    ASSERT_EQ(Drv_I2C0::I2C_WriteRaw(fd, board::EDID_MUX, &ch, 1), 1);
    uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(Drv_I2C0::I2C_WriteBytes(fd, board::EDID_EEPROM, 0x10, data, 3), 1);
    uint8_t back[3] = {};
    ASSERT_EQ(Drv_I2C0::I2C_ReadBytes(fd, board::EDID_EEPROM, 0x10, back, 3), 1);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), std::vector<uint8_t>(data, data + 3));
    EXPECT_EQ(sim::edidEeprom(3)->reg(0x11), 2);
    EXPECT_EQ(sim::edidEeprom(2)->reg(0x11), 0xFF);
    // Two channels at once: both EEPROMs would answer, the transfer fails.
    ch = 0x0C;
    Drv_I2C0::I2C_WriteRaw(fd, board::EDID_MUX, &ch, 1);
    EXPECT_EQ(Drv_I2C0::I2C_ReadBytes(fd, board::EDID_EEPROM, 0, &v, 1), 0);
    EXPECT_EQ(Drv_I2C0::I2C_WriteByte(fd, 0x22, 0, 1), 0);   // nobody at that address
    Drv_I2C0::I2C_Close(fd);
}

// The manager against a fresh store and a fresh simulated board.
class Source : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        ZemRamPara::resetForTest();
        store = ZemRamPara::pInstance();
        sim::reset();
        std::memset(edid_ram_table_from, 0, sizeof edid_ram_table_from);
        src = tarixsource::pInstance();
        for (int p = 0; p < SOURCE_COUNT; ++p) {
            src->edid_request[p] = 0;
            src->edid_done[p] = 0;
        }
        src->audio_request = 0;
        g_check_source = 255;
        src->i2c_fd = -1;
        // Opens the bus and starts the thread; the tests mostly run turns themselves.
        ASSERT_EQ(src->initialize(), 0);
        src->stop();
        // Forget what the thread's first turn published.
        std::memset(store->ram_para + para::INPUT_TIMING, 0, 6 * SOURCE_COUNT);
        QObject::connect(store, &ZemRamPara::sig_update_para, store, [this](int c) { codes.push_back(c); },
                         Qt::DirectConnection);
    }
    void TearDown() override
    {
        src->stop();
        ZemRamPara::resetForTest();
    }
    std::vector<uint8_t> timingBytes(int p)
    {
        return std::vector<uint8_t>(store->ram_para + 256 + 6 * p, store->ram_para + 262 + 6 * p);
    }

    ZemRamPara *store = nullptr;
    tarixsource *src = nullptr;
    std::vector<int> codes;
};

TEST(SourceManager, IsCreatedOnceWhicheverLinkAsksFirst)
{
    // The register commands reach the manager from the links' own threads.
    tarixsource *saved = tarixsource::p_tarix_source;
    tarixsource::p_tarix_source = nullptr;
    std::vector<tarixsource *> got(4, nullptr);
    std::vector<std::thread> links;
    for (tarixsource *&g : got)
        links.emplace_back([&g] { g = tarixsource::pInstance(); });
    for (std::thread &t : links)
        t.join();
    EXPECT_EQ(std::count(got.begin(), got.end(), got[0]), 4);
    delete got[0];
    tarixsource::p_tarix_source = saved;
}

TEST_F(Source, EdidRequestWritesTheEepromAndPulsesHotPlug)
{
    store->setWord(para::EDID_BASE + 12, 1280);
    store->setWord(para::EDID_BASE + 14, 720);
    store->setWord(para::EDID_BASE + 16, 50);
    src->edid_request[2] = 1;
    src->check_source_turn();
    EXPECT_EQ(src->edid_request[2].load(), 0);
    EXPECT_EQ(src->edid_done[2].load(), 1);

    std::vector<uint8_t> eeprom = sim::edidEeprom(2)->bytes();
    uint8_t expected[edid::SIZE];
    edid::build(1280, 720, 50, expected);
    EXPECT_EQ(eeprom, std::vector<uint8_t>(expected, expected + edid::SIZE));
    EXPECT_EQ(sim::edidEeprom(1)->bytes(), std::vector<uint8_t>(256, 0xFF));
    EXPECT_EQ(sim::edidEeprom(2)->writes(), 32u);   // written page by page

    // Hot-plug of input 2 went low once and came back; the others stayed high.
    std::vector<uint8_t> hp = sim::hotplugPort()->history(board::HOTPLUG_OUTPUT_REG);
    ASSERT_EQ(hp.size(), 2u);
    EXPECT_EQ(hp[0], 0x3F & ~0x04);
    EXPECT_EQ(hp[1], 0x3F);
    EXPECT_EQ(sim::attached(board::EDID_MUX) ? std::static_pointer_cast<sim::Mux>(sim::attached(board::EDID_MUX))->control() : 0xFF, 0);

    // An uploaded table takes precedence over the image words.
    for (int i = 0; i < 256; ++i)
        edid_ram_table[4][i] = static_cast<uint8_t>(i);
    edid_ram_table_from[4] = 1;
    src->edid_request[4] = 1;
    src->check_source_turn();
    EXPECT_EQ(src->edid_done[4].load(), 1);
    EXPECT_EQ(sim::edidEeprom(4)->bytes(), std::vector<uint8_t>(edid_ram_table[4], edid_ram_table[4] + 256));
}

TEST_F(Source, FailingEdidWriteIsRetriedThenDroppedWithoutReportingDone)
{
    sim::failTransfers(board::EDID_EEPROM, 1);
    src->edid_request[0] = 1;
    src->check_source_turn();   // first attempt fails, the next succeeds
    EXPECT_EQ(src->edid_request[0].load(), 1);
    src->check_source_turn();
    EXPECT_EQ(src->edid_request[0].load(), 0);
    EXPECT_EQ(src->edid_done[0].load(), 1);

    sim::failTransfers(board::EDID_MUX, 1000);
    src->edid_request[1] = 1;
    for (int i = 0; i < tarixsource::EDID_ATTEMPTS; ++i)
        src->check_source_turn();
    EXPECT_EQ(src->edid_request[1].load(), 0);   // nobody waits for ever
    EXPECT_EQ(src->edid_done[1].load(), 0);      // and no success is claimed
}

// An EEPROM whose write-protect pin is high: it acknowledges every byte but
// keeps what it held, so only the read-back shows that nothing was stored.
class WriteProtectedEeprom : public sim::RegisterDevice
{
public:
    WriteProtectedEeprom() : sim::RegisterDevice(256, 8)
    {
        for (size_t r = 0; r < 256; ++r)
            setReg(r, 0xFF);
    }
    bool write(const uint8_t *data, size_t len) override { return sim::RegisterDevice::write(data, len ? 1 : 0); }
};

TEST_F(Source, EdidThatDoesNotReadBackIsNeitherReportedDoneNorAnnouncedByHotPlug)
{
    auto mux = std::make_shared<sim::Mux>();
    mux->attach(0, board::EDID_EEPROM, std::make_shared<WriteProtectedEeprom>());
    sim::attach(board::EDID_MUX, mux);
    src->edid_request[0] = 1;
    for (int i = 0; i < tarixsource::EDID_ATTEMPTS; ++i)
        src->check_source_turn();
    EXPECT_EQ(src->edid_request[0].load(), 0);   // given up
    EXPECT_EQ(src->edid_done[0].load(), 0);
    EXPECT_TRUE(sim::hotplugPort()->history(board::HOTPLUG_OUTPUT_REG).empty()) << "the source would re-read the old EDID";
}

TEST_F(Source, AudioFollowsTheAudioWindowsSourceThroughACrop)
{
    // Window 1 shows crop entry 7, which is cut from source 3.
    store->setWord(para::CROP_TABLE + para::CROP_ENTRY_SIZE * 7, para::CROP_USED | 3);
    store->setWord(para::window(1, para::WIN_SOURCE), para::WIN_SOURCE_CROP | 7);
    store->setWord(para::AUDIO_WINDOW, 1);
    sim::failTransfers(board::AUDIO_SWITCH, 1);
    src->audio_request = 1;
    src->check_source_turn();
    EXPECT_EQ(src->audio_request.load(), 1);   // the write failed: kept for the next turn
    src->check_source_turn();
    EXPECT_EQ(src->audio_request.load(), 0);
    EXPECT_EQ(sim::audioSwitch()->reg(board::AUDIO_SELECT_REG), 3);

    store->setWord(para::window(2, para::WIN_SOURCE), 5);
    store->setWord(para::AUDIO_WINDOW, 2);
    src->audio_request = 1;
    src->check_source_turn();
    EXPECT_EQ(sim::audioSwitch()->reg(board::AUDIO_SELECT_REG), 5);
}

// A writer changes the audio window's source and crop record under
// the image's lock; the audio selection waits for it and switches to the result.
TEST_F(Source, AudioSelectionReadsTheImageUnderTheImageLock)
{
    store->setWord(para::window(1, para::WIN_SOURCE), 2);
    store->setWord(para::AUDIO_WINDOW, 1);
    std::atomic<bool> done{false};
    std::thread t;
    {
        ParaLock writer;
        t = std::thread([&] {
            src->set_audio_source();
            done = true;
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (!done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(done.load()) << "read the image while a writer held the image's lock";
        store->setWord(para::CROP_TABLE + para::CROP_ENTRY_SIZE * 4, para::CROP_USED | 5);
        store->setWord(para::window(1, para::WIN_SOURCE), para::WIN_SOURCE_CROP | 4);
    }
    t.join();
    EXPECT_EQ(sim::audioSwitch()->reg(board::AUDIO_SELECT_REG), 5);
}

TEST_F(Source, Register160BitsAreServedAndCleared)
{
    store->reg_para[32] = reg160::VBO_HOTPLUG_LOW | 0x80;
    src->check_source_turn();
    EXPECT_EQ(sim::hotplugPort()->reg(board::HOTPLUG_OUTPUT_REG), 0x0F);
    EXPECT_EQ(store->reg_para[32], 0x80);   // a bit without a meaning here is left alone

    uint32_t before = src->receiver_init_count[4];
    uint32_t before0 = src->receiver_init_count[0];
    store->reg_para[32] = reg160::VBO_HOTPLUG_HIGH | reg160::VBO_REINIT;
    src->check_source_turn();
    EXPECT_EQ(sim::hotplugPort()->reg(board::HOTPLUG_OUTPUT_REG), 0x3F);
    EXPECT_EQ(src->receiver_init_count[4], before + 1);
    EXPECT_EQ(src->receiver_init_count[0], before0);
    EXPECT_EQ(store->reg_para[32], 0);

    // A hot-plug bit whose write fails stays set until it succeeds.
    sim::failTransfers(board::HOTPLUG_PORT, 1);
    store->reg_para[32] = reg160::VBO_HOTPLUG_LOW;
    src->check_source_turn();
    EXPECT_EQ(store->reg_para[32], reg160::VBO_HOTPLUG_LOW);
    src->check_source_turn();
    EXPECT_EQ(store->reg_para[32], 0);
}

// Register 17 asks for a reset of the SDI receiver: the thread holds its
// reset line low for more than 15 ticks, then releases it.
TEST_F(Source, SdiResetRequestHoldsTheResetLineLowForMoreThanFifteenTicks)
{
    namespace mem = platform::devmem::sim;
    const uint32_t line = tarixsource::SDI_RST_GPIO;
    mem::poke16(line, tarixsource::SDI_RST_RELEASED);
    G_timeTicks = 1000;
    src->check_source_turn();
    EXPECT_EQ(mem::peek16(line), tarixsource::SDI_RST_RELEASED) << "no request, no pulse";

    src->sdi_reset_request = 1;
    src->check_source_turn();
    EXPECT_EQ(src->sdi_reset_request.load(), 0);
    EXPECT_EQ(mem::peek16(line), tarixsource::SDI_RST_ACTIVE);
    G_timeTicks = 1015;
    src->check_source_turn();
    EXPECT_EQ(mem::peek16(line), tarixsource::SDI_RST_ACTIVE);
    G_timeTicks = 1016;
    src->check_source_turn();
    EXPECT_EQ(mem::peek16(line), tarixsource::SDI_RST_RELEASED);
}

TEST_F(Source, InputTimingIsPublishedOnChangeWithCode12)
{
    src->check_source_turn();
    EXPECT_EQ(timingBytes(0), (std::vector<uint8_t>{0x80, 0x07, 0x38, 0x04, 60, 0}));
    EXPECT_EQ(timingBytes(1), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(codes, std::vector<int>{12});
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        EXPECT_EQ(src->source_hdminfo[0].Hact, 1920);
        EXPECT_EQ(src->source_hdminfo[0].nosignal, 0);
        EXPECT_EQ(src->source_hdminfo[1].nosignal, 1);
    }
    src->check_source_turn();
    EXPECT_EQ(codes.size(), 1u);   // nothing changed, nothing emitted

    plug(3, 1280, 720, 50);
    plug(5, 3840, 2160, 59);   // 55 Hz and above count as 60
    src->check_source_turn();
    EXPECT_EQ(timingBytes(3), (std::vector<uint8_t>{0x00, 0x05, 0xD0, 0x02, 50, 0}));
    EXPECT_EQ(timingBytes(5), (std::vector<uint8_t>{0x00, 0x0F, 0x70, 0x08, 60, 0}));
    EXPECT_EQ(codes.size(), 2u);

    // An input outside the enabled mask reads as no signal.
    g_check_source = 0xFE;
    src->initialize();
    src->stop();
    EXPECT_EQ(timingBytes(0), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(timingBytes(0), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(codes.size(), 3u);
}

TEST_F(Source, ReceiverRecordsCarryEveryTimingWord)
{
    plug(2, 1920, 1080, 50, true);
    plug(0, 3840, 2160, 30);
    platform::sim::inputs::Source vbo;
    vbo.plugged = true;
    vbo.width = 1920;
    vbo.height = 1080;
    vbo.rate = 60;
    vbo.lanes = 2;
    platform::sim::inputs::plug(4, vbo);
    src->check_source_turn();
    hdminfo i2, i0, i4;
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        i2 = src->source_hdminfo[2];
        i0 = src->source_hdminfo[0];
        i4 = src->source_hdminfo[4];
    }
    // One field of 1080i50.
    const int32_t words[] = {i2.Hact, i2.Hsync, i2.Hback, i2.Hpol, i2.Htotal, i2.Vact, i2.Vsync, i2.Vback, i2.Vpol,
                             i2.Vtotal, i2.type, i2.datamode, i2.lane, i2.ip, i2.nosignal, i2.stable};
    const int32_t expected[] = {1920, 44, 148, 1, 2200, 540, 5, 15, 1, 562, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(std::vector<int32_t>(std::begin(words), std::end(words)),
              std::vector<int32_t>(std::begin(expected), std::end(expected)));
    EXPECT_NEAR(i2.pfreq, 61.82, 0.01);
    EXPECT_EQ(timingBytes(2), (std::vector<uint8_t>{0x80, 0x07, 0x38, 0x04, 50, 0}));   // the frame's height
    EXPECT_EQ(i0.datamode, 1);   // 297 MHz: two pixels per clock
    EXPECT_EQ(i4.lane, 2);
    EXPECT_NEAR(i4.pfreq, 148.5, 0.001);
}

TEST_F(Source, Ite6805GetHdmiRefreshesTheVByOneInputsFromTheRegisterCopy)
{
    plug(5, 1280, 720, 60);
    src->check_source_turn();
    auto record = [&](int p) {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        return src->source_hdminfo[p];
    };
    const hdminfo good = record(5);
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        std::memset(&src->source_hdminfo[5], 0x5A, sizeof(hdminfo));
        std::memset(&src->source_hdminfo[4], 0x5A, sizeof(hdminfo));
    }
    ite6805_drv::iTE6805_Get_Hdmi(2);    // no such receiver
    ite6805_drv::iTE6805_Get_Hdmi(-1);
    EXPECT_EQ(record(5).Hact, 0x5A5A5A5A);
    ite6805_drv::iTE6805_Get_Hdmi(1);
    EXPECT_EQ(std::memcmp(&good, &src->source_hdminfo[5], sizeof good), 0);
    // Input 4 has no signal: its record is zeroed.
    ite6805_drv::iTE6805_Get_Hdmi(0);
    const hdminfo none = record(4);
    EXPECT_EQ(none.Hact, 0);
    EXPECT_EQ(none.pfreq, 0.0f);
    EXPECT_EQ(none.nosignal, 1);
    EXPECT_EQ(none.stable, 1);
}

// The register dump refreshes a V-by-One input's record on the chip thread
// while the source thread rewrites the receiver's register copy under the
// records' lock: the record comes from one whole copy, never from the new
// width and the old height (a 1280x1080 that no source sent).
TEST_F(Source, Ite6805GetHdmiBuildsTheRecordFromOneWholeRegisterCopy)
{
    namespace rx = platform::i2c::rx;
    plug(5, 1920, 1080, 60);
    src->check_source_turn();
    plug(5, 1280, 720, 60);
    hdmi_rx next(board::RECEIVER[5]);
    ASSERT_EQ(next.refresh(src->i2c_fd), 1);
    std::atomic<bool> done{false};
    std::thread dump;
    {
        std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
        std::memcpy(src->receivers[5].regs, next.regs, rx::VACT);   // the horizontal half first
        dump = std::thread([&] {
            ite6805_drv::iTE6805_Get_Hdmi(1);
            done = true;
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (!done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(done.load()) << "published a record while the copy was being written";
        std::memcpy(src->receivers[5].regs + rx::VACT, next.regs + rx::VACT, rx::BLOCK_SIZE - rx::VACT);
    }
    dump.join();
    std::lock_guard<std::mutex> lock(Utils::_source_hdminfo_mutex);
    EXPECT_EQ(src->source_hdminfo[5].Hact, 1280);
    EXPECT_EQ(src->source_hdminfo[5].Vact, 720);
    const hdminfo whole = next.record();
    EXPECT_EQ(std::memcmp(&src->source_hdminfo[5], &whole, sizeof whole), 0);
}

// One unanswered read keeps the picture; a receiver that stays silent has
// lost its input.
TEST_F(Source, SilentReceiverLosesItsInputOnlyWhenItStaysSilent)
{
    plug(2, 1280, 720, 60);
    src->check_source_turn();
    sim::failTransfers(board::RECEIVER[2], tarixsource::RECEIVER_MISSES - 1);
    for (int k = 0; k < tarixsource::RECEIVER_MISSES - 1; ++k)
        src->check_source_turn();
    EXPECT_EQ(timingBytes(2)[0], 0x00);
    EXPECT_EQ(timingBytes(2)[1], 0x05);
    src->check_source_turn();
    sim::failTransfers(board::RECEIVER[2], tarixsource::RECEIVER_MISSES);
    for (int k = 0; k < tarixsource::RECEIVER_MISSES; ++k)
        src->check_source_turn();
    EXPECT_EQ(timingBytes(2), std::vector<uint8_t>(6, 0));
}

TEST_F(Source, SelfChecksSetAndClearTheirStatusBits)
{
    auto status = [&] { return std::vector<uint8_t>(store->status_ram, store->status_ram + 3); };
    store->status_ram[0] = 0x80;
    store->status_ram[1] = 0x9F;
    store->status_ram[2] = 0x06;
    const unsigned checks = sim::checkDevice()->writes();
    EXPECT_EQ(src->it66121_sdi_enable(), 1);
    EXPECT_EQ(src->sourcecheck(), 1);
    src->s5p210_setup();
    EXPECT_EQ(status(), (std::vector<uint8_t>{0x82, 0x3F, 0x07}));
    EXPECT_EQ(sim::transmitter()->reg(board::TX_ENABLE_REG), 1);
    EXPECT_EQ(sim::checkDevice()->writes(), checks + 1);

    sim::failTransfers(board::HDMI_TX, 1);
    sim::failTransfers(board::CHECK_DEVICE, 1);
    EXPECT_EQ(src->it66121_sdi_enable(), 0);
    EXPECT_EQ(src->sourcecheck(), 0);
    EXPECT_EQ(status(), (std::vector<uint8_t>{0x80, 0x1F, 0x07}));
}

TEST_F(Source, ThreadServesRequestsWithoutBeingAsked)
{
    ASSERT_EQ(src->initialize(), 0);
    EXPECT_TRUE(platform::files::exists("/data/edidramtable"));
    src->edid_request[5] = 1;
    src->audio_request = 1;
    // Stored whole, as the register command stores it: the thread is running.
    __atomic_store_n(&store->reg_para[32], reg160::ALL_REINIT, __ATOMIC_RELEASE);
    src->wake();
    EXPECT_TRUE(zemtest::waitFor([&] {
        return src->edid_done[5].load() == 1 && src->audio_request.load() == 0 &&
               __atomic_load_n(&store->reg_para[32], __ATOMIC_ACQUIRE) == 0;
    }, std::chrono::seconds(10)));
    src->stop();
}

// The device backend with a bus on which every address answers, as a board
// whose wiring the program does not know might: the kernel's I2C_RDWR is
// replaced by a recorder, the bus node is a plain file under the test's root.
struct KernelMessage {
    uint16_t addr7;
    bool read;
};
std::mutex g_kernelMutex;
std::vector<KernelMessage> g_kernelMessages;

int recordKernelTransfer(int, const i2c_msg *msgs, unsigned n)
{
    std::lock_guard<std::mutex> lock(g_kernelMutex);
    for (unsigned i = 0; i < n; ++i)
        g_kernelMessages.push_back({msgs[i].addr, (msgs[i].flags & I2C_M_RD) != 0});
    return int(n);
}

class SourceOnTheBoard : public zemtest::RootTest
{
protected:
    void SetUp() override
    {
        platform::configure(platform::Mode::Device, root.dir());
        ::mkdir(root.host("/dev").c_str(), 0755);
        zemtest::writeFile(root.host("/dev/i2c-0"), "");
        g_kernelMessages.clear();
        platform::i2c::testing::setKernelTransfer(&recordKernelTransfer);
        ZemRamPara::resetForTest();
        store = ZemRamPara::pInstance();
        src = tarixsource::pInstance();
        src->i2c_fd = -1;
        g_check_source = 255;
    }
    void TearDown() override
    {
        src->stop();
        Drv_I2C0::I2C_Close(src->i2c_fd);
        src->i2c_fd = -1;
        platform::i2c::testing::setKernelTransfer(nullptr);
        ZemRamPara::resetForTest();
        platform::configure(platform::Mode::Sim, root.dir());
    }
    ZemRamPara *store = nullptr;
    tarixsource *src = nullptr;
};

TEST_F(SourceOnTheBoard, SendsOnlyTheSourceChecksWriteToDevice238)
{
    store->status_ram[0] = 0x02;
    testing::internal::CaptureStderr();
    ASSERT_EQ(src->initialize(), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    // Every request that would reach the simulated board's devices.
    for (int p = 0; p < SOURCE_COUNT; ++p)
        src->request_edid(p);
    store->setWord(para::AUDIO_WINDOW, 0);
    __atomic_store_n(&store->reg_para[32], reg160::SERVED, __ATOMIC_RELEASE);
    src->request_audio();
    // The SDI receiver's reset line, in a file standing in for /dev/mem.
    const std::string mem = root.host("/dev/mem");
    {
        std::ofstream f(mem, std::ios::binary);   // sparse up to the line, which reads 0xFFFF
        f.seekp(tarixsource::SDI_RST_GPIO);
        f.write("\xFF\xFF", 2);
    }
    src->request_sdi_reset();
    EXPECT_TRUE(zemtest::waitFor([&] {
        bool edid = false;
        for (int p = 0; p < SOURCE_COUNT; ++p)
            edid = edid || src->edid_request[p].load() != 0;
        return !edid && src->audio_request.load() == 0 && src->sdi_reset_request.load() == 0 &&
               __atomic_load_n(&store->reg_para[32], __ATOMIC_ACQUIRE) == 0;
    }, std::chrono::seconds(10))) << "requests are served (skipped), not retried";
    src->stop();

    std::lock_guard<std::mutex> lock(g_kernelMutex);
    std::set<int> addresses;   // 8-bit form, read bit included
    for (const KernelMessage &m : g_kernelMessages)
        addresses.insert(m.addr7 << 1 | (m.read ? 1 : 0));
    EXPECT_EQ(addresses, std::set<int>{238});
    EXPECT_EQ(g_kernelMessages.size(), 1u);
    std::ifstream line(mem, std::ios::binary);
    line.seekg(tarixsource::SDI_RST_GPIO);
    EXPECT_EQ(line.get(), 0xFF) << "the reset line is not driven";
    EXPECT_EQ(store->status_ram[1] & 0x20, 0x20);   // the source check passed
    EXPECT_EQ(store->status_ram[0] & 0x02, 0);      // the transmitter test did not run
    for (int p = 0; p < SOURCE_COUNT; ++p)
        EXPECT_EQ(src->edid_done[p].load(), 0) << p;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("device 238"), std::string::npos) << err;
}

} // namespace
