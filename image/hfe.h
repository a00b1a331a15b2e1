#pragma once
// HFE, the HxC floppy emulator's file: per track the cell stream of both sides,
// interleaved in 256-byte halves, bits least significant first. Revision 1
// ("HXCPICFE") and revision 3 ("HXCHFEV3", with its opcodes) are read.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"

// Decodes every track's FM and MFM address marks, at any bit position, into
// sector records with the status a read by the PC-8801 would give them. False,
// with *error naming the place (track, offset) and what is wrong, on a file
// that is not a readable HFE file.
bool readHfe(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error);
