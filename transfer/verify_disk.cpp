// The read-back of a verified write: the floppy read in the same connection,
// as a run of its own would read it, each track compared with the image's as
// it arrives.
#include <map>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/i18n.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "image/track_compare.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/read_loop.h"
#include "transfer/track_order.h"

Outcome DiskClient::readBack(int drive, const std::vector<d88::TrackRecords>& source,
                             const std::vector<int>& tracks,
                             std::map<int, TrackComparison>* results)
{
    const int first = tracks.empty() ? 0 : tracks.front();
    Outcome o = startSequence(Step::VerifyTrack, first);
    if (!o.completed)
        return o.in(Operation::VerifyReadBack);
    const int written = medium;
    if (!queryMedium(drive, written, false, &o, false))
        return o.in(Operation::VerifyReadBack);
    medium = written;

    CompareRules rules;
    rules.loadBudget = wire::kTrackDataSize;
    ReadSchedule schedule(tracks, 0);
    int lastDone = -1;
    auto noRetry = [](int, const d88::TrackRecords&) { return false; };
    auto take = [&](const TrackDelivery& d, Outcome*) {
        const d88::TrackRecords& track = *d.records;
        const TrackComparison c = compareTrack(source[static_cast<size_t>(d.track)], track, rules);
        if (track.empty())
            console::out(" unformatted");
        else
            console::out(" %2d sectors", static_cast<int>(track.size()));
        if (!c.matches())
            console::out(", differs: %s.\n", describeDifferences(c).c_str());
        else if (c.noUsableSector)
            console::out(", nothing to verify.\n");
        else
            console::out(", verified.\n");
        (*results)[d.track] = c;
        lastDone = d.track;
        return true;
    };
    o = readScheduled(*this, schedule, Step::VerifyTrack, noRetry, take);
    if (!o.completed) {
        o.lastDone = lastDone;
        return o.in(Operation::VerifyReadBack);
    }
    return finishSequence(Outcome::done(Operation::VerifyReadBack), lastDone);
}
