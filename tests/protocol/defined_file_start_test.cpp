// The start of a named file transfer (command 0xC0, sub-command 7): its name,
// type and total length must lie inside the request.

#include "proto_fixture.h"

#include "protocol/message_deal.h"

using pctool::Bytes;

namespace {

class DefinedFileStartTest : public ProtoTest
{
protected:
    // A start of a card recovery file of `total` bytes named `name`.
    static Bytes start(const std::string &name, uint32_t total)
    {
        Bytes p = {0, 0, uint8_t(name.size()), uint8_t(name.size() >> 8)};
        p.insert(p.end(), name.begin(), name.end());
        p.push_back(9);
        for (int k = 0; k < 4; ++k)
            p.push_back(uint8_t(total >> (8 * k)));
        return pctool::body(pctool::CONTROLLER, pctool::PC, 0xC0, 7, p);
    }
    // The request's first `length` bytes reach the handler; the receive
    // buffer still holds the rest of it behind them.
    Bytes run(Bytes request, size_t length)
    {
        const uint16_t declared = uint16_t(length - 11 + 1);
        request[4] = uint8_t(declared);
        request[5] = uint8_t(declared >> 8);
        std::vector<uint8_t> buf(4096, 0);
        std::copy(request.begin(), request.end(), buf.begin());
        const uint32_t n = deal.message_group_deal(buf.data(), uint32_t(length), 1);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + n);
    }

    message_deal deal;
};

TEST_F(DefinedFileStartTest, StartEndingBeforeItsTypeAndLengthIsRefusedALongNameIsNot)
{
    const Bytes cut = start("rcv_02.bin", 100);
    EXPECT_EQ(run(cut, cut.size() - 5), (Bytes{1, 7, 2})) << "type and length lie past the end";
    const Bytes longName = start("receiving_card_recovery_07.bin", 100);
    EXPECT_EQ(run(longName, longName.size()), (Bytes{0, 7, 0}));
}

} // namespace
