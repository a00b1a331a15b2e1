#include "sim/medium_faults.h"

#include "sim/d88_file.h"
#include "sim/track_reply.h"

namespace sim {

namespace {

void invert(Sector* s)
{
    for (uint8_t& b : s->data)
        b = static_cast<uint8_t>(~b);
}

} // namespace

std::vector<uint8_t> MediumFaults::trackReply(const Floppy& disk, int t,
                                              std::vector<FaultAction>* acted)
{
    if (t < 0 || t >= Floppy::kTracks)
        return disk.trackReply(t);
    const int read = ++reads[t];
    std::vector<Sector> sectors = disk.track(t);
    std::vector<bool> spoiled(sectors.size(), false);
    for (const MediumFault& f : faults) {
        if (f.track != t || f.kind == MediumFault::Kind::FlakyWrite)
            continue;
        if (f.kind == MediumFault::Kind::WeakSector && read > f.count)
            continue;
        for (size_t i = 0; i < sectors.size(); ++i) {
            if (sectors[i].r != f.sector || spoiled[i])
                continue;
            // A bad sector and a weak one on the same R spoil it once.
            spoiled[i] = true;
            sectors[i].status = d88::kStatusDataCrc;
            invert(&sectors[i]);
            acted->push_back({f.kind, t, f.sector, read});
        }
    }
    return encodeTrackReply(t, sectors);
}

uint8_t MediumFaults::writeTrack(Floppy& disk, int t, const uint8_t* payload, size_t length,
                                 std::vector<std::string>* violations,
                                 std::vector<FaultAction>* acted)
{
    const uint8_t result = disk.writeTrack(t, payload, length, violations);
    const bool stored = result == Floppy::kWriteOk || result == Floppy::kWriteLost;
    if (!stored || disk.track(t).empty())
        return result;
    const int write = ++writes[t];
    for (const MediumFault& f : faults) {
        if (f.kind == MediumFault::Kind::FlakyWrite && f.track == t && write <= f.count) {
            Sector& first = disk.track(t).front();
            invert(&first);
            acted->push_back({f.kind, t, first.r, write});
            break;
        }
    }
    return result;
}

} // namespace sim
