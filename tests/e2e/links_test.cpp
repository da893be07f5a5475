// Every command link of the running program answers the same request the
// same way: TCP 5005 and 10002, UDP 5008 (broadcast) and 10005 (unicast),
// the RS-485 line and the 4G module line.

#include "e2e_fixture.h"

using namespace e2e;

namespace {

class LinksE2e : public DeviceTest
{
};

// The reply to `request` among the frames a serial line delivers (the 4G
// line may carry the module's own traffic as well).
Bytes replyOnLine(zemtest::PtyLink &pty, const Bytes &request)
{
    if (!pty.send(pctool::frame(request)))
        return {};
    auto deadline = std::chrono::steady_clock::now() + zemtest::patience(3s);
    Bytes wire;
    while (std::chrono::steady_clock::now() < deadline) {
        Bytes more = pctool::readFrames(pty.master(), 1, 200ms);
        wire.insert(wire.end(), more.begin(), more.end());
        for (const Bytes &f : pctool::decodeAll(wire))
            if (f.size() > 10 && f[9] == request[9] && f[0] == request[2] && f[1] == request[3])
                return f;
    }
    return {};
}

TEST_F(LinksE2e, SameRamReadReplyOnEveryLinkAndTheirOwnRules)
{
    start(true, true);
    const Bytes read = pctool::ramRead(pctool::CONTROLLER, 0x600440, 2);

    TcpClient tcp5005(5005), tcp10002(10002);
    ASSERT_TRUE(tcp5005.ok());
    ASSERT_TRUE(tcp10002.ok());
    const Bytes reference = tcp10002.ask(read);
    ASSERT_FALSE(reference.empty()) << output();
    EXPECT_EQ(Bytes(reference.begin(), reference.begin() + 4), (Bytes{0x10, 0xF0, 0x01, 0xF1}));
    EXPECT_EQ(reference[9], 0x61);
    EXPECT_EQ(payload(reference), (Bytes{0, 0x52, 0x97}));

    EXPECT_EQ(tcp5005.ask(read), reference);
    EXPECT_EQ(askPty(*rs485, pctool::frame(read)), reference);
    EXPECT_EQ(replyOnLine(*link4g, read), reference);

    UdpPeer pc;
    in_addr to{};
    EXPECT_EQ(pc.ask(5008, read, &to), reference);
    EXPECT_EQ(to.s_addr, htonl(INADDR_BROADCAST));   // to the sender's port, as a broadcast
    EXPECT_EQ(pc.ask(10005, read, &to), reference);
    EXPECT_EQ(to.s_addr, htonl(INADDR_LOOPBACK));    // to the sender alone

    // TCP answers even an unknown command: the bare header and its XOR.
    const Bytes unknown = pctool::body(pctool::CONTROLLER, pctool::PC, 0x7E, 0);
    Bytes bare = tcp10002.ask(unknown);
    ASSERT_EQ(bare.size(), 11u);
    EXPECT_EQ(Bytes(bare.begin(), bare.begin() + 4), (Bytes{0x10, 0xF0, 0x01, 0xF1}));
    EXPECT_EQ(bare[9], 0x7E);
    EXPECT_EQ(pctool::decode(pctool::frameRaw(bare)), bare);   // its XOR holds
    EXPECT_EQ(tcp5005.ask(unknown), bare);
    // ... while UDP stays silent.
    EXPECT_TRUE(pc.ask(10005, unknown, nullptr, 300ms).empty());

    // Datagrams of nine bytes or fewer are ignored, also as a frame's tail.
    pc.send(10005, {0xA5, 0x01, 0xF1, 0x10, 0xF0, 0, 0, 0, 0x5A});
    EXPECT_TRUE(pc.receive(300ms).empty());
    const Bytes wire = pctool::frame(read);
    pc.send(10005, Bytes(wire.begin(), wire.end() - 5));
    pc.send(10005, Bytes(wire.end() - 5, wire.end()));
    EXPECT_TRUE(pc.receive(300ms).empty());
    // A whole datagram right after is answered.
    EXPECT_EQ(pc.ask(10005, read), reference);
}

} // namespace
