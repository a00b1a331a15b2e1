// LzEncoder on 12 KB track payloads, with zlib's deflate at level 6 on the same
// data as a yardstick. Real tracks come from the D88 corpus named by
// --testdata=DIR, the environment variable FERRY2_TESTDATA, or
// ../shared/testdata/d88; without it a generated track stands in.
#include "link/lz_encoder.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kTrack = 12288;
constexpr int kCapacity = 16384;
constexpr size_t kMaxRealWindows = 64;

std::string testDataDir = "../shared/testdata/d88";

Bytes textTrack()
{
    std::string t;
    for (int i = 0; t.size() < kTrack; ++i)
        t += std::to_string(1000 + i * 10) + " IF A$(" + std::to_string(i % 17) +
             ")=\"\" THEN PRINT \"DISK ERROR\";ERR:GOTO " + std::to_string(2000 + i % 50) +
             "\r\n";
    return Bytes(t.begin(), t.begin() + kTrack);
}

Bytes randomTrack()
{
    std::mt19937 rng(88);
    Bytes b(kTrack);
    for (auto& v : b)
        v = static_cast<uint8_t>(rng());
    return b;
}

// A plausible disk when no corpus is at hand: Z80-like boot code, a directory
// of 16-byte entries, then sectors never written since formatting (0xE5).
Bytes generatedTrack()
{
    Bytes b;
    std::mt19937 rng(8801);
    const uint8_t opcodes[] = {0x3E, 0x21, 0x11, 0x01, 0xCD, 0xC3, 0x7E, 0x23, 0x77, 0x10,
                               0xED, 0xB0, 0xC9, 0xD3, 0xDB, 0x20, 0x28, 0xFE, 0x06, 0x0E};
    while (b.size() < 16 * 256) {
        b.push_back(opcodes[rng() % sizeof opcodes]);
        if (rng() % 3 == 0) {
            b.push_back(static_cast<uint8_t>(rng()));
            b.push_back(static_cast<uint8_t>(0xC0 + rng() % 0x30));
        }
    }
    b.resize(16 * 256);
    const char* names[] = {"N88BASIC", "AUTOEXEC", "GAMEDATA", "MAP01   ", "MAP02   ",
                           "SOUND   ", "CHR     ", "SAVE    "};
    for (int e = 0; b.size() < 2 * 16 * 256; ++e) {
        const char* n = names[e % 8];
        b.insert(b.end(), n, n + 8);
        b.insert(b.end(), {'B', 'A', 'S'});
        b.push_back(static_cast<uint8_t>(e % 8 == 0 ? 0x80 : 0x01));
        b.push_back(static_cast<uint8_t>(e * 3 + 2));
        b.insert(b.end(), {0x00, 0x00, 0xFF});
        if (e >= 40)
            while (b.size() % 256 != 0)
                b.push_back(0xFF);
    }
    b.resize(kTrack, 0xE5);
    return b;
}

// 12 KB windows spread over every image of the corpus.
std::vector<Bytes> realTracks()
{
    namespace fs = std::filesystem;
    std::vector<Bytes> windows;
    std::error_code ec;
    if (!fs::is_directory(testDataDir, ec))
        return windows;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(testDataDir, ec)) {
        const auto ext = e.path().extension().string();
        if (ext == ".d88" || ext == ".d77")
            files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    std::vector<Bytes> all;
    for (const auto& path : files) {
        std::ifstream f(path, std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        for (size_t at = 0x2B0; at + kTrack <= data.size(); at += kTrack)
            all.emplace_back(data.begin() + static_cast<long>(at),
                             data.begin() + static_cast<long>(at + kTrack));
    }
    // Every k-th window, so the sample covers every image instead of the first one.
    const size_t step = std::max<size_t>(1, all.size() / kMaxRealWindows);
    for (size_t i = 0; i < all.size() && windows.size() < kMaxRealWindows; i += step)
        windows.push_back(std::move(all[i]));
    return windows;
}

const std::vector<Bytes>& tracksOf(int kind)
{
    static const std::vector<Bytes> text{textTrack()};
    static const std::vector<Bytes> zeros{Bytes(kTrack, 0)};
    static const std::vector<Bytes> random{randomTrack()};
    static const std::vector<Bytes> generated{generatedTrack()};
    static const std::vector<Bytes> real = realTracks();
    switch (kind) {
    case 0:
        return text;
    case 1:
        return zeros;
    case 2:
        return random;
    case 3:
        return real.empty() ? generated : real;
    default:
        return generated;
    }
}

const char* kindName(int kind)
{
    static const char* names[] = {"text", "zeros", "random", "real", "generated"};
    return names[kind];
}

void setCounters(benchmark::State& state, int kind, size_t in, size_t out)
{
    state.SetBytesProcessed(static_cast<int64_t>(in));
    state.counters["ratio"] = in ? static_cast<double>(out) / static_cast<double>(in) : 0;
    state.counters["tracks"] = static_cast<double>(tracksOf(kind).size());
    std::string label = kindName(kind);
    if (kind == 3 && &tracksOf(3) == &tracksOf(4))
        label += " (no corpus at " + testDataDir + ": generated)";
    state.SetLabel(label);
}

void BM_LzEncode(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const auto& tracks = tracksOf(kind);
    LzEncoder encoder;
    Bytes out(kCapacity);
    size_t i = 0, in = 0, produced = 0, overflows = 0;
    for (auto _ : state) {
        const Bytes& t = tracks[i++ % tracks.size()];
        const int n =
            encoder.encode(t.data(), static_cast<unsigned>(t.size()), out.data(), kCapacity);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
        in += t.size();
        // An overflow means the track would travel uncompressed.
        produced += n < 0 ? t.size() : static_cast<size_t>(n);
        overflows += n < 0;
    }
    setCounters(state, kind, in, produced);
    state.counters["overflows"] = static_cast<double>(overflows);
}

void BM_Deflate6(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const auto& tracks = tracksOf(kind);
    Bytes out(compressBound(kTrack));
    size_t i = 0, in = 0, produced = 0;
    for (auto _ : state) {
        const Bytes& t = tracks[i++ % tracks.size()];
        uLongf n = static_cast<uLongf>(out.size());
        const int rc = compress2(out.data(), &n, t.data(), static_cast<uLong>(t.size()), 6);
        if (rc != Z_OK) {
            state.SkipWithError("compress2 failed");
            break;
        }
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
        in += t.size();
        produced += n;
    }
    setCounters(state, kind, in, produced);
}

} // namespace

BENCHMARK(BM_LzEncode)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Deflate6)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (const char* env = std::getenv("FERRY2_TESTDATA"))
        testDataDir = env;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--testdata=", 11) == 0)
            testDataDir = argv[i] + 11;
        else
            rest.push_back(argv[i]);
    }
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    if (benchmark::ReportUnrecognizedArguments(n, rest.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
