#pragma once
// The D88 disk image layout. A file holds one or more images back to back;
// each is a 688-byte header followed by its tracks' sector records.
//
//  header   0x000 title[17]  0x011 reserved[9]  0x01A writeProtect  0x01B mediaType
//           0x01C diskSize (u32)  0x020 trackOffsets[164] (u32)  0x2B0 end
//  sector   0x0 C  0x1 H  0x2 R  0x3 N  0x4 sectorCount (u16)  0x6 density
//           0x7 deleted  0x8 status  0x9 reserved[5]  0xE dataSize (u16)  0x10 data
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class ImageFile;

namespace d88 {

constexpr int kTitle = 0x00;
constexpr int kTitleSize = 17;
constexpr int kTitleLength = 16;   // the bytes of a title; byte 16 is its NUL
constexpr int kWriteProtect = 0x1A;
constexpr int kMediaType = 0x1B;
constexpr int kDiskSize = 0x1C;
constexpr int kTrackTable = 0x20;
constexpr int kTrackCount = 164;
constexpr int kHeaderSize = 0x2B0;   // 688

constexpr int kSecC = 0;
constexpr int kSecH = 1;
constexpr int kSecR = 2;
constexpr int kSecN = 3;
constexpr int kSecCount = 4;
constexpr int kSecDensity = 6;
constexpr int kSecDeleted = 7;
constexpr int kSecStatus = 8;
constexpr int kSecDataSize = 14;
constexpr int kSectorHeaderSize = 16;

// The most sector records ferry2 takes one track to hold: a track with more
// is damaged for every command. It is the agent's descriptor table
// (wire::kMaxRecords), which link/disk_client.h asserts.
constexpr int kMaxTrackRecords = 64;

constexpr uint32_t kInProgress = 0xDEADD13C;   // diskSize while a read runs
constexpr uint32_t kMaxImageSize = 0x400000;

constexpr uint8_t kMedia2D = 0x00;
constexpr uint8_t kMedia2DD = 0x10;
constexpr uint8_t kMedia2HD = 0x20;
constexpr uint8_t kProtected = 0x10;
constexpr uint8_t kDensityMfm = 0x00;
constexpr uint8_t kDensityFm = 0x40;
constexpr uint8_t kDeletedMark = 0x10;
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusIdCrc = 0xA0;
constexpr uint8_t kStatusDataCrc = 0xB0;
constexpr uint8_t kStatusNoDataMark = 0xF0;
// Some tools record a deleted-data sector that read cleanly with this status
// rather than 0 plus the deleted mark (image/sector_kind.h reads it so).
constexpr uint8_t kStatusDeletedOk = 0x10;

constexpr const char* kDefaultTitle = "made by ferry2";

// The progress of a read, kept in the reserved bytes of an image that still
// carries the in-progress marker, so that an interrupted read can go on where
// it stopped. A completed image has these bytes zero, as every image has.
//
//  0x11 'F'  0x12 '2'  0x13 version (1)  0x14 tracks done  0x15 end of data (u32)  0x19 0
constexpr int kProgress = 0x11;
constexpr uint8_t kProgressVersion = 1;

struct D88Header {
    uint8_t title[kTitleSize] = {};
    uint8_t writeProtect = 0;
    uint8_t mediaType = 0;
    uint32_t diskSize = 0;
    uint32_t trackOffsets[kTrackCount] = {};
    // An interrupted read's progress: tracks 0 to tracksDone - 1 are stored
    // and their table entries set, the next track goes at dataEnd. -1: none.
    int tracksDone = -1;
    uint32_t dataEnd = 0;

    // kHeaderSize bytes; reserved bytes zero unless a progress is given.
    void encode(uint8_t* out) const;
    static D88Header decode(const uint8_t* in);
};

struct SectorRecord;

struct D88SectorHeader {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint16_t sectorCount = 0;
    uint8_t density = 0;
    uint8_t deleted = 0;
    uint8_t status = 0;
    uint16_t dataSize = 0;

