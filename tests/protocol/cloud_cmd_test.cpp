#include "net_cmd_fixture.h"

#include "app/utils.h"
#include "cloud/message_deal_4g.h"
#include "cloud/networkclient_manage.h"
#include "platform/files.h"

#include <thread>

using pctool::Bytes;

namespace {

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes announce(char digit, uint32_t size, uint8_t confirm)
{
    return cat({{'F', '0', '0', uint8_t(digit)}, le32(size), {confirm}});
}
Bytes piece(uint16_t id, uint32_t offset, const Bytes &data)
{
    return cat({le16(id), le32(offset), le16(uint16_t(data.size())), data});
}
Bytes idTotal(uint16_t id, uint32_t total) { return cat({le16(id), le32(total)}); }

Bytes ok(uint16_t id) { return cat({{0, 200, 0}, le16(id)}); }
Bytes refused(uint8_t code, uint16_t id) { return cat({{1, code, 1}, le16(id)}); }

class CloudTest : public CmdTest
{
protected:
    void SetUp() override
    {
        CmdTest::SetUp();
        g_reconfig_4g = 0;
        g_rconfig_device_kumocloud = 0;
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
    }
    Bytes data(size_t n, uint8_t seed)
    {
        Bytes d(n);
        for (size_t i = 0; i < n; ++i)
            d[i] = uint8_t(seed + i * 7);
        return d;
    }
};

} // namespace

TEST_F(CloudTest, CaFileUploadAndReadBack)
{
    EXPECT_EQ(cmd(0xCC, announce('2', 40000, 0)), refused(66, 101));
    EXPECT_EQ(cmd(0xCC, announce('2', 60, 1)), ok(101));
    EXPECT_EQ(cmd(0xC5, piece(101, 0, data(100, 0))), refused(76, 101));

    const Bytes content = data(1000, 3);
    EXPECT_EQ(cmd(0xCC, announce('2', 1000, 1)), ok(101));
    EXPECT_EQ(cmd(0xC5, piece(101, 0, Bytes(content.begin(), content.begin() + 600))), ok(101));
    EXPECT_EQ(cmd(0xC5, piece(101, 0, Bytes(content.begin(), content.begin() + 10))), refused(75, 101));
    EXPECT_EQ(cmd(0xC5, piece(102, 600, Bytes(content.begin(), content.begin() + 10))), refused(74, 102));
    EXPECT_EQ(cmd(0xC5, piece(101, 600, Bytes(content.begin() + 600, content.end()))), ok(101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 999)), refused(76, 101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 1000)), ok(101));
    const std::string stored = file("/data/configs/cloud_cafile");
    ASSERT_EQ(stored.size(), 1007u);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 7), (Bytes{0xAA, 0x65, 0x00, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(Bytes(stored.begin() + 7, stored.end()), content);
    // An announce without the flag now meets the stored file.
    EXPECT_EQ(cmd(0xCC, announce('2', 10, 0)), refused(65, 101));

    Bytes r = cmd(0xC8, {'F', '0', '0', '2'});
    EXPECT_EQ(r, cat({ok(101), le32(1000)}));
    r = cmd(0xC9, cat({le16(101), le32(0)}));
    ASSERT_EQ(r.size(), 12u + 768);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 11), cat({ok(101), le32(768), le16(768)}));
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 11 + 768), Bytes(content.begin(), content.begin() + 768));
    r = cmd(0xC9, cat({le16(101), le32(768)}));
    ASSERT_EQ(r.size(), 12u + 232);
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 11), cat({le32(1000), le16(232)}));
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 11 + 232), Bytes(content.begin() + 768, content.end()));
    EXPECT_EQ(cmd(0xCA, idTotal(101, 1000)), cat({ok(101), {0}}));
    EXPECT_EQ(cmd(0xCA, idTotal(102, 1000)), cat({refused(44, 102), {0}}));
    EXPECT_EQ(cmd(0xCA, idTotal(101, 5)), cat({refused(77, 101), {0}}));
    EXPECT_EQ(cmd(0xCB, le16(101)), cat({ok(101), {0}}));
}

