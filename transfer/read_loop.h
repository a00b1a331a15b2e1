#pragma once
// The loop that both a disk read and the read-back of a verified write run:
// it sends the begin and read-track commands a ReadSchedule (track_order.h)
// asks for, decodes each reply, and hands the ones the schedule uses to the
// caller. The end command follows it (DiskClient::finishSequence).
#include <functional>
#include <vector>

#include "core/outcome.h"
#include "image/d88.h"
#include "transfer/track_order.h"
#include "transfer/sector_reports.h"

class DiskClient;

// One reply the schedule uses.
struct TrackDelivery {
    int track = -1;
    const d88::TrackRecords* records = nullptr;
    const std::vector<SectorReport>* reports = nullptr;
    ReadSchedule::Reply reply;
};

// Runs the schedule to its end. "Track %3d:" is printed before each command
// whose reply will be used; `take` ends the line. `retry` says whether a
// reply is worth reading again; `take` returns false, with *stop filled, to
// end the read. `begun` (when given) runs once, after the first begin
// command's reply. A failure's step is `step` (with the track) and its lastDone
// is -1: the caller knows what was done.
Outcome readScheduled(DiskClient& client, ReadSchedule& schedule, Step step,
                      const std::function<bool(int, const d88::TrackRecords&)>& retry,
                      const std::function<bool(const TrackDelivery&, Outcome*)>& take,
                      const std::function<void()>& begun = {});
