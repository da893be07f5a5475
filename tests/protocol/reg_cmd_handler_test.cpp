#include "app/para_defaults.h"
#include "app/para_layout.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "protocol/message_deal.h"
#include "proto_fixture.h"
#include "support/blocked_call.h"
#include "support/dump_capture.h"
#include "videoio/tarixsource.h"

#include <QFileInfo>
#include <QSettings>
#include <atomic>
#include <sys/stat.h>
#include <chrono>
#include <memory>
#include <thread>

using pctool::Bytes;

namespace {

constexpr uint16_t REMOTE = 0x0001;

class RegCmdTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        std::memset(store->reg_para, 0, sizeof store->reg_para);
        std::memset(store->status_ram, 0x5C, sizeof store->status_ram);
        std::memset(store->ram_para_back, 0, sizeof store->ram_para_back);
        for (auto &slot : store->user_mode_ram) {
            std::memset(slot, 0, sizeof slot);
            slot[0] = slot[1] = 0xFF;
        }
        g_app_reset_flag = 0;
        G_reboot_tickTicks = 0;
        G_timeTicks = 4321;
        g_update_flag = 0;
        g_update_status = 0;
        g_osd_update = 0;
        g_set_led_para = 0;
        g_set_led_setup = 7;
        QObject::connect(store, &ZemRamPara::sig_update_para, &receiver, [this](int c) { codes.push_back(c); },
                         Qt::DirectConnection);
    }
    void TearDown() override
    {
        g_app_reset_flag = 0;
        chip->para_changed = 0;
    }

    // Write register r (mask m, value v); the status byte.
    uint8_t wr(uint8_t r, uint8_t m, uint8_t v, uint16_t dest = pctool::CONTROLLER, uint8_t sel7 = 0)
    {
        Bytes reply = run(pctool::body(dest, pctool::PC, 0xA0, r, {m, 0, v}, 0, sel7));
        EXPECT_EQ(reply.size(), 1u);
        return reply.empty() ? 0xEE : reply[0];
    }
    Bytes rd(uint8_t r, uint8_t b11, uint16_t dest = pctool::CONTROLLER, uint8_t sel7 = 0)
    {
        return run(pctool::body(dest, pctool::PC, 0xA1, r, {b11}, 0, sel7));
    }
    Bytes run(const Bytes &request)
    {
        buf.assign(70000, 0xEE);
        std::copy(request.begin(), request.end(), buf.begin());
        uint32_t n = deal.message_group_deal(buf.data(), uint32_t(request.size()), 1);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + n);
    }
    uint16_t word(uint32_t off) const { return store->word(off); }
    void setWord(uint32_t off, uint16_t v) { store->setWord(off, v); }
    void setBack(uint32_t off, uint16_t v) { para::set16(store->ram_para_back, off, v); }
    void saveSlot(int n, uint8_t fill)
    {
        uint8_t *slot = store->user_mode_ram[n - 1];
        std::memset(slot + 2, fill, para::SLOT_DATA_SIZE);
        slot[0] = slot[1] = 0xAA;
    }

    message_deal deal;
    Bytes buf;
    QObject receiver;
    std::vector<int> codes;
};

TEST_F(RegCmdTest, StoresMergeUnderTheMaskAndAnswerOneWithoutAnAction)
{
    store->reg_para[3] = 0xF0;
    EXPECT_EQ(wr(3, 0x0F, 0x05), 1);
    EXPECT_EQ(store->reg_para[3], 0xF5);
    EXPECT_EQ(wr(4, 0xFF, 0x12), 0);   // registers with a (no-op) action answer 0
    EXPECT_EQ(wr(5, 0xFF, 0x34), 0);
    EXPECT_EQ(store->reg_para[4], 0x12);
    EXPECT_EQ(wr(12, 0xFF, 0x77), 0);  // never written
    EXPECT_EQ(store->reg_para[12], 0);
    EXPECT_EQ(wr(33, 0xFF, 0x21), 1);  // the byte of register 165 under its file number
    EXPECT_EQ(store->reg_para[33], 0x21);

    EXPECT_EQ(wr(160, 0x0F, 0xFF), 0); // a plain store, not merged
    EXPECT_EQ(store->reg_para[32], 0x0F);
    EXPECT_EQ(wr(160, 0xF0, 0x30), 0);
    EXPECT_EQ(store->reg_para[32], 0x30);
    EXPECT_EQ(chip->para_changed, 0);

    EXPECT_EQ(wr(163, 0, 7), 0);       // mode plus one, the mask is not applied
    EXPECT_EQ(store->reg_para[35], 8);
    EXPECT_EQ(wr(163, 0, 0xFF), 0);
    EXPECT_EQ(store->reg_para[35], 0);
    EXPECT_EQ(wr(164, 0x01, 0x03), 0);
    EXPECT_EQ(store->reg_para[36], 0x01);
    EXPECT_EQ(chip->para_changed, 1);

    EXPECT_EQ(wr(170, 0xFF, 1), 1);
    EXPECT_EQ(wr(255, 0xFF, 1), 1);
}

