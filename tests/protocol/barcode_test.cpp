#include "net_cmd_fixture.h"

#include "cloud/message_deal_4g.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/gui_call.h"
#include "support/full_disk.h"
#include "support/patience.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <QSettings>
#include <thread>

using pctool::Bytes;

namespace {

Bytes barcodeRequest(const std::string &text)
{
    uint16_t n = uint16_t(text.size() + 2);
    Bytes b = {30, uint8_t(n), uint8_t(n >> 8)};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes langRequest(uint8_t type, uint16_t mask, uint16_t n = 36)
{
    return {32, uint8_t(n), uint8_t(n >> 8), 0xAA, 0x55, type, uint8_t(mask), uint8_t(mask >> 8)};
}

} // namespace

TEST_F(CmdTest, BarcodeSetAndReadRoundTripAndFillTheCloudId)
{
    std::memset(g_4G_property + 25, 0x77, 12);
    EXPECT_EQ(cmd(0xA2, barcodeRequest("A1B2C3D4E5F6A1B2C3D4E5F6")), (Bytes{0, 30}));
    EXPECT_EQ(Bytes(g_4G_property + 25, g_4G_property + 37),
              (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
    EXPECT_EQ(QSettings(QString::fromStdString(root.host("/data/configs/tcpip.ini")), QSettings::IniFormat)
                  .value("config/Barcode").toString(),
              "A1B2C3D4E5F6A1B2C3D4E5F6");
    Bytes r = cmd(0xA2, {31});
    ASSERT_EQ(r.size(), 28u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0, 31, 26, 0}));
    EXPECT_EQ(std::string(r.begin() + 4, r.end()), "A1B2C3D4E5F6A1B2C3D4E5F6");

    // A shorter id leaves the missing bytes 0; the text ends at a zero byte.
    EXPECT_EQ(cmd(0xA2, barcodeRequest(std::string("ABCD\0zz", 7))), (Bytes{0, 30}));
    EXPECT_EQ(Bytes(g_4G_property + 25, g_4G_property + 28), (Bytes{0xAB, 0xCD, 0}));
    EXPECT_EQ(cmd(0xA2, {31}), (Bytes{0, 31, 6, 0, 'A', 'B', 'C', 'D'}));

    EXPECT_EQ(cmd(0xA2, barcodeRequest(" ")), (Bytes{0, 30}));
    EXPECT_EQ(cmd(0xA2, {31}), (Bytes{0, 31, 3, 0, ' '}));
}

// On a full disk the barcode is read back from the file: status 2, and the
// device keeps the barcode a restart loads; a language set is refused alike.
// A setting stored later, once there is room, does not carry the refused
// barcode into the file either.
TEST_F(CmdTest, ABarcodeOrLanguagesTheFileDidNotTakeAnswer2AndAreNotKept)
{
    EXPECT_EQ(cmd(0xA2, barcodeRequest("OLD1")), (Bytes{0, 30}));
    zemtest::FullDisk disk(root.host("/data/configs"));
    if (!disk.ok())
        GTEST_SKIP() << "no mount namespace of its own for this test";
    const std::string before = file("/data/configs/tcpip.ini");
    ASSERT_TRUE(disk.fill());
    EXPECT_EQ(cmd(0xA2, barcodeRequest("NEW2")), (Bytes{2, 30}));
    EXPECT_EQ(cmd(0xA2, {31}), (Bytes{0, 31, 6, 0, 'O', 'L', 'D', '1'}));
    const uint32_t languages = g_lcd_lang_valid;
    EXPECT_EQ(cmd(0xA2, langRequest(1, 0x0005)), (Bytes{2, 32}));
    EXPECT_EQ(g_lcd_lang_valid, languages);
    EXPECT_EQ(file("/data/configs/tcpip.ini"), before);

    disk.drain();
    EXPECT_EQ(cmd(0xA2, langRequest(1, 0x0003)), (Bytes{0, 32}));
    const std::string after = file("/data/configs/tcpip.ini");
    EXPECT_NE(after.find("Barcode=OLD1\n"), std::string::npos) << after;
    EXPECT_NE(after.find("ZemLCDLang=65539\n"), std::string::npos) << after;
}

// A read of the device-information block reloads the cloud settings file;
// the id the barcode gave stays, whatever the file holds at its place.
TEST_F(CmdTest, ReloadingTheCloudPropertiesKeepsTheBarcodesId)
{
    const Bytes id = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    EXPECT_EQ(cmd(0xA2, barcodeRequest("A1B2C3D4E5F6010203040506")), (Bytes{0, 30}));
    const struct {
        const char *what;
        std::string settings;   // header, then the properties
        uint8_t server;         // device-information byte 0x65: property byte 68
    } cases[] = {
        {"short file", std::string("\xAA\x04\x00xy", 5), 0},
        {"long file", std::string("\xAA\xCA\x00", 3) + std::string(200, '\x55'), 0x55},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        zemtest::writeFile(root.host("/data/configs/cloud_setinfo"), c.settings);
        const Bytes info = run(pctool::ramRead(pctool::CONTROLLER, 0xA0000000, 0x66));
        ASSERT_EQ(info.size(), 0x67u);
        EXPECT_EQ(Bytes(info.begin() + 1 + 0x43, info.begin() + 1 + 0x4F), id);
        EXPECT_EQ(info[1 + 0x65], c.server);
        uint8_t property[sizeof g_4G_property];
        message_deal_4g::copy_4G_property(property);
        EXPECT_EQ(Bytes(property + 25, property + 37), id);
    }
}

TEST_F(CmdTest, MalformedBarcodeRequestsAnswerStatus5)
{
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_barcode = QStringLiteral("KEEP");
    }
    EXPECT_EQ(cmd(0xA2, {30, 2, 0}), (Bytes{5, 30}));
    // A length running past the body.
    EXPECT_EQ(cmd(0xA2, {30, 50, 0, 'A', 'B'}), (Bytes{5, 30}));
    EXPECT_EQ(cmd(0xA2, {30}), (Bytes{5, 30}));
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    EXPECT_EQ(g_str_barcode, QStringLiteral("KEEP"));
}

