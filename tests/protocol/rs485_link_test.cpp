#include "platform/platform.h"
#include "support/locked_reads.h"
#include "platform/serial.h"
#include "protocol/qy_uart_inout.h"
#include "sendcard/fpga_manage.h"
#include "proto_fixture.h"
#include "support/device_process.h"

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <fcntl.h>
#include <functional>
#include <thread>

using pctool::Bytes;
using namespace std::chrono_literals;

namespace {

class Rs485Test : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        platform::ensureDir("/dev");
        pty.reset(new zemtest::PtyLink(root.host("/dev/ttyS2")));
        ASSERT_TRUE(pty->ok());
        link.reset(new Qy_uart_inout());
        ASSERT_EQ(link->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
        ASSERT_TRUE(link->running());
        platform::serial::sim::clearDirectionLog();
    }
    void TearDown() override
    {
        link.reset();
        pty.reset();
    }

    // Sends a request and returns the body of the one reply (empty: none).
    Bytes ask(const Bytes &wire, std::chrono::milliseconds timeout = zemtest::patience(2000ms))
    {
        EXPECT_TRUE(pctool::writeAll(pty->master(), wire));
        return pctool::decode(pctool::readFrames(pty->master(), 1, timeout));
    }
    Bytes data(const Bytes &reply) { return reply.size() > 11 ? Bytes(reply.begin() + 10, reply.end() - 1) : Bytes(); }

    std::unique_ptr<zemtest::PtyLink> pty;
    std::unique_ptr<Qy_uart_inout> link;
};

} // namespace

TEST_F(Rs485Test, RamWriteAndReadRoundTripAsThePcToolSeesThem)
{
    Bytes r = ask(pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 200, {0xA5, 0x5A, 0xA6, 0x5B})));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0], uint8_t(pctool::PC));          // addresses swapped
    EXPECT_EQ(r[2], uint8_t(pctool::CONTROLLER));
    EXPECT_EQ(data(r), Bytes{0});
    EXPECT_EQ(data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 200, 4)))), (Bytes{0, 0xA5, 0x5A, 0xA6, 0x5B}));
    EXPECT_EQ(data(ask(pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 4094, {1, 2, 3, 4})))), Bytes{1});
    EXPECT_EQ(zemtest::imageByte(4094), 0);
    EXPECT_EQ(data(ask(pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 0x3000, {0xAA, 0xAA})))), Bytes{0});
    EXPECT_EQ(zemtest::slotByte(2, 0), 0xAA);
    EXPECT_EQ(data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2)))), (Bytes{0, 0x52, 0x97}));
    g_lcd_lang_valid = 0x13;
    EXPECT_EQ(data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600040, 1)))), (Bytes{0, 0x13}));
    Bytes info = data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0xA0000000, 8))));
    EXPECT_EQ(info, (Bytes{0, 0, 1, 0, 1, 0x52, 0x97, 0x43, 11}));
    // A leading A5 A5 A5 is taken like one A5.
    Bytes triple = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 200, 1));
    triple.insert(triple.begin(), {0xA5, 0xA5});
    EXPECT_EQ(data(ask(triple)), (Bytes{0, 0xA5}));
}

TEST_F(Rs485Test, SingleParameterWriteOverTheLine)
{
    const uint16_t v = zemtest::imageWord(2184) == 1 ? 2 : 1;
    Bytes r = ask(pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0xB0, 0x31, {0, 6, 150, 0, 10, uint8_t(v), 0})));
    EXPECT_EQ(data(r), (Bytes{0, 0x31}));
    EXPECT_EQ(zemtest::imageWord(2184), v);
    EXPECT_EQ(zemtest::imageWord(2176), 0);
    EXPECT_EQ(zemtest::applyRequest(), 1);
}

TEST_F(Rs485Test, BadFramesGetNoReplyAndSplitFramesOneReply)
{
    EXPECT_TRUE(ask(pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0x62, 0)), 300ms).empty());
    Bytes bad = pctool::withXor(pctool::ramRead(pctool::CONTROLLER, 0, 1));
    bad.back() ^= 0xFF;
    EXPECT_TRUE(ask(pctool::frameRaw(bad), 300ms).empty());
    EXPECT_TRUE(ask({0xA5, 0x01, 0x02, 0x03, 0x5A}, 300ms).empty());

    Bytes f = pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2));
    ASSERT_TRUE(pctool::writeAll(pty->master(), Bytes(f.begin(), f.begin() + 6)));
    ASSERT_TRUE(zemtest::waitFor([] { return false; }, 50ms) == false);   // let the first part be read alone
    ASSERT_TRUE(pctool::writeAll(pty->master(), Bytes(f.begin() + 6, f.end())));
    Bytes wire = pctool::readFrames(pty->master(), 2, zemtest::patience(500ms));
    ASSERT_EQ(pctool::decodeAll(wire).size(), 1u);
    EXPECT_EQ(data(pctool::decode(wire)), (Bytes{0, 0x52, 0x97}));
}

