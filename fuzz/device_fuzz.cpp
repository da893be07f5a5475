// Fuzzes the whole program through its network ports: starts zemR47N in
// simulation under a temporary root, in a private network namespace, and
// feeds it for a given time the link fuzzer's structured inputs
// (structured.h) over TCP 5005 and 10002 and UDP 5008 and 10005: register
// writes, RAM writes followed by an apply, uploads of OSD menus, user-mode
// menus and alias names (with their right digest, so that they are stored
// and used), and the seed requests of every command family; some of each
// mutated. The chip thread, the panel and the OSD drawing run as on a device.
//
// Every input is followed on its link by a probe (a RAM read). Its answer
// shows that the input was taken and the link still serves. The program may
// go no longer than the limit without an answer while requests wait
// (--limit-ms, 5 s; inputs with a command that legitimately takes long get
// --slow-limit-ms).
//
// The run fails when the program ends (a crash, or a sanitizer that halted
// it), a probe stays unanswered, the program's resident memory passes
// --max-rss-mib, or the program's output holds a sanitizer report
// (ThreadSanitizer reports and goes on). At the end it prints the seed, the
// frames sent, the peak resident memory and the run time, and the reports.
//
// Reproducing: the same --seed gives the same inputs in the same order. Every
// input is also appended to <keep>/frames as it is sent (a 32-bit
// little-endian length, then the structured input); that file and the
// program's output are kept when the run fails, and --replay sends such a
// file again.

#include "fuzz/frames.h"
#include "fuzz/structured.h"
#include "support/device_process.h"
#include "support/netns.h"
#include "support/pc_sockets.h"
#include "support/pctool.h"
#include "support/temp_root.h"

#include <QCryptographicHash>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace fuzzin;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

struct Options {
    double seconds = 60;
    uint64_t seed = std::random_device{}() * 0x100000001ull;
    std::string keep = "device-fuzz";
    std::string replay;
    milliseconds limit{5000};
    milliseconds slowLimit{60000};
    long maxRssMiB = 1024;
};

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--seconds")
            o.seconds = std::stod(value);
        else if (key == "--seed")
            o.seed = std::stoull(value);
        else if (key == "--keep")
            o.keep = value;
        else if (key == "--replay")
            o.replay = value;
        else if (key == "--limit-ms")
            o.limit = milliseconds(std::stol(value));
        else if (key == "--slow-limit-ms")
            o.slowLimit = milliseconds(std::stol(value));
        else if (key == "--max-rss-mib")
            o.maxRssMiB = std::stol(value);
        else
            return false;
    }
    return argc % 2 == 1;
}

// --- Inputs ------------------------------------------------------------------

// Where an input goes and what it carries, as the structured form says it.
struct Input {
    Link link = Link::Tcp10002;
    uint8_t piece = 0;
    std::vector<Bytes> bodies;

    static Input of(const Bytes &s)
    {
        Input in;
        in.link = linkOf(s[0]);
        in.piece = s[1];
        in.bodies = bodiesOf(s.data() + 2, s.size() - 2);
        return in;
    }
};

// Commands that legitimately take long: the flash commands (a chip flash
// written one byte per register transfer), the end of a file transfer (a
// kernel or logo image erased and written into its partition) and register
// 161 (its register listing).
bool takesLong(const Bytes &body)
{
    if (body.size() < 11)
        return false;
    const uint8_t cmd = body[9], sub = body[10];
    return cmd == 0x70 || cmd == 0x71 || cmd == 0x72 || (cmd == 0xC0 && sub == 3) || (cmd == 0xA0 && sub == 161);
}

std::string md5(const std::string &data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Md5).toStdString();
}

// Draws inputs from a seeded generator: the same seed, the same inputs.
class Generator
{
public:
    explicit Generator(uint64_t seed) : m_rnd(seed) {}

