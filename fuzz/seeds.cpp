// Writes the seed corpus of the link fuzz target into the folder given as
// the only argument: for each command family valid requests in the target's
// structured form (structured.h), spread over the links.

#include "fuzz/structured.h"

#include <cstdio>
#include <string>

using namespace fuzzin;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    constexpr int LINKS = int(Link::Count);
    const uint8_t pieces[LINKS] = {0, 7, 0, 13, 0, 64};   // whole, or cut as a line or a network would
    int n = 0;
    for (const Seed &s : seeds()) {
        for (int link = 0; link < LINKS; ++link) {
            const Bytes b = structured(Link(link), pieces[(link + n) % LINKS], s.requests);
            const std::string path = std::string(argv[1]) + "/" + s.name + "-" + std::to_string(link);
            std::FILE *f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size()) {
                std::perror(path.c_str());
                return 1;
            }
            std::fclose(f);
        }
        ++n;
    }
    return 0;
}
