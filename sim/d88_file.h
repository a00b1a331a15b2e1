#pragma once
// The simulator's own D88 reader and writer, written for tolerance rather than
// speed: images from other tools carry short headers, track offsets that point
// at the end of the file, records that run past the image and statuses of their
// own. Nothing read from a file is trusted as a size.
//
//  header   0x000 title[17]  0x011 reserved[9]  0x01A writeProtect  0x01B mediaType
//           0x01C diskSize (u32)  0x020 trackOffsets[164] (u32)  0x2B0 end
//  sector   0x0 C  0x1 H  0x2 R  0x3 N  0x4 sectorCount (u16)  0x6 density (0x40 FM)
//           0x7 deleted (0x10)  0x8 status  0x9 reserved[5]  0xE dataSize (u16)  0x10 data
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sector.h"

namespace sim {
namespace d88 {

constexpr size_t kTitle = 0x00;
constexpr size_t kTitleSize = 17;
constexpr size_t kWriteProtect = 0x1A;
constexpr size_t kMediaType = 0x1B;
constexpr size_t kDiskSize = 0x1C;
constexpr size_t kTrackTable = 0x20;
constexpr int kTableEntries = 164;
constexpr size_t kHeaderSize = 0x2B0;

constexpr size_t kSecC = 0;
constexpr size_t kSecH = 1;
constexpr size_t kSecR = 2;
constexpr size_t kSecN = 3;
constexpr size_t kSecCount = 4;
constexpr size_t kSecDensity = 6;
constexpr size_t kSecDeleted = 7;
constexpr size_t kSecStatus = 8;
constexpr size_t kSecDataSize = 14;
constexpr size_t kRecordSize = 16;

constexpr uint32_t kInProgress = 0xDEADD13C;
constexpr uint32_t kMaxImageSize = 0x400000;
constexpr uint8_t kDensityFm = 0x40;
constexpr uint8_t kDeletedMark = 0x10;
// Written by some tools (hxcfe among them) for a deleted-data sector read
// without error; this system's own images say 0x00 with the deleted byte.
constexpr uint8_t kStatusDeletedOk = 0x10;
constexpr uint8_t kStatusIdCrc = 0xA0;
constexpr uint8_t kStatusDataCrc = 0xB0;
constexpr uint8_t kStatusNoDataMark = 0xF0;

// A track holds at most this many records here: the agent's track reply
// counts its sectors in one byte.
constexpr int kMaxRecordsPerTrack = 255;
// Sector data a track keeps, all its sectors together. No reply carries more,
// and without a cap every table entry pointing at one run of records (a
// crafted image can point all 164 at a 4 MiB run) would hold its own copy.
constexpr size_t kMaxTrackData = 16384;
// Whole files above this are refused rather than read into memory.
constexpr size_t kMaxFileSize = 64u << 20;

} // namespace d88

int mediumFromMediaType(uint8_t mediaType);
uint8_t mediaTypeFromMedium(int medium);
// 164 for the odd codes (2DD, 2HD), 84 otherwise.
int trackCountOf(int medium);

// One image of a D88 file as parsed; sectors as the Floppy keeps them.
struct D88Image {
    std::string title;           // at most 16 bytes, up to the first NUL
    bool writeProtect = false;
    uint32_t diskSize = 0;       // as stored
    int medium = 0;
    std::vector<std::vector<Sector>> tracks;   // trackCountOf(medium) entries
    std::vector<std::string> warnings;
};

bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error = nullptr);

// Start of the index-th image (from 1; 1 or less is the first), stepping over
// images by their diskSize the way the client's image walk does. Fails on a
// size of 0, above 4 MiB, the in-progress marker before the index is reached,
// or when the walk ends at or past the end of the file.
bool locateD88Image(const std::vector<uint8_t>& file, int index, size_t* start,
                    std::string* error);

// Parses the image at start. Fails only when not even a header's first bytes
// are there; every other defect becomes a warning and an unformatted or
// shortened track.
bool parseD88Image(const std::vector<uint8_t>& file, size_t start, D88Image* image,
                   std::string* error);

// A single image: 688-byte header, tracks in order from offset 688, dataSize 0
// for sectors whose status says they carry no data (0xA0, 0xF0).
std::vector<uint8_t> buildD88Image(const std::string& title, bool writeProtect, int medium,
                                   const std::vector<Sector>* tracks, int trackCount);

} // namespace sim
