#pragma once
// How a track of an image looks to someone about to write it back: the kind of
// each sector, the layout in words, the R numbers and the IDs that do not fit.
#include <set>
#include <string>

#include "image/d88.h"
#include "image/sector_kind.h"

// The sector map's character for a kind, and its legend line.
char sectorMapChar(SectorKind kind);
extern const char* const kSectorMapLegend;

struct TrackLayout {
    std::string layout;  // "16 x 256 MFM", "1 x 1024 + 4 x 256 MFM", "16 x 128 FM"
    std::string records; // the R numbers as runs: "1-16", "1-5, 9, 244"
    std::string oddIds;  // C/H other than the track's, R recorded twice; "" when none
};

// Numbers as runs: "0-12", "1-5, 9, 244".
std::string numberRuns(const std::set<int>& numbers);

// Track t's layout; all three empty for an unformatted track.
TrackLayout describeTrack(int t, const d88::TrackRecords& track);
