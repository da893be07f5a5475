#include "protocol/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <random>
#include <vector>

namespace {

std::string md5Of(const std::string &s)
{
    MD5 m(s.data(), static_cast<uint32_t>(s.size()));
    return m.toString();
}

std::vector<unsigned char> pattern1000()
{
    std::vector<unsigned char> v(1000);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<unsigned char>(i * 31 + (i >> 8));
    return v;
}

TEST(MD5, Rfc1321TestSuite)
{
    EXPECT_EQ(MD5().toString(), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Of("1234567890123456789012345678901234567890"
                    "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, PaddingBoundaries)
{
    // 55, 56 and 64 bytes straddle the place where the length needs a second block.
    EXPECT_EQ(md5Of(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Of(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(MD5, DigestBytesAndHexText)
{
    MD5 m("abc", 3);
    const unsigned char *d = m.digest();
    EXPECT_EQ(d[0], 0x90);
    EXPECT_EQ(d[15], 0x72);
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(MD5::bytesToHexString(bytes, 4), "000fa5ff");
}

TEST(MD5, PiecesGiveTheSameDigest)
{
    const std::vector<unsigned char> data = pattern1000();
    MD5 whole(data.data(), 1000);
    EXPECT_EQ(whole.toString(), "b734d05775d6e6c54bcc784940b64443");

    MD5 pieces;
    const uint32_t sizes[] = {1, 63, 64, 872};
    uint32_t off = 0;
    for (uint32_t n : sizes) {
        pieces.update(data.data() + off, n);
        off += n;
    }
    EXPECT_EQ(pieces.toString(), whole.toString());

    MD5 bytes;
    for (unsigned char c : data)
        bytes.update(&c, 1);
    bytes.update(data.data(), 0);
    EXPECT_EQ(bytes.toString(), whole.toString());
}

// Taking a digest in the middle of a stream must not disturb the stream: the
// bytes waiting in the partial block are part of what comes next (a partial
// block of 56 bytes or more needs a second padding block, which must not
// overwrite them).
TEST(MD5, UpdateAfterDigestContinuesTheStream)
{
    const std::vector<unsigned char> data = pattern1000();
    const std::string expected = "b734d05775d6e6c54bcc784940b64443";
    for (uint32_t split : {0u, 1u, 10u, 55u, 56u, 63u, 64u, 119u, 128u, 999u, 1000u}) {
        MD5 m;
        m.update(data.data(), split);
        EXPECT_EQ(m.toString(), MD5(data.data(), split).toString()) << split;
        m.update(data.data() + split, 1000 - split);
        EXPECT_EQ(m.toString(), expected) << "split at " << split;
    }

    // Repeated digests of the same stream agree, and reset starts a new one.
    MD5 m(data.data(), 500);
    const std::string first = m.toString();
    EXPECT_EQ(m.toString(), first);
    m.digest();
    m.update(data.data() + 500, 500);
    m.digest();
    EXPECT_EQ(m.toString(), expected);
    m.reset();
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, MillionA)
{
    const std::string chunk(1000, 'a');
    MD5 m;
    for (int i = 0; i < 1000; ++i)
        m.update(chunk.data(), 1000);
    EXPECT_EQ(m.toString(), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5, FiveMegabyteTransfer)
{
    const uint32_t len = 5 * 1024 * 1024 + 17;
    std::vector<unsigned char> data(len);
    for (uint32_t i = 0; i < len; ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    const std::string expected = "b1f6dbea541de5e5239fdddb8efb4307";
    EXPECT_EQ(MD5(data.data(), len).toString(), expected);

    // In transfer-sized blocks of 1 KiB plus an odd tail.
    MD5 m;
    uint32_t off = 0;
    while (off < len) {
        uint32_t n = std::min<uint32_t>(1024, len - off);
        m.update(data.data() + off, n);
        off += n;
    }
    EXPECT_EQ(m.toString(), expected);
}

// Beyond 512 MiB the bit count no longer fits its low word: the count must
// carry into the high word and the padding must append both words.
TEST(MD5, StreamsBeyondFourGigabits)
{
    const uint32_t len = 512u * 1024 * 1024 + 100;
    const uint32_t piece = 4 * 1024 * 1024 + 3;
    std::vector<unsigned char> zeros(piece, 0);
    MD5 m;
    for (uint32_t off = 0; off < len;) {
        uint32_t n = std::min(piece, len - off);
        m.update(zeros.data(), n);
        off += n;
    }
    EXPECT_EQ(m.toString(), "2fd298086ae19f076b408e275af7598c");
}

} // namespace

// Random splits fed from unaligned addresses give the digest of the whole.
TEST(MD5, RandomSplitsFromUnalignedBuffers)
{
    std::mt19937 gen(11);
    std::vector<unsigned char> data(20000 + 8);
    for (auto &v : data)
        v = static_cast<unsigned char>(gen());
    for (int round = 0; round < 50; ++round) {
        const uint32_t skew = gen() % 8;
        const uint32_t n = gen() % 20000;
        const unsigned char *p = data.data() + skew;
        MD5 whole(p, n);
        MD5 pieces;
        uint32_t off = 0;
        while (off < n) {
            uint32_t k = std::min<uint32_t>(n - off, gen() % 300);
            pieces.update(p + off, k);
            off += k;
        }
        ASSERT_EQ(pieces.toString(), whole.toString()) << "round " << round;
        // The same digest when the bytes are copied to an aligned buffer.
        std::vector<unsigned char> copy(p, p + n);
        ASSERT_EQ(MD5(copy.data(), n).toString(), whole.toString());
    }
}