    Bytes next()
    {
        static const Link links[] = {Link::Tcp5005, Link::Tcp10002, Link::Udp5008, Link::Udp10005};
        const Link link = links[below(4)];
        const uint8_t piece = chance(80) ? 0 : uint8_t(16 + below(240));
        std::vector<Bytes> bodies;
        switch (below(20)) {
        case 0: case 1: case 2: case 3: case 4: bodies = seedFamily(); break;
        case 5: case 6: case 7: case 8: bodies = registerWrites(); break;
        case 9: case 10: case 11: case 12: case 13: bodies = ramWritesAndApply(); break;
        case 14: case 15: case 16: bodies = menuUpload(); break;
        default: bodies = upload("ALIS", aliasJson()); break;
        }
        for (Bytes &b : bodies)
            if (chance(15))
                mutate(b);
        return structured(link, piece, bodies);
    }

private:
    uint32_t below(uint32_t n) { return uint32_t(m_rnd() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <class T, size_t N>
    T pick(const T (&from)[N]) { return from[below(N)]; }

    int64_t number()
    {
        static const int64_t values[] = {0, 1, 2, 3, 4, 8, 16, 31, 32, 64, 100, 128, 255, 256, 1080, 1920, 2160, 3840,
                                         4096, 8191, 65535, 65536, 1 << 20, 2147483647, -1, -2147483648LL};
        return chance(70) ? pick(values) : int64_t(below(5000)) - 100;
    }

    Bytes bytes(size_t n)
    {
        Bytes b(n);
        for (uint8_t &v : b)
            v = uint8_t(chance(30) ? pick({uint8_t(0), uint8_t(1), uint8_t(0xFF), uint8_t(0xA5), uint8_t(0x5A)})
                                   : below(256));
        return b;
    }
    template <class T>
    T pick(std::initializer_list<T> from) { return *(from.begin() + below(uint32_t(from.size()))); }

    std::vector<Bytes> seedFamily() { return m_seeds[below(uint32_t(m_seeds.size()))].requests; }

    // Controller registers, the acting ones most often.
    std::vector<Bytes> registerWrites()
    {
        static const uint8_t acting[] = {9, 10, 11, 14, 16, 17, 160, 161, 162, 163, 164, 165};
        std::vector<Bytes> out;
        for (uint32_t n = 1 + below(4); n > 0; --n) {
            // One draw per statement: the order of a call's arguments is the compiler's.
            const uint8_t reg = chance(75) ? pick(acting) : uint8_t(below(256));
            const uint8_t mask = chance(50) ? 0xFF : uint8_t(below(256));
            const uint8_t value = uint8_t(below(256));
            out.push_back(registerWrite(reg, mask, value));
        }
        return out;
    }

    // RAM writes into the parameter image (words of the windows, the LED
    // wall, the OSD, anywhere), then register 11 applies them.
    std::vector<Bytes> ramWritesAndApply()
    {
        std::vector<Bytes> out;
        for (uint32_t n = 1 + below(4); n > 0; --n) {
            const uint32_t address = chance(80) ? below(4096) : below(0x1000 + 16 * 4098);
            Bytes data;
            if (chance(50)) {
                const int64_t v = number();
                data = {uint8_t(v), uint8_t(v >> 8)};
            } else {
                data = bytes(1 + below(64));
            }
            out.push_back(ramWrite(CONTROLLER, address & ~1u, data));
        }
        const uint8_t any = uint8_t(below(256));
        const uint8_t mask = pick({uint8_t(0x01), uint8_t(0x04), uint8_t(0x08), any});
        out.push_back(registerWrite(11, mask, uint8_t(below(256))));
        return out;
    }

    // An OSD menu, live or a user mode's copy; the live one is shown and applied.
    std::vector<Bytes> menuUpload()
    {
        char tag[5];
        std::snprintf(tag, sizeof tag, "MO%02X", 1 + below(16));
        const bool live = chance(70);
        std::vector<Bytes> out = upload(live ? "OSDS" : tag, menuJson());
        if (live) {
            out.push_back(ramWrite(CONTROLLER, 2124, {1, 0}));
            out.push_back(registerWrite(11, chance(50) ? 0x08 : 0x09, 0xFF));
        }
        return out;
    }

    // Start, blocks of up to 1 KiB and the end with the file's digest; the
    // text is sometimes damaged first, so that it does not parse.
    std::vector<Bytes> upload(const std::string &tag, std::string content)
    {
        if (chance(15))
            for (uint32_t n = 1 + below(4); n > 0 && !content.empty(); --n)
                content[below(uint32_t(content.size()))] = char(pick({'"', '{', '}', ',', '\\', 'x', '\0'}));
        std::vector<Bytes> out = {fileStart(tag, 0, uint32_t(content.size()))};
        for (size_t at = 0; at < content.size(); at += 1024)
            out.push_back(fileBlock(uint32_t(at), text(content.substr(at, 1024))));
        out.push_back(fileEnd(text(md5(content))));
        return out;
    }

    std::string menuText()
    {
        static const char *const pieces[] = {"HELLO", "\\n", "中文", "Ñ", " ", "0123456789", "\\n\\n", "\\u0000"};
        std::string t;
        for (uint32_t n = below(chance(10) ? 400 : 12); n > 0; --n)
            t += pick(pieces);
        return t;
    }

    std::string menuJson()
    {
        auto n = [this] { return std::to_string(number()); };
        auto word = [this](std::initializer_list<const char *> from) { return std::string(pick(from)); };
        std::ostringstream m;
        const bool bitmap = chance(20);
        m << R"({"type": )" << (bitmap ? "1" : chance(90) ? "0" : n()) << R"(, "status": ")"
          << word({"on", "on", "off"}) << R"(", "pos": {"x": )" << n() << R"(, "y": )" << n() << R"(, "w": )" << n()
          << R"(, "h": )" << n() << R"(, "layer": ")" << word({"top", "buttom"}) << R"("}, "act": {"effect": )"
          << n() << R"(, "speed": )" << n() << R"(, "staytime": )" << n() << R"(, "h_align": ")"
          << word({"left", "center", "right", "justify", "x"}) << R"(", "v_align": ")"
          << word({"top", "center", "bottom", "x"}) << R"("}, )";
        if (bitmap)
            m << R"("bmppara": {}, "start": )" << n() << R"(, "end": )" << n();
        else
            m << R"("backpara": {"enable": ")" << word({"on", "off"}) << R"(", "color": ")"
              << word({"000000", "FF0000", "0x00FF00", "zz"}) << R"("}, "fontpara": {"startx": )" << n()
              << R"(, "starty": )" << n() << R"(, "fontw": )" << (chance(80) ? word({"32", "64", "128", "256"}) : n())
              << R"(, "fonth": )" << (chance(80) ? word({"32", "64", "128", "256"}) : n()) << R"(, "wordspace": )"
              << n() << R"(, "verticalspace": )" << n() << R"(, "color": ")" << word({"FFFFFF", "123456", "g"})
              << R"("}, "texts": [")" << menuText() << R"("])";
        m << "}";
        std::string menus = m.str();
        for (uint32_t more = below(3); more > 0; --more)
            menus += ", " + menus;
        return R"({"name": "fuzz", "osdcount": )" + std::to_string(chance(90) ? 1 : number()) +
               R"(, "oactcount": 1, "menu": [)" + menus + "]}";
    }

    std::string aliasJson()
    {
        std::ostringstream a;
        a << R"({"namelist": {)";
        const char *const kinds[] = {"source", "crop", "window", "mode"};
        for (size_t k = 0; k < 4; ++k) {
            a << (k ? ", " : "") << '"' << kinds[k] << R"(": [)";
            for (uint32_t i = 0, count = below(8); i < count; ++i)
                a << (i ? ", " : "") << R"({"id": ")" << number() << R"(", "valid": ")" << pick({"on", "off"})
                  << R"(", "name": ")" << menuText() << R"("})";
            a << "]";
        }
        a << "}}";
        return a.str();
    }

    // Changes a body the way a fuzzer would: bytes set, the body cut or
    // lengthened.
    void mutate(Bytes &b)
    {
        for (uint32_t n = 1 + below(3); n > 0; --n) {
            switch (below(4)) {
            case 0:
            case 1:
                if (!b.empty())
                    b[below(uint32_t(b.size()))] = uint8_t(below(256));
                break;
            case 2:
                b.resize(below(uint32_t(b.size()) + 1));
                break;
            default: {
                const Bytes more = bytes(1 + below(32));
                b.insert(b.end(), more.begin(), more.end());
            }
            }
        }
    }

    std::mt19937_64 m_rnd;
    const std::vector<Seed> m_seeds = seeds();
};