// The chip thread takes and clears the bytes of registers 162 to 165 under
// the image's lock: written under either number, they wait for it.
TEST_F(RegCmdTest, DebugRegisterBytesAreWrittenUnderTheImagesLockUnderEitherNumber)
{
    for (uint8_t r : {33, 34, 35, 36, 162, 163, 164, 165}) {
        SCOPED_TRACE(int(r));
        auto lock = std::make_unique<ParaLock>();
        zemtest::BlockedCall call([&] { wr(r, 0x01, 0x01); });
        EXPECT_TRUE(call.waits());
        lock.reset();
        EXPECT_TRUE(call.finishes());
    }
}

// Two links writing different bits of one register at once: neither write
// may undo the other's bit (the masked merge is one step). Each thread only
// toggles its own bit, so after its write that bit must read as written.
TEST_F(RegCmdTest, ConcurrentWritesToDifferentBitsOfOneRegisterKeepBoth)
{
    constexpr int ROUNDS = 20000;
    std::atomic<int> lost{0};
    std::atomic<int> ready{0};
    auto writer = [&](uint8_t bit) {
        message_deal own;
        Bytes b(64, 0);
        ++ready;
        while (ready < 2) {
        }
        for (int i = 0; i < ROUNDS; ++i) {
            const uint8_t v = (i & 1) ? 0 : bit;
            Bytes req = pctool::body(pctool::CONTROLLER, pctool::PC, 0xA0, 3, {bit, 0, v});
            std::copy(req.begin(), req.end(), b.begin());
            own.message_group_deal(b.data(), uint32_t(req.size()), 1);
            if ((__atomic_load_n(&store->reg_para[3], __ATOMIC_ACQUIRE) & bit) != v)
                ++lost;
        }
    };
    std::thread a(writer, uint8_t(0x01));
    std::thread c(writer, uint8_t(0x02));
    a.join();
    c.join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(store->reg_para[3], 0);
}

// Numbers without a byte in the register file must not write past it (the
// status page follows the register file in the store).
TEST_F(RegCmdTest, RegisterWithoutStorageStoresNothingAndAnswersOne)
{
    uint8_t before[para::REGISTER_FILE_SIZE];
    std::memcpy(before, store->reg_para, sizeof before);
    for (uint8_t r : {37, 38, 100, 159, 166, 167, 169}) {
        EXPECT_EQ(wr(r, 0xFF, 0xA5), 1) << int(r);
    }
    EXPECT_EQ(std::memcmp(before, store->reg_para, sizeof before), 0);
    for (uint8_t b : store->status_ram)
        ASSERT_EQ(b, 0x5C);
    EXPECT_EQ(chip->para_changed, 0);
}

TEST_F(RegCmdTest, ReadsAnswerStatusAndValue)
{
    EXPECT_EQ(rd(6, 0x5A), (Bytes{0, 0x5A}));
    EXPECT_EQ(rd(4, 0x11), (Bytes{0, 0x11}));
    EXPECT_EQ(rd(7, 0x5A), (Bytes{0, 0}));
    EXPECT_EQ(rd(200, 0x5A), (Bytes{200, 1}));
    // A request without byte 11 is answered with a defined value.
    EXPECT_EQ(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA1, 6)), (Bytes{0, 0}));

    fpga[0]->setReg(40, 0x3C);
    fpga[1]->setReg(40, 0xC3);
    EXPECT_EQ(rd(40, 0, REMOTE), (Bytes{0, 0x3C}));
    EXPECT_EQ(rd(40, 0, REMOTE, 2), (Bytes{0, 0xC3}));
    EXPECT_EQ(rd(40, 0, REMOTE, 7), (Bytes{0, 0x3C}));
}

