// Disk reading: one floppy, track by track, into a D88 image.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "core/console.h"
#include "core/tick.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "image/image_tracks.h"
#include "image/sector_kind.h"
#include "transfer/read_schedule.h"
#include "transfer/scheduled_read.h"
#include "transfer/sector_reports.h"
#include "transfer/track_reply.h"

namespace {

// Writes the whole header at image offset 0.
bool writeHeader(ImageFile& image, const d88::D88Header& header)
{
    uint8_t bytes[d88::kHeaderSize];
    header.encode(bytes);
    return image.seek(0, ImageFile::SeekFromImage) &&
           image.write(bytes, d88::kHeaderSize) == d88::kHeaderSize;
}

Outcome imageFailure(const ImageFile& image, int lastDone)
{
    Outcome o = Outcome::failed(Step::ImageWrite, Cause::FileError);
    o.systemError = image.systemError;
    o.lastDone = lastDone;
    return o;
}

void printSectorLines(const std::vector<SectorReport>& reports, const d88::TrackRecords& track)
{
    for (size_t i = 0; i < reports.size(); ++i) {
        const SectorReport& report = reports[i];
        console::out("%s %.2x %.2x %.2x %.2x  %.2x %.4x %.4x", report.mode ? "MFM" : "FM",
                     report.c, report.h, report.r, report.n, report.st0, report.offset,
                     report.length);
        switch (track[i].status) {
        case d88::kStatusDataCrc: console::out(" err:DATA CRC"); break;
        case d88::kStatusIdCrc: console::out(" err:ID CRC"); break;
        case d88::kStatusNoDataMark: console::out(" err:MAM"); break;
        default: break;
        }
        console::out("\n");
    }
    console::out("\n");
}

void addToSummary(const d88::TrackRecords& track, Summary* summary)
{
    if (track.empty()) {
        ++summary->unformattedTracks;
        return;
    }
    const SectorCounts counts = countSectors(track);
    ++summary->formattedTracks;
    summary->sectors += counts.sectors;
    summary->idCrcErrors += counts.idCrc;
    summary->dataCrcErrors += counts.dataCrc;
    summary->missingAddressMarks += counts.noAddressMark;
    summary->deletedSectors += counts.deleted;
}

} // namespace

int DiskClient::requestTrack(bool more, int next, uint8_t* reply, int* received)
{
    const uint8_t fast = fastReceive ? 1 : 0;
    // The command already names the track after the one it delivers: the agent
    // answers with the track named by the command before (begin names 0).
    uint8_t command[3] = {wire::kCmdReadTrack, static_cast<uint8_t>(next), fast};
    if (!more) {
        command[0] = wire::kCmdReadLastTrack;
        command[1] = fast;
    }
    *received = 0;
    const int code = sendPacket(command, 3, true, false);
    if (code != wire::kOk)
        return code;
    reply[0] = 0;   // an empty reply reads as an unformatted track
    return receivePacket(reply, kTrackBufferSize, fastReceive, received);
}

namespace {

// A track's best reply so far, until it can be appended in track order.
struct HeldTrack {
    d88::TrackRecords records;
    int bad = 0;
    int attempts = 0;
    bool final = false;
};

void printTrackLine(int count, int bad, int attempt, bool retryComing)
{
    if (count == 0) {
        console::out(" unformatted");
    } else {
        console::out(" %2d sectors", count);
        if (bad > 0 && (attempt > 1 || retryComing))
            console::out(", %d bad", bad);
    }
    if (attempt > 1)
        console::out(" (attempt %d)", attempt);
    else if (retryComing)
        console::out(", reading again");
    console::out(".\n");
}

} // namespace

