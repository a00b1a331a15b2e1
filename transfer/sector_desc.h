#pragma once
#include <cstdint>

#include "link/protocol.h"

class ImageFile;

// One sector of a track to be written, as disk writing loads it from an image.
struct SectorDesc {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint8_t density = wire::kMfm; // wire::kMfm or 0 (FM); any non-zero value counts as MFM
    uint8_t status = 0;           // 0: usable
    uint8_t deleted = 0;          // non-zero: deleted-data mark
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

// Reads the records of the track at offset (from trackDataOffset) into descs
// (at most wire::kMaxRecords) with their data packed into data
// (wire::kTrackDataSize bytes). A sector crossing that budget is cut and later
// ones get length 0, their records still stepped over. False on a short read,
// a failed seek or one record too many; *count is the number of descriptors filled.
bool loadTrack(ImageFile& image, uint32_t offset, SectorDesc* descs, uint8_t* data, int* count);
