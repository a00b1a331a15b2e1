#pragma once
// Faults of the disk itself (--flaky-write, --bad-sector, --weak-sector): a
// track that does not take its first writes, a sector that never reads back,
// a sector that reads back only after a few tries. They act on whichever
// drive is read or written; their counts run over the whole run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/floppy.h"
#include "sim/sim_options.h"

namespace sim {

// One fault at work, for the log.
struct FaultAction {
    MediumFault::Kind kind;
    int track;
    int sector;   // R of the sector spoiled
    int count;    // the how-many-th write (FlakyWrite) or read (WeakSector) of the track
};

class MediumFaults {
public:
    explicit MediumFaults(std::vector<MediumFault> faults) : faults(std::move(faults)) {}

    // The reply for track t of disk. A bad sector, and a weak one on its first
    // reads, goes out as a data CRC error (D88 status 0xB0) with every data
    // byte inverted; the disk itself keeps what was written.
    std::vector<uint8_t> trackReply(const Floppy& disk, int t, std::vector<FaultAction>* acted);

    // disk.writeTrack; then, while a flaky write of track t is due and the
    // write left sectors, the first sector's data is stored inverted (the
    // reply byte still says the write went well).
    uint8_t writeTrack(Floppy& disk, int t, const uint8_t* payload, size_t length,
                       std::vector<std::string>* violations, std::vector<FaultAction>* acted);

private:
    std::vector<MediumFault> faults;
    int reads[Floppy::kTracks] = {};
    int writes[Floppy::kTracks] = {};
};

} // namespace sim
