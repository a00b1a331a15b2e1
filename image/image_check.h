#pragma once
// The image side of disk writing: which tracks of a D88 image hold data,
// and whether every record of them can be read before a floppy is touched.
#include <cstdint>

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

// Walks the records of tracks 0 to trackCount - 1 the way loadTrack reads them.
// Moves the file position.
ImageCheck checkImage(ImageFile& image, const uint8_t* header, int trackCount);
