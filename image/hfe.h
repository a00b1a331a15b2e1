#pragma once
// HFE, the HxC floppy emulator's file: per track the cell stream of both sides,
// interleaved in 256-byte halves, bits least significant first. Revision 1
// ("HXCPICFE") and revision 3 ("HXCHFEV3", with its opcodes) are read.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"

namespace hfe {

//  header      0x000 signature[8]  0x008 revision  0x009 cylinders  0x00A sides  0x00B encoding
//              0x00C bit rate (u16, kbit/s)  0x00E rpm (u16)  0x010 interface mode  0x011 unused
//              0x012 track list block (u16)  0x014 write allowed (0xFF)  0x015 single step (0xFF)
//              0x016 track 0 side 0: alternate encoding used (0x00), 0x017 its encoding
//              0x018 track 0 side 1: the same, 0x019
//  track list  per cylinder 0 first block (u16)  2 length in bytes, both sides together (u16)
//  track data  512-byte blocks: 256 bytes of side 0, then 256 of side 1; in each byte the
//              first cell in time is bit 0
constexpr int kBlockSize = 512;
constexpr int kSideChunk = 256;
constexpr int kSignature = 0x000;
constexpr int kRevision = 0x008;
constexpr int kCylinders = 0x009;
constexpr int kSides = 0x00A;
constexpr int kEncoding = 0x00B;
constexpr int kBitRate = 0x00C;
constexpr int kRpm = 0x00E;
constexpr int kInterfaceMode = 0x010;
constexpr int kUnused = 0x011;
constexpr int kTrackList = 0x012;
constexpr int kWriteAllowed = 0x014;
constexpr int kSingleStep = 0x015;
constexpr int kTrack0Side0Alt = 0x016;
constexpr int kTrack0Side0Encoding = 0x017;
constexpr int kTrack0Side1Alt = 0x018;
constexpr int kTrack0Side1Encoding = 0x019;
constexpr int kTrackEntrySize = 4;

constexpr const char* kSignatureV1 = "HXCPICFE";
constexpr const char* kSignatureV3 = "HXCHFEV3";
constexpr uint8_t kEncodingMfm = 0x00; // ISO/IBM MFM
constexpr uint8_t kEncodingFm = 0x02;  // ISO/IBM FM
constexpr uint8_t kAltEncodingUsed = 0x00;
constexpr uint8_t kInterfaceShugart = 0x07; // generic Shugart bus drive
constexpr uint8_t kYes = 0xFF;
constexpr uint8_t kNo = 0x00;

} // namespace hfe

// Decodes every track's FM and MFM address marks, at any bit position, into
// sector records with the status a read by the PC-8801 would give them. False,
// with *error naming the place (track, offset) and what is wrong, on a file
// that is not a readable HFE file.
bool readHfe(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error);
