#pragma once
// A whole disk held in memory, independent of the file format it came from:
// what every image reader produces and every image writer takes.
#include <cstdint>
#include <string>
#include <vector>

#include "image/d88.h"

struct DiskImage {
    std::string title;            // CP932 bytes, at most 16
    bool writeProtected = false;
    int medium = d88::kMedium2D;  // d88::kMedium2D, kMedium2DD or kMedium2HD
    // Index cylinder * 2 + head; an empty track is unformatted. Its size is the
    // count of track slots the image has (at most d88::kTrackCount).
    std::vector<d88::TrackRecords> tracks;
};
