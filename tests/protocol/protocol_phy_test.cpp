#include "protocol/frame_link.h"
#include "protocol/protocol_phy.h"
#include "proto_fixture.h"

#include <random>

using pctool::Bytes;

namespace {

// Byte-at-a-time reference of the escaping rules.
Bytes refEscape(const Bytes &body)
{
    Bytes w = {0xA5, 0xA5, 0xA5};
    for (uint8_t v : body) {
        switch (v) {
        case 0xA5: w.push_back(0xA6); w.push_back(0x02); break;
        case 0xA6: w.push_back(0xA6); w.push_back(0x01); break;
        case 0x5A: w.push_back(0x5B); w.push_back(0x02); break;
        case 0x5B: w.push_back(0x5B); w.push_back(0x01); break;
        default: w.push_back(v); break;
        }
    }
    w.push_back(0x5A);
    return w;
}

// Byte-at-a-time reference of the un-escaping rules: every A5 starts afresh,
// the first 5A after it ends, an escape byte not followed by 01/02 is dropped.
Bytes refUnescape(const Bytes &wire, uint8_t &done, uint32_t outMax = 0xFFFFFFFFu)
{
    Bytes out;
    int state = 0;   // 0 outside, 1 inside, 2 after A6, 4 after 5B
    done = 0;
    for (uint8_t b : wire) {
        if (b == 0xA5) {
            state = 1;
            out.clear();
            continue;
        }
        if (state == 0)
            continue;
        if (b == 0x5A) {
            done = 1;
            return out;
        }
        if (b == 0xA6 || b == 0x5B) {
            state = b == 0xA6 ? 2 : 4;
            continue;
        }
        uint8_t v = b;
        if (b == 1 && state != 1)
            v = state == 2 ? 0xA6 : 0x5B;
        else if (b == 2 && state != 1)
            v = state == 2 ? 0xA5 : 0x5A;
        state = 1;
        if (out.size() >= outMax)
            return {};
        out.push_back(v);
    }
    return out;
}

// Random bytes with the special ones and the escape codes made frequent.
Bytes randomBytes(std::mt19937 &gen, size_t n, int specialPercent)
{
    static const uint8_t common[] = {0xA5, 0xA6, 0x5A, 0x5B, 0x01, 0x02};
    Bytes b(n);
    for (auto &v : b)
        v = int(gen() % 100) < specialPercent ? common[gen() % 6] : uint8_t(gen());
    return b;
}

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

TEST(ProtocolPhy, RandomBodiesMatchTheReferenceBothWays)
{
    std::mt19937 gen(1234);
    protocol_phy phy;
    for (int round = 0; round < 3000; ++round) {
        size_t n = gen() % (round < 2000 ? 80 : 3000);
        Bytes body = randomBytes(gen, n, int(gen() % 60));
        Bytes wire(protocol_phy::wireMax(uint32_t(n)));
        uint8_t done = 9;
        wire.resize(phy.data_re_transf_meaning(wire.data(), body.data(), uint32_t(n), &done));
        ASSERT_EQ(wire, refEscape(body)) << "round " << round;
        uint8_t d1, d2;
        ASSERT_EQ(unescape(wire, d1), body) << "round " << round;
        EXPECT_EQ(d1, 1);
        // Arbitrary wire bytes (stray escapes, several A5, no closing 5A,
        // record limits) are read as the reference reads them.
        Bytes noise = randomBytes(gen, gen() % 400, int(gen() % 100));
        uint32_t outMax = gen() % 3 == 0 ? uint32_t(gen() % 300) : 0xFFFFFFFFu;
        ASSERT_EQ(unescape(noise, d1, outMax), refUnescape(noise, d2, outMax)) << "round " << round;
        ASSERT_EQ(d1, d2) << "round " << round;
    }
}

TEST(ProtocolPhy, SpecialByteScannersAgree)
{
    std::mt19937 gen(99);
    for (int round = 0; round < 5000; ++round) {
        Bytes b = randomBytes(gen, gen() % 100, int(gen() % 4));
        size_t skip = b.empty() ? 0 : gen() % b.size();   // unaligned starts
        size_t expect = b.size() - skip;
        for (size_t i = skip; i < b.size(); ++i)
            if (protocol_phy::is_special(b[i])) {
                expect = i - skip;
                break;
            }
        ASSERT_EQ(protocol_phy::plain_run(b.data() + skip, b.size() - skip), expect);
        ASSERT_EQ(protocol_phy::plain_run_portable(b.data() + skip, b.size() - skip), expect);
    }
    // Every byte value at every position of a word and a vector.
    for (int v = 0; v < 256; ++v)
        for (size_t at = 0; at < 40; ++at) {
            Bytes b(40, 0x33);
            b[at] = uint8_t(v);
            size_t expect = protocol_phy::is_special(uint8_t(v)) ? at : 40;
            ASSERT_EQ(protocol_phy::plain_run(b.data(), 40), expect);
            ASSERT_EQ(protocol_phy::plain_run_portable(b.data(), 40), expect);
        }
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

// Every frame of a serial read, in order; the frames it completes.
std::vector<Bytes> gatherRead(frame_link &link, const Bytes &read)
{
    std::vector<Bytes> frames;
    link.gather(read.data(), uint32_t(read.size()), [&](const Bytes &f) { frames.push_back(f); });
    return frames;
}

TEST_F(FrameLinkTest, GathersSplitFramesAndEveryFrameOfARead)
{
    Bytes f = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    Bytes g = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 8, {0x5A, 0xA5}));
    EXPECT_TRUE(gatherRead(link, Bytes(f.begin(), f.begin() + 5)).empty());
    // The rest of the first frame, a stray 5A, the second frame whole and
    // the start of the first again, in one read.
    Bytes read(f.begin() + 5, f.end());
    read.push_back(0x5A);
    read.insert(read.end(), g.begin(), g.end());
    read.insert(read.end(), f.begin(), f.begin() + 3);
    EXPECT_EQ(gatherRead(link, read), (std::vector<Bytes>{f, g}));
    EXPECT_EQ(gatherRead(link, Bytes(f.begin() + 3, f.end())), std::vector<Bytes>{f});
}

