#pragma once
// Whether a copy of a track (a re-read floppy, another image) holds every
// usable sector of its source as it was: `i A B` and `w --verify` both ask.
#include <cstdint>
#include <string>
#include <vector>

#include "image/d88.h"

// What differs for one sector, as bits.
enum SectorDiff : unsigned {
    kDiffMissing = 1,
    kDiffData = 2,
    kDiffStatus = 4,
    kDiffId = 8,
    kDiffDensity = 16,
    kDiffDeleted = 32
};

struct SectorDifference {
    uint8_t r;
    unsigned what;
};

struct CompareRules {
    // w --verify: compare only what w's track load carries; sectors whose data
    // this budget (the agent's track data area) cuts, and every later one with
    // data, are left out. 0: every sector counts.
    uint32_t loadBudget = 0;
};

struct TrackComparison {
    std::vector<SectorDifference> differences; // usable source sectors not found as they were
    std::vector<uint8_t> extra;                // R of copy sectors the source lacks (not a failure)
    int compared = 0;                          // usable source sectors compared
    int leftOut = 0;                           // usable sectors not compared (load budget)
    bool unformattedMismatch = false;          // source unformatted, copy has sectors
    bool noUsableSector = false;               // formatted, no usable sector: nothing to compare
    bool matches() const;                      // no differences, no unformatted mismatch
};

TrackComparison compareTrack(const d88::TrackRecords& source, const d88::TrackRecords& copy,
                             const CompareRules& rules = {});

// The differences in words for one line, e.g. "R3 データ, R5 なし, R7 ID".
std::string describeDifferences(const TrackComparison& c);