TEST_F(CloudTest, ConfirmedAnnounceIsRefusedOnlyWhenTheFileCannotBeCollected)
{
    // Confirmed, a file above the kind's limit goes ahead and is stored whole.
    const Bytes content = data(40000, 2);
    EXPECT_EQ(cmd(0xCC, announce('2', 40000, 1)), ok(101));
    for (uint32_t off = 0; off < 40000; off += 10000)
        ASSERT_EQ(cmd(0xC5, piece(101, off, Bytes(content.begin() + off, content.begin() + off + 10000))), ok(101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 40000)), ok(101));
    const std::string stored = file("/data/configs/cloud_cafile");
    ASSERT_EQ(stored.size(), 40007u);
    EXPECT_EQ(Bytes(stored.begin() + 3, stored.begin() + 7), le32(40000));
    EXPECT_EQ(Bytes(stored.begin() + 7, stored.end()), content);

    // Refused with 66 only past the 5 MB buffer (header included), or past
    // the settings file's 16-bit length field; no piece is taken then.
    const struct {
        char digit;
        uint32_t size;
        Bytes reply;
    } cases[] = {
        {'2', 5 * 1024 * 1024 - 7, ok(101)},   {'2', 5 * 1024 * 1024 - 6, refused(66, 101)},
        {'4', 5000, ok(102)},                  {'4', 65533, ok(102)},
        {'4', 65534, refused(66, 102)},        {'1', 5000, ok(100)},
        {'3', 10, refused(64, 0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(1, c.digit) + " " + std::to_string(c.size));
        EXPECT_EQ(cmd(0xCC, announce(c.digit, c.size, 1)), c.reply);
        if (c.reply[1] == 66) {
            EXPECT_EQ(cmd(0xC5, piece(c.reply[3], 0, data(100, 1)))[1], 76);
        }
    }
}

TEST_F(CloudTest, UnconfirmedAnnounceAnswersByLimitAndStillRecordsTheFile)
{
    EXPECT_EQ(cmd(0xCC, announce('2', 40000, 0)), refused(66, 101));
    EXPECT_EQ(cmd(0xCC, announce('4', 10, 0)), refused(64, 102));
    EXPECT_EQ(cmd(0xCC, announce('1', 5000, 0)), refused(66, 100));
    EXPECT_EQ(cmd(0xCC, announce('1', 10, 0)), refused(64, 100));
    const std::string old(8, 'x');
    ASSERT_TRUE(platform::files::writeAtomic("/data/configs/cloud_setinfo", old.data(), old.size()));
    EXPECT_EQ(cmd(0xCC, announce('4', 100000, 0)), refused(65, 102));
    // What was announced is recorded all the same: pieces of it are taken.
    EXPECT_EQ(cmd(0xCC, announce('2', 40000, 0)), refused(66, 101));
    EXPECT_EQ(cmd(0xC5, piece(101, 0, data(1000, 5))), ok(101));
}

TEST_F(CloudTest, PieceCountMustLieInsideTheFrame)
{
    EXPECT_EQ(cmd(0xCC, announce('2', 1000, 1)), ok(101));
    Bytes req = piece(101, 0, data(20, 0));
    req[6] = 0xE8;   // claims 1000 bytes, carries 20
    req[7] = 0x03;
    EXPECT_EQ(cmd(0xC5, req), refused(76, 101));
    // The record did not move: the first real piece still goes at offset 0.
    EXPECT_EQ(cmd(0xC5, piece(101, 0, data(20, 0))), ok(101));
}

