#ifndef PROTOCOL_FRAME_LINK_H
#define PROTOCOL_FRAME_LINK_H

// What every command link does with a frame, whatever carries it: gather it
// out of a serial byte stream, un-escape it, check its XOR, pass card frames
// through to the sending card, dispatch controller frames to the link's own
// handler, and build the escaped reply. A link feeds bytes or whole frames
// in and sends the reply frames it gets back; card replies routed by the card
// side land in the link's reply queue and wake the link up.

#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"
#include "sendcard/fpga_manage.h"

#include <cstdint>
#include <mutex>
#include <vector>

class frame_link : public card_reply_sink
{
public:
    // When a frame marks the PC tool as active (pc_cmd_valid, pc_cmd_time):
    // never, as soon as it is un-escaped (also when it then fails its
    // checks), or only once it has passed them.
    enum class PcStamp { None, BeforeChecks, AfterChecks };

    struct Config {
        uint8_t transport = 1;      // value recorded in g_passby_trans_port (1 RS-485, 2 TCP, 3 UDP)
        bool passThrough = true;    // card frames from the PC tool go to the sending card
        bool ackCommand2 = true;    // card frames with command 2 are acknowledged at once
        bool replyOnZero = false;   // a handler result of 0 still gets the bare header back
        uint32_t recordSize = 65556; // the link's frame record (gathered frame and reply on the wire)
        PcStamp pcStamp = PcStamp::AfterChecks;
    };

    enum class Result {
        Dropped,    // bad frame: no reply
        NoReply,    // controller frame the handler did not answer
        Replied,    // controller frame; `reply` holds the wire frame
        CardAcked,  // card frame acknowledged; `reply` holds the wire frame
        CardWait,   // card frame handed over; replies come later
    };

    explicit frame_link(const Config &config);
    ~frame_link() override;
    frame_link(const frame_link &) = delete;
    frame_link &operator=(const frame_link &) = delete;

    // Serial gathering: takes one read and calls `on_frame(frame)` with the
    // wire bytes of every frame from 0xA5 to 0x5A it completes, in order, so
    // that requests written back to back are each handled. A read that ends
    // inside a frame keeps it for the next read; a frame longer than the
    // record is dropped. Returns the number of frames handed over.
    template <class OnFrame>
    uint32_t gather(const uint8_t *data, uint32_t n, OnFrame &&on_frame)
    {
        uint32_t frames = 0;
        for (uint32_t at = 0; at < n;) {
            uint32_t used = 0;
            if (!gather_one(data + at, n - at, m_frame, used))
                break;
            at += used;
            ++frames;
            on_frame(m_frame);
        }
        return frames;
    }
    void reset_gatherer();

    // Processes one whole wire frame; `origin` tells the handler who sent it
    // on this link (see message_deal::set_origin).
    Result process(const uint8_t *wire, uint32_t n, std::vector<uint8_t> &reply, uint64_t origin = 0);

    // Called by the card side (holding its mutex): escapes a card reply into
    // the reply queue (replacing what was there) and wakes the link. The
    // queue is emptied whenever a new card frame is handed over, so a reply
    // that comes after its wait has ended never answers the next frame.
    void card_reply(const uint8_t *body, uint32_t len) override;
    // Waiting for card replies: polls both FPGAs under the card mutex; true
    // when a reply is ready, which is then taken into `wire`.
    bool poll_card_reply(std::vector<uint8_t> &wire);

    // Readable when a card reply was queued (or wake() was called).
    int wake_fd() const { return m_wake; }
    void wake();
    // Takes the signal; called only when a wait found wake_fd() readable, so
    // that a request costs no read that finds nothing.
    void clear_wake();

    // Marks the PC tool as active now.
    static void stamp_pc_activity();
    // True when a handler result of `r` data bytes plus header and XOR fits
    // a reply body of `capacity` bytes (whatever the size of `r`).
    static bool reply_fits(uint32_t r, uint32_t capacity);

    message_deal &deal() { return m_deal; }
    const Config &config() const { return m_config; }

private:
    // Gathers up to the end of the first frame the bytes complete: true with
    // the frame in `frame` and `used` the bytes taken; false once all the
    // bytes are taken without completing one.
    bool gather_one(const uint8_t *data, uint32_t n, std::vector<uint8_t> &frame, uint32_t &used);
    void escape(const uint8_t *body, uint32_t len, std::vector<uint8_t> &wire);
    void escapeLocked(const uint8_t *body, uint32_t len, std::vector<uint8_t> &wire);

    Config m_config;
    protocol_phy m_phy;
    message_deal m_deal;
    std::vector<uint8_t> m_body;      // un-escaped body and the reply built in place
    std::vector<uint8_t> m_gather;    // serial gather buffer
    std::vector<uint8_t> m_frame;     // the frame gathered last
    uint32_t m_gather_pos = 0;
    bool m_in_frame = false;

    std::mutex m_queue_mutex;         // the escape buffer and the card-reply queue
    std::vector<uint8_t> m_escaped;   // escape buffer: a reply is escaped here, then copied once
    std::vector<uint8_t> m_card_reply;
    bool m_has_card_reply = false;
    int m_wake = -1;
};

#endif
