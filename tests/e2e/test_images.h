#pragma once
// Source images for the end-to-end tests: records with recognisable data, and
// the D88 corpus beside the repository when it is there.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/d88_builder.h"

namespace e2e {

// n bytes that differ from sector to sector (seed) and along the sector.
std::vector<uint8_t> patternData(size_t n, int seed);

// A record of track t with its own C and H, sector r of size code n.
sim::D88Record testRecord(int t, int r, int n, uint8_t density = 0x00);

// The client's ROM table, restated: file, first bank, bank count.
struct RomRow {
    const char* name;
    int firstBank;
    int banks;
};
extern const RomRow kRomTable[11];

// The first size bytes of a ROM as ferry88sim's pattern fills its banks.
std::vector<uint8_t> expectedRomContents(const RomRow& rom, size_t size);

// Paths of the .d88/.d77 files of the corpus folder; empty when it is absent.
std::vector<std::string> corpusFiles();

} // namespace e2e