TEST_F(RegCmdTest, RemoteWritesReachTheChosenFpgas)
{
    fpga[0]->setReg(20, 0xF0);   // merged with what the FPGA holds
    fpga[1]->setReg(20, 0xF0);
    EXPECT_EQ(wr(20, 0x0F, 0x0A, REMOTE, 0), 0);
    EXPECT_EQ(fpga[0]->reg(20), 0xFA);
    EXPECT_EQ(fpga[1]->reg(20), 0xFA);
    EXPECT_EQ(wr(21, 0xFF, 0x01, REMOTE, 1), 0);
    EXPECT_EQ(wr(22, 0xFF, 0x02, REMOTE, 2), 0);
    EXPECT_EQ(fpga[0]->reg(21), 0x01);
    EXPECT_EQ(fpga[1]->reg(21), 0x00);
    EXPECT_EQ(fpga[0]->reg(22), 0x00);
    EXPECT_EQ(fpga[1]->reg(22), 0x02);
    EXPECT_EQ(store->reg_para[20], 0);
}

TEST_F(RegCmdTest, ApplyLoadsTheChosenUserModeOnce)
{
    saveSlot(3, 0x42);
    setWord(para::CURRENT_USER_MODE, 3);
    setWord(para::USER_MODE_SAVE, 5);
    EXPECT_EQ(wr(11, 0x02, 0x00), 0);
    EXPECT_EQ(store->reg_para[11], 0);   // bit clear in the stored byte, yet the apply ran
    EXPECT_EQ(store->ram_para[2000], 0x42);
    EXPECT_EQ(store->ram_para[para::SLOT_IMAGE_START], 0x42);
    EXPECT_EQ(word(para::USER_MODE_SAVE), 0);
    EXPECT_EQ(word(para::CURRENT_USER_MODE), 3);
    EXPECT_EQ(chip->para_changed, 1);

    // Once the snapshot holds mode 3 the device leaves the user mode.
    setBack(para::CURRENT_USER_MODE, 3);
    store->ram_para[2000] = 0x01;
    EXPECT_EQ(wr(11, 0x02, 0x02), 0);
    EXPECT_EQ(word(para::CURRENT_USER_MODE), 0);
    EXPECT_EQ(store->ram_para[2000], 0x01);

    // An unsaved slot changes nothing; the save request is taken with the
    // image as this apply leaves it.
    setBack(para::CURRENT_USER_MODE, 0);
    setWord(para::CURRENT_USER_MODE, 4);
    setWord(para::USER_MODE_SAVE, 4);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(store->ram_para[2000], 0x01);
    EXPECT_EQ(word(para::USER_MODE_SAVE), 0);
    const auto saves = store->pending_saves();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].mode, 4);
    EXPECT_EQ(store->user_mode_ram[3][para::slotOffset(2000)], 0x01);

    // Both bits: the request ends as 2.
    chip->para_changed = 0;
    EXPECT_EQ(wr(11, 0x06, 0), 0);
    EXPECT_EQ(chip->para_changed, 2);
}

// Only slots 1..16 exist: a larger mode number must not read past them.
TEST_F(RegCmdTest, ApplyWithModeNumberBeyondTheSlotsLoadsNothing)
{
    for (int n = 1; n <= 16; ++n)
        saveSlot(n, uint8_t(n));
    store->reg_para[0] = 0xAA;   // what follows the slots in the store
    store->reg_para[1] = 0xAA;
    for (uint16_t m : {17, 200, 0xFFFF}) {
        setWord(para::CURRENT_USER_MODE, m);
        std::memset(store->ram_para + para::SLOT_IMAGE_START, 0x99, para::SLOT_DATA_SIZE);
        EXPECT_EQ(wr(11, 0x02, 0), 0);
        EXPECT_EQ(store->ram_para[2000], 0x99) << m;
        EXPECT_EQ(chip->para_changed, 1);
    }
}