// A cloud-file upload belongs to the link and connection that announced it:
// pieces, an end and a cancel from any other sender are refused as of
// another file and store nothing; an announce from anywhere takes it over.
TEST_F(CloudTest, AnUploadBelongsToTheSenderThatAnnouncedIt)
{
    const Bytes mine = data(200, 1), theirs = data(200, 2);
    deal.set_origin(1);
    EXPECT_EQ(cmd(0xCC, announce('2', 200, 1)), ok(101));
    deal.set_origin(2);
    EXPECT_EQ(cmd(0xCC, announce('2', 200, 1)), ok(101));
    deal.set_origin(1);
    EXPECT_EQ(cmd(0xC5, piece(101, 0, Bytes(mine.begin(), mine.begin() + 100))), refused(74, 101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 200)), refused(74, 101));
    EXPECT_EQ(cmd(0xC7, le16(101)), refused(74, 101));
    EXPECT_FALSE(platform::files::exists("/data/configs/cloud_cafile"));
    deal.set_origin(3);   // an announce refused elsewhere leaves the upload going
    EXPECT_EQ(cmd(0xCC, announce('9', 200, 1)), refused(64, 0));
    deal.set_origin(2);
    EXPECT_EQ(cmd(0xC5, piece(101, 0, theirs)), ok(101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 200)), ok(101));
    EXPECT_EQ(file("/data/configs/cloud_cafile"),
              std::string("\xAA\x65\x00\xC8\x00\x00\x00", 7) + std::string(theirs.begin(), theirs.end()));
}

// Another sender's announce that is refused (too big to collect, an unknown
// kind) or only asks (no confirm flag) leaves the upload going; once the
// upload is stored, such a query records its own file again.
TEST_F(CloudTest, ARefusedOrUnconfirmedAnnounceLeavesAnotherSendersUploadGoing)
{
    const Bytes content = data(200, 4);
    deal.set_origin(1);
    EXPECT_EQ(cmd(0xCC, announce('2', 200, 1)), ok(101));
    deal.set_origin(3);
    const struct {
        Bytes request;
        Bytes reply;
    } others[] = {
        {announce('2', 40000000, 1), refused(66, 101)},
        {announce('2', 40000000, 0), refused(66, 101)},
        {announce('4', 10, 0), refused(64, 102)},
        {announce('1', 10, 0), refused(64, 100)},
        {announce('9', 10, 1), refused(64, 0)},
    };
    for (const auto &o : others)
        EXPECT_EQ(cmd(0xCC, o.request), o.reply);
    deal.set_origin(1);
    EXPECT_EQ(cmd(0xC5, piece(101, 0, content)), ok(101));
    EXPECT_EQ(cmd(0xC6, idTotal(101, 200)), ok(101));
    EXPECT_EQ(file("/data/configs/cloud_cafile"),
              std::string("\xAA\x65\x00\xC8\x00\x00\x00", 7) + std::string(content.begin(), content.end()));

    deal.set_origin(3);
    EXPECT_EQ(cmd(0xCC, announce('4', 10, 0)), refused(64, 102));
    EXPECT_EQ(cmd(0xC5, piece(102, 0, data(10, 1))), ok(102));
}

TEST_F(CloudTest, SettingsUploadStoresAndRequestsReconnection)
{
    zemtest::writeFile(root.host("/data/configs/cloud_barcode"), "old");
    g_4G_RAM[0] = 0xAA;
    g_4G_RAM[56] = 1;
    Bytes content = data(200, 9);
    content[68] = 10;   // server address in the properties
    content[69] = 1;
    content[70] = 2;
    content[71] = 3;
    EXPECT_EQ(cmd(0xCC, announce('4', 200, 1)), ok(102));
    EXPECT_EQ(cmd(0xC5, piece(102, 0, content)), ok(102));
    EXPECT_EQ(cmd(0xC6, idTotal(102, 200)), ok(102));
    const std::string stored = file("/data/configs/cloud_setinfo");
    ASSERT_EQ(stored.size(), 203u);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 3), (Bytes{0xAA, 202, 0}));
    EXPECT_FALSE(platform::files::exists("/data/configs/cloud_barcode"));
    EXPECT_EQ(g_4G_RAM[56], 0);
    EXPECT_EQ(Bytes(g_4G_property + 68, g_4G_property + 72), (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(g_reconfig_4g, 1);
    EXPECT_EQ(g_rconfig_device_kumocloud, 1);
    EXPECT_TRUE(platform::shell::sim::log().empty());

    // Read back: the announced S + 2 bytes are the length field and the data.
    EXPECT_EQ(cmd(0xC8, {'F', '0', '0', '4'}), cat({ok(102), le32(202)}));
    Bytes r = cmd(0xC9, cat({le16(102), le32(0)}));
    ASSERT_EQ(r.size(), 12u + 202);
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 13), (Bytes{202, 0}));
    EXPECT_EQ(Bytes(r.begin() + 13, r.begin() + 213), content);
    std::memset(g_4G_property, 0, sizeof g_4G_property);
}

