#include "../protocol/proto_fixture.h"
#include "app/utils.h"
#include "platform/devices.h"
#include "protocol/message_deal.h"
#include "support/patience.h"
#include "videoproc/c331_drv.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using pctool::Bytes;
using platform::simfpga::OpKind;

namespace {

struct RecordingSink : card_reply_sink {
    std::vector<Bytes> got;
    void card_reply(const uint8_t *body, uint32_t len) override { got.emplace_back(body, body + len); }
};

class CardSideTest : public ProtoTest
{
};

} // namespace

TEST_F(CardSideTest, CardFramesGoToTheSelectedPorts)
{
    Bytes f = pctool::withXor(pctool::body(0x0001, pctool::PC, 0x10, 0, {1, 2}, 1, 1));
    EXPECT_EQ(card->Dealwith1_PC_to_eth(uint32_t(f.size()), f.data()), 0);
    EXPECT_TRUE(fpga[0]->ops().empty());
    ASSERT_EQ(fpga[1]->ops().size(), 1u);
    EXPECT_EQ(fpga[1]->ops()[0].target, 1);
    EXPECT_EQ(fpga[1]->ops()[0].data, f);

    // Port 255: one frame to every port of each FPGA.
    fpga[1]->clearOps();
    Bytes all = pctool::withXor(pctool::body(0x0001, pctool::PC, 2, 0, {1, 2, 3}, 0, 255));
    EXPECT_EQ(card->Dealwith1_PC_to_eth(uint32_t(all.size()), all.data()), 0);
    for (int n : {0, 1}) {
        SCOPED_TRACE(n);
        ASSERT_EQ(fpga[n]->ops().size(), 1u);
        EXPECT_EQ(fpga[n]->ops()[0].target, 0xFF);
        EXPECT_EQ(fpga[n]->ops()[0].data, Bytes(all.begin() + 12, all.end()));   // command 2: header stripped
    }

    Bytes big(1024, 0);
    fpga[0]->clearOps();
    EXPECT_EQ(card->Dealwith1_PC_to_eth(1024, big.data()), 1);
    EXPECT_TRUE(fpga[0]->ops().empty());
}

// The ports of the multicast word: bits 0, 1 are FPGA 0's ports 0, 1, bits
// 2, 3 FPGA 1's; both ports of one FPGA go out as one frame to all its ports.
TEST_F(CardSideTest, MultiPortSendFollowsTheMulticastWord)
{
    const Bytes f = pctool::withXor(pctool::body(0x0001, pctool::PC, 0x10, 0, {1, 2}));
    auto setMulticast = [&](uint8_t mode, uint32_t word) {
        std::lock_guard<std::mutex> lock(Utils::_fpga_multicast_mutex);
        card->multicast_mode = mode;
        card->multicast_word = word;
    };
    // Target port of the frame each FPGA sent (-1: none).
    auto sent = [&](int n) { return fpga[n]->ops().empty() ? -1 : int(fpga[n]->ops().back().target); };
    const struct {
        uint8_t mode;
        uint32_t word;
        uint8_t result;
        int port0, port1;
    } cases[] = {
        {0, 0x1, 0, 0, -1},    {0, 0x2, 0, 1, -1},  {0, 0x3, 0, 0xFF, -1}, {0, 0x4, 0, -1, 0},
        {0, 0xC, 0, -1, 0xFF}, {0, 0x9, 0, 0, 1},   {0, 0x10, 1, -1, -1},  {1, 0xF, 1, -1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.word);
        fpga[0]->clearOps();
        fpga[1]->clearOps();
        setMulticast(c.mode, c.word);
        EXPECT_EQ(card->multi_port_send(f.data(), uint32_t(f.size())), c.result);
        EXPECT_EQ(sent(0), c.port0);
        EXPECT_EQ(sent(1), c.port1);
    }
    setMulticast(0, 0xF);
    EXPECT_EQ(card->multi_port_send(Bytes(1024, 0).data(), 1024), 1);
    EXPECT_EQ(card->multi_port_send(f.data(), 0), 1);

    // The RAM write's status-page bytes 257..260 set the ports (mode 0).
    setMulticast(2, 0);
    Bytes page(261, 0);
    page[257] = 0x08;
    message_deal deal;
    Bytes req = pctool::ramWrite(0x0001, 0x06000000, page);
    req.resize(2000, 0);
    ASSERT_EQ(deal.message_group_deal(req.data(), 18 + 261, 1), 1u);
    EXPECT_EQ(card->multi_port_send(f.data(), uint32_t(f.size())), 0);
    ASSERT_FALSE(fpga[1]->ops().empty());
    EXPECT_EQ(fpga[1]->ops().back().target, 1);
    EXPECT_EQ(fpga[1]->ops().back().data, f);
}

TEST_F(CardSideTest, EverySpiDeviceRunsInMode3With8BitWords)
{
    ASSERT_TRUE(fpga_drv::open_devices());
    uint8_t uid[8];
    fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(2, uid);   // opens the flash bus
    c331_drv chip;
    chip.initialize();
    using namespace platform::devices;
    for (const char *path : {CHIP_SPI, FPGA_SPI[0], FPGA_SPI[1], FLASH_SPI}) {
        platform::spi::sim::Settings set;
        ASSERT_TRUE(platform::spi::sim::settings(path, set)) << path;
        EXPECT_EQ(set.mode, 3) << path;
        EXPECT_EQ(set.bits, 8) << path;
    }
}

