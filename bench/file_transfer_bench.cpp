// A 5 MiB application upload (start, blocks, end with digest and the stored
// file) in 1 KiB and 64 KiB blocks, as the PC tool sends it:
//   - Upload/InProcess: wire frames straight into a link's frame pipeline;
//   - Upload/Tcp: the same frames over a loopback TCP connection to a link
//     that gathers them from the byte stream and answers each one, against
//     the plain TCP ping-pong of the same traffic (the same escaped frames,
//     each answered by as many bytes as the link answers it with; the peer
//     only finds the frame's end) and against that ping-pong plus the least
//     that storing the 5 MiB file takes (its MD5, one write and fsync under a
//     temporary name, the rename and the folder's fsync: the durable floor),
//     all in the same run.
// Bytes per second count the 5 MiB of file data.

#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/frame_link.h"
#include "protocol/md5.h"
#include "support/inprocess_ports.h"
#include "support/pc_sockets.h"
#include "support/pctool.h"
#include "support/pinning.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t FILE_SIZE = 5 * 1024 * 1024;

// TCP links take frames of up to 131,072 bytes.
frame_link::Config tcpConfig()
{
    frame_link::Config c;
    c.transport = 2;
    c.passThrough = false;
    c.recordSize = 131072;
    return c;
}

// The simulation root, and the device's command ports in this process.
zemtest::InProcessPorts &ensureRoot()
{
    return zemtest::inProcessPorts();
}

const Bytes &payload()
{
    static Bytes data = [] {
        std::mt19937 gen(7);
        Bytes d(FILE_SIZE);
        for (auto &v : d)
            v = uint8_t(gen());
        return d;
    }();
    return data;
}

// A file-transfer (0xC0) frame to the controller: `request` starts with the
// sub-command.
Bytes wire(const Bytes &request)
{
    return pctool::frame(pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, request[0],
                                      Bytes(request.begin() + 1, request.end())));
}

void put32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// Every wire frame of one upload: start, blocks, end.
std::vector<Bytes> uploadFrames(uint32_t blockSize)
{
    const Bytes &data = payload();
    std::vector<Bytes> frames;
    Bytes start = {1, 0, 0, 'F', 'M', 'C', 'U', 0};
    put32(start, FILE_SIZE);
    frames.push_back(wire(start));
    for (uint32_t off = 0; off < FILE_SIZE; off += blockSize) {
        Bytes b = {2, 0, 0, 0, 0};
        put32(b, off);
        put32(b, blockSize);
        b.insert(b.end(), data.begin() + off, data.begin() + off + blockSize);
        frames.push_back(wire(b));
    }
    MD5 md5(data.data(), FILE_SIZE);
    Bytes end = {3, 0, 0, 0, 0};
    end.insert(end.end(), md5.digest(), md5.digest() + 16);
    frames.push_back(wire(end));
    return frames;
}

void checkEnd(benchmark::State &state, const Bytes &reply)
{
    // The reply body from byte 10 is 00 03 00.
    const Bytes body = pctool::decode(reply);
    if (body.size() < 13 || body[10] != 0 || body[11] != 3 || body[12] != 0)
        state.SkipWithError("upload not stored");
}

void BM_Upload_InProcess(benchmark::State &state)
{
    ensureRoot();
    const std::vector<Bytes> frames = uploadFrames(uint32_t(state.range(0)));
    frame_link link(tcpConfig());
    Bytes reply;
    double endSeconds = 0;
    for (auto _ : state) {
        for (size_t i = 0; i + 1 < frames.size(); ++i)
            link.process(frames[i].data(), uint32_t(frames[i].size()), reply);
        // The end (digest check, file write, read-back) timed on its own as well.
        auto t0 = std::chrono::steady_clock::now();
        link.process(frames.back().data(), uint32_t(frames.back().size()), reply);
        endSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        checkEnd(state, reply);
    }
    state.counters["end_ms"] = benchmark::Counter(endSeconds * 1000 / double(state.iterations()));
    state.SetBytesProcessed(int64_t(state.iterations()) * FILE_SIZE);
}

// A connected loopback pair: the client's and the accepted server's sockets.
struct Loopback {
    int client = -1, server = -1;
    Loopback()
    {
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a);
        server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Loopback()
    {
        ::close(client);
        if (server >= 0)
            ::close(server);
    }
};