TEST_F(CloudTest, PropertyReloadTakesEachCloudFileOnItsOwn)
{
    message_deal_4g *g4 = deal.deal_4g();
    g_4G_RAM[0] = 0xAA;
    g_4G_property[68] = 7;
    // No cloud file: nothing to reload, and no failure.
    EXPECT_EQ(g4->get_4G_property(), 0);
    EXPECT_EQ(g_4G_RAM[0], 0xAA);
    EXPECT_EQ(g_4G_property[68], 7);

    // The settings alone: the properties come from behind its header, the
    // 4G information block stays.
    zemtest::writeFile(root.host("/data/configs/cloud_setinfo"), std::string("\xAA\x06\x00prop", 7));
    EXPECT_EQ(g4->get_4G_property(), 0);
    EXPECT_EQ(Bytes(g_4G_property, g_4G_property + 5), (Bytes{'p', 'r', 'o', 'p', 0}));
    EXPECT_EQ(g_4G_RAM[0], 0xAA);

    // The module's block is reloaded too, even when the settings file is bad.
    zemtest::writeFile(root.host("/data/configs/cloud_barcode"), std::string("\xAAV1", 3));
    zemtest::writeFile(root.host("/data/configs/cloud_setinfo"), std::string("\xAA\x02", 2));
    g_4G_RAM[56] = 1;
    EXPECT_EQ(g4->get_4G_property(), 1);
    EXPECT_EQ(Bytes(g_4G_RAM, g_4G_RAM + 4), (Bytes{0xAA, 'V', '1', 0}));
    EXPECT_EQ(g_4G_RAM[56], 0);
    EXPECT_EQ(g_4G_property[0], 'p');
    std::memset(g_4G_property, 0, sizeof g_4G_property);
}

TEST_F(CloudTest, AFileThatCannotBeWrittenAnswersFailureAndKeepsTheOldOne)
{
    zemtest::writeFile(root.host("/data/configs/cloud_setinfo"), std::string("\xAA\x04\x00xy", 5));
    zemtest::writeFile(root.host("/data/configs/cloud_barcode"), "old");
    EXPECT_EQ(cmd(0xCC, announce('4', 50, 1)), ok(102));
    EXPECT_EQ(cmd(0xC5, piece(102, 0, data(50, 1))), ok(102));
    platform::files::testing::failNextWriteAfter(10);
    EXPECT_EQ(cmd(0xC6, idTotal(102, 50)), refused(79, 102));
    platform::files::testing::clearFailure();
    EXPECT_EQ(file("/data/configs/cloud_setinfo"), std::string("\xAA\x04\x00xy", 5));
    EXPECT_TRUE(platform::files::exists("/data/configs/cloud_barcode"));
    EXPECT_EQ(g_reconfig_4g, 0);
}

TEST_F(CloudTest, ReadPieceSendsOnlyTheBytesTheFileHolds)
{
    // A CA file whose header claims more than it carries.
    std::string f = std::string("\xAA\x65\x00\xE8\x03\x00\x00", 7) + std::string(100, 'z');
    zemtest::writeFile(root.host("/data/configs/cloud_cafile"), f);
    EXPECT_EQ(cmd(0xC8, {'F', '0', '0', '2'}), cat({ok(101), le32(1000)}));
    Bytes r = cmd(0xC9, cat({le16(101), le32(0)}));
    ASSERT_EQ(r.size(), 12u + 100);
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 11), cat({le32(100), le16(100)}));
    EXPECT_EQ(std::string(r.begin() + 11, r.begin() + 111), std::string(100, 'z'));
    EXPECT_EQ(cmd(0xCA, idTotal(101, 1000)), cat({ok(101), {0}}));
}

