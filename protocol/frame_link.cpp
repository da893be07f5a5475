#include "protocol/frame_link.h"

#include "app/global.h"
#include "app/para_layout.h"
#include "app/utils.h"

#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
constexpr uint32_t MIN_BODY = 11;   // 10 header bytes and the XOR

// XOR of n bytes, eight at a time.
uint8_t xorOf(const uint8_t *p, uint32_t n)
{
    uint64_t acc = 0;
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        acc ^= w;
    }
    acc ^= acc >> 32;
    acc ^= acc >> 16;
    acc ^= acc >> 8;
    uint8_t x = uint8_t(acc);
    for (; i < n; ++i)
        x ^= p[i];
    return x;
}

// Index of the first A5 or 5A in p[0..n), n when there is none.
uint32_t frameByte(const uint8_t *p, uint32_t n)
{
    uint32_t i = 0;
    while (i < n) {
        i += uint32_t(protocol_phy::plain_run(p + i, n - i));
        if (i >= n || p[i] == 0xA5 || p[i] == 0x5A)
            return i;
        ++i;   // A6 or 5B: an ordinary byte here
    }
    return n;
}
} // namespace

frame_link::frame_link(const Config &config) : m_config(config)
{
    // The reply is built in place and must fit the record once escaped.
    uint32_t maxBody = (m_config.recordSize - 4) / 2;
    m_deal.set_reply_capacity(maxBody);
    m_body.assign(std::max(m_config.recordSize, maxBody) + 64, 0);
    m_gather.assign(m_config.recordSize, 0);
    m_escaped.assign(protocol_phy::wireMax(maxBody), 0);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

frame_link::~frame_link()
{
    if (m_wake >= 0)
        ::close(m_wake);
}

void frame_link::reset_gatherer()
{
    m_gather_pos = 0;
    m_in_frame = false;
}

bool frame_link::gather_one(const uint8_t *data, uint32_t n, std::vector<uint8_t> &frame, uint32_t &used)
{
    const uint32_t size = uint32_t(m_gather.size());
    uint32_t i = 0;
    while (i < n) {
        uint32_t j = i + frameByte(data + i, n - i);
        if (!m_in_frame) {
            if (j >= n)
                return false;
            if (data[j] == 0x5A) {
                i = j + 1;   // a stray 5A outside a frame
                continue;
            }
            m_gather[0] = 0xA5;
            m_gather_pos = 1;
            m_in_frame = true;
            i = j + 1;
            continue;
        }
        uint32_t run = j - i;
        uint32_t room = size - m_gather_pos;
        if (run > room) {
            // Longer than the frame record: dropped whole, with the byte
            // that found the record full.
            reset_gatherer();
            i += room + 1;
            continue;
        }
        std::memcpy(m_gather.data() + m_gather_pos, data + i, run);
        m_gather_pos += run;
        i = j;
        if (i >= n)
            return false;
        if (data[i] == 0xA5) {
            m_gather[0] = 0xA5;
            m_gather_pos = 1;
            ++i;
            continue;
        }
        // 5A: the frame is complete, unless the record is already full.
        ++i;
        if (m_gather_pos >= size) {
            reset_gatherer();
            continue;
        }
        m_gather[m_gather_pos++] = 0x5A;
        frame.assign(m_gather.begin(), m_gather.begin() + m_gather_pos);
        reset_gatherer();
        used = i;
        return true;
    }
    return false;
}

void frame_link::escape(const uint8_t *body, uint32_t len, std::vector<uint8_t> &wire)
{
    std::lock_guard<std::mutex> lock(m_queue_mutex);
    escapeLocked(body, len, wire);
}

void frame_link::escapeLocked(const uint8_t *body, uint32_t len, std::vector<uint8_t> &wire)
{
    if (m_escaped.size() < protocol_phy::wireMax(len))
        m_escaped.resize(protocol_phy::wireMax(len));
    uint8_t done;
    uint32_t n = m_phy.data_re_transf_meaning(m_escaped.data(), body, len, &done);
    wire.assign(m_escaped.begin(), m_escaped.begin() + n);
}

frame_link::Result frame_link::process(const uint8_t *wire, uint32_t n, std::vector<uint8_t> &reply,
                                      uint64_t origin)
{
    reply.clear();
    uint8_t done = 0;
    uint32_t len = m_phy.data_transf_meaning(wire, m_body.data(), n, &done, m_config.recordSize);
    if (m_config.pcStamp == PcStamp::BeforeChecks)
        stamp_pc_activity();
    if (!done || len < MIN_BODY)
        return Result::Dropped;
    if (xorOf(m_body.data(), len - 1) != m_body[len - 1])
        return Result::Dropped;
    if (m_config.pcStamp == PcStamp::AfterChecks)
        stamp_pc_activity();
    // Bytes past the body must not carry anything over from an earlier frame.
    std::memset(m_body.data() + len, 0, std::min<size_t>(32, m_body.size() - len));

    uint8_t *body = m_body.data();
    uint16_t dest = para::get16(body, 0);
    uint16_t src = para::get16(body, 2);
    Result result;
    if (m_config.passThrough && dest < 0xF000 && src == 0xF010) {
        fpga_manage *card = fpga_manage::pInstance();
        pthread_mutex_lock(&card->card_mutex);
        g_passby_trans_port = m_config.transport;
        card->reply_ready = 0;
        {
            // A reply still queued belongs to an earlier frame whose wait has
            // ended: it must not answer this one.
            std::lock_guard<std::mutex> lock(m_queue_mutex);
            m_card_reply.clear();
            m_has_card_reply = false;
        }
        card->Dealwith1_PC_to_eth(len, body);
        if (body[9] == 2 && m_config.ackCommand2) {
            uint8_t ack[12];
            std::memcpy(ack, body, 10);
            protocol_phy::swap_phy_head(ack);
            ack[10] = 0;
            ack[11] = uint8_t(Utils::BCC(ack, 11));
            escape(ack, 12, reply);
            result = Result::CardAcked;
        } else {
            result = Result::CardWait;
        }
        pthread_mutex_unlock(&card->card_mutex);
    } else {
        m_deal.set_origin(origin);
        uint32_t r = m_deal.message_group_deal(body, len - 1, m_config.transport);
        if (r == 0 && !m_config.replyOnZero) {
            result = Result::NoReply;
        } else if (!reply_fits(r, m_deal.reply_capacity())) {
            result = Result::Dropped;   // would not fit the record
        } else {
            protocol_phy::swap_phy_head(body);
            body[r + 10] = xorOf(body, r + 10);
            escape(body, r + MIN_BODY, reply);
            result = Result::Replied;
        }
    }
    return result;
}

bool frame_link::reply_fits(uint32_t r, uint32_t capacity)
{
    return capacity >= MIN_BODY && r <= capacity - MIN_BODY;
}

void frame_link::stamp_pc_activity()
{
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
}

void frame_link::card_reply(const uint8_t *body, uint32_t len)
{
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        escapeLocked(body, len, m_card_reply);
        m_has_card_reply = true;
    }
    wake();
}

bool frame_link::poll_card_reply(std::vector<uint8_t> &wire)
{
    fpga_manage *card = fpga_manage::pInstance();
    pthread_mutex_lock(&card->card_mutex);
    card->reg_IRQ_Dealwith(0, 0);
    card->reg_IRQ_Dealwith(1, 0);
    bool got = false;
    if (card->reply_ready) {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        if (m_has_card_reply) {
            wire.swap(m_card_reply);
            m_card_reply.clear();
            m_has_card_reply = false;
            card->reply_ready = 0;
            got = true;
        }
    }
    pthread_mutex_unlock(&card->card_mutex);
    return got;
}

void frame_link::wake()
{
    uint64_t one = 1;
    if (m_wake >= 0 && ::write(m_wake, &one, sizeof one) < 0) {
        // Already signalled: the counter is not lost.
    }
}

void frame_link::clear_wake()
{
    uint64_t v;   // one read takes every signal given so far
    if (m_wake >= 0 && ::read(m_wake, &v, sizeof v) < 0) {
        // nothing was signalled after all
    }
}