TEST_F(RegCmdTest, ApplyFixesAudioWindowEffectsAndFreezeAgainstPointToPoint)
{
    setWord(para::AUDIO_WINDOW, 9);   // no such window
    setWord(para::window(0, para::WIN_ENABLE), 1);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(word(para::AUDIO_WINDOW), 0);
    setWord(para::AUDIO_WINDOW, 2);   // disabled window
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(word(para::AUDIO_WINDOW), 0);

    setWord(para::SWITCH_EFFECT, 3);
    setWord(para::window(1, para::WIN_FLAGS), 0x10F1);
    // Window 2: freeze is new, point-to-point was on before.
    setWord(para::window(2, para::WIN_FLAGS), 0x0102);
    setBack(para::window(2, para::WIN_FLAGS), 0x0100);
    // Window 3: point-to-point is new, freeze was on before.
    setWord(para::window(3, para::WIN_FLAGS), 0x0102);
    setBack(para::window(3, para::WIN_FLAGS), 0x0002);
    setWord(para::POINT_TO_POINT, 5);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(word(para::window(1, para::WIN_FLAGS)), 0x10FD);
    EXPECT_EQ(word(para::window(0, para::WIN_FLAGS)), 0x000C);
    EXPECT_EQ(word(para::window(2, para::WIN_FLAGS)), 0x000E);
    EXPECT_EQ(word(para::window(3, para::WIN_FLAGS)), 0x010C);
    EXPECT_EQ(word(para::POINT_TO_POINT), 0);

    // Before the chip's pass, point-to-point is set again on window 2: it is
    // newer than the freeze this apply took.
    setWord(para::window(2, para::WIN_FLAGS), 0x010E);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(word(para::window(2, para::WIN_FLAGS)), 0x010C);
}

TEST_F(RegCmdTest, ApplyOfNewLedGeometryResetsWindowsAndAsksTheFpgas)
{
    setWord(para::LED_WIDTH, 1024);
    setWord(para::LED_HEIGHT, 512);
    setBack(para::CURRENT_USER_MODE, 2);
    setWord(para::CURRENT_USER_MODE, 2);
    for (uint32_t i = 0; i < 6; ++i)
        setWord(para::window(i, para::WIN_ENABLE), 1);
    setWord(para::window(0, para::WIN_X), 50);
    setWord(para::window(0, para::WIN_SOURCE), 0x8002);   // crop entry 2
    setWord(para::window(4, para::WIN_SOURCE), 0x8000 | 45); // beyond the crop table
    store->ram_para[para::CROP_TABLE + 20] = 0x34;
    setWord(para::AUDIO_WINDOW, 1);
    card->set_reg_shadow(0, 80, 3);
    card->set_reg_shadow(1, 80, 3);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    for (uint32_t i = 1; i < 6; ++i)
        EXPECT_EQ(word(para::window(i, para::WIN_ENABLE)), 0);
    EXPECT_EQ(word(para::window(0, para::WIN_X)), 0);
    EXPECT_EQ(word(para::window(0, para::WIN_W)), 1024);
    EXPECT_EQ(word(para::window(0, para::WIN_H)), 512);
    EXPECT_EQ(word(para::window(0, para::WIN_SOURCE)), 4);
    EXPECT_EQ(word(para::window(4, para::WIN_SOURCE)), 0);
    EXPECT_EQ(word(para::AUDIO_WINDOW), 0);
    EXPECT_EQ(g_set_led_para, 1);
    EXPECT_EQ(g_set_led_setup, 0);

    // One FPGA not running: no hand-shake.
    g_set_led_para = 0;
    card->set_reg_shadow(1, 80, 2);
    setWord(para::LED_WIDTH, 2048);
    EXPECT_EQ(wr(11, 0x02, 0), 0);
    EXPECT_EQ(g_set_led_para, 0);
}

TEST_F(RegCmdTest, ApplyReloadsTheOsdMenuOnlyWhileItIsShown)
{
    EXPECT_EQ(wr(11, 0x08, 0), 0);
    EXPECT_EQ(g_osd_update.load(), 0);
    EXPECT_EQ(chip->para_changed, 0);
    setWord(para::OSD_FLAG, 1);
    EXPECT_EQ(wr(11, 0x08, 0), 0);
    EXPECT_EQ(g_osd_update.load(), 1);
    EXPECT_EQ(chip->para_changed, 1);
}

