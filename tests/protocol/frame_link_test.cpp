#include "app/global.h"
#include "protocol/net_link.h"
#include "protocol/qy_uart_inout.h"
#include "protocol/tcpserver.h"
#include "protocol/uart_inout_4G.h"
#include "proto_fixture.h"

using pctool::Bytes;
using Stamp = frame_link::PcStamp;

namespace {

class PcActivityTest : public ProtoTest
{
protected:
    // Whether processing `wire` on a link with `stamp` marks the PC tool active.
    bool marks(Stamp stamp, const Bytes &wire)
    {
        frame_link::Config c;
        c.pcStamp = stamp;
        frame_link link(c);
        pc_cmd_valid = 0;
        pc_cmd_time = 0;
        G_timeTicks = 1234;
        std::vector<uint8_t> reply;
        link.process(wire.data(), uint32_t(wire.size()), reply);
        EXPECT_EQ(pc_cmd_time.load(), pc_cmd_valid ? 1234u : 0u);
        return pc_cmd_valid == 1;
    }
};

// Reference gatherer: one byte at a time, as the frame rules read.
std::vector<Bytes> gatherByBytes(const std::vector<Bytes> &chunks)
{
    std::vector<Bytes> frames;
    Bytes cur;
    bool open = false;
    for (const Bytes &c : chunks) {
        for (uint8_t b : c) {
            if (b == 0xA5) {
                cur.assign(1, 0xA5);
                open = true;
            } else if (open && cur.size() >= stream_gatherer::RECORD_SIZE) {
                open = false;
            } else if (open) {
                cur.push_back(b);
                if (b == 0x5A) {
                    frames.push_back(cur);
                    open = false;
                }
            }
        }
    }
    return frames;
}

std::vector<Bytes> gather(const std::vector<Bytes> &chunks)
{
    stream_gatherer g;
    std::vector<Bytes> frames;
    for (const Bytes &c : chunks)
        g.feed(c.data(), uint32_t(c.size()), [&](const uint8_t *p, uint32_t n) { frames.emplace_back(p, p + n); });
    return frames;
}

} // namespace

TEST_F(PcActivityTest, MarkedAsEachLinkIsSetUp)
{
    Bytes good = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    Bytes badXor = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    badXor.back() ^= 0x01;
    Bytes wrongXor = pctool::frameRaw(badXor);

    EXPECT_FALSE(marks(Stamp::None, good));
    EXPECT_TRUE(marks(Stamp::BeforeChecks, wrongXor));
    EXPECT_TRUE(marks(Stamp::BeforeChecks, good));
    EXPECT_FALSE(marks(Stamp::AfterChecks, wrongXor));
    EXPECT_TRUE(marks(Stamp::AfterChecks, good));

    // The command ports mark before the XOR check, the controller ports
    // (10002, 10005) never, the serial links once a frame passed its checks.
    EXPECT_EQ(net_port_config(2, false, true, 1024).pcStamp, Stamp::BeforeChecks);
    EXPECT_EQ(net_port_config(3, true, false, 1024).pcStamp, Stamp::None);
    EXPECT_EQ(Qy_uart_inout().link().config().pcStamp, Stamp::AfterChecks);
    EXPECT_EQ(Qy_uart_inout_4G().link().config().pcStamp, Stamp::AfterChecks);
}

TEST(StreamGathererTest, FramesComeOutTheSameWhereverTheStreamIsCut)
{
    Bytes stream = {0x11, 0x5A, 0xA5, 1, 2, 0xA6, 0x01, 3, 0x5A, 0x22, 0xA5, 7, 0xA5, 8, 0x5B, 0x02, 9, 0x5A, 0xA5, 4};
    Bytes more = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 9, Bytes(300, 0xA6)));
    stream.insert(stream.end(), more.begin(), more.end());
    const auto want = gatherByBytes({stream});
    ASSERT_EQ(want.size(), 3u);
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); b += 7) {
            std::vector<Bytes> chunks = {Bytes(stream.begin(), stream.begin() + a),
                                         Bytes(stream.begin() + a, stream.begin() + b),
                                         Bytes(stream.begin() + b, stream.end())};
            ASSERT_EQ(gather(chunks), want) << a << " " << b;
        }
    }
}

TEST(StreamGathererTest, AFrameLongerThanTheRecordIsDroppedWhole)
{
    const uint32_t record = stream_gatherer::RECORD_SIZE;
    for (uint32_t len : {record - 1, record, record + 1}) {
        Bytes big(len, 0x33);
        big.front() = 0xA5;
        big.back() = 0x5A;
        Bytes next = {0xA5, 1, 2, 0x5A};
        // Cut in the middle, so that the long frame is carried over.
        std::vector<Bytes> chunks = {Bytes(big.begin(), big.begin() + len / 2), Bytes(big.begin() + len / 2, big.end()), next};
        auto got = gather(chunks);
        EXPECT_EQ(got, gatherByBytes(chunks)) << len;
        EXPECT_EQ(got.size(), len <= record ? 2u : 1u) << len;
        EXPECT_EQ(got.back(), next);
    }
}

// The reply-size check holds for any handler result: one that would wrap
// around when the header and XOR are added is refused, not sent.
TEST(FrameLinkReplyTest, ReplySizeCheckDoesNotWrapAround)
{
    EXPECT_TRUE(frame_link::reply_fits(0, 11));
    EXPECT_TRUE(frame_link::reply_fits(89, 100));
    EXPECT_FALSE(frame_link::reply_fits(90, 100));
    EXPECT_FALSE(frame_link::reply_fits(0xFFFFFFFFu, 100));
    EXPECT_FALSE(frame_link::reply_fits(0xFFFFFFF8u, 100));   // + 11 wraps to 3
    EXPECT_FALSE(frame_link::reply_fits(0, 10));               // capacity below header and XOR
}
