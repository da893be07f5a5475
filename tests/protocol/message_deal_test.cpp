#include "cloud/message_deal_4g.h"
#include "protocol/message_deal.h"
#include "proto_fixture.h"
#include "support/blocked_call.h"

#include <QApplication>
#include <QDate>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <future>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using pctool::Bytes;
using platform::simfpga::OpKind;

namespace {

constexpr uint16_t REMOTE = 0x0001;

class HandlerTest : public ProtoTest
{
protected:
    // Runs one request through the dispatcher; the reply bytes from byte 10.
    Bytes run(const Bytes &request, uint32_t *resultOut = nullptr)
    {
        buf.assign(70000, 0xEE);
        std::copy(request.begin(), request.end(), buf.begin());
        uint32_t r = deal.message_group_deal(buf.data(), uint32_t(request.size()), 1);
        if (resultOut)
            *resultOut = r;
        return Bytes(buf.begin() + 10, buf.begin() + 10 + r);
    }

    message_deal deal;
    Bytes buf;
};

} // namespace

TEST_F(HandlerTest, LocalRamWriteThenReadAndWindowLimits)
{
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 100, {1, 2, 3})), Bytes{0});
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 100, 3)), (Bytes{0, 1, 2, 3}));
    // 4 bytes at 4094 are refused and change nothing; 2 fit.
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 4094, {9, 9, 9, 9})), Bytes{1});
    EXPECT_EQ(store->ram_para[4094], 0);
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 4094, {9, 9})), Bytes{0});
    // AA AA at 0x3000 marks user mode 3 saved; a read at 0x3000 shows it.
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 0x3000, {0xAA, 0xAA})), Bytes{0});
    EXPECT_EQ(store->user_mode_ram[2][0], 0xAA);
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x3000, 2)), (Bytes{0, 0xAA, 0xAA}));
    // 4G block: stored from its start; past the window refused.
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 0xA1000000, {0xAA, 7})), Bytes{0});
    EXPECT_EQ(g_4G_RAM[1], 7);
    EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, 0xA10000FF, {1, 2})), Bytes{1});
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0xA1000000, 2)), (Bytes{0, 0xAA, 7}));
    // The window hands out block byte i at read position i: a read from 256
    // bytes below it reaches the window at position 256, past the block's
    // 256 bytes, so the whole reply is zero.
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0xA0FFFF00, 0x180)), Bytes(0x181, 0));
}

TEST_F(HandlerTest, ImageCommandsWaitForTheImageLock)
{
    // While another link holds the image's lock, the local RAM
    // write and read of the image and the slots, the read of the status
    // page (the font byte), the wall's size in the device-information block
    // and the factory restore of register 16, wait: neither side sees half
    // of the other's values.
    const Bytes requests[] = {
        pctool::ramWrite(pctool::CONTROLLER, 100, {1, 2}),
        pctool::ramRead(pctool::CONTROLLER, 100, 2),
        pctool::ramWrite(pctool::CONTROLLER, 0x1000, {0xAA, 0xAA}),
        pctool::ramRead(pctool::CONTROLLER, 0x1000, 2),
        pctool::ramRead(pctool::CONTROLLER, 0x600886, 1),
        pctool::ramRead(pctool::CONTROLLER, 0xA0000080, 4),
        pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 16, {0x01, 0, 0x01}),
    };
    for (const Bytes &request : requests) {
        SCOPED_TRACE(::testing::Message() << "command " << int(request[9]) << " at " << para::get32(request.data(), 10));
        auto lock = std::make_unique<ParaLock>();
        zemtest::BlockedCall call([&] { run(request); });
        EXPECT_TRUE(call.waits());
        lock.reset();
        EXPECT_TRUE(call.finishes());
    }
}

