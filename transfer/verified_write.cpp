// Verified writes: every track written, the floppy read back and compared
// with the image, the tracks that differ written once more and read back
// again, those alone. Each phase is its own command sequence on the one
// connection; a failure in any of them says what had been written.
#include <cstdio>
#include <map>
#include <vector>

#include "core/console.h"
#include "image/image_file.h"
#include "image/image_tracks.h"
#include "image/track_compare.h"
#include "link/disk_client.h"

namespace {

std::vector<int> differingTracks(const std::map<int, TrackComparison>& results)
{
    std::vector<int> differing;
    for (const auto& r : results)
        if (!r.second.matches())
            differing.push_back(r.first);
    return differing;
}

// A phase's failure, with what the phases before it wrote.
Outcome withWritten(Outcome o, const WriteSummary& summary)
{
    o.write = summary;
    return o;
}

// The closing's verdict from the comparisons of every track.
Outcome verdict(std::map<int, TrackComparison>& results, int trackCount, WriteSummary summary)
{
    VerifySummary& v = summary.verify;
    for (const auto& r : results) {
        const TrackComparison& c = r.second;
        v.tracksUnverifiable += c.noUsableSector;
        v.sectorsLeftOut += c.leftOut;
        v.extraSectors += static_cast<int>(c.extra.size());
    }
    v.tracksVerified = trackCount - v.tracksUnverifiable;
    const std::vector<int> differing = differingTracks(results);
    v.tracksDiffering = static_cast<int>(differing.size());
    if (differing.empty()) {
        v.verified = true;
        return Outcome::done(summary);
    }
    Outcome mismatch = Outcome::failed(Step::VerifyTrack, Cause::VerifyMismatch, differing.front());
    mismatch.operation = Operation::VerifyReadBack;
    for (int t : differing) {
        char line[64];
        std::snprintf(line, sizeof line, tr("トラック %d: "), t);
        mismatch.notes.push_back(line + describeDifferences(results[t]));
    }
    return withWritten(mismatch, summary);
}

} // namespace

Outcome DiskClient::verifiedWrite(int drive, ImageFile& image, const uint8_t* header,
                                  int trackCount)
{
    WriteSummary summary;
    std::vector<int> all;
    for (int t = 0; t < trackCount; ++t)
        all.push_back(t);
    Outcome o = writeTracks(image, header, all, Operation::Write, &summary.tracksWritten);
    if (o.completed)
        o = finishSequence(Outcome::done(Operation::Write), trackCount - 1);
    if (!o.completed)
        return o;

    ImageTracks source;
    if (!loadImageTracks(image, &source) || source.check.state != ImageState::Sound)
        return withWritten(Outcome::failed(Step::ImageRead, Cause::DamagedImage, source.check.track)
                               .in(Operation::VerifyReadBack),
                           summary);

    console::out(tr("書き込んだディスクを読み返して照合します.\n"));
    std::map<int, TrackComparison> results;
    o = readBack(drive, source.tracks, all, &results);
    if (!o.completed)
        return withWritten(o, summary);

    const std::vector<int> differing = differingTracks(results);
    if (!differing.empty()) {
        console::out(tr("一致しない %d トラックを書き直します.\n"), static_cast<int>(differing.size()));
        o = startSequence(Step::WriteTrack, differing.front());
        if (o.completed && !queryMedium(drive, medium, true, &o, false))
            o.completed = false;
        if (o.completed)
            o = writeTracks(image, header, differing, Operation::VerifyRewrite,
                            &summary.verify.tracksRewritten);
        if (o.completed)
            o = finishSequence(Outcome::done(Operation::VerifyRewrite), differing.back());
        if (!o.completed)
            return withWritten(o.in(Operation::VerifyRewrite), summary);
        console::out(tr("書き直したトラックを読み返して照合します.\n"));
        o = readBack(drive, source.tracks, differing, &results);
        if (!o.completed)
            return withWritten(o, summary);
    }
    summary.wireBytes = bytesWritten();
    return verdict(results, trackCount, summary);
}
