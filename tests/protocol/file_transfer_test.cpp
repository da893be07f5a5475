#include "app/global.h"
#include "platform/files.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/shell.h"
#include "protocol/message_deal.h"
#include "protocol/qy_uart_inout.h"
#include "protocol/zem_file_deal.h"
#include "proto_fixture.h"
#include "support/blocked_call.h"
#include "support/device_process.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>

using pctool::Bytes;
using namespace std::chrono_literals;

namespace {

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes md5Of(const Bytes &data)
{
    QByteArray d = QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), int(data.size())),
        QCryptographicHash::Md5);
    return Bytes(d.begin(), d.end());
}

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto &v : b)
        v = uint8_t(gen());
    return b;
}

// Request bodies of command 0xC0 as the PC tool sends them (bytes 11-12 are
// not used by the controller).
Bytes fileBody(uint8_t sub, const Bytes &payload)
{
    return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, sub, cat({0, 0}, payload));
}
Bytes startTyped(const std::string &tag, uint8_t subtype, uint32_t total)
{
    return fileBody(1, cat(cat(text(tag), {subtype}), le32(total)));
}
Bytes startNamed(const std::string &name, uint8_t type, uint32_t total)
{
    Bytes p = {uint8_t(name.size()), uint8_t(name.size() >> 8)};
    return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, 7,
                        cat(cat(cat({0, 0}, p), cat(text(name), {type})), le32(total)));
}
Bytes block(uint32_t offset, const Bytes &data)
{
    return fileBody(2, cat(cat({0, 0}, le32(offset)), cat(le32(uint32_t(data.size())), data)));
}
Bytes endWith(const Bytes &digest) { return fileBody(3, cat({0, 0}, digest)); }
Bytes readTyped(const std::string &tag) { return fileBody(4, text(tag)); }
Bytes readNamed(const std::string &name, uint8_t type)
{
    Bytes b = fileBody(8, cat({0, 0}, cat(text(name), {type})));
    b[4] = uint8_t(name.size());   // sub-command 8 takes the name length from the length word
    b[5] = uint8_t(name.size() >> 8);
    return b;
}
Bytes readBlock(uint32_t offset, uint32_t count) { return fileBody(5, cat({0, 0}, cat(le32(offset), le32(count)))); }
Bytes readEnd() { return fileBody(6, {}); }

class FileTransferTest : public ProtoTest
{
protected:
    void SetUp() override
    {
        ProtoTest::SetUp();
        platform::mtd::sim::reset();
        platform::files::testing::clearFailure();
        g_update_flag = 0;
    }

    // One request through a link's handler; the reply from byte 10.
    Bytes run(message_deal &d, const Bytes &request)
    {
        std::vector<uint8_t> buf(200000, 0xEE);
        std::copy(request.begin(), request.end(), buf.begin());
        uint32_t r = d.message_group_deal(buf.data(), uint32_t(request.size()), 1);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + r);
    }
    Bytes run(const Bytes &request) { return run(deal, request); }

    // Blocks of `piece` bytes, then the end with `digest`; the end's reply.
    Bytes send(message_deal &d, const Bytes &data, const Bytes &digest, size_t piece = 1024)
    {
        for (size_t off = 0; off < data.size(); off += piece) {
            Bytes part(data.begin() + off, data.begin() + std::min(data.size(), off + piece));
            EXPECT_EQ(run(d, block(uint32_t(off), part)), (Bytes{0, 2}));
        }
        return run(d, endWith(digest));
    }
    Bytes upload(const std::string &tag, uint8_t subtype, const Bytes &data, const Bytes &digest)
    {
        EXPECT_EQ(run(startTyped(tag, subtype, uint32_t(data.size()))), (Bytes{0, 1, 0}));
        return send(deal, data, digest);
    }

    // Reads the open file back in pieces; the bytes, and the digest the end gave.
    Bytes readBack(uint32_t size, Bytes &digest, uint32_t piece = 700)
    {
        Bytes out;
        for (uint32_t off = 0; off < size; off += piece) {
            uint32_t n = std::min(piece, size - off);
            Bytes r = run(readBlock(off, n));
            EXPECT_EQ(r.size(), n + 2u);
            out.insert(out.end(), r.begin() + 2, r.end());
        }
        Bytes e = run(readEnd());
        EXPECT_EQ(e.size(), 18u);
        digest.assign(e.begin() + 2, e.end());
        return out;
    }

    std::string file(const std::string &p) { return zemtest::readFile(root.host(p)); }
    Bytes fileBytes(const std::string &p)
    {
        std::string s = file(p);
        return Bytes(s.begin(), s.end());
    }

    message_deal deal;
};

