// Network, clock and EDID commands of the running program as the PC tool
// sends them over UDP 10005 and TCP 10002: device search and record, address
// set with a new port (stored, then a restart), clock set, EDID upload and
// read-back; the barcode and the address on a full disk.

#include "e2e_fixture.h"
#include "support/full_disk.h"

#include <QSettings>

using namespace e2e;

namespace {

class NetworkE2e : public DeviceTest
{
protected:
    static Bytes edidFile()
    {
        Bytes f(288, 0);
        for (size_t i = 32; i < f.size(); ++i)
            f[i] = uint8_t(i * 3 + 1);
        f[2] = 0x80;   // 1920 x 1080 at 60 Hz, little-endian words
        f[3] = 0x07;
        f[4] = 0x38;
        f[5] = 0x04;
        f[6] = 60;
        return f;
    }
    QString ini(const char *key) const
    {
        return QSettings(QString::fromStdString(root.host("/data/configs/tcpip.ini")), QSettings::IniFormat)
            .value(key)
            .toString();
    }
};

TEST_F(NetworkE2e, SearchRecordClockEdidAndAddressSet)
{
    // The simulated shell answers the MAC query as the device's ifconfig would.
    zemtest::writeFile(root.host("/sim/shell.script"),
                       "ifconfig eth0 | grep HWaddr\t0\t00:1A:2B:3C:4D:5E\\n\n");
    start(false, false);
    UdpPeer pc;
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());

    // Device search: MAC, address, mask, gateway, port.
    Bytes search = pc.ask(10005, pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 3));
    EXPECT_EQ(payload(search), (Bytes{0, 3, 22, 0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 192, 168, 0, 199, 255, 255,
                                      255, 0, 192, 168, 0, 1, 0x8D, 0x13}))
        << output();

    // Device record: 394 bytes of data behind the header.
    Bytes record = payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 16)));
    ASSERT_EQ(record.size(), 394u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 2), (Bytes{0, 16}));
    EXPECT_EQ(Bytes(record.begin() + 187, record.begin() + 195), (Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x8D, 0x13}));

    // Clock set: the date and the hardware clock, built from the BCD digits.
    EXPECT_EQ(payload(pc.ask(10005, pctool::body(pctool::CONTROLLER, pctool::PC, 0x87, 0x24,
                                                 {0x20, 0x12, 0x31, 0x23, 0x59, 0x05}))),
              Bytes{0});
    EXPECT_TRUE(shellLogged("date \"2024-12-31 23:59:5\";hwclock -wu"));

    // EDID of input 2: stored as 0002.bin, read back as 296 bytes.
    const Bytes edid = edidFile();
    Bytes upload = {2, 0, 0, 0, 0, 0, uint8_t(edid.size()), uint8_t(edid.size() >> 8)};
    upload.insert(upload.end(), edid.begin(), edid.end());
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 1, upload))), (Bytes{0, 1}));
    EXPECT_EQ(file("/data/edidramtable/0002.bin"), std::string(edid.begin(), edid.end()));
    Bytes back = payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 2, {2, 0})));
    ASSERT_EQ(back.size(), 296u);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 8), (Bytes{0, 2, 2, 0, 32, 0, 0x20, 0x01}));
    EXPECT_EQ(Bytes(back.begin() + 8, back.end()), edid);

    // Address set with a new port: stored at once, the restart follows the
    // reply about 300 ticks (3 s) later.
    EXPECT_FALSE(shellLogged("reboot"));
    const Bytes address = {0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x70, 0x17};   // port 6000
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 1, address))), Bytes{0});
    const auto replied = std::chrono::steady_clock::now();
    EXPECT_FALSE(shellLogged("reboot"));
    EXPECT_EQ(ini("config/IPAddress"), "192.168.1.50");
    EXPECT_EQ(ini("config/SubNetMask"), "255.255.255.0");
    EXPECT_EQ(ini("config/GateWay"), "192.168.1.1");
    EXPECT_EQ(ini("config/TcpPort"), "6000");
    ASSERT_TRUE(zemtest::waitFor([&] { return shellLogged("reboot"); }, 10s)) << output();
    EXPECT_GE(std::chrono::steady_clock::now() - replied, 2s);
}

// With the configuration folder on a full file system the barcode and the
// address are answered as not stored (2 and 1), as an upload is, and the
// device goes on, and starts again, with the ones it had; so is a MAC
// address the interfaces file cannot take (1), without a restart of eth0.
TEST_F(NetworkE2e, BarcodeAndAddressOnAFullDiskAreAnsweredAsNotStored)
{
    zemtest::FullDisk disk(root.host("/data/configs")), etc(root.host("/etc/network"));
    if (!disk.ok() || !etc.ok())
        GTEST_SKIP() << "no mount namespace of its own for this test";
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    auto barcode = [&](const std::string &text) {
        Bytes b = {uint8_t(text.size() + 2), 0};
        b.insert(b.end(), text.begin(), text.end());
        return payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA2, 30, b)));
    };
    const Bytes oldBarcode = {0, 31, 6, 0, 'O', 'L', 'D', '1'};
    EXPECT_EQ(barcode("OLD1"), (Bytes{0, 30})) << output();
    const Bytes alias = bytes("{\"namelist\":[]}"), longer = bytes("{\"namelist\":[{\"name\":\"x\"}]}");
    EXPECT_EQ(upload(tcp, "ALIS", alias, md5Of(alias)), (Bytes{0, 3, 0}));

    ASSERT_TRUE(disk.fill());
    // Uploads already answer a failure and keep the old file.
    EXPECT_EQ(upload(tcp, "ALIS", longer, md5Of(longer)), (Bytes{1, 3, 1}));
    EXPECT_EQ(file("/data/configs/alias.json"), std::string(alias.begin(), alias.end()));
    const std::string before = file("/data/configs/tcpip.ini");
    EXPECT_EQ(barcode("NEW2"), (Bytes{2, 30}));
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA2, 31))), oldBarcode);
    const Bytes address = {0, 0, 0, 192, 168, 1, 50, 255, 255, 255, 0, 192, 168, 1, 1, 0x70, 0x17};   // port 6000
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 1, address))), Bytes{1});
    const Bytes search = payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 3)));
    ASSERT_EQ(search.size(), 25u);
    EXPECT_EQ(Bytes(search.begin() + 11, search.end()),
              (Bytes{192, 168, 0, 199, 255, 255, 255, 0, 192, 168, 0, 1, 0x8D, 0x13}));
    EXPECT_EQ(file("/data/configs/tcpip.ini"), before);
    EXPECT_FALSE(shellLogged("ifconfig eth0 192.168.1.50 netmask 255.255.255.0 up"));
    ASSERT_TRUE(etc.fill());
    const Bytes mac = {0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 0, mac))), (Bytes{1, 0}));
    EXPECT_FALSE(exists("/etc/network/interfaces"));
    EXPECT_FALSE(shellLogged("ifdown eth0 -f;ifup eth0 -f"));

    dev->stop();
    disk.drain();
    start(false, false);
    TcpClient again(10002);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(payload(again.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA2, 31))), oldBarcode);
    EXPECT_EQ(ini("config/IPAddress"), "192.168.0.199");
    EXPECT_EQ(ini("config/TcpPort"), "5005");
}

} // namespace