// Every input sent, in order, as a replay file.
class FrameLog
{
public:
    explicit FrameLog(const std::string &path) : m_out(path, std::ios::binary | std::ios::trunc) {}
    void add(const Bytes &input)
    {
        const Bytes len = le(uint32_t(input.size()), 4);
        m_out.write(reinterpret_cast<const char *>(len.data()), 4);
        m_out.write(reinterpret_cast<const char *>(input.data()), std::streamsize(input.size()));
        m_out.flush();   // a crash must not lose the inputs that led to it
    }

private:
    std::ofstream m_out;
};

std::vector<Bytes> readReplay(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Bytes> inputs;
    uint8_t len[4];
    while (in.read(reinterpret_cast<char *>(len), 4)) {
        Bytes b(size_t(len[0] | len[1] << 8 | len[2] << 16 | uint32_t(len[3]) << 24));
        if (!in.read(reinterpret_cast<char *>(b.data()), std::streamsize(b.size())))
            break;
        if (b.size() >= 2)
            inputs.push_back(std::move(b));
    }
    return inputs;
}

// --- The program's links -----------------------------------------------------

constexpr uint16_t PROBE_SRC = 0xF0A0;

// The probe: a RAM read from a source address of its own, numbered in body
// byte 8 (which the reply carries back), so that its answer is told apart.
Bytes probe(uint8_t seq)
{
    Bytes b = ramRead(CONTROLLER, 0, 2);
    b[2] = uint8_t(PROBE_SRC);
    b[3] = uint8_t(PROBE_SRC >> 8);
    b[8] = seq;
    return b;
}