// Runs the queued front-panel steps until `done` or a deadline.
template <class F> bool pumpUntil(F done)
{
    auto deadline = std::chrono::steady_clock::now() + zemtest::patience(2s);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

TEST_F(FileTransferTest, JsonFilesUploadByteIdenticalAndReadBack)
{
    struct Case { std::string tag; std::string path; size_t size; };
    const Case cases[] = {
        {"OSDS", "/data/configs/omenu.json", 3000},
        {"ALIS", "/data/configs/alias.json", 5000},
        {"MO0A", "/data/modes/MO0a.json", 70000},
        {"MO10", "/data/modes/MO10.json", 10},
    };
    unsigned seed = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        Bytes data = randomBytes(c.size, seed++);
        platform::files::testing::takeSyncCounts();
        EXPECT_EQ(upload(c.tag, 0, data, md5Of(data)), (Bytes{0, 3, 0}));
        EXPECT_EQ(fileBytes(c.path), data);
        // Made durable with one fsync of the file and one of its folder; no
        // temporary copy is left beside it.
        const platform::files::testing::SyncCounts syncs = platform::files::testing::takeSyncCounts();
        EXPECT_EQ(syncs.files, 1u);
        EXPECT_EQ(syncs.folders, 1u);
        EXPECT_EQ(platform::files::removeStaleTemporaries("/data"), 0);

        // A wrong digest answers failure and keeps the file.
        Bytes other = randomBytes(c.size + 7, seed++);
        Bytes bad = md5Of(other);
        bad[0] ^= 1;
        EXPECT_EQ(upload(c.tag, 0, other, bad), (Bytes{0, 3, 1}));
        EXPECT_EQ(fileBytes(c.path), data);

        Bytes open = run(readTyped(c.tag));
        ASSERT_EQ(open, cat({0, 4, 1}, le32(uint32_t(c.size))));
        Bytes digest;
        EXPECT_EQ(readBack(uint32_t(c.size), digest), data);
        EXPECT_EQ(digest, md5Of(data));
    }
    // Blocks of 512 at 0 and 512 read the first 1024 bytes; the end digests what was sent.
    ASSERT_EQ(run(readTyped("OSDS"))[2], 1);
    Bytes first = run(readBlock(0, 512)), second = run(readBlock(512, 512));
    Bytes sent = cat(Bytes(first.begin() + 2, first.end()), Bytes(second.begin() + 2, second.end()));
    Bytes menu = fileBytes("/data/configs/omenu.json");
    EXPECT_EQ(sent, Bytes(menu.begin(), menu.begin() + 1024));
    EXPECT_EQ(run(readEnd()), cat({0, 6}, md5Of(sent)));
    // Without an open file the end carries zeros; a missing file is not opened.
    EXPECT_EQ(run(readEnd()), cat({0, 6}, Bytes(16, 0)));
    platform::files::remove("/data/configs/alias.json");
    EXPECT_EQ(run(readTyped("ALIS")), (Bytes{0, 4, 0, 0, 0, 0, 0}));
    // Nor is a FIFO in its place, and it does not hold the link.
    const std::string fifo = root.host("/data/configs/alias.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    Bytes fromFifo;
    {
        zemtest::BlockedCall open([&] { fromFifo = run(readTyped("ALIS")); });
        const bool answered = open.finishes(2000);
        if (!answered)
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));   // lets a blocked open go
        EXPECT_TRUE(answered);
    }
    EXPECT_EQ(fromFifo, (Bytes{0, 4, 0, 0, 0, 0, 0}));
    EXPECT_EQ(run(readNamed("OSDS", 8)), cat({0, 4, 1}, le32(3000)));
    EXPECT_EQ(run(readEnd()).size(), 18u);
}

