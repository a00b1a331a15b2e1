// Verified writes: once every track is written and the end command sent, the
// floppy is read back in the same connection, as a run of its own would read
// it, and compared with the image. Tracks that differ are written once more
// and read back again, those alone.
#include <map>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "image/image_tracks.h"
#include "transfer/read_schedule.h"
#include "transfer/scheduled_read.h"
#include "image/track_compare.h"

namespace {

// A new command sequence on the same connection: the agent serves run after
// run, so it gets the hello a new run would send, and must answer it as it
// answered the first.
Outcome startSequence(DiskClient& client, Step step, int where)
{
    Capabilities again;
    const int code = client.hello(&again);
    if (code != wire::kOk)
        return client.linkFailure(step, code, where);
    if (!(again == client.capabilities())) {
        if (verbose)
            console::out("the agent's capability record changed between sequences\n");
        return Outcome::failed(step, Cause::BadReply, where);
    }
    return Outcome::done();
}

} // namespace

Outcome DiskClient::readBack(int drive, const std::vector<d88::TrackRecords>& source,
                             const std::vector<int>& tracks,
                             std::map<int, TrackComparison>* results)
{
    const int first = tracks.empty() ? 0 : tracks.front();
    Outcome o = startSequence(*this, Step::VerifyTrack, first);
    if (!o.completed)
        return o;
    const int written = medium;
    if (!queryMedium(drive, written, false, &o, false))
        return o;
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
        return o;
    }
    return finishSequence(Summary(), lastDone);
}

Outcome DiskClient::verifyDisk(int drive, ImageFile& image, const uint8_t* header,
                               Summary* summary)
{
    ImageTracks source;
    if (!loadImageTracks(image, &source) || source.check.state != ImageState::Sound)
        return Outcome::failed(Step::ImageRead, Cause::DamagedImage, source.check.track);
    const int trackCount = source.trackCount;

    console::out("書き込んだディスクを読み返して照合します.\n");
    std::vector<int> all;
    for (int t = 0; t < trackCount; ++t)
        all.push_back(t);
    std::map<int, TrackComparison> results;
    Outcome o = readBack(drive, source.tracks, all, &results);
    if (!o.completed)
        return o;

    std::vector<int> differing;
    for (const auto& r : results)
        if (!r.second.matches())
            differing.push_back(r.first);
    if (!differing.empty()) {
        console::out("一致しない %d トラックを書き直します.\n", static_cast<int>(differing.size()));
        o = startSequence(*this, Step::WriteTrack, differing.front());
        if (!o.completed)
            return o;
        if (!queryMedium(drive, medium, true, &o, false))
            return o;
        Summary rewrite;
        o = writeTracks(image, header, differing, &rewrite);
        if (!o.completed)
            return o;
        summary->tracksRewritten = rewrite.tracksWritten;
        o = finishSequence(rewrite, differing.back());
        if (!o.completed)
            return o;
        console::out("書き直したトラックを読み返して照合します.\n");
        o = readBack(drive, source.tracks, differing, &results);
        if (!o.completed)
            return o;
        differing.clear();
        for (const auto& r : results)
            if (!r.second.matches())
                differing.push_back(r.first);
    }

    for (const auto& r : results) {
        const TrackComparison& c = r.second;
        summary->tracksUnverifiable += c.noUsableSector;
        summary->sectorsLeftOut += c.leftOut;
        summary->extraSectors += static_cast<int>(c.extra.size());
    }
    summary->tracksVerified = trackCount - summary->tracksUnverifiable;
    summary->tracksDiffering = static_cast<int>(differing.size());
    if (differing.empty()) {
        summary->verified = true;
        return Outcome::done(*summary);
    }
    Outcome mismatch = Outcome::failed(Step::VerifyTrack, Cause::VerifyMismatch, differing.front());
    for (int t : differing) {
        char line[64];
        std::snprintf(line, sizeof line, "トラック %d: ", t);
        mismatch.notes.push_back(line + describeDifferences(results[t]));
    }
    mismatch.summary = *summary;
    return mismatch;
}