TEST_F(RegCmdTest, Register161PointToPointRebootAndListing)
{
    EXPECT_EQ(wr(161, 0x10, 0x10), 0);
    EXPECT_EQ(word(para::window(0, para::WIN_FLAGS)), 0x0100);
    EXPECT_EQ(word(para::window(0, para::WIN_P2P_MODE)), 8);
    EXPECT_EQ(chip->para_changed, 1);
    chip->para_changed = 0;
    EXPECT_EQ(wr(161, 0x10, 0x10), 0);   // nothing changes: no request
    EXPECT_EQ(chip->para_changed, 0);
    EXPECT_EQ(wr(161, 0xFF, 0x24), 0);   // bit 2 wins: off, mode kept
    EXPECT_EQ(word(para::window(0, para::WIN_FLAGS)), 0x0000);
    EXPECT_EQ(word(para::window(0, para::WIN_P2P_MODE)), 8);
    EXPECT_EQ(wr(161, 0xFF, 0x28), 0);   // bit 3 before bit 5
    EXPECT_EQ(word(para::window(0, para::WIN_P2P_MODE)), 0);
    EXPECT_EQ(wr(161, 0x20, 0x20), 0);
    EXPECT_EQ(word(para::window(0, para::WIN_P2P_MODE)), 9);
    EXPECT_EQ(wr(161, 0x00, 0xFF), 0);   // masked away
    EXPECT_EQ(word(para::window(0, para::WIN_P2P_MODE)), 9);
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    // Bit 1 lists every chip register at once, on the command's thread.
    zemtest::DumpCapture listing;
    chip->dump_out = listing.file();
    const int fd = chip->c331_fd;
    chip->c331_fd = chip->c331drv->initialize();
    EXPECT_EQ(wr(161, 0x03, 0x03), 0);
    chip->c331_fd = fd;
    chip->dump_out = stdout;
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 4321u);
    const std::string text = listing.text();
    EXPECT_EQ(size_t(std::count(text.begin(), text.end(), '\n')), c331_manage::c331_register_list().size());
    EXPECT_EQ(text.rfind("000801  ", 0), 0u);
    EXPECT_EQ(store->reg_para[33], 0);
}

TEST_F(RegCmdTest, UpgradePopupFollowsRegistersNineAndTen)
{
    EXPECT_EQ(wr(9, 0xFF, 0x10), 0);
    EXPECT_EQ(g_update_flag.load(), 1);
    EXPECT_EQ(wr(9, 0xFF, 0x0F), 0);
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(wr(10, 0xFF, 0x80), 0);   // bit 7 does not count
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(wr(10, 0x01, 0x01), 0);
    EXPECT_EQ(g_update_flag.load(), 1);
    EXPECT_EQ(codes, (std::vector<int>{105, 106, 106, 105}));
}

TEST_F(RegCmdTest, Register17AsksTheInputThreadForAnSdiReset)
{
    tarixsource *src = tarixsource::pInstance();
    src->sdi_reset_request = 0;
    EXPECT_EQ(wr(17, 0x02, 0xFF), 0);
    EXPECT_EQ(src->sdi_reset_request.load(), 0);
    EXPECT_EQ(wr(17, 0x01, 0x00), 0);
    EXPECT_EQ(src->sdi_reset_request.load(), 1);
}

// --- register 14: install and reboot -----------------------------------------

class InstallTest : public RegCmdTest
{
protected:
    void SetUp() override
    {
        RegCmdTest::SetUp();
        platform::ensureDir("/data/app");
        zemtest::writeFile(root.host("/data/app/zemR47N"), "old");
    }
    std::string launcher() { return root.host("/data/configs/led_load_config.ini"); }
};

