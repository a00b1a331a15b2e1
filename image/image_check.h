#pragma once
// The image side of disk writing: which tracks of a D88 image hold data,
// and whether every record of them can be read before a floppy is touched.
#include <cstdint>
#include <functional>

#include "image/d88.h"

class ImageFile;

// Where track t's first record lies, or 0 when the track holds no data. Besides
// 0, other tools mark an empty track with the image's end (or an offset past
// diskSize), so those count as unformatted too. header is the repaired header.
uint32_t trackDataOffset(const uint8_t* header, int t);

enum class ImageState {
    Sound,
    BadHeader, // diskSize is the in-progress marker, below the header or above 4 MiB
    BadTrack,  // a record of `track` lies outside the image or the file, or over 64 records
};

struct ImageCheck {
    ImageState state = ImageState::Sound;
    int track = -1;
};

// True when a whole header lies at the selected image's start; leaves the file
// positioned there, where selectImage left it.
bool headerPresent(ImageFile& image);

// The walk over one track's records that the check, the loaders and w's track
// load share: from offset (from trackDataOffset), within the first `end` bytes
// of the image, at least one record, then as many as the last one's
// sectorCount says, at most d88::kMaxTrackRecords. visit (when given) gets each
// record's header and where its data starts; false from it stops the walk.
// False when a record runs past end, the file cannot be read, or visit refused.
using RecordVisit = std::function<bool(const d88::D88SectorHeader& record, int64_t data)>;
bool walkTrackRecords(ImageFile& image, uint32_t offset, int64_t end,
                      const RecordVisit& visit = RecordVisit());

// How far the record walks of an image may reach: its diskSize, or less when
// the file ends first. -1 when diskSize is not one a sound image has.
// Moves the file position.
int64_t walkEnd(ImageFile& image, const uint8_t* header);

// Walks the records of tracks 0 to trackCount - 1 the way loadTrack reads them.
// Moves the file position.
ImageCheck checkImage(ImageFile& image, const uint8_t* header, int trackCount);
