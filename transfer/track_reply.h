#pragma once
// A track reply of the agent turned into sector records, and sector records
// appended to an image as D88 records.
//
//  reply   0 n (sectors)  1 reports[n] (12 bytes each, delta-coded)  1+12n data area
#include <cstdint>
#include <vector>

#include "image/d88.h"
#include "transfer/sector_reports.h"

class ImageFile;

// Decodes a reply of `received` bytes for track t. The records' data comes
// from the data area at each report's offset; sectors whose status carries no
// data (ID CRC error, missing data mark) get none. False when the reports or a
// sector's data lie outside what arrived: nothing of such a track is trusted.
// *reports (when given) receives the decoded reports, for verbose lines.
bool decodeTrackReply(const uint8_t* reply, int received, int t, d88::TrackRecords* track,
                      std::vector<SectorReport>* reports = nullptr);

// Appends the track's records at the current position; false when the file
// refused a write (ImageFile's systemError says why).
bool appendTrack(ImageFile& image, const d88::TrackRecords& track);

// Sectors with a CRC error in the ID or the data field, or a missing address mark.
int countBadSectors(const d88::TrackRecords& track);

// The same floppy: the same IDs and densities in the same order, and the same
// data wherever both reads found a sector without error.
bool sameTrack(const d88::TrackRecords& a, const d88::TrackRecords& b);
