#include "../sendcard/flash_fixture.h"

#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/shell.h"
#include "protocol/message_deal.h"
#include "protocol/qy_uart_inout.h"
#include "sendcard/clock_record_run.h"
#include "support/device_process.h"

#include <fcntl.h>

using pctool::Bytes;
using platform::simfpga::OpKind;
using namespace std::chrono_literals;

namespace {

constexpr uint16_t CARD = 0x0001;

class ParaCmdTest : public FlashTest
{
protected:
    // Runs one request body through the dispatcher; the reply bytes from byte 10.
    Bytes run(const Bytes &body)
    {
        std::vector<uint8_t> buf(70000, 0);
        std::copy(body.begin(), body.end(), buf.begin());
        uint32_t n = handler.message_group_deal(buf.data(), uint32_t(body.size()), 2);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + n);
    }
    Bytes pageOf(uint8_t seed)
    {
        Bytes b(fpga_manage::PAGE_SIZE);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = uint8_t(seed ^ (i * 13));
        return b;
    }
    void setShadow(int n, const Bytes &page)
    {
        card->with_pages([&](card_pages &c) { std::copy(page.begin(), page.end(), c.MCU_RAM_PARA_func[n]); });
    }
    Bytes shadow(int n)
    {
        const card_pages c = pages();
        return Bytes(c.MCU_RAM_PARA_func[n], c.MCU_RAM_PARA_func[n] + fpga_manage::PAGE_SIZE);
    }

    message_deal handler;
};

} // namespace

TEST_F(ParaCmdTest, ParameterSaveToTheSecondFpgaLeavesTheFirstFlashAlone)
{
    const Bytes page = pageOf(0x5C);
    setShadow(1, page);
    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x81, 0, {}, 0, 2)), Bytes{0});

    Bytes record = flash[1]->read(0x308000, 1 + fpga_manage::PAGE_SIZE);
    EXPECT_EQ(record[0], 0xAA);
    EXPECT_EQ(Bytes(record.begin() + 1, record.end()), page);
    EXPECT_EQ(flash[0]->programCount(), 0u);
    EXPECT_EQ(flash[0]->eraseCount(), 0u);
    EXPECT_EQ(pages().MCU_RAM_ETH_BACK_PARA_func[1][4], page[8]);   // back image rebuilt
    EXPECT_TRUE(fpga[0]->ops().empty());
    EXPECT_TRUE(fpga[1]->ops().empty());   // a single selection does not reload the FPGA
    EXPECT_TRUE(routesIdle());
}

TEST_F(ParaCmdTest, ParameterSaveToBothReloadsTheFirstFpga)
{
    setShadow(0, pageOf(1));
    setShadow(1, pageOf(2));
    // Stale bytes of an earlier record are erased before the new one is written.
    flash[0]->preset(0x308000, Bytes(64, 0x00));
    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x81, 0, {}, 0, 0)), Bytes{0});
    EXPECT_EQ(flash[0]->read(0x308001, fpga_manage::PAGE_SIZE), pageOf(1));
    EXPECT_EQ(flash[1]->read(0x308001, fpga_manage::PAGE_SIZE), pageOf(2));

    auto ops = fpga[0]->ops();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].kind, OpKind::RamWrite);
    EXPECT_EQ(ops[0].target, 1);
    EXPECT_EQ(ops[0].data, shadow(0));
    EXPECT_EQ(ops[1].kind, OpKind::RegisterWrite);
    EXPECT_EQ(ops[1].target, 2);
    EXPECT_EQ(ops[1].data[0] & 1, 1);
    EXPECT_TRUE(fpga[1]->ops().empty());
}

TEST_F(ParaCmdTest, ParameterSaveThatDoesNotReadBackKeepsTheShadowAndAnswersOne)
{
    const Bytes page = pageOf(0x33);
    setShadow(0, page);
    flash[0]->setWriteProtected(true);
    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x81, 0, {}, 0, 1)), Bytes{1});
    EXPECT_EQ(shadow(0), page);   // not replaced by what the flash holds (erased cells)
    flash[0]->setWriteProtected(false);
    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x81, 0, {}, 0, 1)), Bytes{0});
}

TEST_F(ParaCmdTest, VersionRepliesLocalAndFromTheChosenFpga)
{
    G_timeTicks = 2000;
    g_update_status = 1;
    Bytes local = run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x82, 0));
    EXPECT_EQ(local, (Bytes{0, 1, 8, 0x52, 151, 11, 0, 40, 9, 38, 2, 0, 0, 100, 0, 0, 0}));

    for (const auto &r : {std::pair<uint8_t, uint8_t>{21, 7}, {28, 1}, {29, 2}, {30, 3}, {31, 4}})
        card->set_reg_shadow(1, r.first, r.second);
    Bytes remote = run(pctool::body(CARD, pctool::PC, 0x82, 0, {}, 0, 2));
    EXPECT_EQ(remote, (Bytes{0, 7, 0, 0x43, 11, 11, 1, 2, 3, 4, 0, 0, 0, 100, 0, 0, 0}));
    Bytes first = run(pctool::body(CARD, pctool::PC, 0x82, 0, {}, 1, 2));   // byte 6 set: FPGA 0
    EXPECT_EQ(first[1], 0);
}

