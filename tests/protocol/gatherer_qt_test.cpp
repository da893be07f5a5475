// A Qt header included before the gatherer must not change what it does:
// Qt's keyword macros (emit, signals, slots) once turned a parameter named
// like them into nothing and every TCP frame was dropped.
#include <QObject>

#include "protocol/tcpserver.h"

#include <gtest/gtest.h>

#include <vector>

TEST(GathererAfterQtHeader, HandsOverTheFrame)
{
    const std::vector<uint8_t> wire = {0x00, 0xA5, 0x01, 0x02, 0x5A, 0x00};
    std::vector<std::vector<uint8_t>> frames;
    stream_gatherer g;
    g.feed(wire.data(), uint32_t(wire.size()),
           [&](const uint8_t *p, uint32_t n) { frames.emplace_back(p, p + n); });
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0xA5, 0x01, 0x02, 0x5A}));
}