bool sendAll(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// Reads until a frame's closing 0x5A; false when the peer is gone.
bool readReply(int fd, Bytes &reply)
{
    reply.clear();
    uint8_t buf[4096];
    for (;;) {
        ssize_t k = ::recv(fd, buf, sizeof buf, 0);
        if (k <= 0)
            return false;
        reply.insert(reply.end(), buf, buf + k);
        if (buf[k - 1] == 0x5A)
            return true;
    }
}

// Wire length of the link's reply to each frame of an upload.
std::vector<size_t> replyLengths(const std::vector<Bytes> &frames)
{
    frame_link link(tcpConfig());
    std::vector<size_t> lengths;
    Bytes reply;
    for (const Bytes &f : frames) {
        link.process(f.data(), uint32_t(f.size()), reply);
        lengths.push_back(reply.size());
    }
    return lengths;
}

// The far end of a loopback connection in a thread of its own on processor
// `cpu`; it ends when the client shuts the connection down.
class Peer
{
public:
    template <class Serve>
    Peer(int cpu, Serve serve) : m_thread([this, cpu, serve]() {
        zemtest::pinThread(0, cpu);
        serve(m_net.server);
    })
    {
    }
    ~Peer()
    {
        ::shutdown(m_net.client, SHUT_RDWR);
        m_thread.join();
    }
    int client() const { return m_net.client; }

private:
    Loopback m_net;
    std::thread m_thread;
};

// The ping-pong peer: reads each frame up to its closing 5A (the only 5A of
// an escaped frame) and answers with the link's reply length.
void servePingPong(int fd, const std::vector<size_t> &lengths)
{
    std::vector<uint8_t> buf(131072), out(*std::max_element(lengths.begin(), lengths.end()), 0x11);
    for (size_t i = 0;; i = (i + 1) % lengths.size()) {
        for (;;) {
            ssize_t k = ::recv(fd, buf.data(), buf.size(), 0);
            if (k <= 0)
                return;
            if (buf[size_t(k) - 1] == 0x5A)
                break;
        }
        if (!sendAll(fd, out.data(), lengths[i]))
            return;
    }
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// One upload over the connection to the device's port; the seconds it took
// and the time of its end request alone, or -1 when the link closed.
double upload(int fd, const std::vector<Bytes> &frames, Bytes &reply, double &endSeconds)
{
    const auto t0 = Clock::now();
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto t = Clock::now();
        if (!sendAll(fd, frames[i].data(), frames[i].size()) || !readReply(fd, reply))
            return -1;
        if (i + 1 == frames.size())
            endSeconds = secondsSince(t);
    }
    return secondsSince(t0);
}

// The same frames against the ping-pong peer; -1 when it closed.
double pingPong(int fd, const std::vector<Bytes> &frames, const std::vector<size_t> &lengths, Bytes &reply)
{
    reply.resize(*std::max_element(lengths.begin(), lengths.end()));
    const auto t0 = Clock::now();
    for (size_t i = 0; i < frames.size(); ++i)
        if (!sendAll(fd, frames[i].data(), frames[i].size())
            || ::recv(fd, reply.data(), lengths[i], MSG_WAITALL) != ssize_t(lengths[i]))
            return -1;
    return secondsSince(t0);
}

// What storing the file costs at least, beside where the upload stores it:
// the MD5 digest the protocol checks, one write of the file under a
// temporary name made durable with one fsync, the rename over the old file
// and one fsync of the folder that makes the rename durable.
double durableWrite(const Bytes &data)
{
    const std::string dir = platform::path("/data/app");
    const std::string path = dir + "/floor.bin", temporary = path + ".tmp";
    const auto t0 = Clock::now();
    MD5 digest(data.data(), uint32_t(data.size()));
    benchmark::DoNotOptimize(digest.digest());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ::write(fd, data.data(), data.size()) == ssize_t(data.size()) && ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && folder >= 0 && ::fsync(folder) == 0;
    if (folder >= 0)
        ::close(folder);
    const double s = secondsSince(t0);
    ::unlink(temporary.c_str());
    ::unlink(path.c_str());
    return ok ? s : -1;
}

// The upload over loopback TCP to the device's port 10002, side by side
// with its two floors measured in the same run: the ping-pong of the same
// frames, and the ping-pong plus storing the file durably (durableWrite). The client,
// the port's thread and the ping-pong peer share one processor, so that a
// round trip costs what the two ends do rather than where the scheduler
// places them (which alone moves a round trip between 5 and 80 us here).
// Counters: MB/s of each, the upload's share of the ping-pong (target 0.8
// with 1 KiB blocks) and of the durable floor (target 0.6 with 64 KiB
// blocks), and the end request's time.
void BM_Upload_Tcp(benchmark::State &state)
{
    if (!ensureRoot().ok) {
        state.SkipWithError("no private network namespace or the port did not open");
        return;
    }
    platform::ensureDir("/data/app");
    const std::vector<Bytes> frames = uploadFrames(uint32_t(state.range(0)));
    const std::vector<size_t> lengths = replyLengths(frames);
    const int cpu = zemtest::sharedCpu();
    zemtest::pinThread(zemtest::threadNamed("tcp-10002"), cpu);
    zemtest::pinThread(0, cpu);
    const int device = zemtest::tcpConnect(int(networkManage::CONTROLLER_PORT));
    Peer echo(cpu, [&lengths](int fd) { servePingPong(fd, lengths); });
    Bytes reply;
    double up = 0, pp = 0, fs = 0, end = 0;
    for (auto _ : state) {
        double endSeconds = 0;
        const double u = upload(device, frames, reply, endSeconds);
        checkEnd(state, reply);
        const double p = pingPong(echo.client(), frames, lengths, reply);
        const double f = durableWrite(payload());
        if (u < 0 || p < 0 || f < 0) {
            state.SkipWithError("link closed or the file could not be written");
            break;
        }
        up += u, pp += p, fs += f, end += endSeconds;
    }
    const double n = double(state.iterations()), mb = FILE_SIZE / 1e6;
    ::close(device);
    state.counters["upload_MBps"] = mb * n / up;
    state.counters["pingpong_MBps"] = mb * n / pp;
    state.counters["floor_MBps"] = mb * n / (pp + fs);
    state.counters["of_pingpong"] = pp / up;
    state.counters["of_floor"] = (pp + fs) / up;
    state.counters["end_ms"] = end * 1000 / n;
    state.SetBytesProcessed(int64_t(state.iterations()) * FILE_SIZE);
}

} // namespace

BENCHMARK(BM_Upload_InProcess)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_Tcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_MAIN();
