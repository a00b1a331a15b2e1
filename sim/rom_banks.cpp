#include "sim/rom_banks.h"

#include <sys/stat.h>

#include <cstdio>

namespace sim {

namespace {
const RomFile kRoms[] = {
    {"kanji1.rom", 0x00, 32}, {"kanji2.rom", 0x20, 32}, {"n88.rom", 0x40, 8},
    {"n80.rom", 0x48, 8},     {"n88_0.rom", 0x50, 2},   {"n88_1.rom", 0x52, 2},
    {"n88_2.rom", 0x54, 2},   {"n88_3.rom", 0x56, 2},   {"disk.rom", 0x58, 2},
    {"cdbios.rom", 0x60, 16}, {"jisyo.rom", 0x70, 128},
};
} // namespace

uint8_t romPattern(int bank, int offset)
{
    // The last 256 bytes of every bank are 0xFF, as unused ROM space is, so
    // that run-length replies get a run to work on; 31 is odd, so no two
    // banks share a pattern.
    if ((offset & 0xF00) == 0xF00)
        return 0xFF;
    return static_cast<uint8_t>(bank * 31 + (offset >> 8) * 7 + offset);
}

const RomFile* romOfBank(int bank)
{
    for (const RomFile& rom : kRoms) {
        if (bank >= rom.firstBank && bank < rom.firstBank + rom.banks)
            return &rom;
    }
    return nullptr;
}

bool RomBanks::loadDir(const std::string& dir, std::vector<std::string>* found,
                       std::string* error)
{
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = dir + ": not a directory";
        return false;
    }
    for (const RomFile& rom : kRoms) {
        std::string path = dir + "/" + rom.name;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            continue;
        if (found)
            found->push_back(rom.name);
        for (int j = 0; j < rom.banks; ++j) {
            std::vector<uint8_t> bytes(kBankSize);
            size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
            if (got == 0)
                break;
            for (size_t k = got; k < bytes.size(); ++k)
                bytes[k] = romPattern(rom.firstBank + j, int(k));
            banks[rom.firstBank + j] = std::move(bytes);
        }
        std::fclose(f);
    }
    return true;
}

std::vector<uint8_t> RomBanks::bank(int number) const
{
    if (number >= 0 && number < 256 && !banks[number].empty())
        return banks[number];
    std::vector<uint8_t> bytes(kBankSize);
    for (int k = 0; k < kBankSize; ++k)
        bytes[k] = romPattern(number, k);
    return bytes;
}

} // namespace sim
