#pragma once
// Which format a disk file is in, and loading a disk of any readable format
// into memory: what c, w and i share.
#include <cstdint>
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "image/raw_image.h"

enum class ImageFormat { Unknown, D88, Hfe, Imd, Raw };

// From a file name's extension (case ignored): .d88 .d77 .88d, .hfe, .imd,
// .2d .2dd .2hd .img .dsk. Unknown for anything else.
ImageFormat formatFromPath(const std::string& path);
// From a --from / --to argument: d88, hfe, imd, raw (case ignored).
ImageFormat formatFromName(const std::string& name);
// "D88", "HFE", "IMD", "raw".
const char* formatName(ImageFormat format);

// The whole file, or false with *error naming it and the system's reason.
bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Loads image `index` of path (only D88 files hold more than one). geometry:
// a raw image's, or null to take it from the size. False, with *error naming
// the file, the format and where it is wrong.
bool loadDisk(const std::string& path, int index, ImageFormat format, const RawGeometry* geometry,
              DiskImage* disk, std::string* error);