// A count one byte past the body, or a request too short for its address
// and count, is refused with its error answer and changes nothing.
TEST_F(HandlerTest, RamRequestsRunningPastTheirBodyAreRefused)
{
    Bytes req = pctool::ramWrite(pctool::CONTROLLER, 0, {1, 2, 3, 4});
    req[14] = 5;   // claims 5 bytes, carries 4
    EXPECT_EQ(run(req), Bytes{1});
    EXPECT_EQ(store->ram_para[0], 0);
    req[14] = 4;
    EXPECT_EQ(run(req), Bytes{0});
    EXPECT_EQ(store->ram_para[3], 4);
    EXPECT_EQ(run(Bytes(req.begin(), req.begin() + 17)), Bytes{1});

    // A read needs bytes 10-15 (address and count); 16 bytes are enough.
    const Bytes read = pctool::ramRead(pctool::CONTROLLER, 0, 2);
    EXPECT_EQ(run(Bytes(read.begin(), read.begin() + 16)), (Bytes{0, 1, 2}));
    EXPECT_EQ(run(Bytes(read.begin(), read.begin() + 15)), Bytes{1});
}

// A count of 0 is accepted by every window and copies nothing (the copy
// must never be made from a null pointer).
TEST_F(HandlerTest, RamWriteOfNoBytesChangesNothingInAnyWindow)
{
    const uint8_t before4g = g_4G_RAM[0];
    for (uint32_t address : {0u, 0x3000u, 0xA1000000u})
        EXPECT_EQ(run(pctool::ramWrite(pctool::CONTROLLER, address, {})), Bytes{0}) << std::hex << address;
    EXPECT_EQ(store->ram_para[0], 0);
    EXPECT_EQ(g_4G_RAM[0], before4g);
    for (uint32_t address : {0u, 0x800u, 0x01002000u, 0x02000000u, 0x04000000u, 0x05000000u, 0x06000000u})
        EXPECT_EQ(run(pctool::ramWrite(REMOTE, address, {})), Bytes{0}) << std::hex << address;
    EXPECT_EQ(pages().MCU_RAM_PARA_func[0][0], 0);
}

// A slot read names the record of its start address and runs on through
// the 4098-byte records as they lie back to back.
TEST_F(HandlerTest, LocalSlotReadsRunOnThroughTheRecordsBackToBack)
{
    for (auto &slot : store->user_mode_ram)
        std::memset(slot, 0, para::SLOT_SIZE);
    store->user_mode_ram[0][0] = 0xAA;
    store->user_mode_ram[0][1] = 0xAB;
    const Bytes tail1 = {1, 2, 3, 4, 5, 6};   // user mode 1's record bytes 4092..4097
    std::copy(tail1.begin(), tail1.end(), store->user_mode_ram[0] + 4092);
    store->user_mode_ram[1][0] = store->user_mode_ram[1][1] = 0xAA;
    store->user_mode_ram[1][4097] = 0x97;
    store->user_mode_ram[2][0] = 0xCC;
    store->user_mode_ram[15][4095] = 0x77;
    store->ram_para[4095] = 0x42;
    const struct {
        uint32_t address;
        uint16_t len;
        Bytes reply;
    } cases[] = {
        {0x1FFC, 8, {0, 1, 2, 3, 4, 5, 6, 0xAA, 0xAA}},    // mode 1's last six bytes, then mode 2's mark
        {0x1000, 2, {0, 0xAA, 0xAB}},
        {0x2000, 1, {0, 0xAA}},                             // a read of its own names mode 2
        {0x2FFF, 4, {0, 0, 0, 0x97, 0xCC}},                 // mode 2's bytes 4095..4097, mode 3's first
        {4095, 3, {0, 0x42, 0xAA, 0xAB}},                   // from the image into mode 1's record
        {0x10FFF, 2, {0, 0x77, 0}},                         // nothing of the records past the window
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, c.address, c.len)), c.reply) << std::hex << c.address;
    // A whole record read at its own address ends with its own last two
    // bytes, not with the next record's mark.
    const Bytes whole = run(pctool::ramRead(pctool::CONTROLLER, 0x2000, 4098));
    ASSERT_EQ(whole.size(), 4099u);
    EXPECT_EQ(Bytes(whole.end() - 3, whole.end()), (Bytes{0, 0, 0x97}));
}

