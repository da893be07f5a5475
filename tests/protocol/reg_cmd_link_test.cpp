// Register commands over the RS-485 line with the chip thread running.

#include "reg_cmd_fixture.h"
#include "support/locked_reads.h"

#include <QSettings>

using namespace regtest;

namespace {

TEST_F(RegLinkTest, RamWrittenBrightnessIsAppliedByRegister11)
{
    startChip();
    const uint16_t bri = zemtest::imageWord(para::BRIGHTNESS) == 80 ? 60 : 80;
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {uint8_t(bri), 0})), Bytes{0});
    EXPECT_EQ(zemtest::applyRequest(), 0);   // stored, not applied yet

    const uint64_t mark = chipModel->mark();
    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    ASSERT_TRUE(waitFor([&] { return !seenCodes().empty(); }));
    ASSERT_TRUE(waitPass());
    // The chip stays at the neutral brightness; nothing else is sent again.
    EXPECT_EQ(chipModel->writeHistory(0x0C, 0x3A, mark), std::vector<uint8_t>{0});
    EXPECT_TRUE(chipModel->writeHistory(0x0C, 0x28, mark).empty());
    EXPECT_TRUE(chipModel->writeHistory(0x0B, 0x09, mark).empty());
    EXPECT_TRUE(chipModel->writeHistory(0x0C, 0x1B, mark).empty());
    EXPECT_EQ(card->bri_set_request.load(), 1);
    EXPECT_EQ(seenCodes(), std::vector<int>{1});
}

TEST_F(RegLinkTest, DebugRegistersReachTheChipThread)
{
    startChip();
    EXPECT_EQ(writeReg(162, 0xFF, 0x41), Bytes{0});
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(chipModel->reg(0x48, 0x57), 0x89);   // the input slide bar
    EXPECT_EQ(chip->setup_state.load(), 8);   // bit 6 (restart) not run
    EXPECT_EQ(zemtest::registerByte(34), 0);

    EXPECT_EQ(writeReg(165, 0xFF, 0x10), Bytes{0});
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(zemtest::registerByte(33), 0x10);

    EXPECT_EQ(writeReg(163, 0x00, 2), Bytes{0});   // the register holds 3: dump mode 2
    ASSERT_TRUE(waitPass());
    EXPECT_NE(dump.text().find("[zemDbg_c331_param] c331_mem"), std::string::npos);
    EXPECT_EQ(zemtest::registerByte(35), 0);
}

TEST_F(RegLinkTest, FactoryDefaultsAndApplicationInstallOverTheLine)
{
    startChip();
    platform::ensureDir("/data/modes");
    zemtest::writeFile(root.host("/data/modes/custom_mode2"), "m");
    zemtest::setSlotByte(1, 0, 0xAA);
    zemtest::setSlotByte(1, 1, 0xAA);
    zemtest::setImageWord(para::CONTRAST, uint16_t(zemtest::imageWord(para::CONTRAST) + 1));
    EXPECT_EQ(writeReg(16, 0x01, 0x01), Bytes{0});
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(zemtest::imageByte(para::CONTRAST), default_para_ramlist[para::CONTRAST - 766]);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode2"));
    EXPECT_EQ(zemtest::slotByte(1, 0), 0xFF);

    platform::ensureDir("/data/app");
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "application");
    EXPECT_EQ(writeReg(14, 0x01, 0x01), Bytes{0});
    EXPECT_EQ(zemtest::readFile(root.host("/data/app/zemR47N")), "application");
    QSettings ini(QString::fromStdString(root.host("/data/configs/led_load_config.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("app-1/app_path").toString(), "/data/app/zemR47N -platform linuxfb");
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// While an apply pass waits for the chip, the link answers RAM reads and
// writes, parameter writes and register 11 at once; what they raise is
// applied by the next pass.
TEST_F(RegLinkTest, LinkAnswersWhileAnApplyPassWaitsForTheChip)
{
    startChip();
    holdApplyPass();
    const uint32_t source = para::window(0, para::WIN_SOURCE);
    const Bytes written = Bytes{0, zemtest::imageByte(source), 0};
    const uint16_t contrast = uint16_t((zemtest::imageWord(para::CONTRAST) + 7) % 100);
    const uint8_t mode = zemtest::imageWord(para::COLOR_TEMP) == 3 ? 1 : 3;

    EXPECT_EQ(ask(pctool::ramRead(pctool::CONTROLLER, source, 2)), written);
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::CONTRAST, {uint8_t(contrast), 0})), Bytes{0});
    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 10, mode, 0})), (Bytes{0, 0x31}));
    EXPECT_EQ(ask(pctool::ramRead(pctool::CONTROLLER, para::CONTRAST, 2)), (Bytes{0, uint8_t(contrast), 0}));
    EXPECT_TRUE(passStillHeld()) << "the link answered while the first pass still waited";

    chipModel->setOutputRunning(true);
    ASSERT_TRUE(waitFor([&] { return seenCodes().size() == 2; }));
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(chipModel->value(0x0C2802), contrast * 1023u / 100) << "applied by the pass after the held one";
    EXPECT_EQ(chipModel->value(0x0C5B02), mode == 1 ? 8845u : 6944u) << "the red gain of the new colour temperature";
}

// A chip that never identifies keeps its thread probing; the commands that
// wait for it must not hold the link.
TEST_F(RegLinkTest, LinkKeepsAnsweringWithASilentChip)
{
    chipModel->setIdentity(0xFF);
    ASSERT_EQ(chip->initialize(), 0);
    ASSERT_TRUE(waitFor([&] { return chipModel->identityReads() > 3; }));
    EXPECT_EQ(writeReg(11, 0x0E, 0x00), Bytes{0});
    EXPECT_EQ(writeReg(162, 0xFF, 0x01), Bytes{0});
    EXPECT_EQ(writeReg(163, 0x00, 1), Bytes{0});
    EXPECT_EQ(writeReg(16, 0x13, 0x00), Bytes{0});
    EXPECT_EQ(writeReg(161, 0x10, 0x10), Bytes{0});
    EXPECT_EQ(ask(pctool::ramRead(pctool::CONTROLLER, para::BRIGHTNESS, 2)).size(), 3u);
    EXPECT_EQ(chip->setup_state.load(), 0);
    EXPECT_EQ(zemtest::registerByte(34), 0x01);   // kept for the first pass
}

} // namespace
