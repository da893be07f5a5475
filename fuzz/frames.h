#ifndef FUZZ_FRAMES_H
#define FUZZ_FRAMES_H

// Turns the bodies of a structured fuzz input (structured.h) into the frames
// that go on a link: each body gets its XOR and is escaped into A5 ... 5A.

#include "app/utils.h"
#include "fuzz/structured.h"
#include "protocol/protocol_phy.h"

namespace fuzzin {

inline Bytes frameOf(Bytes body)
{
    body.push_back(uint8_t(Utils::BCC(body.data(), uint32_t(body.size()))));
    Bytes wire(protocol_phy::wireMax(uint32_t(body.size())));
    uint8_t done;
    protocol_phy phy;
    wire.resize(phy.data_re_transf_meaning(wire.data(), body.data(), uint32_t(body.size()), &done));
    return wire;
}

// The frames of every record of a structured input, as one stream.
inline Bytes framesOf(const uint8_t *p, size_t n)
{
    Bytes stream;
    for (const Bytes &body : bodiesOf(p, n)) {
        const Bytes wire = frameOf(body);
        stream.insert(stream.end(), wire.begin(), wire.end());
    }
    return stream;
}

} // namespace fuzzin

#endif