TEST_F(HandlerTest, LongLocalReadsEqualTheirSingleByteReads)
{
    std::mt19937 gen(3);
    for (auto &v : store->ram_para) v = uint8_t(gen());
    for (auto &slot : store->user_mode_ram)
        for (auto &v : slot) v = uint8_t(gen());
    for (auto &v : store->status_ram) v = uint8_t(gen());
    for (auto &v : g_4G_RAM) v = uint8_t(gen());
    // Spans crossing the image into a slot, gaps and the descriptor, port
    // and status blocks (a span across a slot's end runs on into the next
    // record, unlike its single bytes).
    const std::pair<uint32_t, uint16_t> spans[] = {
        {0xF00, 0x300}, {0x1F00, 0x100}, {0x10F00, 0x200}, {0x5FFFF0, 0xD00}, {0x600C70, 0x40}, {0, 4096}};
    for (const auto &s : spans) {
        Bytes whole = run(pctool::ramRead(pctool::CONTROLLER, s.first, s.second));
        ASSERT_EQ(whole.size(), size_t(s.second) + 1);
        for (uint32_t k = 0; k < s.second; ++k) {
            Bytes one = run(pctool::ramRead(pctool::CONTROLLER, s.first + k, 1));
            ASSERT_EQ(whole[1 + k], one[1]) << std::hex << s.first + k;
        }
    }
    // The 4G window is indexed by the position in the read; bytes past it read 0.
    Bytes tail = run(pctool::ramRead(pctool::CONTROLLER, 0xA10000F0, 0x20));
    EXPECT_EQ(Bytes(tail.begin() + 1, tail.begin() + 17), Bytes(g_4G_RAM, g_4G_RAM + 16));
    EXPECT_EQ(Bytes(tail.begin() + 17, tail.end()), Bytes(16, 0));
}

TEST_F(HandlerTest, DescriptorBlocksAndLimits)
{
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2)), (Bytes{0, 0x52, 0x97}));
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x600000, 7)), (Bytes{0, 6, 3, 9, 9, 8, 8, 0}));
    g_lcd_lang_valid = 0x2001F;
    Bytes cap = run(pctool::ramRead(pctool::CONTROLLER, 0x600040, 60));
    EXPECT_EQ(cap[1], 0x1F);
    EXPECT_EQ(cap[1 + 58], 2);
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x800002, 4)), (Bytes{0, 0x40, 0x01, 0xF0, 0x00}));
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0, 0)), Bytes{0});
    // A read longer than the link can carry back is refused.
    deal.set_reply_capacity(100);
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0, 100)).size(), 2u);
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0, 100))[0], 1);
}

TEST_F(HandlerTest, DeviceInformationBlock)
{
    card->set_reg_shadow(0, 28, 0x28);
    card->set_reg_shadow(0, 31, 0x31);
    store->setWord(1378, 0x0102);
    g_update_status = 1;
    Bytes r = run(pctool::ramRead(pctool::CONTROLLER, 0xA0000000, 0x88));
    g_update_status = 0;
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1 + 0x00], 0);   // FPGA 0 not running
    EXPECT_EQ(r[1 + 0x04], 0x52);
    EXPECT_EQ(r[1 + 0x05], 0x97);
    // Offsets 0x0F to 0x13: 0, start-up state, 8, then the controller type.
    EXPECT_EQ(Bytes(r.begin() + 1 + 0x0F, r.begin() + 1 + 0x14), (Bytes{0, 1, 8, 0x52, 0x97}));
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0xA0000010, 1)), (Bytes{0, 0}));
    EXPECT_EQ(r[1 + 0x2C], 0x31);
    EXPECT_EQ(r[1 + 0x2F], 0x28);
    EXPECT_EQ(r[1 + 0x80], 0x01);
    EXPECT_EQ(r[1 + 0x81], 0x02);
    // FPGA 0 running and started: ready, with or without cloud files.
    card->set_reg_shadow(0, 80, 3);
    card->vbyone_ready[0] = 1;
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0xA0000000, 1)), (Bytes{0, 0xAA}));
    card->vbyone_ready[0] = 0;
}

