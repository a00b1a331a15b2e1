#pragma once
// Raw sector images (.2d, .2dd, .2hd, .img, .dsk): the sectors of a regular
// disk in cylinder, head, R order and nothing else, so the geometry comes
// from the file's size or from the user.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"

struct RawGeometry {
    int cylinders = 0, heads = 0, sectors = 0, n = 0;
    int64_t bytes() const { return int64_t(cylinders) * heads * sectors * (128 << n); }
};

// "C,H,S,N" as --geometry takes it: C 1-82 (2HD up to 80), H 1-2, S 1-64, N 0-6.
bool parseGeometry(const std::string& text, RawGeometry* geometry);

// The sizes a raw image is recognised by, for a message: "327680 (2D 40x2x16x256), ...".
std::string knownRawSizes();

// geometry null: from the size. False, with *error, on an unknown size or a
// size that does not match the geometry given.
bool readRaw(const std::vector<uint8_t>& file, const RawGeometry* geometry, DiskImage* disk,
             std::string* error);

// False, with *error naming the first track that breaks the rule, for a disk
// that is not regular: every track up to the last formatted one holds the
// same count of same-size MFM sectors numbered from 1, with C/H the track's
// own, without errors or deleted marks.
bool writeRaw(const DiskImage& disk, std::vector<uint8_t>* file, std::string* error);
