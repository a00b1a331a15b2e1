#pragma once
// A disk as the bytes of a file of any format ferry2 writes.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "image/image_format.h"
#include "image/imd.h"

// What the output could not hold (only IMD leaves anything out).
struct SaveReport {
    ImdLoss imd;
};

// False, with *error naming the track, when the format cannot hold the disk:
// a raw image of a disk that is not regular, an IMD file of a track of mixed
// sizes without lossy, an HFE track that cannot be rendered.
bool saveDisk(const DiskImage& disk, ImageFormat format, bool lossy, std::vector<uint8_t>* file,
              SaveReport* report, std::string* error);