// Byte-at-a-time reference of the serial gatherer.
struct RefGatherer {
    Bytes buf;
    bool open = false;
    size_t record;
    std::vector<Bytes> feed(const Bytes &data)
    {
        std::vector<Bytes> frames;
        for (uint8_t b : data) {
            if (b == 0xA5) {
                buf.assign(1, 0xA5);
                open = true;
                continue;
            }
            if (!open)
                continue;
            if (buf.size() >= record) {
                buf.clear();
                open = false;
                continue;
            }
            buf.push_back(b);
            if (b == 0x5A) {
                frames.push_back(buf);
                buf.clear();
                open = false;
            }
        }
        return frames;
    }
};

TEST_F(FrameLinkTest, GathererMatchesTheByteWiseRulesOnRandomReads)
{
    std::mt19937 gen(5);
    for (uint32_t record : {16u, 64u, 300u}) {
        frame_link::Config c;
        c.recordSize = record;
        frame_link small(c);
        RefGatherer ref;
        ref.record = record;
        for (int round = 0; round < 4000; ++round) {
            Bytes read = randomBytes(gen, gen() % 200, int(gen() % 30));
            ASSERT_EQ(gatherRead(small, read), ref.feed(read)) << "record " << record << " round " << round;
        }
    }
}

TEST_F(FrameLinkTest, LateCardReplyDoesNotAnswerTheNextCardFrame)
{
    frame_link::Config c;
    c.ackCommand2 = false;
    frame_link cardLink(c);
    card->set_reply_sink(1, &cardLink);
    Bytes request = pctool::frame(pctool::body(0x0001, pctool::PC, 0x10, 0, {1, 2}));
    Bytes reply, wire;
    ASSERT_EQ(cardLink.process(request.data(), uint32_t(request.size()), reply), frame_link::Result::CardWait);
    // The wait for the first frame has ended; its reply comes afterwards.
    fpga[0]->queueCardReply(1, {0x11, 0x11});
    card->reg_IRQ_Dealwith(0, 0);
    ASSERT_EQ(card->reply_ready.load(), 1);

    // The next card frame is handed over; then a reply lands elsewhere
    // (reply_ready is shared by every link) before this frame's own reply.
    ASSERT_EQ(cardLink.process(request.data(), uint32_t(request.size()), reply), frame_link::Result::CardWait);
    card->reply_ready = 1;
    g_passby_trans_port = 255;
    EXPECT_FALSE(cardLink.poll_card_reply(wire));

    g_passby_trans_port = 1;
    fpga[0]->queueCardReply(1, {0x22, 0x22, 0x22});
    ASSERT_TRUE(cardLink.poll_card_reply(wire));
    uint8_t done;
    EXPECT_EQ(unescape(wire, done), (Bytes{0x22, 0x22, 0x22}));
    card->set_reply_sink(1, nullptr);
}

TEST_F(FrameLinkTest, FrameLongerThanTheRecordIsDropped)
{
    frame_link::Config c;
    c.recordSize = 64;
    frame_link small(c);
    Bytes f = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 0, Bytes(80, 0x11)));
    EXPECT_TRUE(gatherRead(small, f).empty());
    // The next frame is gathered normally.
    Bytes g = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    EXPECT_EQ(gatherRead(small, g), std::vector<Bytes>{g});
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
