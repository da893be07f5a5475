#include "proto_fixture.h"

#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/message_deal.h"
#include "protocol/qy_uart_inout.h"
#include "support/device_process.h"
#include "videoio/tarixsource.h"

#include <fcntl.h>

using pctool::Bytes;
using namespace std::chrono_literals;

namespace {

class EdidTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        tarixsource::pInstance();
        std::memset(edid_ram_table, 0, sizeof edid_ram_table);
        std::memset(edid_ram_table_from, 0, sizeof edid_ram_table_from);
        std::memset(edid_ram_table_new, 0, sizeof edid_ram_table_new);
    }

    // A file as the PC tool builds it: 32-byte header with the preferred
    // resolution, then the 256-byte EDID.
    static Bytes edidFile(uint16_t w, uint16_t h, uint16_t hz, size_t size = 288)
    {
        Bytes f(size, 0);
        for (size_t i = 32; i < size; ++i)
            f[i] = uint8_t(i * 3 + 1);
        para::set16(f.data(), 2, w);
        para::set16(f.data(), 4, h);
        para::set16(f.data(), 6, hz);
        return f;
    }
    static Bytes upload(uint16_t port, const Bytes &file, int declared = -1)
    {
        uint16_t d = declared < 0 ? uint16_t(file.size()) : uint16_t(declared);
        Bytes payload = {uint8_t(port), uint8_t(port >> 8), 0, 0, 0, 0, uint8_t(d), uint8_t(d >> 8)};
        payload.insert(payload.end(), file.begin(), file.end());
        return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 1, payload);
    }
    static Bytes readBack(uint16_t port)
    {
        return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 2, {uint8_t(port), uint8_t(port >> 8)});
    }
    Bytes run(const Bytes &body)
    {
        std::vector<uint8_t> buf(70000, 0);
        std::copy(body.begin(), body.end(), buf.begin());
        uint32_t n = handler.message_group_deal(buf.data(), uint32_t(body.size()), 2);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + n);
    }
    std::string stored(uint16_t port)
    {
        std::string s;
        char name[40];
        std::snprintf(name, sizeof name, "/data/edidramtable/%04x.bin", port);
        return platform::files::readAll(name, platform::files::Kind::EdidTable, s) ? s : std::string("<none>");
    }

    message_deal handler;
};

} // namespace

TEST_F(EdidTest, UploadStoresTheFileTheTableAndTheImageWordsAndRequestsApply)
{
    const Bytes file = edidFile(1920, 1080, 60);
    EXPECT_EQ(run(upload(2, file)), (Bytes{0, 1}));
    EXPECT_EQ(stored(2), std::string(file.begin(), file.end()));
    EXPECT_EQ(Bytes(edid_ram_table[2], edid_ram_table[2] + 256), Bytes(file.begin() + 32, file.end()));
    EXPECT_EQ(edid_ram_table_from[2], 1);
    EXPECT_EQ(edid_ram_table_new[2], 1) << "the next apply pass programs it";
    EXPECT_EQ(para::get16(store->ram_para, 908), 1920);
    EXPECT_EQ(para::get16(store->ram_para, 910), 1080);
    EXPECT_EQ(para::get16(store->ram_para, 912), 60);
    EXPECT_EQ(chip->para_changed, 1);

    chip->para_changed = 2;   // a pending user-mode request is not lowered
    EXPECT_EQ(run(upload(2, file)), (Bytes{0, 1}));
    EXPECT_EQ(chip->para_changed, 2);
}

TEST_F(EdidTest, UploadRefusesBadPortsAndTablesThatAreShortOrRunPastTheFrame)
{
    const Bytes file = edidFile(1280, 720, 50);
    EXPECT_EQ(run(upload(6, file)), (Bytes{2, 1}));
    EXPECT_EQ(stored(6), "<none>");

    Bytes shortFile(file.begin(), file.begin() + 100);
    EXPECT_EQ(run(upload(1, shortFile)), (Bytes{1, 1}));       // shorter than a whole table
    EXPECT_EQ(run(upload(1, file, 400)), (Bytes{1, 1}));        // declared length runs past the body
    EXPECT_EQ(stored(1), "<none>");
    EXPECT_EQ(edid_ram_table_from[1], 0);
    EXPECT_EQ(para::get16(store->ram_para, 902), 0);
    EXPECT_EQ(chip->para_changed, 0);

    tarixsource *saved = tarixsource::p_tarix_source;
    tarixsource::p_tarix_source = nullptr;
    EXPECT_EQ(run(upload(1, file)), (Bytes{2, 1}));
    tarixsource::p_tarix_source = saved;
}

TEST_F(EdidTest, UnwritableFileAnswersOneAndChangesNothing)
{
    platform::files::testing::failNextWriteAfter(100);   // the flash fills up mid-file
    EXPECT_EQ(run(upload(0, edidFile(1920, 1080, 60))), (Bytes{1, 1}));
    platform::files::testing::clearFailure();
    EXPECT_EQ(stored(0), "<none>");
    EXPECT_EQ(edid_ram_table_from[0], 0);
    EXPECT_EQ(chip->para_changed, 0);
}

TEST_F(EdidTest, ReadBackReturnsTheStoredFileOrAnEmptyAnswer)
{
    EXPECT_EQ(run(readBack(5)), (Bytes{0, 2, 5, 0, 0, 0, 0, 0}));

    const Bytes file = edidFile(3840, 2160, 30);
    ASSERT_EQ(run(upload(3, file)), (Bytes{0, 1}));
    Bytes r = run(readBack(3));
    ASSERT_EQ(r.size(), 296u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), (Bytes{0, 2, 3, 0, 32, 0, 0x20, 0x01}));
    EXPECT_EQ(Bytes(r.begin() + 8, r.end()), file);

    EXPECT_TRUE(run(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC1, 3, {3, 0})).empty());
}

TEST_F(EdidTest, UploadAndReadBackOverTheRs485Link)
{
    platform::ensureDir("/dev");
    zemtest::PtyLink pty(root.host("/dev/ttyS2"));
    ASSERT_TRUE(pty.ok());
    Qy_uart_inout link;
    ASSERT_EQ(link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);

    const Bytes file = edidFile(1920, 1200, 60);
    ASSERT_TRUE(pctool::writeAll(pty.master(), pctool::frame(upload(4, file))));
    Bytes reply = pctool::decode(pctool::readFrames(pty.master(), 1, zemtest::patience(2000ms)));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[10], 0);
    EXPECT_EQ(reply[11], 1);
    EXPECT_EQ(stored(4), std::string(file.begin(), file.end()));
    EXPECT_EQ(para::get16(store->ram_para, 896 + 24 + 2), 1200);
    EXPECT_EQ(chip->para_changed, 1);

    ASSERT_TRUE(pctool::writeAll(pty.master(), pctool::frame(readBack(4))));
    reply = pctool::decode(pctool::readFrames(pty.master(), 1, zemtest::patience(2000ms)));
    ASSERT_EQ(reply.size(), 10u + 296u + 1u);
    EXPECT_EQ(Bytes(reply.begin() + 18, reply.end() - 1), file);
}