TEST_F(HandlerTest, DeviceInformationBlockCutsOverlongCloudTexts)
{
    // Texts from the configuration store can be longer than the block: they
    // are cut at its end, and nothing is written past it.
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_Kumo_cloudserverip = QString(6000, QLatin1Char('a'));
        g_Kumo_clouduserid = QStringLiteral("user");
    }
    g_Kumo_cloudserverport = 0x1234;
    Bytes r = run(pctool::ramRead(pctool::CONTROLLER, 0xA0000000, 0x1000));
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_Kumo_cloudserverip = QStringLiteral(" ");
        g_Kumo_clouduserid = QStringLiteral(" ");
    }
    g_Kumo_cloudserverport = 0;
    ASSERT_EQ(r.size(), 0x1001u);
    EXPECT_EQ(r[1 + 0x84], uint8_t(6000));
    EXPECT_EQ(r[1 + 0x85], 'a');
    EXPECT_EQ(r[0x1000], 'a');
}

TEST_F(HandlerTest, RemoteParameterPageWriteMirrorsAndReachesBothFpgas)
{
    Bytes data(8, 0);
    for (int i = 0; i < 8; ++i)
        data[i] = uint8_t(0x10 + i);
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 4, data)), Bytes{0});
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(pages().MCU_RAM_PARA_func[i][8], 0x14);
        EXPECT_EQ(pages().MCU_RAM_ETH_BACK_PARA_func[i][4], 0x14);   // offset 8 mirrors to 4
        EXPECT_EQ(pages().MCU_RAM_ETH_BACK_PARA_func[i][6], 0x16);
        EXPECT_EQ(fpga[i]->ram(1, 4, 8), data);
    }
    // Byte 6 set: FPGA 0 only.
    fpga[1]->clearOps();
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0, {1}, 5, 2)), Bytes{0});
    EXPECT_TRUE(fpga[1]->ops().empty());
}

TEST_F(HandlerTest, CardPagesAreReachedOnlyUnderTheirOwnerLock)
{
    // The FPGA thread and every link use the shadows and page buffers: a
    // command waits while another thread holds their owner lock.
    card->set_reg_shadow(0, 80, 3);
    const Bytes requests[] = {
        pctool::ramWrite(REMOTE, 8, {1, 2}),                 // parameter page and its mirror
        pctool::ramWrite(REMOTE, 0x06000000, Bytes(4, 1)),   // status page
        pctool::ramWrite(REMOTE, 0x05000000, {7}),           // command page
        pctool::ramRead(REMOTE, 0, 4),                       // parameter page with the overlay
        pctool::ramRead(REMOTE, 0x800, 4),                   // status page refresh
        pctool::body(REMOTE, pctool::PC, 0xA1, 21, {0}),     // register read
    };
    for (const Bytes &request : requests) {
        SCOPED_TRACE(::testing::Message() << "command " << int(request[9]) << " at " << para::get32(request.data(), 10));
        std::promise<void> release;
        std::atomic<bool> held{false};
        std::thread holder([&] {
            card->with_pages([&](card_pages &) {
                held = true;
                release.get_future().wait();
            });
        });
        while (!held)
            std::this_thread::yield();
        zemtest::BlockedCall call([&] { run(request); });
        EXPECT_TRUE(call.waits());
        release.set_value();
        holder.join();
        EXPECT_TRUE(call.finishes());
    }
}