TEST_F(InstallTest, ReceivedApplicationIsInstalledAndTheDeviceReboots)
{
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "new");
    EXPECT_EQ(wr(14, 0x01, 0x01), 0);
    EXPECT_EQ(zemtest::readFile(root.host("/data/app/zemR47N")), "new");
    EXPECT_FALSE(platform::files::exists("/data/app/zemR47N2"));
    EXPECT_TRUE(QFileInfo(platform::qpath("/data/app/zemR47N")).permissions() & QFileDevice::ExeOther);
    QSettings ini(QString::fromStdString(launcher()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("app-1/app_path").toString(), "/data/app/zemR47N -platform linuxfb");
    EXPECT_EQ(ini.value("app-1/app_name").toString(), "zemR47N");
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 4321u);
    EXPECT_EQ(store->reg_para[14], 0x01);

    // At most once per boot.
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "newer");
    G_timeTicks = 5000;
    EXPECT_EQ(wr(14, 0x01, 0x01), 0);
    EXPECT_EQ(zemtest::readFile(root.host("/data/app/zemR47N")), "new");
    EXPECT_EQ(G_reboot_tickTicks.load(), 4321u);
    EXPECT_TRUE(platform::shell::sim::log().empty());
}

TEST_F(InstallTest, LauncherIsLeftAloneWhenItAlreadyStartsThisProgram)
{
    g_update_status = 1;
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "new");
    EXPECT_EQ(wr(14, 0x01, 0x01), 0);
    EXPECT_FALSE(platform::files::exists("/data/configs/led_load_config.ini"));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// The folder is opened to everyone, but not what a link in it leads to out of
