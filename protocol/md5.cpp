#include "protocol/md5.h"

#include <cstring>

const char MD5::HEX[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                           '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

const unsigned char MD5::PADDING[64] = {0x80};

namespace {

// Per-round shift amounts.
constexpr int S11 = 7, S12 = 12, S13 = 17, S14 = 22;
constexpr int S21 = 5, S22 = 9, S23 = 14, S24 = 20;
constexpr int S31 = 4, S32 = 11, S33 = 16, S34 = 23;
constexpr int S41 = 6, S42 = 10, S43 = 15, S44 = 21;

// F and G in forms with shorter dependency chains; the values are the same
// as (x & y) | (~x & z) and (x & z) | (y & ~z) (the two terms of G never
// share a bit, so adding them equals or-ing them).
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline void FF(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac)
{
    a = rotl(a + F(b, c, d) + x + ac, s) + b;
}
inline void GG(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac)
{
    a = rotl(a + x + ac + (c & ~d) + (b & d), s) + b;
}
inline void HH(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac)
{
    a = rotl(a + H(b, c, d) + x + ac, s) + b;
}
inline void II(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac)
{
    a = rotl(a + I(b, c, d) + x + ac, s) + b;
}

// Little-endian words in and out, independent of the host's byte order.
void decode(uint32_t *out, const unsigned char *in, unsigned words)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, in, size_t(words) * 4);
#else
    for (unsigned i = 0; i < words; ++i, in += 4)
        out[i] = uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16) |
                 (uint32_t(in[3]) << 24);
#endif
}