TEST_F(HandlerTest, RemoteAccessStaysInsideItsPage)
{
    // Status page at 0x800: 1024 bytes fit, 1025 do not.
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x800, Bytes(1024, 1))), Bytes{0});
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x800, Bytes(1025, 1))), Bytes{1});
    // A write's address bits 16..23, or a bank on a page type without banks,
    // would carry it past its page: refused.
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x00010000, {1})), Bytes{1});
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x06001000, {1})), Bytes{1});
    // Type 1 with bank 0: accepted, nothing written.
    fpga[0]->clearOps();
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x01000000, {1})), Bytes{0});
    EXPECT_TRUE(fpga[0]->ops().empty());
}

// Bits 28..31 of the address select no page: a type-0 write there lands at
// its parameter-page offset, not before the status page.
TEST_F(HandlerTest, RemoteWriteWithHighAddressBitsStaysInTheParameterPage)
{
    card->multicast_mode = 3;
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x10000100, {1, 2, 3, 4}, 0, 1)), Bytes{0});
    const card_pages c = pages();
    EXPECT_EQ(Bytes(c.MCU_RAM_PARA_func[0] + 0x100, c.MCU_RAM_PARA_func[0] + 0x104), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(fpga[0]->ram(1, 0x100, 4), (Bytes{1, 2, 3, 4}));
    const Bytes statusPage(c.MCU_RAM_EXTEND, c.MCU_RAM_EXTEND + fpga_manage::PAGE_SIZE);
    EXPECT_EQ(statusPage, Bytes(fpga_manage::PAGE_SIZE, 0));
    EXPECT_EQ(card->multicast_mode, 3);   // no status-page follow-up
}

// Remote reads are answered from the page offset O = A & 0xFFF whatever the
// bank nibble or bits 16..23 hold; only a read leaving its page is refused.
TEST_F(HandlerTest, RemoteReadsAreAnsweredFromThePageOffset)
{
    card->set_reg_shadow(0, 80, 3);
    fpga[0]->setRam(1, 0x100, {1, 2, 3, 4});
    fpga[0]->setRam(50, 0x10, {13, 14, 15, 16});
    const uint8_t cmdPage[4] = {5, 6, 7, 8}, status[4] = {9, 10, 11, 12};
    card->with_pages([&](card_pages &c) {
        std::memcpy(c.MCU_RAM_CMD, cmdPage, 4);
        std::memcpy(c.MCU_RAM_EXTEND + 0x100, status, 4);
    });
    const struct {
        uint32_t address;
        uint16_t len;
        Bytes reply;
    } cases[] = {
        {0x00FF0100, 4, {0, 1, 2, 3, 4}},       // parameter page, bits 16..23 set
        {0x00003100, 4, {0, 1, 2, 3, 4}},       // parameter page, bank 3
        {0x04005010, 4, {0, 13, 14, 15, 16}},   // transmit page, bank 5
        {0x05A07010, 4, {0, 5, 6, 7, 8}},       // command page
        {0x06AB1100, 4, {0, 9, 10, 11, 12}},    // status page by type 6
        {0x00FF0900, 4, {0, 9, 10, 11, 12}},    // status page from 0x800
        {0x00000C00, 0, {0}},                   // status page end, nothing read
    };
    for (const auto &c : cases)
        EXPECT_EQ(run(pctool::ramRead(REMOTE, c.address, c.len)), c.reply) << std::hex << c.address;
    // Leaving the page: status 1, length 2.
    for (auto r : {std::make_pair(0x03F0u, 32), std::make_pair(0x06FF03F0u, 32), std::make_pair(0x00FF0C00u, 1)}) {
        Bytes reply = run(pctool::ramRead(REMOTE, r.first, uint16_t(r.second)));
        ASSERT_EQ(reply.size(), 2u) << std::hex << r.first;
        EXPECT_EQ(reply[0], 1);
    }
    EXPECT_EQ(run(pctool::ramRead(REMOTE, 0x03F0, 16)).size(), 17u);
}

