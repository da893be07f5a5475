// RAM, device-record and file commands of the running program over TCP
// 10002, as the PC tool sends them: the device record before any search,
// remote reads and writes of the sending card's pages, a CA file above its
// kind's size limit announced with the confirm flag, a cloud settings file
// that (alone) makes the program ask the 4G module to reconfigure, a cloud
// upload that another link's refused announce leaves going, user-mode
// records read across their ends, an upload end after a refused start, and
// uploads and read-backs on two connections at once.

#include "e2e_fixture.h"

using namespace e2e;

namespace {

constexpr uint16_t CARD = 0x0001;   // not the controller: the sending card's pages

// A request to the controller given from byte 10 on.
Bytes request(uint8_t command, const Bytes &from10)
{
    return pctool::body(pctool::CONTROLLER, pctool::PC, command, from10.at(0), Bytes(from10.begin() + 1, from10.end()));
}

class RamCloudE2e : public DeviceTest
{
protected:
    // Reply data of a request given from byte 10 on.
    Bytes ask(TcpClient &tcp, uint8_t command, const Bytes &from10) { return payload(tcp.ask(request(command, from10))); }
};

TEST_F(RamCloudE2e, DeviceRecordRemotePagesAndConfirmedCaFile)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());

    // Before any search or MAC set the record carries the broadcast MAC.
    const Bytes record = payload(tcp.ask(pctool::body(pctool::CONTROLLER, pctool::PC, 0xA4, 16)));
    ASSERT_GE(record.size(), 193u) << output();
    EXPECT_EQ(Bytes(record.begin() + 187, record.begin() + 193), Bytes(6, 0xFF));

    // Address bits 28..31 select no page: the write lands at parameter-page
    // offset 0x100 of FPGA 0, where reads find it whatever bits 12..23 hold.
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(CARD, 0x10000100, {1, 2, 3, 4}, 0, 1))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(CARD, 0x00FF3100, 4))), (Bytes{0, 1, 2, 3, 4}));
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(CARD, 0x05000000, {5, 6, 7, 8}))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(CARD, 0x05A07000, 4))), (Bytes{0, 5, 6, 7, 8}));
    // A read leaving its page: status 1, byte 11 as it came.
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(CARD, 0x000003F0, 32))), (Bytes{1, 0x03}));

    // A 40000-byte CA file, above the 32 KB of an unconfirmed announce.
    const Bytes done = {0, 200, 0, 0x65, 0};
    EXPECT_EQ(ask(tcp, 0xCC, cat({'F', '0', '0', '2'}, cat(le32(40000), {1}))), done);
    Bytes content(40000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = uint8_t(i * 13);
    for (uint32_t off = 0; off < 40000; off += 8000) {
        const Bytes data(content.begin() + off, content.begin() + off + 8000);
        const Bytes piece = cat(cat({0x65, 0}, le32(off)), cat({0x40, 0x1F}, data));   // 8000 bytes
        ASSERT_EQ(ask(tcp, 0xC5, piece), done) << off;
    }
    EXPECT_EQ(ask(tcp, 0xC6, cat({0x65, 0}, le32(40000))), done);
    const std::string stored = file("/data/configs/cloud_cafile");
    ASSERT_EQ(stored.size(), 40007u);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 7), (Bytes{0xAA, 0x65, 0x00, 0x40, 0x9C, 0x00, 0x00}));
    EXPECT_EQ(Bytes(stored.begin() + 7, stored.end()), content);
}