// Requests written in one go are each answered, in order, as when they are
// sent one at a time: a write, a command without an answer, a read.
TEST_F(Rs485Test, RequestsWrittenBackToBackAreEachAnswered)
{
    Bytes wire = pctool::frame(pctool::ramWrite(pctool::CONTROLLER, 300, {0x11, 0x5A}));
    for (const Bytes &b : {pctool::body(pctool::CONTROLLER, pctool::PC, 0x62, 0),
                           pctool::ramRead(pctool::CONTROLLER, 300, 2)}) {
        Bytes f = pctool::frame(b);
        wire.insert(wire.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(pctool::writeAll(pty->master(), wire));
    std::vector<Bytes> replies = pctool::decodeAll(pctool::readFrames(pty->master(), 2, zemtest::patience(2000ms)));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(data(replies[0]), Bytes{0});
    EXPECT_EQ(data(replies[1]), (Bytes{0, 0x11, 0x5A}));
}

TEST_F(Rs485Test, CardFramesAreAcknowledgedOrAnsweredByTheCards)
{
    // Command 2: acknowledged at once, addresses swapped, status 0.
    Bytes cmd2 = pctool::body(0x0001, pctool::PC, 2, 0x55, {1, 2, 3}, 0, 0);
    Bytes ack = ask(pctool::frame(cmd2));
    ASSERT_EQ(ack.size(), 12u);
    EXPECT_EQ(ack[0], 0x10);
    EXPECT_EQ(ack[1], 0xF0);
    EXPECT_EQ(ack[2], 0x01);
    EXPECT_EQ(ack[10], 0);
    ASSERT_TRUE(zemtest::waitFor([&] { return !fpga[0]->ops().empty(); }, 1000ms));
    EXPECT_EQ(fpga[0]->ops()[0].kind, platform::simfpga::OpKind::CardFrame);
    EXPECT_EQ(fpga[0]->ops()[0].data.size(), pctool::withXor(cmd2).size() - 12);

    // Another command waits for the card's reply.
    Bytes req = pctool::body(0x0001, pctool::PC, 0x10, 0, {9, 9});
    ASSERT_TRUE(pctool::writeAll(pty->master(), pctool::frame(req)));
    EXPECT_TRUE(pctool::readFrames(pty->master(), 1, 200ms).empty());
    EXPECT_EQ(g_passby_trans_port.load(), 1);
    Bytes cardReply = pctool::withXor(pctool::body(pctool::PC, 0x0001, 0x10, 0, {0xA5, 0x42}));
    fpga[1]->queueCardReply(0, cardReply);
    Bytes got = pctool::decode(pctool::readFrames(pty->master(), 1, zemtest::patience(2000ms)));
    EXPECT_EQ(got, cardReply);
    EXPECT_EQ(g_passby_trans_port.load(), 255);
    EXPECT_EQ(card->reply_ready.load(), 0);
    EXPECT_EQ(fpga[1]->reg(129), 0);   // taken from the FPGA
}

TEST_F(Rs485Test, DirectionLineTurnsAroundEachReply)
{
    ASSERT_FALSE(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0, 1))).empty());
    ASSERT_TRUE(zemtest::waitFor([] {
        auto log = platform::serial::sim::directionLog();
        return !log.empty() && log.back().event == platform::serial::sim::Event::Receive;
    }, 1000ms));
    using platform::serial::sim::Event;
    auto log = platform::serial::sim::directionLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].event, Event::Transmit);
    EXPECT_EQ(log[1].event, Event::FirstByte);
    EXPECT_EQ(log[2].event, Event::Drained);
    EXPECT_EQ(log[3].event, Event::Receive);
    EXPECT_GE(log[1].when - log[0].when, 2ms);
}