TEST_F(ParaCmdTest, IdentityCarriesTheFlashUniqueId)
{
    Bytes r = run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x83, 0));
    const auto uid = flash[0]->uid();
    Bytes expected = {0};
    expected.insert(expected.end(), uid.begin(), uid.end());
    EXPECT_EQ(r, expected);

    fpga_manage *saved = fpga_manage::p_fpga_manage;
    fpga_manage::p_fpga_manage = nullptr;
    EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x83, 0)), Bytes{1});
    EXPECT_TRUE(run(pctool::body(CARD, pctool::PC, 0x83, 0)).empty());
    fpga_manage::p_fpga_manage = saved;
}

TEST_F(ParaCmdTest, UpdateStartLoadsTheDescriptorAndResetsTheFpga)
{
    Bytes desc(256);
    for (size_t i = 0; i < desc.size(); ++i)
        desc[i] = uint8_t(255 - i);
    flash[0]->preset(0x301001, desc);
    G_timeTicks = 500;

    EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x84, 0, {}, 0, 2)), Bytes{0});
    EXPECT_TRUE(fpga[1]->ops().empty());

    Bytes flagOff = pctool::body(CARD, pctool::PC, 0x84, 0x01, {}, 0, 2);   // 11 bytes, bit 1 clear
    EXPECT_EQ(run(flagOff), Bytes{0x01});
    EXPECT_TRUE(fpga[1]->ops().empty());
    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x84, 0x02, {0}, 0, 2)), Bytes{1});   // 12 bytes
    EXPECT_TRUE(fpga[1]->ops().empty());

    Bytes ten = pctool::body(CARD, pctool::PC, 0x84, 0, {}, 0, 2);
    ten.pop_back();
    EXPECT_EQ(run(ten), Bytes{0});
    EXPECT_EQ(fpga[1]->ram(10, 0, 256), desc);
    EXPECT_EQ(fpga[1]->reg(23) & 0x40, 0x40);
    EXPECT_EQ(platform::devmem::sim::peek16(fpga_manage::FPGA_RST_GPIO[1]), fpga_manage::RST_ACTIVE);
    EXPECT_EQ(card->reset_pending[1].load(), 1);
    EXPECT_EQ(card->reset_tick[1].load(), 500u);
    EXPECT_TRUE(fpga[0]->ops().empty());

    EXPECT_EQ(run(pctool::body(CARD, pctool::PC, 0x84, 0x02, {}, 0, 1)), Bytes{0});   // flag bit 1 set
    EXPECT_EQ(fpga[0]->ram(10, 0, 256), desc);
}

TEST_F(ParaCmdTest, ClockSetRunsDateAndHwclockAndMarksTheRunLog)
{
    platform::shell::sim::clearLog();
    const uint32_t seq = clock_record_word(5);
    Bytes r = run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24, {0x20, 0x12, 0x31, 0x23, 0x59, 0x05}));
    EXPECT_EQ(r, Bytes{0});
    EXPECT_EQ(platform::shell::sim::log(), std::vector<std::string>{"date \"2024-12-31 23:59:5\";hwclock -wu"});
    EXPECT_EQ(clock_record_word(5), seq + 1);
}

TEST_F(ParaCmdTest, ClockSetRefusesDigitsOutOfRange)
{
    platform::shell::sim::clearLog();
    const Bytes bad[] = {
        {0x20, 0x12, 0x31, 0x23, 0x5A, 0x05},   // minute digit A
        {0x20, 0x13, 0x31, 0x23, 0x59, 0x05},   // month 13
        {0x20, 0x12, 0x31, 0x24, 0x59, 0x05},   // hour 24
        {0x2F, 0x12, 0x31, 0x23, 0x59, 0x05},   // century digit F
    };
    for (const Bytes &b : bad)
        EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24, b)), Bytes{1});
    Bytes shortBody = pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24, {0x20, 0x12});
    EXPECT_EQ(run(shortBody), Bytes{1});
    EXPECT_TRUE(platform::shell::sim::log().empty());
}

TEST_F(ParaCmdTest, ClockSetOverTheRs485LinkAsThePcToolSendsIt)
{
    platform::ensureDir("/dev");
    zemtest::PtyLink pty(root.host("/dev/ttyS2"));
    ASSERT_TRUE(pty.ok());
    Qy_uart_inout link;
    ASSERT_EQ(link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    platform::shell::sim::clearLog();

    Bytes req = pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24, {0x20, 0x12, 0x31, 0x23, 0x59, 0x05});
    ASSERT_TRUE(pctool::writeAll(pty.master(), pctool::frame(req)));
    Bytes reply = pctool::decode(pctool::readFrames(pty.master(), 1, zemtest::patience(2000ms)));
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(reply[9], 0x87);
    EXPECT_EQ(reply[10], 0);
    EXPECT_EQ(platform::shell::sim::log(), std::vector<std::string>{"date \"2024-12-31 23:59:5\";hwclock -wu"});
}
