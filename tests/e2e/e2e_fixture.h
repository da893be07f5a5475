#ifndef TESTS_E2E_E2E_FIXTURE_H
#define TESTS_E2E_E2E_FIXTURE_H

// The real zemR47N in simulation, inside this test's private network
// namespace, driven over its real ports and pseudo-terminals as the PC tool
// drives it. One fixture per test: a private root, the binary started once,
// the PC tool's sockets and serial lines.

#include "support/device_process.h"
#include "support/netns.h"
#include "support/pc_sockets.h"
#include "support/pctool.h"
#include "support/temp_root.h"

#include <QCryptographicHash>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

using pctool::Bytes;
using namespace std::chrono_literals;

using pctool::payload;

inline Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

inline Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline Bytes md5Of(const Bytes &data)
{
    QByteArray d = QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), int(data.size())), QCryptographicHash::Md5);
    return Bytes(d.begin(), d.end());
}

// Command 0xC0 (file transfer) requests as the PC tool sends them.
inline Bytes fileBody(uint8_t sub, const Bytes &payload)
{
    return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, sub, cat({0, 0}, payload));
}
inline Bytes startTyped(const std::string &tag, uint32_t total) { return fileBody(1, cat(cat(bytes(tag), {0}), le32(total))); }
inline Bytes startNamed(const std::string &name, uint8_t type, uint32_t total)
{
    Bytes p = {0, 0, uint8_t(name.size()), uint8_t(name.size() >> 8)};
    return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, 7, cat(cat(cat(p, bytes(name)), {type}), le32(total)));
}
inline Bytes block(uint32_t offset, const Bytes &data)
{
    return fileBody(2, cat(cat({0, 0}, le32(offset)), cat(le32(uint32_t(data.size())), data)));
}
inline Bytes endWith(const Bytes &digest) { return fileBody(3, cat({0, 0}, digest)); }
inline Bytes readTyped(const std::string &tag) { return fileBody(4, bytes(tag)); }
inline Bytes readBlock(uint32_t offset, uint32_t count) { return fileBody(5, cat({0, 0}, cat(le32(offset), le32(count)))); }
inline Bytes readEnd() { return fileBody(6, {}); }

// A TCP client of the PC tool on 127.0.0.1.
class TcpClient
{
public:
    explicit TcpClient(int port) : m_fd(zemtest::tcpConnect(port)) {}
    ~TcpClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    // The reply (body with its XOR) to one request body; empty when none came.
    Bytes ask(const Bytes &body, std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        return askWire(pctool::frame(body), timeout);
    }
    Bytes askWire(const Bytes &wire, std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        return m_fd < 0 ? Bytes() : zemtest::askStream(m_fd, wire, timeout);
    }
    // Sends the frames of `wire` in one write and returns the replies to
    // `count` of them (bodies with their XOR); fewer when they do not come.
    std::vector<Bytes> askAll(const Bytes &wire, size_t count,
                              std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        if (m_fd < 0 || !pctool::writeAll(m_fd, wire))
            return {};
        return pctool::decodeAll(pctool::readFrames(m_fd, count, timeout));
    }

private:
    int m_fd = -1;
};

// A UDP socket of the PC tool; requests are given as bodies.
class UdpPeer : public zemtest::UdpPeer
{
public:
    Bytes ask(int port, const Bytes &body, in_addr *to = nullptr,
              std::chrono::milliseconds timeout = zemtest::patience(3000ms))
    {
        return zemtest::UdpPeer::ask(port, pctool::frame(body), to, timeout);
    }
};

// The PC tool on a serial line of the device (a pseudo-terminal).
inline Bytes askPty(zemtest::PtyLink &pty, const Bytes &wire,
                    std::chrono::milliseconds timeout = zemtest::patience(3000ms))
{
    if (!pty.send(wire))
        return {};
    return pctool::decode(pctool::readFrames(pty.master(), 1, timeout));
}

class DeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ZEM_NETNS_OR_SKIP(zemtest::enterRoutedPrivateNetwork(), "no routed private network namespace");
        ::mkdir(root.host("/dev").c_str(), 0755);
        ::mkdir(root.host("/sim").c_str(), 0755);
    }
    void TearDown() override
    {
        if (dev)
            dev->stop();
        dev.reset();
        rs485.reset();
        link4g.reset();
    }

    // Links the serial lines the test wants, starts the binary (on the Qt
    // platform of `platform`) and waits until it reports its links and the
    // TCP ports accept.
    void start(bool withRs485, bool with4g, const std::string &platform = "offscreen",
               const std::map<std::string, std::string> &env = {})
    {
        if (withRs485) {
            rs485.reset(new zemtest::PtyLink(root.host("/dev/ttyS2")));
            ASSERT_TRUE(rs485->ok());
        }
        if (with4g) {
            link4g.reset(new zemtest::PtyLink(root.host("/dev/ttyS1")));
            ASSERT_TRUE(link4g->ok());
        }
        dev.reset(new zemtest::DeviceProcess(root.dir(), {"-platform", platform}, env));
        ASSERT_TRUE(zemtest::waitFor([&] { return output().find("4G module serial") != std::string::npos || !dev->running(); },
                                     30s))
            << output();
        ASSERT_TRUE(dev->running()) << output();
        const std::string out = output();
        for (const char *line : {"TCP 5005 open", "TCP 10002 open", "UDP 5008 open", "UDP 10005 open"})
            ASSERT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        if (withRs485) {
            ASSERT_NE(out.find("RS-485 serial " + root.host("/dev/ttyS2") + " open"), std::string::npos) << out;
        }
        if (with4g) {
            ASSERT_NE(out.find("4G module serial " + root.host("/dev/ttyS1") + " open"), std::string::npos) << out;
        }
        ASSERT_TRUE(zemtest::waitFor([] { return zemtest::tcpPortOpen(10002); }, 5s));
    }

    // A file upload: start, blocks of 1 KiB and end over one TCP connection;
    // the end's reply data.
    Bytes upload(TcpClient &tcp, const std::string &tag, const Bytes &data, const Bytes &digest)
    {
        EXPECT_EQ(payload(tcp.ask(startTyped(tag, uint32_t(data.size())))), (Bytes{0, 1, 0}));
        for (size_t off = 0; off < data.size(); off += 1024) {
            Bytes part(data.begin() + long(off), data.begin() + long(std::min(data.size(), off + 1024)));
            EXPECT_EQ(payload(tcp.ask(block(uint32_t(off), part))), (Bytes{0, 2}));
        }
        return payload(tcp.ask(endWith(digest)));
    }

    std::string output() const { return dev ? dev->output() : std::string(); }
    std::string file(const std::string &absolute) const { return zemtest::readFile(root.host(absolute)); }
    bool exists(const std::string &absolute) const { return access(root.host(absolute).c_str(), F_OK) == 0; }
    std::vector<std::string> shellLog() const
    {
        std::vector<std::string> lines;
        std::istringstream in(file("/sim/shell.log"));
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    bool shellLogged(const std::string &command) const
    {
        for (const std::string &l : shellLog())
            if (l == command)
                return true;
        return false;
    }

    zemtest::TempRoot root;
    std::unique_ptr<zemtest::PtyLink> rs485;
    std::unique_ptr<zemtest::PtyLink> link4g;
    std::unique_ptr<zemtest::DeviceProcess> dev;
};

} // namespace e2e

#endif
