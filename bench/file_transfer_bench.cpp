// A 5 MiB application upload (start, blocks, end with digest and the stored
// file) in 1 KiB and 64 KiB blocks, as the PC tool sends it:
//   - Upload/InProcess: wire frames straight into a link's frame pipeline;
//   - Upload/Tcp: the same frames over a loopback TCP connection to a link
//     that gathers them from the byte stream and answers each one;
//   - PingPong/Tcp: the plain TCP baseline for the same traffic: the same
//     escaped frames sent over loopback, each answered by as many bytes as
//     the link answers it with; the peer only finds the frame's end.
// Bytes per second count the 5 MiB of file data.

#include "platform/platform.h"
#include "platform/timing.h"
#include "protocol/frame_link.h"
#include "protocol/md5.h"
#include "support/pctool.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
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

void ensureRoot()
{
    static std::string root = [] {
        char tmpl[] = "/tmp/zem-ftbench-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        platform::configure(platform::Mode::Sim, dir);
        platform::setPausesEnabled(false);
        platform::ensureDataDirs();
        std::atexit([] { std::error_code ec; std::filesystem::remove_all(root, ec); });
        return dir;
    }();
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

void BM_Upload_Tcp(benchmark::State &state)
{
    ensureRoot();
    const std::vector<Bytes> frames = uploadFrames(uint32_t(state.range(0)));
    Loopback net;
    // The device side: gathers frames from the stream, answers each one.
    std::thread device([fd = net.server]() {
        frame_link link(tcpConfig());
        std::vector<uint8_t> buf(131072), frame, reply;
        for (;;) {
            ssize_t k = ::recv(fd, buf.data(), buf.size(), 0);
            if (k <= 0)
                return;
            if (!link.gather(buf.data(), uint32_t(k), frame))
                continue;
            if (link.process(frame.data(), uint32_t(frame.size()), reply) == frame_link::Result::Replied
                && !sendAll(fd, reply.data(), reply.size()))
                return;
        }
    });
    Bytes reply;
    double endSeconds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i + 1 == frames.size())
                t0 = std::chrono::steady_clock::now();
            if (!sendAll(net.client, frames[i].data(), frames[i].size()) || !readReply(net.client, reply)) {
                state.SkipWithError("link closed");
                break;
            }
        }
        // The end (digest check, file write, read-back) timed on its own as well.
        endSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        checkEnd(state, reply);
    }
    state.counters["end_ms"] = benchmark::Counter(endSeconds * 1000 / double(state.iterations()));
    ::shutdown(net.client, SHUT_RDWR);
    device.join();
    state.SetBytesProcessed(int64_t(state.iterations()) * FILE_SIZE);
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

void BM_PingPong_Tcp(benchmark::State &state)
{
    ensureRoot();
    const std::vector<Bytes> frames = uploadFrames(uint32_t(state.range(0)));
    const std::vector<size_t> lengths = replyLengths(frames);
    Loopback net;
    // The peer reads each frame up to its closing 5A (the only 5A of an
    // escaped frame) and answers with the link's reply length.
    std::thread echo([fd = net.server, &lengths]() {
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
    });
    Bytes reply(*std::max_element(lengths.begin(), lengths.end()));
    for (auto _ : state) {
        for (size_t i = 0; i < frames.size(); ++i) {
            if (!sendAll(net.client, frames[i].data(), frames[i].size())
                || ::recv(net.client, reply.data(), lengths[i], MSG_WAITALL) != ssize_t(lengths[i])) {
                state.SkipWithError("echo closed");
                break;
            }
        }
    }
    ::shutdown(net.client, SHUT_RDWR);
    echo.join();
    state.SetBytesProcessed(int64_t(state.iterations()) * FILE_SIZE);
}

} // namespace

BENCHMARK(BM_Upload_InProcess)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Upload_Tcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PingPong_Tcp)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
