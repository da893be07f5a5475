#ifndef PROTOCOL_MD5_H
#define PROTOCOL_MD5_H

// MD5 message digest (RFC 1321) over a byte stream fed in pieces. The file
// transfer keeps one program-wide object: a transfer start resets it, every
// block feeds it and the end of the transfer takes the 16-byte digest.

#include <cstdint>
#include <string>

class MD5
{
public:
    MD5();
    MD5(const void *input, uint32_t length);

    // Back to the empty stream.
    void reset();

    // Absorbs more bytes of the stream.
    void update(const void *input, uint32_t length);
    void update(const unsigned char *input, uint32_t length);

    // The 16 digest bytes of everything absorbed since the last reset. The
    // stream itself is left open: update() may continue it afterwards. The
    // pointer stays valid until the next update() or reset().
    const unsigned char *digest();

    // The digest as 32 lower-case hexadecimal characters.
    std::string toString();

    // Lower-case hexadecimal text of bytes, high nibble first.
    static std::string bytesToHexString(const unsigned char *input, uint32_t length);

    static const char HEX[16];
    static const unsigned char PADDING[64];

private:
    struct Context {
        uint32_t state[4];      // chaining words A, B, C, D
        uint32_t count[2];      // bits absorbed, low word first
        unsigned char buffer[64];
    };

    static void absorb(Context &ctx, const unsigned char *input, uint32_t length);
    static void transform(uint32_t state[4], const unsigned char block[64]);
    void final();

    Context _ctx;
    unsigned char _digest[16];
    bool _finished;
};

#endif