TEST_F(CloudTest, BarcodeKindAndMissingFiles)
{
    {
        std::lock_guard<std::mutex> lock(g_config_text_mutex);
        g_str_barcode = QStringLiteral("XYZ");
    }
    EXPECT_EQ(cmd(0xC8, {'F', '0', '0', '1'}), cat({ok(100), le32(3)}));
    EXPECT_EQ(cmd(0xC9, cat({le16(100), le32(0)})), cat({ok(100), le32(3), le16(3), {'X', 'Y', 'Z', 0}}));
    EXPECT_EQ(cmd(0xC8, {'F', '0', '0', '2'}), cat({refused(78, 101), le32(0)}));
    EXPECT_EQ(cmd(0xC8, {'F', '0', '0', '9'}), cat({refused(78, 0), le32(0)}));
    // Announcing the barcode kind blanks the stored barcode.
    EXPECT_EQ(cmd(0xCC, announce('1', 10, 1)), ok(100));
    std::lock_guard<std::mutex> lock(g_config_text_mutex);
    EXPECT_EQ(g_str_barcode, QStringLiteral(" "));
}

TEST_F(CloudTest, ModuleInformationAndCloudPath)
{
    EXPECT_EQ(cmd(0x8F, {0}), (Bytes{1, 2, 0}));
    // Without a 4G path, the cloud client's own link answers 00 02 01.
    networkclient_Manage *client = networkclient_Manage::pInstance();
    client->stop();
    client->link_up = 1;
    EXPECT_EQ(cmd(0x8F, {0}), (Bytes{0, 2, 1}));
    client->link_up = 0;
    EXPECT_EQ(cmd(0x8F, {0}), (Bytes{1, 2, 0}));
    client->link_up = 1;  // an active 4G path is reported first
    g_4G_RAM[0] = 0xAA;
    g_4G_RAM[1] = 'V';
    g_4G_RAM[55] = 'E';
    g_4G_RAM[56] = 3;
    EXPECT_EQ(cmd(0x8F, {0}), (Bytes{0, 1, 3}));
    EXPECT_EQ(cmd(0x8E, {0}), Bytes{1});
    Bytes r = cmd(0x8E, {1});
    ASSERT_EQ(r.size(), 60u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0, 1, 0xAA, 'V'}));
    EXPECT_EQ(r[57], 'E');
    EXPECT_EQ(Bytes(r.begin() + 58, r.end()), (Bytes{0, 0}));
    client->link_up = 0;
}

// Two links at once: a RAM write of the 4G information block on one, the
// path check on the other. A ThreadSanitizer build reports a block they
// reach without its lock.
TEST_F(CloudTest, LinksWriteAndCheckTheModuleBlockAtOnce)
{
    Bytes block(57, 'V');
    block[0] = 0xAA;
    block[56] = 2;
    Bytes checked;
    std::thread writer([&] { run(pctool::ramWrite(pctool::CONTROLLER, 0xA1000000, block)); });
    std::thread checker([&] {
        message_deal link;
        Bytes req = pctool::body(pctool::CONTROLLER, pctool::PC, 0x8F, 0);
        const uint32_t len = uint32_t(req.size());
        req.resize(64, 0);
        link.message_group_deal(req.data(), len, 1);
        checked.assign(req.begin() + 10, req.begin() + 13);
    });
    writer.join();
    checker.join();
    EXPECT_TRUE(checked == (Bytes{0, 1, 2}) || checked == (Bytes{1, 2, 0})) << "the block as before or after";
    EXPECT_EQ(cmd(0x8F, {0}), (Bytes{0, 1, 2}));
}
