// Register commands that reach the front panel and the change dispatcher:
// the upgrade pop-up, the reboot of the 10 ms tick and the persisted image.

#include "reg_cmd_fixture.h"
#include "support/locked_reads.h"

#include "app/syncupdate.h"
#include "platform/shell.h"
#include "protocol/zem_file_deal.h"
#include "ui/firmwareupdate.h"
#include "ui/mainwindow.h"
#include "ui/pages.h"

#include <QApplication>
#include <QThread>

using namespace regtest;

namespace {

class RegPanelTest : public RegLinkTest
{
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test";
        static char *argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!QCoreApplication::instance())
            app.reset(new QApplication(argc, argv));
        RegLinkTest::SetUp();
        g_page_focus = 0;
        g_update_flag = 0;
        g_zem_keys = 0;
        g_language = 1;
        g_lcd_lang_valid = 0x1F;
        SyncUpdate::pInstance()->listen_to(store);
        g_mainwindow = new MainWindow();
    }
    void TearDown() override
    {
        RegLinkTest::TearDown();
        delete g_mainwindow;
        g_mainwindow = nullptr;
        firmware_update_over();
        QCoreApplication::processEvents();
        g_update_flag = 0;
        app.reset();
    }

    std::unique_ptr<QApplication> app;
};

// The link thread must not touch widgets: the pop-up is made in the GUI thread.
TEST_F(RegPanelTest, UpgradePopupIsShownAndHiddenInTheGuiThread)
{
    EXPECT_EQ(writeReg(9, 0xF0, 0x20), Bytes{0});
    EXPECT_EQ(g_update_flag.load(), 1);
    ASSERT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));
    EXPECT_EQ(firmware_update_popup()->thread(), QCoreApplication::instance()->thread());
    EXPECT_TRUE(firmware_update_popup()->isVisible());

    EXPECT_EQ(writeReg(9, 0xF0, 0x00), Bytes{0});
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() == nullptr; }));
}

// A repeated start (the PC tool writes register 9 again, or a file transfer
// starts during the upgrade) must not bring the pop-up back once it is gone.
TEST_F(RegPanelTest, RepeatedRegisterNineShowsThePopupOncePerUpgrade)
{
    EXPECT_EQ(writeReg(9, 0xF0, 0x20), Bytes{0});
    ASSERT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));
    firmware_update_over();

    EXPECT_EQ(writeReg(9, 0xF0, 0x30), Bytes{0});
    file_transfer::panel_step(file_transfer::PanelStep::UpgradeStart);
    QCoreApplication::processEvents();   // runs whatever the handler queued
    EXPECT_EQ(g_update_flag.load(), 1);
    EXPECT_EQ(firmware_update_popup(), nullptr);

    // The next upgrade shows it again.
    EXPECT_EQ(writeReg(9, 0xF0, 0x00), Bytes{0});
    EXPECT_EQ(writeReg(9, 0xF0, 0x10), Bytes{0});
    EXPECT_TRUE(waitFor([] { return firmware_update_popup() != nullptr; }));
    std::vector<int> upgrade;
    for (int c : seenCodes())
        if (c == 105 || c == 106)
            upgrade.push_back(c);
    EXPECT_EQ(upgrade, (std::vector<int>{105, 105, 105, 106, 105}));
}

TEST_F(RegPanelTest, InstalledApplicationRebootsThreeSecondsLater)
{
    platform::ensureDir("/data/app");
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "application");
    G_timeTicks = 1000;
    EXPECT_EQ(writeReg(14, 0x01, 0x01), Bytes{0});
    EXPECT_EQ(G_reboot_tickTicks.load(), 1000u);
    platform::shell::sim::clearLog();
    for (int k = 0; k < 299; ++k)
        g_mainwindow->slot_update_timer_ticks();
    EXPECT_TRUE(platform::shell::sim::log().empty());
    g_mainwindow->slot_update_timer_ticks();
    EXPECT_EQ(platform::shell::sim::log(), std::vector<std::string>{"reboot"});
}

TEST_F(RegPanelTest, AppliedBrightnessIsPersisted)
{
    startChip();
    const uint16_t bri = zemtest::imageWord(para::BRIGHTNESS) == 80 ? 60 : 80;
    const uint64_t mark = chipModel->mark();
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::BRIGHTNESS, {uint8_t(bri), 0})), Bytes{0});
    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    const std::string file = root.host("/data/ram_device_info");
    const size_t at = 2 + para::BRIGHTNESS - para::PERSISTENT_START;
    ASSERT_TRUE(waitFor([&] {
        std::string content = zemtest::readFile(file);
        return content.size() > at && uint8_t(content[at]) == bri;
    }));
    EXPECT_EQ(para::get16(store->ram_para_back, para::BRIGHTNESS), bri);
    EXPECT_EQ(chipModel->writeHistory(0x0C, 0x3A, mark), std::vector<uint8_t>{0});
}

