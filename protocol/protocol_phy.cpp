#include "protocol/protocol_phy.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint64_t ONES = 0x0101010101010101ull;
constexpr uint64_t HIGHS = 0x8080808080808080ull;

// High bit set in the lowest byte of `x` that is zero. Bytes above the
// lowest zero byte may be flagged wrongly, so only the lowest flag counts.
inline uint64_t zeroBytes(uint64_t x) { return (x - ONES) & ~x & HIGHS; }

inline uint8_t escapeLead(uint8_t b) { return (b == 0xA5 || b == 0xA6) ? 0xA6 : 0x5B; }
inline uint8_t escapeCode(uint8_t b) { return (b == 0xA5 || b == 0x5A) ? 0x02 : 0x01; }

} // namespace

size_t protocol_phy::plain_run_portable(const uint8_t *p, size_t n)
{
    size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        uint64_t m = zeroBytes(w ^ (ONES * 0xA5)) | zeroBytes(w ^ (ONES * 0xA6)) | zeroBytes(w ^ (ONES * 0x5A))
                     | zeroBytes(w ^ (ONES * 0x5B));
        if (m)
            return i + size_t(__builtin_ctzll(m) >> 3);
    }
#endif
    for (; i < n; ++i)
        if (is_special(p[i]))
            return i;
    return n;
}

size_t protocol_phy::plain_run(const uint8_t *p, size_t n)
{
#if defined(__SSE2__)
    size_t i = 0;
    const __m128i a5 = _mm_set1_epi8(char(0xA5)), a6 = _mm_set1_epi8(char(0xA6));
    const __m128i x5a = _mm_set1_epi8(char(0x5A)), x5b = _mm_set1_epi8(char(0x5B));
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a5), _mm_cmpeq_epi8(v, a6)),
                                 _mm_or_si128(_mm_cmpeq_epi8(v, x5a), _mm_cmpeq_epi8(v, x5b)));
        unsigned bits = unsigned(_mm_movemask_epi8(m));
        if (bits)
            return i + size_t(__builtin_ctz(bits));
    }
    return i + plain_run_portable(p + i, n - i);
#else
    return plain_run_portable(p, n);
#endif
}

// Rules: every A5 starts the body afresh and the first 5A after it ends the
// frame; bytes before the first A5 are ignored. A6 or 5B followed by 01/02
// gives the escaped byte; followed by any other ordinary byte it is dropped
// and that byte kept; followed by another special byte it is dropped.
uint32_t protocol_phy::data_transf_meaning(const uint8_t *in, uint8_t *out, uint32_t len, uint8_t *done,
                                           uint32_t outMax)
{
    *done = 0;
    const void *start = len ? std::memchr(in, 0xA5, len) : nullptr;
    if (!start)
        return 0;
    uint32_t i = uint32_t(static_cast<const uint8_t *>(start) - in) + 1;
    uint32_t pos = 0;
    while (i < len) {
        uint32_t run = uint32_t(plain_run(in + i, len - i));
        if (run) {
            if (run > outMax - pos)
                return 0;   // longer than the caller's frame record: the frame is dropped
            std::memcpy(out + pos, in + i, run);
            pos += run;
            i += run;
            if (i >= len)
                break;
        }
        uint8_t b = in[i++];
        if (b == 0xA5) {
            pos = 0;
            continue;
        }
        if (b == 0x5A) {
            *done = 1;
            return pos;
        }
        // A6 or 5B: look at what follows.
        if (i >= len)
            break;
        uint8_t next = in[i];
        if (is_special(next))
            continue;
        uint8_t v = next;
        if (next == 0x01)
            v = b == 0xA6 ? 0xA6 : 0x5B;
        else if (next == 0x02)
            v = b == 0xA6 ? 0xA5 : 0x5A;
        if (pos >= outMax)
            return 0;
        out[pos++] = v;
        ++i;
    }
    return pos;
}

uint32_t protocol_phy::data_re_transf_meaning(uint8_t *out, const uint8_t *in, uint32_t len, uint8_t *done)
{
    *done = 0;
    uint32_t pos = 0;
    out[pos++] = 0xA5;
    out[pos++] = 0xA5;
    out[pos++] = 0xA5;
    uint32_t i = 0;
    while (i < len) {
        uint32_t run = uint32_t(plain_run(in + i, len - i));
        std::memcpy(out + pos, in + i, run);
        pos += run;
        i += run;
        if (i >= len)
            break;
        uint8_t b = in[i++];
        out[pos++] = escapeLead(b);
        out[pos++] = escapeCode(b);
    }
    out[pos++] = 0x5A;
    return pos;
}

void protocol_phy::swap_phy_head(uint8_t *body)
{
    for (int i = 0; i < 2; ++i) {
        uint8_t t = body[i];
        body[i] = body[i + 2];
        body[i + 2] = t;
    }
}