// the root; a launcher whose lock file is a FIFO is left alone instead of
// holding the link for ever, and the application is installed all the same.
TEST_F(InstallTest, NeitherALinkOutOfTheFolderNorALauncherLockFifoIsFollowed)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("secret"), "s");
    ASSERT_EQ(::chmod(beside.host("secret").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(beside.host("secret").c_str(), root.host("/data/app/link").c_str()), 0);
    const std::string lock = launcher() + ".lock";
    ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0);
    const auto before = beside.snapshot();
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "new");
    uint8_t status = 0xEE;
    {
        zemtest::BlockedCall install([&] { status = wr(14, 0x01, 0x01); });
        if (!install.finishes()) {
            ADD_FAILURE() << "the install waits on the launcher's lock file";
            zemtest::releaseFifo(lock);
        }
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(zemtest::readFile(root.host("/data/app/zemR47N")), "new");
    EXPECT_TRUE(QFileInfo(platform::qpath("/data/app/zemR47N")).permissions() & QFileDevice::ExeOther);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(beside.snapshot(), before);
    EXPECT_FALSE(platform::files::exists("/data/configs/led_load_config.ini"));
    struct stat st;
    EXPECT_TRUE(::lstat(lock.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// Without a received file, or when it cannot be moved into place, the device
// must keep its application and not reboot.
TEST_F(InstallTest, NothingToInstallAnswersOneAndDoesNotReboot)
{
    EXPECT_EQ(wr(14, 0x01, 0x01), 1);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_FALSE(platform::files::exists("/data/configs/led_load_config.ini"));

    // The move fails: the installed path is a non-empty folder.
    platform::files::remove("/data/app/zemR47N");
    platform::ensureDir("/data/app/zemR47N");
    zemtest::writeFile(root.host("/data/app/zemR47N/keep"), "x");
    zemtest::writeFile(root.host("/data/app/zemR47N2"), "new");
    EXPECT_EQ(wr(14, 0x01, 0x01), 1);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_TRUE(platform::files::exists("/data/app/zemR47N2"));
    EXPECT_FALSE(platform::files::exists("/data/configs/led_load_config.ini"));

    // Bit 1 reboots at once (recorded by the simulated shell).
    EXPECT_EQ(wr(14, 0x02, 0x00), 0);
    EXPECT_EQ(platform::shell::sim::log(), std::vector<std::string>{"reboot"});
}

// --- register 16: factory defaults --------------------------------------------

uint8_t deflt(uint32_t n) { return default_para_ramlist[n - 766]; }

TEST_F(RegCmdTest, FactoryDefaultsRestoreTheImageAndDeleteTheUserModes)
{
    platform::ensureDir("/data/modes");
    zemtest::writeFile(root.host("/data/modes/custom_mode3"), "m");
    zemtest::writeFile(root.host("/data/modes/MO03.json"), "{}");
    saveSlot(3, 1);
    saveSlot(16, 1);
    std::memset(store->ram_para, 0x77, sizeof store->ram_para);
    std::memcpy(store->ram_para_back, store->ram_para, sizeof store->ram_para);
    card->set_reg_shadow(0, 80, 3);
    card->set_reg_shadow(1, 80, 3);

    EXPECT_EQ(wr(16, 0x01, 0x01), 0);
    for (uint32_t n = 768; n < 4096; ++n) {
        const bool edid = n >= 896 && n < 1376;   // custom EDIDs are kept
        const bool audio = n == para::AUDIO_WINDOW || n == para::AUDIO_WINDOW + 1;
        if (!audio) {
            ASSERT_EQ(store->ram_para[n], edid ? 0x77 : deflt(n)) << n;
        }
    }
    EXPECT_EQ(store->ram_para[767], 0x77);
    EXPECT_EQ(word(para::AUDIO_WINDOW), 0);
    EXPECT_EQ(g_set_led_para, 1);
    EXPECT_FALSE(platform::files::exists("/data/modes/custom_mode3"));
    EXPECT_FALSE(platform::files::exists("/data/modes/MO03.json"));
    EXPECT_TRUE(platform::files::exists("/data/modes"));
    for (auto &slot : store->user_mode_ram)
        EXPECT_TRUE(slot[0] == 0xFF && slot[1] == 0xFF);
    EXPECT_EQ(chip->para_changed, 1);

    std::memset(store->ram_para, 0x77, sizeof store->ram_para);
    EXPECT_EQ(wr(16, 0x12, 0x00), 0);
    EXPECT_EQ(store->ram_para[896], deflt(896));
    EXPECT_EQ(store->ram_para[1375], deflt(1375));
    EXPECT_EQ(store->ram_para[1376], 0x77);
    EXPECT_EQ(store->ram_para[2176], deflt(2176));
    EXPECT_EQ(store->ram_para[2191], deflt(2191));
    EXPECT_EQ(store->ram_para[2192], 0x77);
    EXPECT_EQ(store->ram_para[2175], 0x77);

    g_str_ip = "192.168.0.199";
    EXPECT_EQ(wr(16, 0x20, 0x20), 0);
    EXPECT_TRUE(codes.empty());
    g_str_ip = "10.0.0.5";
    EXPECT_EQ(wr(16, 0x20, 0x20), 0);
    EXPECT_EQ(codes, std::vector<int>{3});
    g_str_ip.clear();
}

// A modes folder that leads out of the root is not the device's: its files
// stay, while the slots are emptied as for any factory reset.
TEST_F(RegCmdTest, FactoryDefaultsDeleteNothingThroughAModesFolderLeadingOut)
{
    zemtest::OutsideDir beside(root);
    zemtest::writeFile(beside.host("custom_mode3"), "m");
    zemtest::writeFile(beside.host("MO03.json"), "{}");
    ASSERT_TRUE(platform::files::remove("/data/modes"));
    ASSERT_EQ(::symlink(beside.dir().c_str(), root.host("/data/modes").c_str()), 0);
    const auto before = beside.snapshot();
    saveSlot(3, 1);

    EXPECT_EQ(wr(16, 0x01, 0x01), 0);
    EXPECT_EQ(beside.snapshot(), before);
    EXPECT_TRUE(store->user_mode_ram[2][0] == 0xFF && store->user_mode_ram[2][1] == 0xFF);
    EXPECT_EQ(chip->para_changed, 1);
}

// The chip thread reads the image under manage_mutex: the defaults must not
// land in the middle of its pass.
TEST_F(RegCmdTest, FactoryDefaultsWaitForTheChipManagersLock)
{
    std::memset(store->ram_para, 0x77, sizeof store->ram_para);
    std::atomic<bool> done{false};
    std::thread link;
    {
        ParaLock held;
        link = std::thread([&] {
            wr(16, 0x01, 0x01);
            done = true;
        });
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (std::chrono::steady_clock::now() < until) {
            ASSERT_EQ(store->ram_para[2176], 0x77);
            ASSERT_FALSE(done.load());
            std::this_thread::yield();
        }
    }
    link.join();
    EXPECT_EQ(store->ram_para[2176], deflt(2176));
}

} // namespace