TEST_F(HandlerTest, StatusPageWriteSetsMulticastAndClearsBit6)
{
    Bytes data(262, 0);
    data[49] = 0xFF;
    data[257] = 0x78; data[258] = 0x56; data[259] = 0x34; data[260] = 0x12;
    card->multicast_mode = 3;
    EXPECT_EQ(run(pctool::ramWrite(REMOTE, 0x06000000, data)), Bytes{0});
    EXPECT_EQ(card->multicast_mode, 0);
    EXPECT_EQ(card->multicast_word, 0x12345678u);
    EXPECT_EQ(pages().MCU_RAM_EXTEND[49], 0xBF);
    // Reading the status page refreshes the controller-kept bytes.
    card->set_reg_shadow(0, 64, 0x5C);
    Bytes r = run(pctool::ramRead(REMOTE, 0x800, 100));
    EXPECT_EQ(r[1 + 49], 0x9F);
    EXPECT_EQ(r[1 + 72], 1);
    EXPECT_EQ(r[1 + 28], 0x5C);
    EXPECT_EQ(r[1 + 95], 0xFF);
}

TEST_F(HandlerTest, RemoteParameterReadOverlaysBackImage)
{
    card->set_reg_shadow(0, 80, 3);
    fpga[0]->setRam(1, 0, Bytes(16, 0x33));
    card->with_pages([](card_pages &c) { c.MCU_RAM_ETH_BACK_PARA_func[0][7] = 0x99; });   // overlays offset 11
    Bytes r = run(pctool::ramRead(REMOTE, 0, 16));
    EXPECT_EQ(r[1 + 0], 0x33);
    EXPECT_EQ(r[1 + 11], 0x99);
    // Not running: zeros.
    card->set_reg_shadow(0, 80, 0);
    EXPECT_EQ(run(pctool::ramRead(REMOTE, 0, 4)), (Bytes{0, 0, 0, 0, 0}));
}

// While one output pair carries the wall, a parameter-page read halves the
// word at 116. The links read the flag under the image's lock, where the
// chip thread publishes it with the panel values it writes back.
TEST_F(HandlerTest, ParameterPageReadHalvesWord116WhileOnePairCarriesTheWall)
{
    card->set_reg_shadow(0, 80, 3);
    fpga[0]->setRam(1, 114, {0x11, 0x22, 0x35, 0x0F});   // word 0x0F35 at 116
    EXPECT_EQ(run(pctool::ramRead(REMOTE, 114, 4)), (Bytes{0, 0x11, 0x22, 0x35, 0x0F}));
    chip->gPanel.use1och = 1;
    chip->zemApi_WriteRam(para::LED_SPLICE);
    EXPECT_EQ(run(pctool::ramRead(REMOTE, 114, 4)), (Bytes{0, 0x11, 0x22, 0x9A, 0x07}));
    EXPECT_EQ(run(pctool::ramRead(REMOTE, 117, 1)), (Bytes{0, 0x07}));

    auto lock = std::make_unique<ParaLock>();
    zemtest::BlockedCall call([&] { run(pctool::ramRead(REMOTE, 116, 2)); });
    EXPECT_TRUE(call.waits());
    lock.reset();
    EXPECT_TRUE(call.finishes());
}

TEST_F(HandlerTest, SingleParameterWrite)
{
    const uint16_t preset = store->word(2184);
    uint16_t v = preset == 1 ? 2 : 1;
    Bytes req = pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 6, 150, 0, 10, uint8_t(v), 0});
    EXPECT_EQ(run(req), (Bytes{0, 0x31}));
    EXPECT_EQ(store->word(2184), v);
    EXPECT_EQ(store->word(2176), 0);
    EXPECT_EQ(chip->para_changed, 1);

    // Nothing changes: still 00 31, no apply request.
    chip->para_changed = 0;
    EXPECT_EQ(run(req), (Bytes{0, 0x31}));
    EXPECT_EQ(chip->para_changed, 0);

    // An entry cut short by the end of the body is ignored.
    Bytes cut = pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 10, 3, 0, 6, 50});
    EXPECT_EQ(run(cut), (Bytes{0, 0x31}));
    EXPECT_EQ(store->word(2176), 0);

    // Audio entry with no window 0..5 named at 2112: skipped.
    chip->para_changed = 0;
    store->ram_para[2112] = 9;
    Bytes audio = pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 93, 1, 0});
    EXPECT_EQ(run(audio), (Bytes{0, 0x31}));
    EXPECT_EQ(chip->para_changed, 0);
    store->ram_para[2112] = 2;
    run(audio);
    EXPECT_EQ(store->word(2292 + 26 * 2), 0x8064);

    // Wrong sub-command or short body: 01.
    EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x30, {0, 6, 1, 0})), Bytes{1});
    EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0})), Bytes{1});
}

