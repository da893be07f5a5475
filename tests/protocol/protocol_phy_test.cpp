#include "protocol/frame_link.h"
#include "protocol/protocol_phy.h"
#include "proto_fixture.h"

using pctool::Bytes;

namespace {

Bytes unescape(const Bytes &wire, uint8_t &done, uint32_t outMax = 0xFFFFFFFFu)
{
    protocol_phy phy;
    Bytes out(wire.size() + 8);
    uint32_t n = phy.data_transf_meaning(wire.data(), out.data(), uint32_t(wire.size()), &done, outMax);
    out.resize(n);
    return out;
}

} // namespace

TEST(ProtocolPhy, EscapesSpecialBytesAndRoundTrips)
{
    protocol_phy phy;
    const Bytes body = {0x01, 0xA5, 0xA6, 0x5A, 0x5B, 0x02};
    Bytes wire(protocol_phy::wireMax(uint32_t(body.size())));
    uint8_t done = 7;
    uint32_t n = phy.data_re_transf_meaning(wire.data(), body.data(), uint32_t(body.size()), &done);
    wire.resize(n);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(wire, (Bytes{0xA5, 0xA5, 0xA5, 0x01, 0xA6, 0x02, 0xA6, 0x01, 0x5B, 0x02, 0x5B, 0x01, 0x02, 0x5A}));
    EXPECT_EQ(unescape(wire, done), body);
    EXPECT_EQ(done, 1);

    Bytes empty(4);
    EXPECT_EQ(phy.data_re_transf_meaning(empty.data(), nullptr, 0, &done), 4u);
    EXPECT_EQ(empty, (Bytes{0xA5, 0xA5, 0xA5, 0x5A}));
}

TEST(ProtocolPhy, UnescaperRules)
{
    uint8_t done;
    // An escape byte followed by anything but 01/02 is dropped.
    EXPECT_EQ(unescape({0xA5, 0xA6, 0x03, 0x5A}, done), (Bytes{0x03}));
    // Bytes before the last A5 and after the 5A are ignored.
    EXPECT_EQ(unescape({0x11, 0xA5, 0x22, 0xA5, 0x33, 0x5A, 0x44}, done), (Bytes{0x33}));
    EXPECT_EQ(done, 1);
    unescape({0xA5, 0x33}, done);
    EXPECT_EQ(done, 0);
    // A body longer than the caller's record is dropped.
    Bytes big = unescape({0xA5, 1, 2, 3, 4, 0x5A}, done, 3);
    EXPECT_TRUE(big.empty());
    EXPECT_EQ(done, 0);
}

TEST(ProtocolPhy, SwapHead)
{
    Bytes b = {1, 2, 3, 4, 5};
    protocol_phy::swap_phy_head(b.data());
    EXPECT_EQ(b, (Bytes{3, 4, 1, 2, 5}));
}

class FrameLinkTest : public ProtoTest
{
protected:
    frame_link link{frame_link::Config{}};
};

TEST_F(FrameLinkTest, GathersSplitFramesAndDiscardsTheRestOfARead)
{
    Bytes f = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    Bytes out;
    EXPECT_FALSE(link.gather(f.data(), 5, out));
    Bytes rest(f.begin() + 5, f.end());
    rest.push_back(0xA5);   // trailing bytes of the same read are discarded
    rest.push_back(0x01);
    ASSERT_TRUE(link.gather(rest.data(), uint32_t(rest.size()), out));
    EXPECT_EQ(out, f);
    // A stray 5A outside a frame clears the gatherer.
    Bytes stray = {0x5A};
    EXPECT_FALSE(link.gather(stray.data(), 1, out));
}

TEST_F(FrameLinkTest, FrameLongerThanTheRecordIsDropped)
{
    frame_link::Config c;
    c.recordSize = 64;
    frame_link small(c);
    Bytes f = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 0, Bytes(80, 0x11)));
    Bytes out;
    EXPECT_FALSE(small.gather(f.data(), uint32_t(f.size()), out));
    // The next frame is gathered normally.
    Bytes g = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    EXPECT_TRUE(small.gather(g.data(), uint32_t(g.size()), out));
}

TEST_F(FrameLinkTest, ShortBodiesAndBadXorAreDropped)
{
    Bytes reply;
    // A good read first leaves its bytes in the link's body buffer.
    Bytes good = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    ASSERT_EQ(link.process(good.data(), uint32_t(good.size()), reply), frame_link::Result::Replied);
    // A 10-byte body (9 header bytes and the XOR) must not reuse them.
    Bytes read = pctool::ramRead(pctool::CONTROLLER, 0x600440, 2);
    Bytes shortBody(read.begin(), read.begin() + 9);
    Bytes shortFrame = pctool::frame(shortBody);
    EXPECT_EQ(link.process(shortFrame.data(), uint32_t(shortFrame.size()), reply), frame_link::Result::Dropped);
    EXPECT_TRUE(reply.empty());

    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    bad.back() ^= 1;
    Bytes badFrame = pctool::frameRaw(bad);
    EXPECT_EQ(link.process(badFrame.data(), uint32_t(badFrame.size()), reply), frame_link::Result::Dropped);
    Bytes empty = {0xA5, 0x5A};
    EXPECT_EQ(link.process(empty.data(), 2, reply), frame_link::Result::Dropped);
}

TEST_F(FrameLinkTest, ReplyLongerThanTheRecordIsRefused)
{
    frame_link::Config c;
    c.recordSize = 256;   // at most (256 - 4) / 2 = 126 body bytes
    frame_link small(c);
    Bytes reply;
    Bytes f = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 200));
    ASSERT_EQ(small.process(f.data(), uint32_t(f.size()), reply), frame_link::Result::Replied);
    Bytes body = pctool::decode(reply);
    ASSERT_EQ(body.size(), 13u);
    EXPECT_EQ(body[10], 1);
    Bytes ok = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 100));
    ASSERT_EQ(small.process(ok.data(), uint32_t(ok.size()), reply), frame_link::Result::Replied);
    EXPECT_EQ(pctool::decode(reply).size(), 112u);
    EXPECT_LE(reply.size(), 256u);
}