TEST_F(Rs485Test, ScreenCaptureReadOverTheLine)
{
    static int argc = 1;
    static char name[] = "test";
    static char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QWidget panel(nullptr, Qt::FramelessWindowHint);
    panel.setGeometry(0, 0, 320, 240);
    panel.show();
    QCoreApplication::processEvents();

    Bytes header = data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x800000, 16))));
    ASSERT_EQ(header.size(), 17u);
    EXPECT_EQ(header[1], 0xAA);
    EXPECT_EQ(header[2], 0xAA);
    EXPECT_EQ(header[3], 0x40);
    uint32_t len = header[13] | (header[14] << 8) | (header[15] << 16) | (uint32_t(header[16]) << 24);
    ASSERT_GT(len, 0u);
    ASSERT_LT(len, 30000u);
    Bytes png = data(ask(pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x800080, uint16_t(len + 2)))));
    ASSERT_EQ(png.size(), len + 3);
    EXPECT_EQ(png[1], 0xAA);
    EXPECT_EQ(png[2], 0xAA);
    QImage img;
    ASSERT_TRUE(img.loadFromData(png.data() + 3, int(len), "PNG"));
    EXPECT_EQ(img.size(), QSize(320, 240));
}

namespace {

bool waitUntil(const std::function<bool()> &cond, std::chrono::milliseconds limit = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class Rs485LineTest : public ProtoTest
{
};

} // namespace

// The PC side of the line hangs up and comes back: the link backs off
// without spinning while the line is gone and answers again afterwards.
TEST_F(Rs485LineTest, HungUpLineIsReopenedWithoutSpinning)
{
    platform::ensureDir("/dev");
    const std::string path = root.host("/dev/ttyS2");
    auto pty = std::make_unique<zemtest::PtyLink>(path);
    ASSERT_TRUE(pty->ok());
    Qy_uart_inout link;
    ASSERT_EQ(link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    auto ask = [&](int master) {
        EXPECT_TRUE(pctool::writeAll(master, pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2))));
        return pctool::decode(pctool::readFrames(master, 1, zemtest::patience(3000ms)));
    };
    Bytes first = ask(pty->master());
    ASSERT_GT(first.size(), 13u);
    EXPECT_EQ(Bytes(first.begin() + 10, first.begin() + 13), (Bytes{0, 0x52, 0x97}));

    pty->hangUp();
    ASSERT_TRUE(waitUntil([&] { return !link.line_open(); }));
    // While the line is gone the thread waits between attempts: a few turns
    // in half a second, where a spinning loop makes hundreds of thousands.
    const uint64_t before = link.turns();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(link.turns() - before, 20u);
    EXPECT_FALSE(link.line_open());

    // The PC side comes back on a new line: the link opens it and answers.
    pty = std::make_unique<zemtest::PtyLink>(path);
    ASSERT_TRUE(pty->ok());
    ASSERT_TRUE(waitUntil([&] { return link.line_open(); }));
    Bytes again = ask(pty->master());
    ASSERT_GT(again.size(), 13u);
    EXPECT_EQ(Bytes(again.begin() + 10, again.begin() + 13), (Bytes{0, 0x52, 0x97}));
    link.stop();
}

// A link registered as the card-reply sink whose receive thread never ran
// (its start failed) still takes itself off when it goes away, so a later
// card reply cannot reach a destroyed link.
TEST_F(Rs485LineTest, LinkWithoutThreadUnregistersItsReplySinkWhenDestroyed)
{
    fpga_manage *card = fpga_manage::pInstance();
    uint8_t transport = 0;
    {
        Qy_uart_inout link;
        ASSERT_FALSE(link.running());
        transport = link.link().config().transport;
        card->set_reply_sink(transport, &link.link());
        ASSERT_EQ(card->reply_sink(transport), &link.link());
    }
    EXPECT_EQ(card->reply_sink(transport), nullptr);
}

// A program started with its standard input closed gets descriptor 0 for
// the first file it opens: the line on descriptor 0 is as open as any other.
TEST_F(Rs485LineTest, ALineOnDescriptorZeroIsServed)
{
    platform::ensureDir("/dev");
    zemtest::PtyLink pty(root.host("/dev/ttyS2"));
    ASSERT_TRUE(pty.ok());
    const int savedStdin = ::dup(0);
    ASSERT_GE(savedStdin, 0);
    ::close(0);
    Bytes reply;
    bool open = false, running = false;
    {
        Qy_uart_inout link;
        const int r = link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK);
        open = r == 0 && link.line_open();
        running = link.running();
        if (running) {
            pctool::writeAll(pty.master(), pctool::frame(pctool::ramRead(pctool::CONTROLLER, 0x600440, 2)));
            reply = pctool::decode(pctool::readFrames(pty.master(), 1, zemtest::patience(2000ms)));
        }
    }
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    EXPECT_TRUE(open);
    EXPECT_TRUE(running);
    ASSERT_GT(reply.size(), 13u);
    EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 13), (Bytes{0, 0x52, 0x97}));
}
