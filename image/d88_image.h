#pragma once
// D88 to and from the in-memory disk: the selected image of a file, read the
// way w reads it, and a disk as the bytes of a file holding that one image.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "image/image_tracks.h"

// Loads image `index` (from 1) of the D88 file at path. False, with *error
// naming the file and the reason, when it cannot be opened, has no such image,
// is an interrupted read or is damaged where w would refuse it.
bool loadD88Disk(const std::string& path, int index, DiskImage* disk, std::string* error);

// The disk of a loaded image: title up to its first NUL (16 bytes at most).
DiskImage diskFromImageTracks(const ImageTracks& image);

// One complete image: header, then each formatted track's records in order.
std::vector<uint8_t> encodeD88(const DiskImage& disk);

// What loadImageTracks would give for encodeD88(disk): a sound image whose
// tracks beyond the medium's track count are not looked at, as w does.
ImageTracks imageTracksFromDisk(const DiskImage& disk);