TEST_F(CmdTest, LanguageSetFallsBackAndARepeatChangesNothing)
{
    g_lcd_lang_valid = 0x1001F;
    g_language = 0;
    store->ram_para[para::LANGUAGE] = 0;
    EXPECT_EQ(cmd(0xA2, langRequest(2, 0x001F)), (Bytes{0, 32}));
    EXPECT_EQ(g_lcd_lang_valid.load(), 0x2001Eu);
    EXPECT_EQ(g_language.load(), 1);
    EXPECT_EQ(store->ram_para[para::LANGUAGE], 1);
    EXPECT_EQ(QSettings(QString::fromStdString(root.host("/data/configs/tcpip.ini")), QSettings::IniFormat)
                  .value("config/ZemLCDLang").toUInt(),
              0x2001Eu);
    EXPECT_EQ(changes, std::vector<int>{1});

    const std::string ini = file("/data/configs/tcpip.ini");
    EXPECT_EQ(cmd(0xA2, langRequest(2, 0x001F)), (Bytes{0, 32}));
    EXPECT_EQ(changes, std::vector<int>{1});
    EXPECT_EQ(file("/data/configs/tcpip.ini"), ini);

    // Type 1 keeps the language in use when it stays enabled; none enabled keeps it too.
    EXPECT_EQ(cmd(0xA2, langRequest(1, 0x0006)), (Bytes{0, 32}));
    EXPECT_EQ(g_lcd_lang_valid.load(), 0x10006u);
    EXPECT_EQ(g_language.load(), 1);
    EXPECT_EQ(cmd(0xA2, langRequest(1, 0)), (Bytes{0, 32}));
    EXPECT_EQ(g_language.load(), 1);

    EXPECT_EQ(cmd(0xA2, langRequest(1, 0x1F, 35)), (Bytes{5, 32}));
    Bytes bad = langRequest(1, 0x1F);
    bad[4] = 0x56;
    EXPECT_EQ(cmd(0xA2, bad), (Bytes{5, 32}));
    EXPECT_EQ(g_lcd_lang_valid.load(), 0x10000u);
}

TEST_F(CmdTest, DeletingCardFilesEmptiesBothFoldersWithoutAShell)
{
    zemtest::writeFile(root.host("/data/smartmapping/a.map"), "x");
    zemtest::writeFile(root.host("/data/smartmapping/b;reboot"), "x");
    platform::ensureDir("/data/rcvrecovery/sub");
    zemtest::writeFile(root.host("/data/rcvrecovery/sub/card1"), "x");
    EXPECT_EQ(cmd(0xC0, {10}), (Bytes{0, 10}));
    EXPECT_FALSE(platform::files::exists("/data/smartmapping/a.map"));
    EXPECT_FALSE(platform::files::exists("/data/smartmapping/b;reboot"));
    EXPECT_FALSE(platform::files::exists("/data/rcvrecovery/sub"));
    EXPECT_TRUE(platform::files::exists("/data/smartmapping"));
    EXPECT_TRUE(platform::shell::sim::log().empty());
    // Missing folders are skipped.
    platform::files::remove("/data/rcvrecovery");
    EXPECT_EQ(cmd(0xC0, {10}), (Bytes{0, 10}));
}

TEST(PanelCalls, WorkAskedForOnALinkThreadRunsInTheGuiThread)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    std::atomic<int> ran{0};
    gui_call::post([&ran]() { ++ran; });   // no front panel: nothing runs
    static int argc = 1;
    static char name[] = "test";
    static char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::thread::id ranOn;
    std::thread link([&]() { gui_call::post([&]() { ranOn = std::this_thread::get_id(); ++ran; }); });
    link.join();
    EXPECT_EQ(ran.load(), 0);   // queued, not run on the link thread
    const auto deadline = std::chrono::steady_clock::now() + zemtest::patience(std::chrono::seconds(5));
    while (ran.load() == 0 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // In the GUI thread it runs at once.
    gui_call::post([&ran]() { ++ran; });
    EXPECT_EQ(ran.load(), 2);
}