void encode(unsigned char *out, const uint32_t *in, unsigned words)
{
    for (unsigned i = 0; i < words; ++i, out += 4) {
        out[0] = static_cast<unsigned char>(in[i]);
        out[1] = static_cast<unsigned char>(in[i] >> 8);
        out[2] = static_cast<unsigned char>(in[i] >> 16);
        out[3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

} // namespace

MD5::MD5()
{
    reset();
}

MD5::MD5(const void *input, uint32_t length)
{
    reset();
    update(input, length);
}

void MD5::reset()
{
    _finished = false;
    _ctx.count[0] = _ctx.count[1] = 0;
    _ctx.state[0] = 0x67452301;
    _ctx.state[1] = 0xefcdab89;
    _ctx.state[2] = 0x98badcfe;
    _ctx.state[3] = 0x10325476;
    std::memset(_ctx.buffer, 0, sizeof _ctx.buffer);
    std::memset(_digest, 0, sizeof _digest);
}

void MD5::update(const void *input, uint32_t length)
{
    update(static_cast<const unsigned char *>(input), length);
}

void MD5::update(const unsigned char *input, uint32_t length)
{
    _finished = false;
    if (length == 0)
        return;
    absorb(_ctx, input, length);
}

const unsigned char *MD5::digest()
{
    if (!_finished) {
        final();
        _finished = true;
    }
    return _digest;
}

std::string MD5::toString()
{
    return bytesToHexString(digest(), 16);
}

std::string MD5::bytesToHexString(const unsigned char *input, uint32_t length)
{
    std::string s;
    s.reserve(size_t(length) * 2);
    for (uint32_t i = 0; i < length; ++i) {
        s.push_back(HEX[input[i] >> 4]);
        s.push_back(HEX[input[i] & 0x0f]);
    }
    return s;
}

void MD5::absorb(Context &ctx, const unsigned char *input, uint32_t length)
{
    uint32_t index = (ctx.count[0] >> 3) & 0x3f;
    uint32_t addBits = length << 3;
    ctx.count[0] += addBits;
    if (ctx.count[0] < addBits)
        ++ctx.count[1];
    ctx.count[1] += length >> 29;

    uint32_t partLen = 64 - index;
    uint32_t i = 0;
    if (length >= partLen) {
        std::memcpy(&ctx.buffer[index], input, partLen);
        transform(ctx.state, ctx.buffer);
        for (i = partLen; i + 63 < length; i += 64)
            transform(ctx.state, &input[i]);
        index = 0;
    }
    std::memcpy(&ctx.buffer[index], &input[i], length - i);
}

// Pads and appends the length on a copy of the running context, so the
// stream absorbed so far (chaining words, bit count and the partial block)
// stays intact and update() can continue it.
void MD5::final()
{
    Context ctx = _ctx;
    unsigned char bits[8];
    encode(bits, ctx.count, 2);

    uint32_t index = (ctx.count[0] >> 3) & 0x3f;
    uint32_t padLen = (index < 56) ? (56 - index) : (120 - index);
    absorb(ctx, PADDING, padLen);
    absorb(ctx, bits, 8);
    encode(_digest, ctx.state, 4);
}

void MD5::transform(uint32_t state[4], const unsigned char block[64])
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], x[16];
    decode(x, block, 16);

    // Round 1
    FF(a, b, c, d, x[0], S11, 0xd76aa478);
    FF(d, a, b, c, x[1], S12, 0xe8c7b756);
    FF(c, d, a, b, x[2], S13, 0x242070db);
    FF(b, c, d, a, x[3], S14, 0xc1bdceee);
    FF(a, b, c, d, x[4], S11, 0xf57c0faf);
    FF(d, a, b, c, x[5], S12, 0x4787c62a);
    FF(c, d, a, b, x[6], S13, 0xa8304613);
    FF(b, c, d, a, x[7], S14, 0xfd469501);
    FF(a, b, c, d, x[8], S11, 0x698098d8);
    FF(d, a, b, c, x[9], S12, 0x8b44f7af);
    FF(c, d, a, b, x[10], S13, 0xffff5bb1);
    FF(b, c, d, a, x[11], S14, 0x895cd7be);
    FF(a, b, c, d, x[12], S11, 0x6b901122);
    FF(d, a, b, c, x[13], S12, 0xfd987193);
    FF(c, d, a, b, x[14], S13, 0xa679438e);
    FF(b, c, d, a, x[15], S14, 0x49b40821);

    // Round 2
    GG(a, b, c, d, x[1], S21, 0xf61e2562);
    GG(d, a, b, c, x[6], S22, 0xc040b340);
    GG(c, d, a, b, x[11], S23, 0x265e5a51);
    GG(b, c, d, a, x[0], S24, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], S21, 0xd62f105d);
    GG(d, a, b, c, x[10], S22, 0x02441453);
    GG(c, d, a, b, x[15], S23, 0xd8a1e681);
    GG(b, c, d, a, x[4], S24, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], S21, 0x21e1cde6);
    GG(d, a, b, c, x[14], S22, 0xc33707d6);
    GG(c, d, a, b, x[3], S23, 0xf4d50d87);
    GG(b, c, d, a, x[8], S24, 0x455a14ed);
    GG(a, b, c, d, x[13], S21, 0xa9e3e905);
    GG(d, a, b, c, x[2], S22, 0xfcefa3f8);
    GG(c, d, a, b, x[7], S23, 0x676f02d9);
    GG(b, c, d, a, x[12], S24, 0x8d2a4c8a);

    // Round 3
    HH(a, b, c, d, x[5], S31, 0xfffa3942);
    HH(d, a, b, c, x[8], S32, 0x8771f681);
    HH(c, d, a, b, x[11], S33, 0x6d9d6122);
    HH(b, c, d, a, x[14], S34, 0xfde5380c);
    HH(a, b, c, d, x[1], S31, 0xa4beea44);
    HH(d, a, b, c, x[4], S32, 0x4bdecfa9);
    HH(c, d, a, b, x[7], S33, 0xf6bb4b60);
    HH(b, c, d, a, x[10], S34, 0xbebfbc70);
    HH(a, b, c, d, x[13], S31, 0x289b7ec6);
    HH(d, a, b, c, x[0], S32, 0xeaa127fa);
    HH(c, d, a, b, x[3], S33, 0xd4ef3085);
    HH(b, c, d, a, x[6], S34, 0x04881d05);
    HH(a, b, c, d, x[9], S31, 0xd9d4d039);
    HH(d, a, b, c, x[12], S32, 0xe6db99e5);
    HH(c, d, a, b, x[15], S33, 0x1fa27cf8);
    HH(b, c, d, a, x[2], S34, 0xc4ac5665);

    // Round 4
    II(a, b, c, d, x[0], S41, 0xf4292244);
    II(d, a, b, c, x[7], S42, 0x432aff97);
    II(c, d, a, b, x[14], S43, 0xab9423a7);
    II(b, c, d, a, x[5], S44, 0xfc93a039);
    II(a, b, c, d, x[12], S41, 0x655b59c3);
    II(d, a, b, c, x[3], S42, 0x8f0ccc92);
    II(c, d, a, b, x[10], S43, 0xffeff47d);
    II(b, c, d, a, x[1], S44, 0x85845dd1);
    II(a, b, c, d, x[8], S41, 0x6fa87e4f);
    II(d, a, b, c, x[15], S42, 0xfe2ce6e0);
    II(c, d, a, b, x[6], S43, 0xa3014314);
    II(b, c, d, a, x[13], S44, 0x4e0811a1);
    II(a, b, c, d, x[4], S41, 0xf7537e82);
    II(d, a, b, c, x[11], S42, 0xbd3af235);
    II(c, d, a, b, x[2], S43, 0x2ad7d2bb);
    II(b, c, d, a, x[9], S44, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}