TEST_F(FileTransferTest, StartTagsAndModeNumbers)
{
    EXPECT_EQ(run(startTyped("MO11", 0, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("MO00", 0, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("MOxz", 0, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("QyFX", 13, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("QyFR", 9, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("ABCD", 0, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(readTyped("MO11")), (Bytes{0, 4, 0, 0, 0, 0, 0}));

    // A boot-loader start has no reply; its blocks and end store nothing.
    Bytes boot = randomBytes(2000, 9);
    EXPECT_EQ(run(startTyped("FBOT", 0, 2000)), Bytes{});
    EXPECT_EQ(send(deal, boot, md5Of(boot)), (Bytes{0, 3, 0}));
    EXPECT_FALSE(platform::files::exists("/data/app/zemR47N2"));
}

// A refused start ends the running transfer: an end that follows stores
// nothing under any type, answers "not stored" and leaves the files as they
// were; the next accepted start works as ever.
TEST_F(FileTransferTest, ARefusedStartEndsThePreviousTransfer)
{
    // A start cut short before its length, in the middle of a menu upload.
    const Bytes menu = randomBytes(300, 41);
    EXPECT_EQ(run(startTyped("MO07", 0, 300)), (Bytes{0, 1, 0}));
    EXPECT_EQ(run(block(0, menu)), (Bytes{0, 2}));
    Bytes cut = startTyped("MO08", 0, 300);
    cut.resize(18);
    EXPECT_EQ(run(cut), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(endWith(md5Of(menu))), (Bytes{0, 3, 1}));
    EXPECT_FALSE(platform::files::exists("/data/modes/MO07.json"));

    // An unknown tag after a stored alias file: the buffer's old bytes land
    // nowhere, not on a second end either.
    const Bytes alias = randomBytes(500, 42);
    EXPECT_EQ(upload("ALIS", 0, alias, md5Of(alias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(run(startTyped("ABCD", 0, 300)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(endWith(md5Of({}))), (Bytes{0, 3, 1}));
    EXPECT_EQ(run(endWith(md5Of({}))), (Bytes{0, 3, 1}));
    EXPECT_EQ(fileBytes("/data/configs/alias.json"), alias);

    const Bytes next = randomBytes(20, 43);
    EXPECT_EQ(upload("ALIS", 0, next, md5Of(next)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/configs/alias.json"), next);
}

TEST_F(FileTransferTest, ReceivingCardFilesByTagAndByName)
{
    Bytes recovery = randomBytes(4000, 21);
    EXPECT_EQ(upload("QyFX", 9, recovery, md5Of(recovery)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/rcvrecovery/QyFX"), recovery);
    Bytes mapping = randomBytes(1500, 22);
    EXPECT_EQ(upload("QyFR", 13, mapping, md5Of(mapping)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/smartmapping/QyFR"), mapping);

    Bytes card = randomBytes(9000, 23);
    EXPECT_EQ(run(startNamed("rcv_01.bin", 9, 9000)), (Bytes{0, 7, 0}));
    EXPECT_EQ(send(deal, card, md5Of(card)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/rcvrecovery/rcv_01.bin"), card);

    Bytes bad = md5Of(mapping);
    EXPECT_EQ(run(startNamed("rcv_01.bin", 9, 1500)), (Bytes{0, 7, 0}));
    EXPECT_EQ(send(deal, mapping, cat(Bytes(bad.begin() + 1, bad.end()), {uint8_t(bad[0] + 1)})), (Bytes{0, 3, 1}));
    EXPECT_EQ(fileBytes("/data/rcvrecovery/rcv_01.bin"), card);

    EXPECT_EQ(run(readNamed("rcv_01.bin", 9)), cat({0, 8, 1}, le32(9000)));
    Bytes digest;
    EXPECT_EQ(readBack(9000, digest, 4096), card);
    EXPECT_EQ(digest, md5Of(card));
    EXPECT_EQ(run(readNamed("missing", 13)), (Bytes{0, 8, 0, 0, 0, 0, 0}));
    EXPECT_EQ(run(startNamed("x", 5, 10)), (Bytes{1, 7, 2}));   // only the card types are named
}

// The read transfer's size and offsets are 32-bit: a file up to 4 GiB is
// offered with its size and read at offsets past 2 GiB (a 32-bit board needs
// 64-bit file offsets for both); a larger file is not opened. The files are
// sparse, so they take no room on the disk.
TEST_F(FileTransferTest, FilesPastTwoGigabytesAreReadAtTheirOffsets)
{
    const qint64 size = 0xC0000010;
    const Bytes tail = randomBytes(16, 31);
    QFile big(QString::fromStdString(root.host("/data/rcvrecovery/big.bin")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.seek(size - 16));
    ASSERT_EQ(big.write(reinterpret_cast<const char *>(tail.data()), 16), 16);
    big.close();

    EXPECT_EQ(run(readNamed("big.bin", 9)), cat({0, 8, 1}, le32(uint32_t(size))));
    EXPECT_EQ(run(readBlock(uint32_t(size - 16), 16)), cat({0, 5}, tail));
    EXPECT_EQ(run(readBlock(0x80000000u, 4)), (Bytes{0, 5, 0, 0, 0, 0}));

    QFile huge(QString::fromStdString(root.host("/data/rcvrecovery/huge.bin")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(0x100000001ll));
    huge.close();
    EXPECT_EQ(run(readNamed("huge.bin", 9)), (Bytes{0, 8, 0, 0, 0, 0, 0}));
}

// Names from the PC tool are plain file names: anything else is refused and
// nothing is created, read or run.
TEST_F(FileTransferTest, NamesThatAreNotPlainFileNamesAreRefused)
{
    platform::shell::sim::clearLog();
    platform::ensureDir("/data/x");
    zemtest::writeFile(root.host("/data/secret"), "keep");
    zemtest::writeFile(root.host("/data/x/secret"), "keep");
    const std::string names[] = {"../x", "..", ".", "a/b", "/data/secret", "../secret", "x;rm -rf y",
                                 "$(id)", "a b", "tab\tname", "new\nline", "`id`", "a|b", "", "x*"};
    for (const std::string &n : names) {
        SCOPED_TRACE(n);
        EXPECT_EQ(run(startNamed(n, 9, 4)), (Bytes{1, 7, 2}));
        EXPECT_EQ(run(startNamed(n, 13, 4)), (Bytes{1, 7, 2}));
        EXPECT_EQ(run(readNamed(n, 9)), (Bytes{0, 4, 0, 0, 0, 0, 0}));
        EXPECT_EQ(run(readNamed(n, 13)), (Bytes{0, 4, 0, 0, 0, 0, 0}));
    }
    // A refused named start ends the running transfer like a typed one:
    // the end that follows stores neither the refused name nor that file.
    EXPECT_EQ(run(startTyped("OSDS", 0, 4)), (Bytes{0, 1, 0}));
    EXPECT_EQ(run(startNamed("../x", 9, 4)), (Bytes{1, 7, 2}));
    EXPECT_EQ(send(deal, {1, 2, 3, 4}, md5Of({1, 2, 3, 4})), (Bytes{0, 3, 1}));
    EXPECT_FALSE(platform::files::exists("/data/configs/omenu.json"));
    EXPECT_EQ(file("/data/x/secret"), "keep");
    EXPECT_EQ(QDir(QString::fromStdString(root.host("/data/rcvrecovery"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
    EXPECT_EQ(QDir(QString::fromStdString(root.host("/data/smartmapping"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
    EXPECT_EQ(file("/data/secret"), "keep");
    EXPECT_TRUE(platform::shell::sim::log().empty());
    // A name cut at its NUL is the part before it.
    EXPECT_EQ(run(startNamed(std::string("ok\0/../x", 8), 13, 0)), (Bytes{0, 7, 0}));
    EXPECT_EQ(run(endWith(md5Of({}))), (Bytes{0, 3, 0}));
    EXPECT_TRUE(platform::files::exists("/data/smartmapping/ok"));
}

TEST_F(FileTransferTest, OffsetsLengthsAndCapacitiesAreChecked)
{
    // Starts beyond the type's room.
    EXPECT_EQ(run(startTyped("LOGO", 0, 0x60000 - 371)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("FKRN", 0, 0x500001)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startTyped("OSDS", 0, 0x500001)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(startNamed("big", 9, 0x500001)), (Bytes{1, 7, 2}));
    EXPECT_EQ(g_update_flag.load(), 0);

    EXPECT_EQ(run(startTyped("LOGO", 0, 100)), (Bytes{0, 1, 0}));
    // Past the partition's room after the header.
    EXPECT_EQ(run(block(0x60000 - 372 - 2, {1, 2, 3})), (Bytes{1, 2}));
    EXPECT_EQ(run(block(0xFFFFFFFF, {1})), (Bytes{1, 2}));
    // A length that runs past the frame.
    Bytes lying = block(0, {1, 2, 3, 4});
    lying[19] = 200;
    EXPECT_EQ(run(lying), (Bytes{1, 2}));
    Bytes shortFrame = block(0, {});
    shortFrame.resize(20);
    EXPECT_EQ(run(shortFrame), (Bytes{1, 2}));
    // Refused blocks are not digested: the right blocks still match.
    Bytes logo = randomBytes(100, 5);
    EXPECT_EQ(send(deal, logo, md5Of(logo)), (Bytes{0, 3, 0}));

    // Read counts are bounded by the link's reply.
    zemtest::writeFile(root.host("/data/configs/omenu.json"), std::string(5000, 'o'));
    deal.set_reply_capacity(1024 + 13);
    ASSERT_EQ(run(readTyped("OSDS"))[2], 1);
    EXPECT_EQ(run(readBlock(0, 1025)), (Bytes{1, 5}));
    EXPECT_EQ(run(readBlock(0, 1024)).size(), 1026u);
    // Past the end of the file the bytes are zero and not digested.
    Bytes tail = run(readBlock(4990, 20));
    EXPECT_EQ(tail, cat({0, 5}, cat(Bytes(10, 'o'), Bytes(10, 0))));
    Bytes digest;
    Bytes expect(1024, 'o');
    expect.insert(expect.end(), 10, 'o');
    EXPECT_EQ(run(readEnd()), cat({0, 6}, md5Of(expect)));
}

TEST_F(FileTransferTest, ApplicationUploadAndFailures)
{
    std::unique_ptr<QCoreApplication> app;
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name};
    if (!QCoreApplication::instance())
        app.reset(new QCoreApplication(argc, argv));
    std::vector<int> codes;
    QObject receiver;   // the connection ends with the test
    QObject::connect(store, &ZemRamPara::sig_update_para, &receiver, [&](int c) { codes.push_back(c); });

    Bytes image = randomBytes(1 << 20, 31);
    EXPECT_EQ(upload("FMCU", 0, image, md5Of(image)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/app/zemR47N2"), image);
    EXPECT_TRUE(pumpUntil([&] { return g_update_flag.load() == 1 && !codes.empty(); }));
    EXPECT_EQ(codes, std::vector<int>{105});

    // A wrong digest and a write that stops half-way both keep the old file;
    // the second is reported as a failure.
    Bytes next = randomBytes(1 << 19, 32);
    EXPECT_EQ(upload("FMCU", 0, next, md5Of(image)), (Bytes{0, 3, 1}));
    EXPECT_EQ(fileBytes("/data/app/zemR47N2"), image);
    EXPECT_EQ(run(startTyped("FMCU", 0, uint32_t(next.size()))), (Bytes{0, 1, 0}));
    platform::files::testing::failNextWriteAfter(1000);
    EXPECT_EQ(send(deal, next, md5Of(next), 65536), (Bytes{1, 3, 1}));
    EXPECT_EQ(fileBytes("/data/app/zemR47N2"), image);
    // The same for a JSON file, and the alias file's code 103 only when stored.
    Bytes alias = text("{\"a\":1}");
    EXPECT_EQ(upload("ALIS", 0, alias, md5Of(alias)), (Bytes{0, 3, 0}));
    Bytes osd = text("{}");
    EXPECT_EQ(upload("OSDS", 0, osd, md5Of(osd)), (Bytes{0, 3, 0}));
    EXPECT_EQ(run(startTyped("ALIS", 0, 3)), (Bytes{0, 1, 0}));
    platform::files::testing::failNextWriteAfter(1);
    EXPECT_EQ(send(deal, text("[1]"), md5Of(text("[1]"))), (Bytes{1, 3, 1}));
    EXPECT_EQ(fileBytes("/data/configs/alias.json"), alias);
    // Every application start raises the upgrade step; the alias file arrived once.
    EXPECT_TRUE(pumpUntil([&] { return codes.size() >= 4; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(codes, (std::vector<int>{105, 105, 105, 103}));
}

TEST_F(FileTransferTest, KernelAndLogoLandInTheFlashPartitions)
{
    Bytes kernel = randomBytes(3 << 20, 41);
    EXPECT_EQ(upload("FKRN", 0, kernel, md5Of(kernel)), (Bytes{0, 3, 0}));
    Bytes part = fileBytes(platform::mtd::sim::backingFile("/dev/mtd10"));
    ASSERT_EQ(part.size(), 0x500000u);
    EXPECT_TRUE(std::equal(kernel.begin(), kernel.end(), part.begin()));
    EXPECT_EQ(part[kernel.size()], 0);   // the rest of the cleared buffer

    Bytes logo = randomBytes(1001, 42);
    EXPECT_EQ(upload("LOGO", 0, logo, md5Of(logo)), (Bytes{0, 3, 0}));
    Bytes flash = fileBytes(platform::mtd::sim::backingFile("/dev/mtd8"));
    ASSERT_EQ(flash.size(), 0x60000u);
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 4), text("SSTA"));
    EXPECT_EQ(Bytes(flash.begin() + 12, flash.begin() + 16), text("DISP"));
    EXPECT_EQ(Bytes(flash.begin() + 328, flash.begin() + 332), text("LOGO"));
    EXPECT_EQ(Bytes(flash.begin() + 360, flash.begin() + 364), le32(1004));
    EXPECT_EQ(Bytes(flash.begin() + 372, flash.begin() + 372 + 1001), logo);
    EXPECT_EQ(flash[156] | flash[157] << 8, 320);

    // A refused erase or write is a failure; a wrong digest leaves the partition untouched.
    platform::mtd::sim::failRequest(platform::mtd::sim::Op::Erase, 2);
    EXPECT_EQ(upload("LOGO", 0, logo, md5Of(logo)), (Bytes{1, 3, 1}));
    platform::mtd::sim::failRequest(platform::mtd::sim::Op::Write, 5);
    EXPECT_EQ(upload("FKRN", 0, kernel, md5Of(kernel)), (Bytes{1, 3, 1}));
    platform::mtd::sim::failRequest(platform::mtd::sim::Op::Open);
    EXPECT_EQ(upload("LOGO", 0, logo, md5Of(logo)), (Bytes{1, 3, 1}));
    EXPECT_EQ(upload("LOGO", 0, logo, md5Of(logo)), (Bytes{0, 3, 0}));
    platform::mtd::sim::clearLog();
    EXPECT_EQ(upload("LOGO", 0, randomBytes(64, 1), md5Of(logo)), (Bytes{0, 3, 1}));
    EXPECT_TRUE(platform::mtd::sim::log().empty());
    EXPECT_EQ(fileBytes(platform::mtd::sim::backingFile("/dev/mtd8")), flash);
}

// A write transfer belongs to the link and connection that started it:
// another sender's blocks and end are refused and store nothing, a start
// from anywhere takes it over, and a link restarting its own upload goes on.
TEST_F(FileTransferTest, ATransferBelongsToTheLinkThatStartedIt)
{
    const std::string aliasPath = "/data/configs/alias.json", menuPath = "/data/configs/omenu.json";
    const Bytes alias = randomBytes(2000, 50), menu = randomBytes(3000, 51);
    EXPECT_EQ(upload("ALIS", 0, alias, md5Of(alias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(upload("OSDS", 0, menu, md5Of(menu)), (Bytes{0, 3, 0}));

    // Two connections of one port: 1 starts an alias file, 2 a menu, then 1 sends.
    const Bytes newAlias = randomBytes(1500, 52), newMenu = randomBytes(2500, 53);
    deal.set_origin(1);
    EXPECT_EQ(run(startTyped("ALIS", 0, 1500)), (Bytes{0, 1, 0}));
    deal.set_origin(2);
    EXPECT_EQ(run(startTyped("OSDS", 0, 2500)), (Bytes{0, 1, 0}));
    deal.set_origin(1);
    EXPECT_EQ(run(block(0, newAlias)), (Bytes{1, 2}));
    EXPECT_EQ(run(endWith(md5Of(newAlias))), (Bytes{0, 3, 1}));
    EXPECT_EQ(fileBytes(aliasPath), alias);
    EXPECT_EQ(fileBytes(menuPath), menu);
    deal.set_origin(2);
    EXPECT_EQ(send(deal, newMenu, md5Of(newMenu)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes(menuPath), newMenu);

    // Another link likewise; a start it gets refused leaves the running
    // transfer alone, and the owner's restart of its own upload works.
    message_deal other;
    EXPECT_EQ(run(other, startTyped("ALIS", 0, 1500)), (Bytes{0, 1, 0}));
    EXPECT_EQ(run(other, block(0, Bytes(newMenu.begin(), newMenu.begin() + 100))), (Bytes{0, 2}));
    EXPECT_EQ(run(deal, block(0, newMenu)), (Bytes{1, 2}));
    EXPECT_EQ(run(deal, startTyped("ABCD", 0, 10)), (Bytes{1, 1, 2}));
    EXPECT_EQ(run(other, startTyped("ALIS", 0, 1500)), (Bytes{0, 1, 0}));
    EXPECT_EQ(send(other, newAlias, md5Of(newAlias)), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes(aliasPath), newAlias);

    // Two links uploading different user-mode copies at the same time take
    // the transfer from each other: a file is written only whole, with the
    // path and length of its own start.
    auto worker = [&](message_deal &d, const std::string &tag, unsigned seed) {
        for (int i = 0; i < 30; ++i) {
            Bytes data = randomBytes(5000 + seed, seed * 100 + unsigned(i));
            run(d, startTyped(tag, 0, uint32_t(data.size())));
            for (size_t off = 0; off < data.size(); off += 512) {
                const size_t end = std::min(data.size(), off + 512);
                run(d, block(uint32_t(off), Bytes(data.begin() + off, data.begin() + end)));
            }
            run(d, endWith(md5Of(data)));
        }
    };
    std::thread a(worker, std::ref(deal), "MO01", 1u), b(worker, std::ref(other), "MO02", 2u);
    a.join();
    b.join();
    for (unsigned seed : {1u, 2u}) {
        std::string p = seed == 1 ? "/data/modes/MO01.json" : "/data/modes/MO02.json";
        if (platform::files::exists(p))
            EXPECT_EQ(fileBytes(p).size(), 5000u + seed) << p;
    }
}

// A read transfer belongs to the link and connection that opened it: another
// sender's blocks are refused, its end carries no digest and closes nothing,
// and an open from anywhere takes the read over.
TEST_F(FileTransferTest, AReadBelongsToTheLinkThatOpenedIt)
{
    const Bytes alias = randomBytes(2000, 80), menu = randomBytes(3000, 81);
    zemtest::writeFile(root.host("/data/configs/alias.json"), std::string(alias.begin(), alias.end()));
    zemtest::writeFile(root.host("/data/configs/omenu.json"), std::string(menu.begin(), menu.end()));
    deal.set_origin(1);
    EXPECT_EQ(run(readTyped("ALIS")), cat({0, 4, 1}, le32(2000)));
    deal.set_origin(2);
    EXPECT_EQ(run(readTyped("OSDS")), cat({0, 4, 1}, le32(3000)));
    deal.set_origin(1);
    EXPECT_EQ(run(readBlock(0, 100)), (Bytes{1, 5}));
    EXPECT_EQ(run(readEnd()), cat({0, 6}, Bytes(16, 0)));
    deal.set_origin(2);
    Bytes digest;
    EXPECT_EQ(readBack(3000, digest), menu);
    EXPECT_EQ(digest, md5Of(menu));

    // Another link likewise; an upload end with nothing uploaded leaves its read open too.
    message_deal other;
    EXPECT_EQ(run(other, readTyped("ALIS"))[2], 1);
    EXPECT_EQ(run(other, readBlock(0, 1000)), cat({0, 5}, Bytes(alias.begin(), alias.begin() + 1000)));
    g_zem_file_deal_para = ZemFileDeal();   // as after start-up
    EXPECT_EQ(run(endWith(md5Of({}))).size(), 3u);
    EXPECT_EQ(run(readBlock(1000, 1000)), (Bytes{1, 5}));
    EXPECT_EQ(run(other, readBlock(1000, 1000)), cat({0, 5}, Bytes(alias.begin() + 1000, alias.end())));
    EXPECT_EQ(run(other, readEnd()), cat({0, 6}, md5Of(alias)));
}

// The same upload and read-back as the PC tool does it over the RS-485 line.
TEST_F(FileTransferTest, UploadAndReadBackOverTheSerialLine)
{
    platform::ensureDir("/dev");
    zemtest::PtyLink pty(root.host("/dev/ttyS2"));
    ASSERT_TRUE(pty.ok());
    Qy_uart_inout link;
    ASSERT_EQ(link.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    auto ask = [&](const Bytes &body) {
        EXPECT_TRUE(pctool::writeAll(pty.master(), pctool::frame(body)));
        Bytes r = pctool::decode(pctool::readFrames(pty.master(), 1, zemtest::patience(3000ms)));
        return r.size() > 11 ? Bytes(r.begin() + 10, r.end() - 1) : Bytes();
    };
    Bytes menu = randomBytes(6000, 61);   // carries escaped bytes A5/5A/A6/5B
    EXPECT_EQ(ask(startTyped("OSDS", 0, 6000)), (Bytes{0, 1, 0}));
    for (uint32_t off = 0; off < 6000; off += 2048)
        EXPECT_EQ(ask(block(off, Bytes(menu.begin() + off, menu.begin() + std::min<uint32_t>(6000, off + 2048)))), (Bytes{0, 2}));
    EXPECT_EQ(ask(endWith(md5Of(menu))), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/configs/omenu.json"), menu);

    EXPECT_EQ(ask(readTyped("OSDS")), cat({0, 4, 1}, le32(6000)));
    Bytes back;
    for (uint32_t off = 0; off < 6000; off += 1500) {
        Bytes r = ask(readBlock(off, 1500));
        ASSERT_EQ(r.size(), 1502u);
        back.insert(back.end(), r.begin() + 2, r.end());
    }
    EXPECT_EQ(back, menu);
    EXPECT_EQ(ask(readEnd()), cat({0, 6}, md5Of(menu)));
}

// A screen capture read in the middle of an upload (on another link) uses
// its own buffer: the upload still stores exactly what was sent.
TEST_F(FileTransferTest, CaptureDuringAnUploadLeavesTheUploadIntact)
{
    std::unique_ptr<QApplication> app;
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    app.reset(new QApplication(argc, argv));
    QWidget panel(nullptr, Qt::FramelessWindowHint);   // stands in for the front panel
    panel.setGeometry(0, 0, 320, 240);
    panel.show();
    QCoreApplication::processEvents();

    message_deal other;
    Bytes menu = randomBytes(6000, 71);
    EXPECT_EQ(run(startTyped("OSDS", 0, 6000)), (Bytes{0, 1, 0}));
    EXPECT_EQ(run(block(0, Bytes(menu.begin(), menu.begin() + 3000))), (Bytes{0, 2}));

    Bytes header = run(other, pctool::ramRead(pctool::CONTROLLER, 0x800000, 16));
    ASSERT_EQ(header.size(), 17u);
    const uint32_t len = header[13] | (header[14] << 8) | (header[15] << 16) | (uint32_t(header[16]) << 24);
    ASSERT_GT(len, 8u);
    Bytes data = run(other, pctool::ramRead(pctool::CONTROLLER, 0x800080, uint16_t(2 + len)));
    ASSERT_EQ(data.size(), 3u + len);
    EXPECT_EQ(Bytes(data.begin() + 1, data.begin() + 3), (Bytes{0xAA, 0xAA}));
    EXPECT_EQ(Bytes(data.begin() + 4, data.begin() + 7), text("PNG"));

    EXPECT_EQ(run(block(3000, Bytes(menu.begin() + 3000, menu.end()))), (Bytes{0, 2}));
    EXPECT_EQ(run(endWith(md5Of(menu))), (Bytes{0, 3, 0}));
    EXPECT_EQ(fileBytes("/data/configs/omenu.json"), menu);

    // The capture is still there to read after the upload.
    EXPECT_EQ(run(other, pctool::ramRead(pctool::CONTROLLER, 0x800080, uint16_t(2 + len))), data);
}