TEST_F(CardSideTest, RepliesAreRoutedToTheOwningLinkOnly)
{
    RecordingSink sink;
    card->set_reply_sink(2, &sink);
    fpga[0]->queueCardReply(1, {1, 2, 3});
    fpga[0]->queueCardReply(1, {4, 5});

    g_passby_trans_port = 255;   // no pass-through pending: nothing routed, frame still taken
    card->reg_IRQ_Dealwith(0, 0);
    EXPECT_TRUE(sink.got.empty());
    EXPECT_EQ(card->reply_ready.load(), 0);

    g_passby_trans_port = 2;
    card->reg_IRQ_Dealwith(0, 0);
    ASSERT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(sink.got[0], (Bytes{4, 5}));
    EXPECT_EQ(card->reply_ready.load(), 1);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
    EXPECT_EQ(fpga[0]->reg(145), 0);

    // An FPGA that is not running is not read.
    fpga[1]->setReg(80, 0);
    fpga[1]->queueCardReply(0, {7});
    g_passby_trans_port = 2;
    card->reg_IRQ_Dealwith(1, 0);
    EXPECT_EQ(sink.got.size(), 1u);
    EXPECT_EQ(fpga[1]->reg(129), 1);
    card->set_reply_sink(2, nullptr);
}

TEST_F(CardSideTest, RegisterReadModifyWriteAndRamPages)
{
    fpga[0]->setReg(10, 0xF0);
    card->write_to_register(10, 0x0F, 0x05, 0);
    EXPECT_EQ(fpga[0]->reg(10), 0xF5);
    EXPECT_EQ(card->reg_shadow(0, 10), 0xF5);
    // Registers 64..127 are kept by the controller: not read back first.
    fpga[0]->setReg(70, 0xFF);
    card->write_to_register(70, 0x01, 0x01, 0);
    EXPECT_EQ(fpga[0]->reg(70), 0x01);
    card->read_from_register(70, 0);
    EXPECT_EQ(card->reg_shadow(0, 70), 0x01);
    card->write_to_register(200, 0xFF, 1, 0);   // no such register: nothing sent
    EXPECT_EQ(fpga[0]->ops().size(), 2u);

    // RAM writes drop address bits 12..15 and read back the same bytes.
    card->write_fpga_ram(Bytes{1, 2, 3}.data(), 0x0103F010, 3, 7, 1);
    EXPECT_EQ(fpga[1]->ops().back().kind, OpKind::RamWrite);
    EXPECT_EQ(fpga[1]->ops().back().address, 0x030010u);
    Bytes back(3);
    card->read_fpga_ram(back.data(), 0x030010, 3, 7, 1);
    EXPECT_EQ(back, (Bytes{1, 2, 3}));
}

// Two threads change different bits of one register (the FPGA thread the
// output bit, a link's register command another bit). Each change must keep
// the other's bit: right after a thread's write the FPGA holds its bit.
TEST_F(CardSideTest, ConcurrentRegisterChangesOfDifferentBitsAreNotLost)
{
    fpga[0]->setReg(5, 0);
    std::atomic<bool> lost{false};
    auto toggle = [&](uint8_t bit) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        for (unsigned i = 0; !lost && std::chrono::steady_clock::now() < until; ++i) {
            uint8_t v = (i & 1) ? bit : 0;
            card->write_to_register(5, bit, v, 0);
            if ((fpga[0]->reg(5) & bit) != v)
                lost = true;
        }
    };
    std::thread a(toggle, uint8_t(0x01));
    std::thread b(toggle, uint8_t(0x02));
    a.join();
    b.join();
    EXPECT_FALSE(lost.load());
}

// A link that is torn down takes itself out of the routing: once that call
// returns, no card reply may still be on its way into the link's object.
TEST_F(CardSideTest, RemovingASinkWaitsForAReplyBeingRoutedToIt)
{
    struct SlowSink : card_reply_sink {
        std::atomic<bool> entered{false}, release{false};
        void card_reply(const uint8_t *, uint32_t) override
        {
            entered = true;
            while (!release)
                std::this_thread::yield();
        }
    } sink;
    card->set_reply_sink(2, &sink);
    fpga[0]->queueCardReply(0, {1, 2, 3});
    g_passby_trans_port = 2;
    std::thread router([&] { card->reg_IRQ_Dealwith(0, 0); });
    auto until = std::chrono::steady_clock::now() + zemtest::patience(std::chrono::seconds(2));
    while (!sink.entered && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ASSERT_TRUE(sink.entered.load());

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        card->set_reply_sink(2, nullptr);
        removed = true;
    });
    until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (!removed && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_FALSE(removed.load());   // still delivering: the sink must stay alive
    sink.release = true;
    router.join();
    remover.join();
    EXPECT_TRUE(removed.load());
}
