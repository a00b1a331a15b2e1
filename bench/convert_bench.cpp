// `c` of a full 2HD disk (77 cylinders, track 0 FM 26 x 128, the rest MFM
// 26 x 256) to HFE and back: the file read, the conversion through the
// in-memory disk, and the file written, as the command does them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/save_disk.h"
#include "image/d88_image.h"
#include "image/image_format.h"
#include "sim/d88_builder.h"
#include "sim/d88_file.h"

namespace {

struct Files {
    std::string d88, hfe, out;
};

const Files& files()
{
    static const Files f = [] {
        Files made;
        const auto dir = std::filesystem::temp_directory_path();
        made.d88 = (dir / "ferry2-convert-bench.d88").string();
        made.hfe = (dir / "ferry2-convert-bench.hfe").string();
        made.out = (dir / "ferry2-convert-bench.out").string();
        sim::D88Builder b(0x20);
        b.setTitle("BENCH 2HD");
        b.addRegularTrack(0, 26, 0, true);
        for (int t = 1; t < 154; ++t)
            b.addRegularTrack(t, 26, 1);
        sim::writeWholeFile(made.d88, b.build(), nullptr);
        DiskImage disk;
        std::vector<uint8_t> bytes;
        SaveReport report;
        std::string error;
        if (loadDisk(made.d88, 1, ImageFormat::D88, nullptr, &disk, &error) &&
            saveDisk(disk, ImageFormat::Hfe, false, &bytes, &report, &error))
            sim::writeWholeFile(made.hfe, bytes, nullptr);
        else
            std::fprintf(stderr, "convert_bench: %s\n", error.c_str());
        return made;
    }();
    return f;
}

void convert(benchmark::State& state, const std::string& in, ImageFormat from, ImageFormat to)
{
    for (auto _ : state) {
        DiskImage disk;
        std::vector<uint8_t> bytes;
        SaveReport report;
        std::string error;
        if (!loadDisk(in, 1, from, nullptr, &disk, &error) ||
            !saveDisk(disk, to, false, &bytes, &report, &error) ||
            !sim::writeWholeFile(files().out, bytes, nullptr)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(bytes.data());
    }
}

void BM_D88ToHfe(benchmark::State& state)
{
    convert(state, files().d88, ImageFormat::D88, ImageFormat::Hfe);
}
void BM_HfeToD88(benchmark::State& state)
{
    convert(state, files().hfe, ImageFormat::Hfe, ImageFormat::D88);
}
void BM_D88ToImd(benchmark::State& state)
{
    convert(state, files().d88, ImageFormat::D88, ImageFormat::Imd);
}

BENCHMARK(BM_D88ToHfe)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HfeToD88)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_D88ToImd)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
