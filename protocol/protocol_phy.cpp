#include "protocol/protocol_phy.h"

uint32_t protocol_phy::data_transf_meaning(const uint8_t *in, uint8_t *out, uint32_t len, uint8_t *done,
                                           uint32_t outMax)
{
    uint32_t pos = 0;
    m_unescape_state = 0;
    *done = 0;
    for (uint32_t i = 0; i < len; ++i) {
        uint8_t b = in[i];
        if (b == 0xA5) {
            m_unescape_state = 1;
            *done = 0;
            pos = 0;
            continue;
        }
        if (m_unescape_state == 0)
            continue;
        if (b == 0x5A) {
            m_unescape_state = 0;
            *done = 1;
            return pos;
        }
        if (b == 0xA6) {
            m_unescape_state = 2;
            continue;
        }
        if (b == 0x5B) {
            m_unescape_state = 4;
            continue;
        }
        uint8_t v = b;
        if (b == 0x01)
            v = m_unescape_state == 2 ? 0xA6 : m_unescape_state == 4 ? 0x5B : 0x01;
        else if (b == 0x02)
            v = m_unescape_state == 2 ? 0xA5 : m_unescape_state == 4 ? 0x5A : 0x02;
        m_unescape_state = 1;
        if (pos >= outMax) {
            // Longer than the caller's frame record: the frame is dropped.
            m_unescape_state = 0;
            return 0;
        }
        out[pos++] = v;
    }
    return pos;
}

uint32_t protocol_phy::data_re_transf_meaning(uint8_t *out, const uint8_t *in, uint32_t len, uint8_t *done)
{
    uint32_t pos = 0;
    m_escape_state = 1;
    *done = 0;
    out[pos++] = 0xA5;
    out[pos++] = 0xA5;
    out[pos++] = 0xA5;
    for (uint32_t i = 0; i < len; ++i) {
        uint8_t b = in[i];
        switch (b) {
        case 0xA5: out[pos++] = 0xA6; out[pos++] = 0x02; break;
        case 0xA6: out[pos++] = 0xA6; out[pos++] = 0x01; break;
        case 0x5A: out[pos++] = 0x5B; out[pos++] = 0x02; break;
        case 0x5B: out[pos++] = 0x5B; out[pos++] = 0x01; break;
        default: out[pos++] = b; break;
        }
    }
    out[pos++] = 0x5A;
    m_escape_state = 0;
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
