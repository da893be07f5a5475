// Test and debug register sequences on the simulated chip, run directly and
// through the controller's debug registers.

#include "setter_fixture.h"

using namespace chiptest;

namespace {

constexpr int REG_165 = 33;   // offsets in the controller's register file
constexpr int REG_162 = 34;

class DebugSeqTest : public SetterTest
{
protected:
    void SetUp() override
    {
        SetterTest::SetUp();
        std::memset(store->reg_para, 0, para::REGISTER_FILE_SIZE);
        syncSnapshot();
    }
    // One apply pass of a running manager with nothing changed in the image.
    void applyPass()
    {
        m->setup_state = 8;
        m->para_changed = 1;
        m->run_turn();
    }
    uint32_t och(uint32_t descriptor, int n) const { return chip->value(descriptor, 16 * n); }
};

TEST_F(DebugSeqTest, SlideBarsProgramThePatternGenerators)
{
    m->output_slidebar(m->c331_fd);
    const uint32_t colour[4][3] = {{0xFF, 0xFF, 0xFF}, {0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0xFF}};
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(och(0x085701, n), 9u);
        EXPECT_EQ(och(0x085B02, n), 160u);
        EXPECT_EQ(och(0x085F02, n), 32u);
        EXPECT_EQ(och(0x086102, n), 1376u);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(och(0x086301 + 0x100u * k, n), colour[n][k]);
            EXPECT_EQ(och(0x086601 + 0x100u * k, n), colour[n][k] ? 3u : 0u);
        }
    }
    m->input_slidebar(m->c331_fd);
    EXPECT_EQ(och(0x085701, 4), 0x89u);
    EXPECT_EQ(och(0x086102, 5), 2752u);
    EXPECT_EQ(och(0x086301, 5), 0u);
    EXPECT_EQ(och(0x086401, 5), 0xFFu);

    chip->setReg(0x68, 0x57, 7);
    m->disable_slidebar(m->c331_fd);
    for (int n = 0; n < 6; ++n)
        EXPECT_EQ(och(0x085701, n), 0u) << n;
    EXPECT_EQ(chip->reg(0x68, 0x57), 7);   // channel 6 is not one of them
}

TEST_F(DebugSeqTest, ReceiverRestartsAndReadBacks)
{
    m->vbyone_rx_ch1_seq(m->c331_fd);
    m->vbyone_rx_ch2_seq(m->c331_fd);
    EXPECT_EQ(chip->writeHistory(0x02, 0x7F), (std::vector<uint8_t>{14, 15, 13, 15}));
    const std::pair<uint8_t, uint8_t> receivers[] = {{0x40, 5}, {0x4F, 0xFF}, {0x4C, 0xAB},
                                                     {0x5C, 5}, {0x6B, 0xFF}, {0x68, 0xAB}};
    for (const auto &r : receivers)
        EXPECT_EQ(chip->reg(0x02, r.first), r.second) << std::hex << int(r.first);

    chip->setReg(0x50, 0x17, 0xF0);
    chip->setReg(0x50, 0x18, 0x01);
    m->write_read_c331_b80_iacthstch5(m->c331_fd);
    EXPECT_EQ(chip->value(0x501702), 0x1F0u + 100);

    const uint64_t mark = chip->mark();
    m->read_c331_b174bug(m->c331_fd);
    size_t writes = 0, reads = 0;
    for (const SimC331::Frame &f : chip->framesSince(mark)) {
        writes += f.write && !f.select;
        reads += !f.write;
    }
    EXPECT_EQ(writes, 0u);
    EXPECT_EQ(reads, 4u * 2 + 4u * 3 + 1);
}

TEST_F(DebugSeqTest, SynchronisationTests)
{
    m->sync_c331_device_test_input(m->c331_fd);
    EXPECT_EQ(chip->writeHistory(0x08, 0x0F), (std::vector<uint8_t>{0xC4, 0x00}));
    EXPECT_EQ(chip->reg(0x00, 0x48), 0x89);
    EXPECT_EQ(chip->reg(0x00, 0x4B), 0x10);
    EXPECT_EQ(chip->value(0x081802), 1u);

    m->sync_c331_device_test_frame_lock_vbyrx3(m->c331_fd);
    EXPECT_EQ(chip->value(0x081802), 2u);
    EXPECT_EQ(chip->reg(0x08, 0x0F), 4);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(och(0x080C02, n), 5489u) << n;

    m->sync_c331_device_frame_lock_vbyrx2(m->c331_fd, 1234);
    EXPECT_EQ(chip->reg(0x08, 0x0F), 0x84);
    EXPECT_EQ(chip->value(0x005502), 64u);
    EXPECT_EQ(chip->value(0x080802), 0x0403u);
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(och(0x080C02, n), 1234u) << n;
        EXPECT_EQ(och(0x081D02, n), 1u) << n;
    }
}

TEST_F(DebugSeqTest, DebugRegistersRunTheLowestRequestedSequence)
{
    uint8_t *reg = store->reg_para;
    reg[REG_162] = 0x06;   // output bars win over disabling them
    applyPass();
    EXPECT_EQ(och(0x085701, 0), 9u);
    EXPECT_EQ(och(0x085701, 4), 0u);
    EXPECT_EQ(reg[REG_162], 0);

    reg[REG_165] = 0x04;   // frame lock on the second receiver, 1.1 x the output total
    applyPass();
    EXPECT_EQ(chip->reg(0x08, 0x0F), 0x84);
    EXPECT_EQ(och(0x080C02, 7), uint32_t(m->PS_VTOTAL * 1.1f));
    EXPECT_EQ(reg[REG_165], 0);

    reg[REG_165] = 0x30;   // no sequence: kept, nothing sent
    const uint64_t mark = chip->mark();
    applyPass();
    EXPECT_EQ(reg[REG_165], 0x30);
    EXPECT_TRUE(chip->writeHistory(0x08, 0x0F, mark).empty());
    EXPECT_TRUE(chip->writeHistory(0x00, 0x55, mark).empty());
    EXPECT_TRUE(chip->writeHistory(0x00, 0x48, mark).empty());
}

} // namespace
