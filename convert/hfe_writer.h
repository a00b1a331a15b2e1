#pragma once
// Writes a disk as an HFE revision 1 file: every track rendered as the
// PC-8801's disk controller leaves it after ferry2 w formats and writes it.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"

// What a written file could not hold.
struct HfeWriteReport {
    int sectorsNotHeld = 0; // records past the 64 a track can be planned with
};

// False, with *error naming the track, when a track cannot be rendered.
bool writeHfe(const DiskImage& disk, std::vector<uint8_t>* file, std::string* error,
              HfeWriteReport* report = nullptr);