// A CA file announced on the RS-485 line: a UDP peer's announce on 5008
// that is refused as too big, and one that only asks, leave it going; its
// piece and end store it.
TEST_F(RamCloudE2e, ARefusedAnnounceFromAnotherLinkLeavesTheUploadGoing)
{
    start(true, false);
    UdpPeer udp;
    auto line = [&](uint8_t command, const Bytes &from10) {
        return payload(askPty(*rs485, pctool::frame(request(command, from10))));
    };
    const Bytes done = {0, 200, 0, 0x65, 0};
    EXPECT_EQ(line(0xCC, cat({'F', '0', '0', '2'}, cat(le32(200), {1}))), done) << output();
    EXPECT_EQ(payload(udp.ask(5008, request(0xCC, cat({'F', '0', '0', '2'}, cat(le32(40000000), {1}))))),
              (Bytes{1, 66, 1, 0x65, 0}));
    EXPECT_EQ(payload(udp.ask(5008, request(0xCC, cat({'F', '0', '0', '4'}, cat(le32(10), {0}))))),
              (Bytes{1, 64, 1, 0x66, 0}));
    const Bytes content(200, 0x3C);
    EXPECT_EQ(line(0xC5, cat(cat({0x65, 0}, le32(0)), cat({200, 0}, content))), done);
    EXPECT_EQ(line(0xC6, cat({0x65, 0}, le32(200))), done);
    EXPECT_EQ(file("/data/configs/cloud_cafile"), std::string("\xAA\x65\x00\xC8\x00\x00\x00", 7) + std::string(200, 0x3C));
}

// Nothing asks the 4G module to reconfigure while no settings file has been
// stored; storing one sends it the fixed register-write frame.
TEST_F(RamCloudE2e, ModuleIsAskedToReconfigureOnlyOnceASettingsFileIsStored)
{
    start(false, true);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    // The 4G link looks for a request at least once a second.
    EXPECT_TRUE(link4g->receive(1, zemtest::patience(1500ms)).empty());

    const Bytes done = {0, 200, 0, 0x66, 0};
    EXPECT_EQ(ask(tcp, 0xCC, cat({'F', '0', '0', '4'}, cat(le32(8), {1}))), done);
    EXPECT_EQ(ask(tcp, 0xC5, cat(cat({0x66, 0}, le32(0)), cat({8, 0}, Bytes(8, 0x11)))), done);
    EXPECT_EQ(ask(tcp, 0xC6, cat({0x66, 0}, le32(8))), done);
    EXPECT_EQ(link4g->receive(16, zemtest::patience(3000ms)),
              (Bytes{0xA5, 0x10, 0xF0, 0x00, 0xF1, 0x10, 0xCC, 0x01, 0x00, 0x00, 0xA0, 0x01, 0x01, 0x01, 0x6D, 0x5A}));
}

// User-mode records read by the PC tool: a read that crosses a record's
// 4096th byte returns that record's last two bytes (never stored, so 0),
// then the next record's first ones.
TEST_F(RamCloudE2e, SlotReadRunsOnThroughTheRecordsBackToBack)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, 0x1FFC, {1, 2, 3, 4}))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramWrite(pctool::CONTROLLER, 0x2000, {0xAA, 0xAA}))), Bytes{0});
    EXPECT_EQ(payload(tcp.ask(pctool::ramRead(pctool::CONTROLLER, 0x1FFC, 8))),
              (Bytes{0, 1, 2, 3, 4, 0, 0, 0xAA, 0xAA}));
}