bool answersProbe(const Bytes &reply, uint8_t seq)
{
    return reply.size() >= 11 && reply[0] == uint8_t(PROBE_SRC) && reply[1] == uint8_t(PROBE_SRC >> 8) &&
           reply[8] == seq && reply[9] == 0x61;
}

int msLeft(Clock::time_point deadline)
{
    return int(std::max<long long>(
        0, std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count()));
}

// How long the program may go without answering: the wait starts again
// with every frame it answers (or input it takes), so that each request of
// an input of several has the whole limit.
class Deadline
{
public:
    explicit Deadline(milliseconds limit) : m_limit(limit), m_at(Clock::now() + limit) {}
    void progress() { m_at = Clock::now() + m_limit; }
    Clock::time_point at() const { return m_at; }
    int msLeft() const { return ::msLeft(m_at); }
    bool passed() const { return Clock::now() >= m_at; }

private:
    milliseconds m_limit;
    Clock::time_point m_at;
};

// A TCP connection of the PC tool to one command port.
class Stream
{
public:
    explicit Stream(int port) : m_port(port) {}
    ~Stream() { drop(); }

    // Sends the pieces, then the probe, and reads until the probe is answered.
    bool exchange(const std::vector<Bytes> &pieces, uint8_t seq, Deadline &deadline, size_t &frames)
    {
        if (m_fd < 0 && (m_fd = zemtest::tcpConnect(m_port, milliseconds(deadline.msLeft()))) < 0)
            return false;
        for (const Bytes &p : pieces)
            if (!write(p, deadline))
                return broken(deadline);
        if (!write(frameOf(probe(seq)), deadline))
            return broken(deadline);
        for (;;) {
            for (const Bytes &reply : take()) {
                ++frames;
                deadline.progress();
                if (answersProbe(reply, seq))
                    return true;
            }
            pollfd p = {m_fd, POLLIN, 0};
            if (::poll(&p, 1, deadline.msLeft()) <= 0)
                return false;
            uint8_t buf[65536];
            ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return broken(deadline);
            m_in.insert(m_in.end(), buf, buf + n);
        }
    }
    size_t reconnects() const { return m_reconnects; }

private:
    // A write or read that failed: past the deadline the program did not
    // take or answer the input (false); before it, the program closed the
    // connection, as it may with a client, and the next exchange connects
    // again (true).
    bool broken(const Deadline &deadline)
    {
        if (deadline.passed())
            return false;
        drop();
        ++m_reconnects;
        return true;
    }
    void drop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_in.clear();
    }
    bool write(const Bytes &b, Deadline &deadline)
    {
        for (size_t done = 0; done < b.size(); deadline.progress()) {
            pollfd p = {m_fd, POLLOUT, 0};
            if (::poll(&p, 1, deadline.msLeft()) <= 0)
                return false;
            ssize_t n = ::send(m_fd, b.data() + done, b.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    // The whole frames received so far.
    std::vector<Bytes> take()
    {
        auto end = std::find(m_in.rbegin(), m_in.rend(), 0x5A);
        if (end == m_in.rend())
            return {};
        Bytes whole(m_in.begin(), end.base());
        m_in.erase(m_in.begin(), end.base());
        return pctool::decodeAll(whole);
    }

    int m_port;
    int m_fd = -1;
    Bytes m_in;
    size_t m_reconnects = 0;
};

// The PC tool's UDP socket: datagrams to a port; answers come back to it
// (from 5008 by broadcast). A probe lost on the way is sent again.
class Datagrams
{
public:
    bool exchange(int port, const std::vector<Bytes> &pieces, uint8_t seq, Deadline &deadline, size_t &frames)
    {
        for (const Bytes &p : pieces)
            m_peer.send(port, p);
        const Bytes question = frameOf(probe(seq));
        while (!deadline.passed()) {
            m_peer.send(port, question);
            const auto resend = std::min(deadline.at(), Clock::now() + milliseconds(1000));
            while (Clock::now() < resend) {
                const Bytes d = m_peer.receive(milliseconds(std::max(1, msLeft(resend))));
                for (const Bytes &reply : pctool::decodeAll(d)) {
                    ++frames;
                    deadline.progress();
                    if (answersProbe(reply, seq))
                        return true;
                }
            }
        }
        return false;
    }

private:
    zemtest::UdpPeer m_peer;
};

// --- The run -----------------------------------------------------------------

// The wire bytes of an input as they go out: each frame on its own (a
// datagram each on UDP), cut into pieces of the input's piece size unless
// that is 0.
std::vector<Bytes> piecesOf(const Input &in)
{
    std::vector<Bytes> pieces;
    for (const Bytes &b : in.bodies) {
        const Bytes f = frameOf(b);
        const size_t size = in.piece ? in.piece : f.size();
        for (size_t at = 0; at < f.size(); at += size)
            pieces.emplace_back(f.begin() + long(at), f.begin() + long(std::min(f.size(), at + size)));
    }
    return pieces;
}

struct Tally {
    size_t inputs = 0, frames = 0, replies = 0;
    std::map<uint8_t, milliseconds> slowest;   // by command byte of the input's first body
};

// Watches the program's peak resident memory (VmHWM) every 50 ms and ends
// the program at once when it passes the bound: a program that runs away
// with memory must not take the machine with it before its probe times out.
// The program is held by a pidfd, so that the signal can reach no other
// process once it has ended.
class MemoryWatch
{
public:
    MemoryWatch(pid_t pid, long boundKiB) : m_pidfd(int(::syscall(SYS_pidfd_open, pid, 0)))
    {
        m_thread = std::thread([this, pid, boundKiB] {
            for (pollfd ended = {m_pidfd, POLLIN, 0}; !m_stop && m_pidfd >= 0 && ::poll(&ended, 1, 0) == 0;) {
                const long peak = zemtest::statusKiB(pid, "VmHWM:");
                m_peakKiB = std::max(m_peakKiB.load(), peak);
                if (peak > boundKiB && !m_over.exchange(true))
                    ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0);
                std::this_thread::sleep_for(milliseconds(50));
            }
        });
    }
    ~MemoryWatch()
    {
        m_stop = true;
        m_thread.join();
        if (m_pidfd >= 0)
            ::close(m_pidfd);
    }
    long peakKiB() const { return m_peakKiB; }
    bool over() const { return m_over; }

private:
    const int m_pidfd;
    std::atomic<bool> m_stop{false}, m_over{false};
    std::atomic<long> m_peakKiB{-1};
    std::thread m_thread;
};

class Run
{
public:
    Run(const Options &o, zemtest::DeviceProcess &dev)
        : m_opt(o), m_dev(dev), m_memory(dev.pid(), o.maxRssMiB * 1024)
    {
    }

    // Sends one input and waits for its probe; false with `why` set when the
    // run has failed.
    bool send(const Bytes &structuredInput, std::string &why)
    {
        const Input in = Input::of(structuredInput);
        const bool slow = std::any_of(in.bodies.begin(), in.bodies.end(), takesLong);
        const auto start = Clock::now();
        Deadline deadline(slow ? m_opt.slowLimit : m_opt.limit);
        const std::vector<Bytes> pieces = piecesOf(in);
        const uint8_t seq = uint8_t(++m_seq);
        bool answered = false;
        switch (in.link) {
        case Link::Tcp5005: answered = m_tcp5005.exchange(pieces, seq, deadline, m_tally.replies); break;
        case Link::Tcp10002: answered = m_tcp10002.exchange(pieces, seq, deadline, m_tally.replies); break;
        case Link::Udp5008: answered = m_udp.exchange(5008, pieces, seq, deadline, m_tally.replies); break;
        case Link::Udp10005: answered = m_udp.exchange(10005, pieces, seq, deadline, m_tally.replies); break;
        default: return true;   // the serial links are not fed here
        }
        ++m_tally.inputs;
        m_tally.frames += in.bodies.size() + 1;
        const milliseconds took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        if (!in.bodies.empty() && in.bodies[0].size() > 9) {
            milliseconds &s = m_tally.slowest[in.bodies[0][9]];
            s = std::max(s, took);
        }
        if (m_memory.over()) {
            why = "resident memory above " + std::to_string(m_opt.maxRssMiB) + " MiB during input " +
                  std::to_string(m_tally.inputs) + " (the program was ended)";
            return false;
        }
        if (!m_dev.running()) {
            why = "the program ended (crash or sanitizer report)";
            return false;
        }
        if (!answered) {
            why = "no answer for " + std::to_string((slow ? m_opt.slowLimit : m_opt.limit).count()) +
                  " ms to input " + std::to_string(m_tally.inputs) + " or the probe after it on " + linkName(in.link);
            return false;
        }
        return true;
    }

    const Tally &tally() const { return m_tally; }
    // The program's peak resident memory seen so far (VmHWM).
    long peakKiB() const { return m_memory.peakKiB(); }
    size_t reconnects() const { return m_tcp5005.reconnects() + m_tcp10002.reconnects(); }

    static const char *linkName(Link l)
    {
        switch (l) {
        case Link::Tcp5005: return "TCP 5005";
        case Link::Tcp10002: return "TCP 10002";
        case Link::Udp5008: return "UDP 5008";
        case Link::Udp10005: return "UDP 10005";
        default: return "a serial link";
        }
    }

private:
    const Options &m_opt;
    zemtest::DeviceProcess &m_dev;
    Stream m_tcp5005{5005}, m_tcp10002{10002};
    Datagrams m_udp;
    MemoryWatch m_memory;
    Tally m_tally;
    unsigned m_seq = 0;
};

// Starts the program and waits until its links are up; false with `why`.
bool started(zemtest::DeviceProcess &dev, std::string &why)
{
    if (!zemtest::waitFor([&] { return dev.output().find("4G module serial") != std::string::npos || !dev.running(); },
                          std::chrono::seconds(60))) {
        why = "the program did not report its links";
        return false;
    }
    const std::string out = dev.output();
    for (const char *line : {"TCP 5005 open", "TCP 10002 open", "UDP 5008 open", "UDP 10005 open"})
        if (out.find(line) == std::string::npos) {
            why = std::string("not up: ") + line;
            return false;
        }
    return true;
}

// The sanitizer reports in the program's output, without the program's own
// lines that the threads print in between: a report's first line, its stack
// frames, its indented headings and its summary.
std::string sanitizerReports(const std::string &output)
{
    static const char *const starts[] = {"ERROR: AddressSanitizer", "runtime error:", "WARNING: ThreadSanitizer",
                                         "ERROR: ThreadSanitizer"};
    auto reportLine = [](const std::string &l) {
        return l.rfind("    #", 0) == 0 || l.rfind("SUMMARY:", 0) == 0 ||
               (l.size() > 2 && l.rfind("  ", 0) == 0 && std::isupper(static_cast<unsigned char>(l[2])));
    };
    std::istringstream in(output);
    std::string reports;
    bool inReport = false;
    for (std::string line; std::getline(in, line);) {
        const bool first = std::any_of(std::begin(starts), std::end(starts),
                                       [&](const char *s) { return line.find(s) != std::string::npos; });
        if (first || (inReport && reportLine(line)))
            reports += line + "\n";
        inReport = (inReport || first) && line.rfind("SUMMARY:", 0) != 0;
    }
    return reports;
}

std::string slowestText(const Tally &t)
{
    std::vector<std::pair<milliseconds, uint8_t>> by;
    for (const auto &s : t.slowest)
        by.emplace_back(s.second, s.first);
    std::sort(by.rbegin(), by.rend());
    std::string text;
    char one[48];
    for (size_t i = 0; i < by.size() && i < 4; ++i) {
        std::snprintf(one, sizeof one, "%s0x%02X %.1f s", i ? ", " : "", by[i].second, by[i].first.count() / 1000.0);
        text += one;
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    if (!parse(argc, argv, opt)) {
        std::fprintf(stderr,
                     "usage: %s [--seconds S] [--seed N] [--keep DIR] [--replay FILE] [--limit-ms MS]\n"
                     "          [--slow-limit-ms MS] [--max-rss-mib MIB]\n",
                     argv[0]);
        return 2;
    }
    if (!zemtest::enterRoutedPrivateNetwork()) {
        std::fprintf(stderr, "device fuzz: no private network namespace (run as root)\n");
        return 2;
    }
    ::mkdir(opt.keep.c_str(), 0755);
    const std::string framesPath = opt.keep + "/frames", outputPath = opt.keep + "/zem.out";
    std::vector<Bytes> replay;
    if (!opt.replay.empty()) {
        replay = readReplay(opt.replay);
        std::printf("device fuzz: replaying %zu inputs from %s\n", replay.size(), opt.replay.c_str());
    } else {
        std::printf("device fuzz: seed %llu (--seed %llu gives the same inputs), %.0f s\n",
                    (unsigned long long)opt.seed, (unsigned long long)opt.seed, opt.seconds);
    }
    std::fflush(stdout);

    zemtest::TempRoot root;
    ::mkdir(root.host("/dev").c_str(), 0755);
    ::mkdir(root.host("/sim").c_str(), 0755);
    zemtest::DeviceProcess dev(root.dir());
    std::string why;
    bool ok = started(dev, why);
    const auto begin = Clock::now();
    Run run(opt, dev);
    if (ok) {
        FrameLog log(framesPath);
        Generator gen(opt.seed);
        const auto end = begin + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(opt.seconds));
        for (size_t i = 0; ok && (replay.empty() ? Clock::now() < end : i < replay.size()); ++i) {
            const Bytes input = replay.empty() ? gen.next() : replay[i];
            log.add(input);
            ok = run.send(input, why);
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - begin).count();
    const long peak = run.peakKiB();
    dev.stop();
    const std::string output = dev.output();
    const std::string reports = sanitizerReports(output);
    if (ok && !reports.empty()) {
        ok = false;
        why = "sanitizer reports";
    }
    const Tally &t = run.tally();
    std::printf("device fuzz: %zu inputs, %zu frames sent, %zu reply frames, %zu reconnects in %.1f s; "
                "peak resident memory %ld MiB (bound %ld MiB)\n",
                t.inputs, t.frames, t.replies, run.reconnects(), took, peak < 0 ? -1 : peak / 1024, opt.maxRssMiB);
    std::printf("device fuzz: slowest inputs by their first command: %s\n", slowestText(t).c_str());
    if (ok) {
        std::remove(framesPath.c_str());
        std::remove(outputPath.c_str());   // what an earlier run left
        return 0;
    }
    std::ofstream(outputPath, std::ios::binary) << output;
    std::fprintf(stderr, "%s", reports.c_str());
    std::fprintf(stderr,
                 "device fuzz FAILED: %s\n  inputs sent: %s (replay: --replay %s)\n  program output: %s\n",
                 why.c_str(), framesPath.c_str(), framesPath.c_str(), outputPath.c_str());
    return 1;
}