// Each id of the single-parameter write changes exactly its own word of the
// image and raises the apply request; the first value past its range
// changes nothing. Offsets and ranges as the PC tool's table gives them.
TEST_F(HandlerTest, EverySingleParameterIdWritesExactlyItsWord)
{
    auto b0 = [](uint8_t id, uint16_t v) {
        return pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, id, uint8_t(v), uint8_t(v >> 8)});
    };
    auto image = [&] { return Bytes(store->ram_para, store->ram_para + sizeof store->ram_para); };
    store->ram_para[2112] = 2;   // the audio entry acts on window 2
    const struct {
        uint8_t id;
        uint16_t value;
        uint32_t offset;
        uint16_t word;
        int pastRange;   // -1: every value is taken
    } cases[] = {
        {6, 100, 2176, 100, 101},   {10, 3, 2184, 3, 4},        {11, 100, 2186, 100, 101},
        {12, 100, 2188, 100, 101},  {13, 100, 2190, 100, 101},  {21, 5, 2280, 5, 6},
        {29, 5, 2306, 5, 6},        {37, 5, 2332, 5, 6},        {45, 5, 2358, 5, 6},
        {50, 5, 2384, 5, 6},        {51, 5, 2410, 5, 6},        {60, 1, 2116, 0, 2},
        {60, 0, 2116, 1, 2},        {93, 7, 2344, 0x8064, -1},  {93, 0, 2344, 0, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "id " << int(c.id) << " value " << c.value);
        para::set16(store->ram_para, c.offset, uint16_t(c.word ^ 0x5A5A));
        Bytes expect = image();
        para::set16(expect.data(), c.offset, c.word);
        chip->para_changed = 0;
        EXPECT_EQ(run(b0(c.id, c.value)), (Bytes{0, 0x31}));
        EXPECT_EQ(image(), expect);
        EXPECT_EQ(chip->para_changed, 1);
        if (c.pastRange < 0)
            continue;
        chip->para_changed = 0;
        para::set16(store->ram_para, c.offset, uint16_t(c.word ^ 0x5A5A));
        para::set16(expect.data(), c.offset, uint16_t(c.word ^ 0x5A5A));
        EXPECT_EQ(run(b0(c.id, uint16_t(c.pastRange))), (Bytes{0, 0x31}));
        EXPECT_EQ(image(), expect);
        EXPECT_EQ(chip->para_changed, 0);
    }

    // Id 54 recalls a saved user mode: values 0-7 name slots 0-7, 16-23
    // slots 8-15; the slot's data become bytes 896-4095, word 866 the mode
    // number, word 868 (save request) 0. Values 8-15 and unsaved slots are skipped.
    const std::pair<uint16_t, int> recalls[] = {{0, 0}, {7, 7}, {16, 8}, {23, 15}, {8, -1}, {24, -1}, {3, -1}};
    for (const auto &r : recalls) {
        SCOPED_TRACE(::testing::Message() << "recall value " << r.first);
        for (int s = 0; s < 16; ++s) {
            std::memset(store->user_mode_ram[s], 0x10 + s, para::SLOT_SIZE);
            store->user_mode_ram[s][0] = store->user_mode_ram[s][1] = s == 3 ? 0 : 0xAA;
        }
        para::set16(store->ram_para, 868, 2);
        Bytes expect = image();
        if (r.second >= 0) {
            std::memset(expect.data() + 896, 0x10 + r.second, 3200);
            para::set16(expect.data(), 866, uint16_t(r.second + 1));
            para::set16(expect.data(), 868, 0);
        }
        chip->para_changed = 0;
        EXPECT_EQ(run(b0(54, r.first)), (Bytes{0, 0x31}));
        EXPECT_EQ(image(), expect);
        EXPECT_EQ(chip->para_changed, r.second >= 0 ? 1 : 0);
    }
}