// An end after a refused start stores nothing: the alias file stays as the
// last upload left it, not the buffer's old bytes under the refused length.
TEST_F(RamCloudE2e, AnEndAfterARefusedStartStoresNothing)
{
    start(false, false);
    TcpClient tcp(10002);
    ASSERT_TRUE(tcp.ok());
    const Bytes alias = bytes("{\"namelist\":[{\"name\":\"stage left\"}]}");
    EXPECT_EQ(upload(tcp, "ALIS", alias, md5Of(alias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(payload(tcp.ask(startTyped("ABCD", 300))), (Bytes{1, 1, 2}));
    EXPECT_EQ(payload(tcp.ask(endWith(md5Of({})))), (Bytes{0, 3, 1}));
    EXPECT_EQ(file("/data/configs/alias.json"), std::string(alias.begin(), alias.end()));
}

// Two connections to 5005 at once: the first starts an alias file, the second
// a menu; the first one's blocks and end are refused and neither file takes
// its bytes. The second one's upload is its own: an end from a UDP peer is
// refused as well, and its own end stores the menu.
TEST_F(RamCloudE2e, AnUploadBelongsToTheConnectionThatStartedIt)
{
    start(false, false);
    TcpClient first(5005), second(5005);
    ASSERT_TRUE(first.ok() && second.ok());
    UdpPeer udp;
    const Bytes alias = bytes("{\"namelist\":[{\"name\":\"stage left\"}]}");
    const Bytes menu = bytes("{\"menu\":[]}");
    EXPECT_EQ(upload(first, "ALIS", alias, md5Of(alias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(upload(second, "OSDS", menu, md5Of(menu)), (Bytes{0, 3, 0}));

    const Bytes other = bytes("{\"namelist\":[]}");
    EXPECT_EQ(payload(first.ask(startTyped("ALIS", uint32_t(other.size())))), (Bytes{0, 1, 0}));
    EXPECT_EQ(payload(second.ask(startTyped("OSDS", uint32_t(other.size())))), (Bytes{0, 1, 0}));
    EXPECT_EQ(payload(first.ask(block(0, other))), (Bytes{1, 2}));
    EXPECT_EQ(payload(first.ask(endWith(md5Of(other)))), (Bytes{0, 3, 1}));
    EXPECT_EQ(file("/data/configs/alias.json"), std::string(alias.begin(), alias.end()));
    EXPECT_EQ(file("/data/configs/omenu.json"), std::string(menu.begin(), menu.end()));

    EXPECT_EQ(payload(second.ask(block(0, other))), (Bytes{0, 2}));
    EXPECT_EQ(payload(udp.ask(10005, endWith(md5Of(other)))), (Bytes{0, 3, 1}));
    EXPECT_EQ(file("/data/configs/omenu.json"), std::string(menu.begin(), menu.end()));
    EXPECT_EQ(payload(second.ask(endWith(md5Of(other)))), (Bytes{0, 3, 0}));
    EXPECT_EQ(file("/data/configs/omenu.json"), std::string(other.begin(), other.end()));
}

// Two connections to 5005 reading back at once: the first opens the alias
// file and reads half of it, the second opens the menu. The read is the
// second one's now: the first one's next block is refused and its end
// carries no digest, and the second reads its menu whole. Opened again, the
// alias file reads whole on the first connection.
TEST_F(RamCloudE2e, AReadBelongsToTheConnectionThatOpenedIt)
{
    start(false, false);
    TcpClient first(5005), second(5005);
    ASSERT_TRUE(first.ok() && second.ok());
    const Bytes alias = bytes("{\"namelist\":[{\"name\":\"stage left\"}]}");
    const Bytes menu = bytes("{\"menu\":[{\"name\":\"picture\"}]}");
    EXPECT_EQ(upload(first, "ALIS", alias, md5Of(alias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(upload(second, "OSDS", menu, md5Of(menu)), (Bytes{0, 3, 0}));

    const uint32_t size = uint32_t(alias.size()), half = size / 2;
    EXPECT_EQ(payload(first.ask(readTyped("ALIS"))), cat({0, 4, 1}, le32(size)));
    EXPECT_EQ(payload(first.ask(readBlock(0, half))), cat({0, 5}, Bytes(alias.begin(), alias.begin() + half)));
    EXPECT_EQ(payload(second.ask(readTyped("OSDS"))), cat({0, 4, 1}, le32(uint32_t(menu.size()))));
    EXPECT_EQ(payload(first.ask(readBlock(half, size - half))), (Bytes{1, 5}));
    EXPECT_EQ(payload(first.ask(readEnd())), cat({0, 6}, Bytes(16, 0)));
    EXPECT_EQ(payload(second.ask(readBlock(0, uint32_t(menu.size())))), cat({0, 5}, menu));
    EXPECT_EQ(payload(second.ask(readEnd())), cat({0, 6}, md5Of(menu)));

    EXPECT_EQ(payload(first.ask(readTyped("ALIS"))), cat({0, 4, 1}, le32(size)));
    EXPECT_EQ(payload(first.ask(readBlock(0, size))), cat({0, 5}, alias));
    EXPECT_EQ(payload(first.ask(readEnd())), cat({0, 6}, md5Of(alias)));
}

} // namespace
