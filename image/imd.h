#pragma once
// ImageDisk (IMD): an ASCII header ending in 0x1A, then per track
//
//   mode  cylinder  head|flags  sectorCount  sizeCode  R[count]
//   [C[count] when head bit 7]  [H[count] when head bit 6]  [sizes u16[count] when sizeCode 0xFF]
//   then per sector a type byte and its data: 0 none, 1 data, 2 one fill byte,
//   3/4 deleted, 5/6 data error, 7/8 deleted with data error.
//
// Modes 0-2 are FM at 500, 300 and 250 kbit/s, 3-5 MFM at the same rates.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"

// False, with *error naming the track and the offset, on a file that is not a
// whole IMD file.
bool readImd(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error);

// What an IMD file could not hold of a disk.
struct ImdLoss {
    int idCrc = 0;              // sectors with an ID CRC error, left out
    int noDataMark = 0;         // sectors without a data mark, left out
    std::vector<int> mixed;     // tracks of mixed sizes or densities, left out (lossy only)
    int resized = 0;            // usable sectors whose data was not 128 << N bytes long
    bool any() const { return idCrc || noDataMark || !mixed.empty() || resized; }
};

// False, with *error naming the track, when a track mixes sector sizes or
// densities and lossy is not set; with lossy such tracks are left out.
bool writeImd(const DiskImage& disk, bool lossy, std::vector<uint8_t>* file, ImdLoss* loss,
              std::string* error);