// The status page's clock bytes, read by the PC tool: year in BCD (bytes 16
// and 17, low two digits first), then month and day in bytes 18 and 19.
TEST_F(HandlerTest, StatusPageCarriesTheDateInItsPlaces)
{
    auto bcdOf = [](int v) { return uint8_t(QString::number(v).toUInt(nullptr, 16)); };
    Bytes r;
    QDate today;
    do {   // read again should the date turn over during the read
        today = QDate::currentDate();
        r = run(pctool::ramRead(REMOTE, 0x800 + 16, 8));
    } while (today != QDate::currentDate());
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], bcdOf(today.year() % 100));
    EXPECT_EQ(r[2], bcdOf(today.year() / 100));
    EXPECT_EQ(r[3], bcdOf(today.month()));
    EXPECT_EQ(r[4], bcdOf(today.day()));
    EXPECT_EQ(r[8], 0);
}

TEST_F(HandlerTest, UnknownCommandsAndSubcommandsGiveNoReply)
{
    for (uint8_t cmd : {0x00, 0x62, 0xFF}) {
        uint32_t r = 9;
        run(pctool::body(pctool::CONTROLLER, pctool::PC, cmd, 0), &r);
        EXPECT_EQ(r, 0u);
    }
    for (auto cs : {std::make_pair(0xA2, 33), std::make_pair(0xA4, 2), std::make_pair(0xC0, 0), std::make_pair(0xC0, 11)}) {
        uint32_t r = 9;
        run(pctool::body(pctool::CONTROLLER, pctool::PC, uint8_t(cs.first), uint8_t(cs.second)), &r);
        EXPECT_EQ(r, 0u);
    }
}

TEST_F(HandlerTest, CaptureFailsCleanlyWithoutApplicationThenWorks)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(screen_capture::take(), screen_capture::Result::Failed);
    // A header read whose capture fails is refused (byte 11 as the request left it).
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x800000, 16)), (Bytes{1, 0}));
    static int argc = 1;
    static char name[] = "test";
    static char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QWidget panel(nullptr, Qt::FramelessWindowHint);   // stands in for the front panel
    panel.setGeometry(0, 0, 320, 240);
    panel.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(screen_capture::take(), screen_capture::Result::Taken);
    Bytes header = run(pctool::ramRead(pctool::CONTROLLER, 0x800000, 16));
    EXPECT_EQ(header[1], 0xAA);
    uint32_t len = header[13] | (header[14] << 8) | (header[15] << 16) | (uint32_t(header[16]) << 24);
    ASSERT_GT(len, 0u);
    Bytes data = run(pctool::ramRead(pctool::CONTROLLER, 0x800080, uint16_t(2 + len)));
    EXPECT_EQ(data[1], 0xAA);
    EXPECT_EQ(data[2], 0xAA);
    QImage img;
    ASSERT_TRUE(img.loadFromData(data.data() + 3, int(len), "PNG"));
    EXPECT_EQ(img.width(), 320);
    EXPECT_EQ(img.height(), 240);

    // Once the picture cannot be saved, a header read is refused rather
    // than answered with the last picture.
    ASSERT_EQ(::unlink(root.host("/123.png").c_str()), 0);
    ASSERT_EQ(::mkdir(root.host("/123.png").c_str(), 0755), 0);
    EXPECT_EQ(run(pctool::ramRead(pctool::CONTROLLER, 0x800000, 16)), (Bytes{1, 0}));
}
