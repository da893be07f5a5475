// MD5 throughput over a transfer-sized buffer (5 MiB by default), whole and
// in the 1 KiB blocks the file transfer feeds it. With ZEM_MD5_FILE set the
// data come from that file, and the digest is shown as the benchmark's label
// so that it can be compared with another tool's.

#include "protocol/md5.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const std::vector<unsigned char> &data()
{
    static const std::vector<unsigned char> d = [] {
        const char *file = std::getenv("ZEM_MD5_FILE");
        if (file && *file) {
            std::ifstream in(file, std::ios::binary);
            return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
        }
        std::vector<unsigned char> v(5 * 1024 * 1024);
        uint32_t x = 0x12345678;
        for (auto &b : v) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(x >> 24);
        }
        return v;
    }();
    return d;
}

void BM_MD5_Whole(benchmark::State &state)
{
    const auto &d = data();
    MD5 m;
    for (auto _ : state) {
        m.reset();
        m.update(d.data(), static_cast<uint32_t>(d.size()));
        benchmark::DoNotOptimize(m.digest());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
    state.SetLabel(m.toString());
}
BENCHMARK(BM_MD5_Whole)->Unit(benchmark::kMillisecond);

void BM_MD5_Blocks(benchmark::State &state)
{
    const auto &d = data();
    const size_t block = static_cast<size_t>(state.range(0));
    MD5 m;
    for (auto _ : state) {
        m.reset();
        for (size_t off = 0; off < d.size(); off += block)
            m.update(d.data() + off, static_cast<uint32_t>(std::min(block, d.size() - off)));
        benchmark::DoNotOptimize(m.digest());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
    state.SetLabel(m.toString());
}
BENCHMARK(BM_MD5_Blocks)->Arg(1024)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