// The PC tool writes the image while an apply pass waits for the chip and
// applies it later. The held pass's notification persists the change, but the
// snapshot stays the image the chip applied, so register 11 still finds it.
TEST_F(RegPanelTest, RamWriteDuringAPassIsAppliedByALaterRegister11)
{
    startChip();
    const uint32_t contrastReg = 0x0C2802;
    const uint16_t old = zemtest::imageWord(para::CONTRAST);
    const uint8_t contrast = old == 70 ? 30 : 70;
    holdApplyPass();
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::CONTRAST, {contrast, 0})), Bytes{0});
    chipModel->setOutputRunning(true);

    const std::string file = root.host("/data/ram_device_info");
    const size_t at = 2 + para::CONTRAST - para::PERSISTENT_START;
    ASSERT_TRUE(waitFor([&] {
        std::string content = zemtest::readFile(file);
        return content.size() > at && uint8_t(content[at]) == contrast;
    }));
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(seenCodes(), std::vector<int>{1});
    EXPECT_EQ(para::get16(store->ram_para_back, para::CONTRAST), old);
    EXPECT_EQ(chipModel->value(contrastReg), old * 1023u / 100);

    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    ASSERT_TRUE(waitFor([&] { return seenCodes().size() == 2; }));
    ASSERT_TRUE(waitPass());
    EXPECT_EQ(chipModel->value(contrastReg), contrast * 1023u / 100);
}

// The PC tool sets a new wall width and applies it, and writes the image
// again while that pass runs; later it makes a crop a window's source and
// applies. The wall has not changed since the pass, so the crop stays.
TEST_F(RegPanelTest, CropSetAfterANewWallWidthStaysACrop)
{
    startChip();
    const uint16_t width = zemtest::imageWord(para::LED_WIDTH) == 1600 ? 1280 : 1600;
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::LED_WIDTH, {uint8_t(width), uint8_t(width >> 8)})),
              Bytes{0});
    holdApplyPass();
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, 300, {1})), Bytes{0});
    chipModel->setOutputRunning(true);
    ASSERT_TRUE(waitPass());
    EXPECT_TRUE(waitFor([&] {
        ParaLock lock;
        return para::get16(store->ram_para_back, para::LED_WIDTH) == width;
    }));

    // Crop 1 of source 2 (entry 0: 100, 50, 800 x 600) shown by window 0.
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::CROP_TABLE,
                                   {0x02, 0x80, 100, 0, 50, 0, 0x20, 0x03, 0x58, 0x02})),
              Bytes{0});
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::window(0, para::WIN_SOURCE), {0x00, 0x80})), Bytes{0});
    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    EXPECT_EQ(zemtest::imageWord(para::window(0, para::WIN_SOURCE)), 0x8000);
}

// As the PC tool changes the picture: the colour temperature by a single
// parameter write, contrast and saturation by RAM write and register 11.
TEST_F(RegPanelTest, PictureChangesReachTheChipAndArePersisted)
{
    startChip();
    const uint8_t mode = zemtest::imageWord(para::COLOR_TEMP) == 3 ? 1 : 3;
    const uint32_t gains[4][3] = {{}, {8845, 8113, 7056}, {}, {6944, 8282, 10978}};
    EXPECT_EQ(ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 10, mode, 0})), (Bytes{0, 0x31}));
    ASSERT_TRUE(waitPass());
    for (int n = 0; n < 8; ++n)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(chipModel->value(0x0C5B02 + 0x800u * k, 16 * n), gains[mode][k]) << n << "," << k;

    const uint8_t contrast = zemtest::imageWord(para::CONTRAST) == 70 ? 30 : 70;
    const uint8_t saturation = zemtest::imageWord(para::SATURATION) == 20 ? 90 : 20;
    const uint64_t mark = chipModel->mark();
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::CONTRAST, {contrast, 0})), Bytes{0});
    EXPECT_EQ(ask(pctool::ramWrite(pctool::CONTROLLER, para::SATURATION, {saturation, 0})), Bytes{0});
    EXPECT_TRUE(chipModel->writeHistory(0x0C, 0x28, mark).empty());   // stored, not applied yet
    EXPECT_EQ(writeReg(11, 0x02, 0x00), Bytes{0});
    ASSERT_TRUE(waitPass());
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(chipModel->value(0x0C2802, 16 * n), contrast * 1023u / 100) << n;
        EXPECT_EQ(chipModel->value(0x0C1B02, 16 * n), saturation * 1023u / 100) << n;
    }

    const std::string file = root.host("/data/ram_device_info");
    auto persisted = [&](uint32_t off, uint8_t v) {
        std::string content = zemtest::readFile(file);
        const size_t at = 2 + off - para::PERSISTENT_START;
        return content.size() > at && uint8_t(content[at]) == v;
    };
    EXPECT_TRUE(waitFor([&] {
        return persisted(para::COLOR_TEMP, mode) && persisted(para::CONTRAST, contrast) &&
               persisted(para::SATURATION, saturation);
    }));
}

} // namespace
