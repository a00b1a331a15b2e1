#include "tests/e2e/test_images.h"

#include <dirent.h>

#include <algorithm>

#include "sim/rom_banks.h"

namespace e2e {

std::vector<uint8_t> patternData(size_t n, int seed)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 5));
    return data;
}

sim::D88Record testRecord(int t, int r, int n, uint8_t density)
{
    sim::D88Record rec;
    rec.c = static_cast<uint8_t>(t / 2);
    rec.h = static_cast<uint8_t>(t % 2);
    rec.r = static_cast<uint8_t>(r);
    rec.n = static_cast<uint8_t>(n);
    rec.density = density;
    rec.data = patternData(static_cast<size_t>(128) << n, t * 100 + r);
    return rec;
}

const RomRow kRomTable[11] = {
    {"kanji1.rom", 0x00, 32}, {"kanji2.rom", 0x20, 32}, {"n88.rom", 0x40, 8},
    {"n80.rom", 0x48, 8},     {"n88_0.rom", 0x50, 2},   {"n88_1.rom", 0x52, 2},
    {"n88_2.rom", 0x54, 2},   {"n88_3.rom", 0x56, 2},   {"disk.rom", 0x58, 2},
    {"cdbios.rom", 0x60, 16}, {"jisyo.rom", 0x70, 128},
};

std::vector<uint8_t> expectedRomContents(const RomRow& rom, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = sim::romPattern(rom.firstBank + static_cast<int>(i / sim::kBankSize),
                                   static_cast<int>(i % sim::kBankSize));
    return bytes;
}

std::vector<std::string> corpusFiles()
{
    const std::string folder = FERRY2_TESTDATA;
    std::vector<std::string> paths;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return paths;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".d88" ||
                                name.substr(name.size() - 4) == ".d77"))
            paths.push_back(folder + "/" + name);
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace e2e