Outcome DiskClient::readDisk(int drive, int requested, ImageFile& image, const ReadPlan& plan)
{
    const d88::D88Header* resume = plan.resume;
    medium = resume ? d88::mediumFor(resume->mediaType) : requested;
    if (caps.hasHdDrive == 0) {
        if (medium == d88::kMedium2DD || medium == d88::kMedium2HD) {
            console::out("この 88 は 2D 専用機です.\n");
            return Outcome::failed(Step::MediumQuery, Cause::Not2D);
        }
        medium = d88::kMedium2D;
    }
    Outcome failure;
    if (!queryMedium(drive, medium, false, &failure))
        return failure;
    if (resume && d88::mediaTypeFor(medium) != resume->mediaType) {
        sendEnd();
        Outcome o = Outcome::failed(Step::MediumQuery, Cause::OtherMedium);
        o.detail = medium;
        return o;
    }

    const int trackCount = d88::trackCountFor(medium);
    console::out("ディスクの種類は %s です.\n", d88::mediumName(medium));

    d88::D88Header header;
    int firstTrack = 0;
    d88::TrackRecords storedTrack0;
    if (resume) {
        header = *resume;
        firstTrack = std::min(header.tracksDone, trackCount);
        if (firstTrack > 0 && header.trackOffsets[0] != 0 &&
            !loadTrackRecords(image, header.trackOffsets[0], header.dataEnd, &storedTrack0)) {
            sendEnd();
            return Outcome::failed(Step::ImageRead, Cause::NotResumable);
        }
        if (!image.seek(static_cast<int32_t>(header.dataEnd), ImageFile::SeekFromImage))
            return imageFailure(image, -1);
    } else {
        // Provisional header: the marker tells the image walk that this image
        // is incomplete until the final rewrite; the progress record lets an
        // interrupted read go on later.
        std::memcpy(header.title, d88::kDefaultTitle, std::strlen(d88::kDefaultTitle));
        header.mediaType = d88::mediaTypeFor(medium);
        header.diskSize = d88::kInProgress;
        header.tracksDone = 0;
        header.dataEnd = d88::kHeaderSize;
        if (!writeHeader(image, header))
            return imageFailure(image, -1);
    }

    // Track 0 always comes first; a resumed read uses it only to check that
    // the floppy is the one it started with.
    std::vector<int> order;
    for (int t = firstTrack; t < trackCount; ++t)
        order.push_back(t);
    std::vector<int> tracks = order;
    if (firstTrack > 0)
        tracks.insert(tracks.begin(), 0);
    bool checkTrack0 = firstTrack > 0;
    ReadSchedule schedule(tracks, plan.retries);
    std::map<int, HeldTrack> held;
    size_t appended = 0;
    Summary summary;
    summary.resumedTracks = firstTrack;
    for (int t = 0; t < firstTrack; ++t) {
        d88::TrackRecords stored;
        if (header.trackOffsets[t] != 0 &&
            !loadTrackRecords(image, header.trackOffsets[t], header.dataEnd, &stored))
            return imageFailure(image, -1);
        addToSummary(stored, &summary);
    }
    if (!image.seek(static_cast<int32_t>(header.dataEnd), ImageFile::SeekFromImage))
        return imageFailure(image, -1);

    const uint32_t start = tickCount();
    // The resumed read's check is one reply, not retried: a weak sector is
    // left out of the comparison anyway.
    auto retry = [&](int t, const d88::TrackRecords& track) {
        return !(checkTrack0 && t == 0) && countBadSectors(track) > 0;
    };
    auto take = [&](const TrackDelivery& d, Outcome* stop) {
        const int t = d.track;
        const d88::TrackRecords& track = *d.records;
        if (checkTrack0 && t == 0) {
            checkTrack0 = false;
            console::out(track.empty() ? " unformatted" : " %2d sectors", int(track.size()));
            if (!sameTrack(track, storedTrack0)) {
                console::out(", not the disk read before.\n");
                sendEnd();
                *stop = Outcome::failed(Step::ReadTrack, Cause::OtherDisk, 0);
                return false;
            }
            console::out(", the disk read before.\n");
            if (firstTrack > 1)
                console::out("Track %3d-%3d: resumed.\n", 1, firstTrack - 1);
            return true;
        }
        const int bad = countBadSectors(track);
        printTrackLine(static_cast<int>(track.size()), bad, d.reply.attempt, !d.reply.final);
        if (verbose && !track.empty())
            printSectorLines(*d.reports, track);

        // Keep the reply with the fewest bad sectors, the first of equals.
        HeldTrack& h = held[t];
        if (d.reply.attempt == 1 || bad < h.bad) {
            h.records = track;
            h.bad = bad;
        }
        h.attempts = d.reply.attempt;
        h.final = d.reply.final;

        // Tracks go into the image in order, as soon as all before them are final.
        while (appended < order.size()) {
            const int a = order[appended];
            auto it = held.find(a);
            if (it == held.end() || !it->second.final)
                break;
            const HeldTrack& done = it->second;
            header.trackOffsets[a] =
                done.records.empty() ? 0 : static_cast<uint32_t>(image.tell());
            // The progress goes with every track: one header write, and back.
            header.tracksDone = a + 1;
            bool written = appendTrack(image, done.records);
            header.dataEnd = static_cast<uint32_t>(image.tell());
            written = written && writeHeader(image, header) &&
                      image.seek(static_cast<int32_t>(header.dataEnd), ImageFile::SeekFromImage);
            if (!written) {
                *stop = imageFailure(image, a - 1);
                return false;
            }
            addToSummary(done.records, &summary);
            if (done.attempts > 1)
                ++summary.retriedTracks;
            held.erase(it);
            ++appended;
        }
        return true;
    };
    Outcome read = readScheduled(*this, schedule, Step::ReadTrack, retry, take);
    if (!read.completed) {
        if (read.cause != Cause::FileError)
            read.lastDone = static_cast<int>(appended) + firstTrack - 1;
        return read;
    }
    console::out("%d ms.\n", static_cast<int>(tickCount() - start));

    header.diskSize = header.dataEnd;
    header.tracksDone = -1;   // a complete image has its reserved bytes zero
    if (!writeHeader(image, header))
        return imageFailure(image, trackCount - 1);
    summary.imageBytes = header.diskSize;

    return finishSequence(summary, trackCount - 1);
}
