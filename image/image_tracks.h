#pragma once
// A selected D88 image loaded whole into memory, read the way w reads it: the
// header repaired, the track table and the record walk bounded by the same
// rules as the structure check, every sector with all of its data.
#include <cstdint>
#include <vector>

#include "image/d88.h"
#include "image/image_check.h"

class ImageFile;

struct ImageTracks {
    uint8_t header[d88::kHeaderSize] = {}; // as repairHeader leaves it
    int medium = 0;                        // from mediaType, as w reads it
    int trackCount = 0;                    // 84 or 164
    ImageCheck check;                      // w's verdict: Sound, or where it stops
    // trackCount entries; an empty one is unformatted, or one of the tracks in
    // `damaged` whose records run out of the image.
    std::vector<d88::TrackRecords> tracks;
    std::vector<int> damaged;
};

// Loads the image that selectImage chose (the file's base offset points at
// it). False, with nothing loaded, when the file ends before a whole header.
// Moves the file position.
bool loadImageTracks(ImageFile& image, ImageTracks* out);

// Reads the records of the track at offset (from trackDataOffset) with all
// their data, within the first `end` bytes of the image, as checkImage walks
// them: at least one record, then as many as the last one's sectorCount says,
// at most 64. False when a record runs past end or the file cannot be read.
bool loadTrackRecords(ImageFile& image, uint32_t offset, int64_t end, d88::TrackRecords* track);
