#pragma once
// The PC-8801's ROMs as the agent hands them out: 4096-byte banks numbered as
// in the client's ROM table (kanji1.rom from 0x00, kanji2.rom 0x20, n88.rom
// 0x40, n80.rom 0x48, n88_0..3.rom 0x50..0x56, disk.rom 0x58, cdbios.rom 0x60,
// jisyo.rom 0x70). Bank j of a ROM is bytes 4096·j.. of its file.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr int kBankSize = 4096;

// The contents of a bank that no ROM file supplies: a function of bank number
// and offset, so that tests can compute what a dump must hold.
uint8_t romPattern(int bank, int offset);

struct RomFile {
    const char* name;
    int firstBank;
    int banks;
};

// The ROM whose banks include bank, or nullptr for a bank outside the table.
const RomFile* romOfBank(int bank);

class RomBanks {
public:
    // Takes the ROM files that exist in dir; a missing file, or the part of a
    // bank beyond a short file, keeps the pattern. The names of the files
    // found go to *found.
    bool loadDir(const std::string& dir, std::vector<std::string>* found, std::string* error);

    // Bank contents, always kBankSize bytes.
    std::vector<uint8_t> bank(int number) const;

private:
    std::vector<uint8_t> banks[256];   // empty: pattern
};

} // namespace sim