    void encode(uint8_t* out) const;          // kSectorHeaderSize bytes; reserved zero
    static D88SectorHeader decode(const uint8_t* in);
    // The stored header of one record of a track of sectorCount records.
    static D88SectorHeader of(const SectorRecord& s, size_t sectorCount);
};

// One sector record of a track held in memory, with its data: what a track
// reply decodes to, and what an image's track loads to. Fields as D88 stores
// them (density 0x40 FM, deleted 0x10, status 0x00/0xA0/0xB0/0xF0 or another
// tool's value).
struct SectorRecord {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint8_t density = kDensityMfm;
    uint8_t deleted = 0;
    uint8_t status = kStatusOk;
    std::vector<uint8_t> data;
};
// A track's records in the order they were found; empty: unformatted.
using TrackRecords = std::vector<SectorRecord>;

// Medium codes, as the command line, the agent's medium answers and the
// planner know them. 2 is never asked for (it shows as "???").
constexpr int kMedium2D = 0;
constexpr int kMedium2DD = 1;
constexpr int kMedium2HD = 3;
constexpr int kMediumNotGiven = -1;
// A code the agent's medium answer names (0 to 3); other answers are events.
constexpr bool isMediumCode(int code)
{
    return code >= 0 && code <= 3;
}
// High density: 500 kbit/s at 360 rpm, the longer track.
constexpr bool isHighDensity(int code)
{
    return (code & 2) != 0;
}
// -m0, -m1, -m2 of the command line.
constexpr int mediumFromOption(int value)
{
    return value == 2 ? kMedium2HD : value;
}

// mediaType byte for a medium code (3 gives 2HD, 1 gives 2DD, anything else 2D),
// and back (0x20 gives 3, 0x10 gives 1, anything else 0).
uint8_t mediaTypeFor(int medium);
int mediumFor(uint8_t mediaType);
// 164 tracks for odd medium codes (2DD, 2HD), 84 for even ones.
int trackCountFor(int medium);
// "2D", "2DD", "???", "2HD" for 0..3.
const char* mediumName(int medium);

// A diskSize a sound image can have: not an interrupted read's marker, not
// less than its own header, not above kMaxImageSize.
constexpr bool isSoundDiskSize(uint32_t diskSize)
{
    return diskSize != kInProgress && diskSize >= static_cast<uint32_t>(kHeaderSize) &&
           diskSize <= kMaxImageSize;
}

// An image of a file, as the walk over its images finds it: the number-th
// (from 1), at the sum of the size fields before it, with its own size field
// (0 when the file ends inside it).
struct ImagePlace {
    int number = 1;
    int64_t start = 0;
    uint32_t diskSize = 0;
};

// The walk that selectImage, i and the checks share. Calls visit for each
// image that starts before the end of the file, in order, and stops when visit
// returns false or after an image the walk cannot step over (a size field of
// kInProgress, 0 or above kMaxImageSize). Returns the place it stopped at:
// the last image visited, or the file's end with the number the next image
// would get.
ImagePlace walkImages(ImageFile& image, const std::function<bool(const ImagePlace&)>& visit);

// Where selectImage stopped: on a complete image, on an image whose diskSize
// holds kInProgress (an interrupted read), or at the end of the file (where
// the next image would be appended; also past it, when the last image is cut).
enum class Selected { Image, InProgress, EndOfFile };

// Walks the images of an open file to the index-th (from 1) and sets its base
// offset there. False on a size field of 0 or above kMaxImageSize. *number
// (when given) is the number of the image selected, counted from 1: where a
// new image would go, for an index beyond the last.
bool selectImage(ImageFile& image, int index, Selected* where = nullptr, int* number = nullptr);

// Stamps the title (kTitleLength bytes, byte 16 stays NUL) and the
// write-protect flag into the header of the selected image, and nothing else:
// an interrupted read's marker and progress record stay. False when the file
// refused.
bool stampTitle(ImageFile& image, const char* title, bool protect);

// Zeroes the header bytes from the smallest non-zero offset among the first 84
// track entries up to the end of the header, when that offset lies inside it.
void repairHeader(uint8_t* header);

} // namespace d88
