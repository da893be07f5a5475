// Fuzz target of the command links: bytes go through a link's gatherer into
// the frame pipeline (un-escaping, XOR check, card pass-through, replies) and
// the dispatcher, against the parameter store and the simulated chip and
// FPGAs under a temporary root. The input is raw or structured, as
// structured.h describes.
//
// Every reply a link sends must be a whole frame whose XOR holds.

#include "app/config_engine.h"
#include "app/global.h"
#include "app/utils.h"
#include "app/zemrampara.h"
#include "fuzz/frames.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/timing.h"
#include "protocol/networkmanage.h"
#include "protocol/qy_uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "sendcard/fpga_manage.h"
#include "videoio/tarixsource.h"
#include "videoproc/c331_manage.h"

#include <QDir>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using fuzzin::Bytes;
using fuzzin::Link;

// The temporary root and the program's stores and hardware managers, made
// once; the root is removed when the fuzzer ends.
struct Environment {
    std::string root;

    Environment()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/zemfuzz-XXXXXX";
        if (!mkdtemp(&dir[0]))
            std::abort();
        root = dir;
        platform::configure(platform::Mode::Sim, root);
        platform::ensureDataDirs();
        platform::setPausesEnabled(false);
        g_debugSwitch = 0;   // no debug lines: they would only slow the runs down
        ConfigEngine::pInstance();
        ZemRamPara::pInstance();
        tarixsource::pInstance();
        fpga_manage::pInstance();
        // The chip is reachable, as on a running device; its thread (the
        // apply pass) does not run.
        c331_manage *chip = c331_manage::instance();
        chip->c331_fd = chip->c331drv->initialize();
    }
    ~Environment() { QDir(QString::fromStdString(root)).removeRecursively(); }
};

// A reply must un-escape into a whole body of at least header and XOR whose
// XOR holds; anything else is a fault of the link.
void checkReply(const Bytes &wire)
{
    if (wire.empty())
        return;
    Bytes body(wire.size());
    uint8_t done = 0;
    uint32_t n = protocol_phy().data_transf_meaning(wire.data(), body.data(), uint32_t(wire.size()), &done);
    if (!done || n < 11 || uint8_t(Utils::BCC(body.data(), n - 1)) != body[n - 1])
        __builtin_trap();
}

// Calls `piece(data, count)` for each piece of the stream as it arrives.
template <class Piece>
void inPieces(const Bytes &stream, size_t size, Piece &&piece)
{
    if (size == 0)
        size = stream.size();
    for (size_t at = 0; at < stream.size(); at += size)
        piece(stream.data() + at, uint32_t(std::min(size, stream.size() - at)));
}

template <class Serial>
void serial(const Bytes &stream, size_t size)
{
    Serial line;
    Bytes reply;
    inPieces(stream, size, [&](const uint8_t *p, uint32_t n) {
        line.link().gather(p, n, [&](const Bytes &frame) {
            line.link().process(frame.data(), uint32_t(frame.size()), reply);
            checkReply(reply);
        });
    });
}

// A network port without its socket: what the port's thread does with what
// it received.
struct NoServer {
};

template <class Origin>
using Port = net_port<NoServer, Origin>;

auto replyCheck = [](auto, const uint8_t *data, uint32_t count) { checkReply(Bytes(data, data + count)); };

void stream(bool controllerPort, const Bytes &bytes, size_t size)
{
    Port<uint64_t> port(networkManage::port_config(controllerPort));
    stream_gatherer gatherer;
    inPieces(bytes, size, [&](const uint8_t *p, uint32_t n) {
        if (gatherer.takes(p, n))
            port.state = NetIdle;
        gatherer.feed(p, n, [&](const uint8_t *wire, uint32_t len) { port.handle(wire, len, 1, 1, replyCheck); });
        port.poll_card(replyCheck);
    });
}

void datagrams(bool controllerPort, const Bytes &bytes, size_t size)
{
    Port<int> port(udpnetManage::port_config(controllerPort));
    packet_gatherer gatherer;
    Bytes wire;
    inPieces(bytes, size, [&](const uint8_t *p, uint32_t n) {
        bool complete = false;
        if (gatherer.feed(p, n, wire, complete))
            port.state = NetIdle;
        if (complete) {
            stream_gatherer frames;
            frames.feed(wire.data(), uint32_t(wire.size()),
                        [&](const uint8_t *f, uint32_t len) { port.handle(f, len, 1, 1, replyCheck); });
        }
        port.poll_card(replyCheck);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Environment environment;
    if (size < 2)
        return 0;
    const Link link = fuzzin::linkOf(data[0]);
    const Bytes bytes = (data[0] & fuzzin::STRUCTURED) ? fuzzin::framesOf(data + 2, size - 2)
                                                      : Bytes(data + 2, data + size);
    const size_t piece = data[1];
    platform::shell::sim::clearLog();
    switch (link) {
    case Link::Rs485: serial<Qy_uart_inout>(bytes, piece); break;
    case Link::Module4G: serial<Qy_uart_inout_4G>(bytes, piece); break;
    case Link::Tcp5005: stream(false, bytes, piece); break;
    case Link::Tcp10002: stream(true, bytes, piece); break;
    case Link::Udp5008: datagrams(false, bytes, piece); break;
    case Link::Udp10005: datagrams(true, bytes, piece); break;
    case Link::Count: break;
    }
    return 0;
}
