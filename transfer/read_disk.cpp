// Disk reading: one floppy, track by track, into a D88 image. The image
// starts with a provisional header (or goes on from an interrupted one), the
// tracks go in in order as their best reply becomes final, and the header is
// rewritten with every track and once more at the end.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "core/console.h"
#include "core/i18n.h"
#include "core/tick.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "image/image_tracks.h"
#include "image/sector_kind.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/read_loop.h"
#include "transfer/sector_reports.h"
#include "transfer/track_order.h"
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

void printSectorLines(const std::vector<SectorReport>& reports, const d88::TrackRecords& track)
{
    for (size_t i = 0; i < reports.size(); ++i) {
        const SectorReport& report = reports[i];
        console::out("%s %.2x %.2x %.2x %.2x  %.2x %.4x %.4x", report.mode ? "MFM" : "FM", report.c,
                     report.h, report.r, report.n, report.st0, report.offset, report.length);
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

void addToSummary(const d88::TrackRecords& track, ReadSummary* summary)
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

// The image side of one read: its header, where the data goes on, and what a
// failure of the image file says.
struct ReadImage {
    ReadImage(ImageFile& file, const ReadPlan& plan) : file(file), plan(plan)
    {
        summary.file = plan.file;
        summary.imageIndex = plan.imageIndex;
        summary.retriesAsked = plan.retries > 0;
    }

    ImageFile& file;
    const ReadPlan& plan;
    d88::D88Header header;
    ReadSummary summary;
    int firstTrack = 0;             // the first track this run reads into the image
    d88::TrackRecords storedTrack0; // a resumed read's track 0, to check the floppy by

    Outcome failure(Step step, Cause cause, int lastDone) const
    {
        Outcome o = Outcome::failed(step, cause).in(Operation::Read);
        o.systemError = file.systemError;
        o.file = plan.file;
        o.lastDone = lastDone;
        o.read = summary;
        return o;
    }
    Outcome writeFailure(int lastDone) const
    {
        return failure(Step::ImageWrite, Cause::FileError, lastDone);
    }
};

// The resume point: a resumed read takes its header, its tracks' counts and
// track 0 from the interrupted image and goes on at its end of data; a new
// read writes the provisional header. False with *failure filled.
bool openImage(ReadImage& image, int medium, int trackCount, Outcome* failure)
{
    d88::D88Header& header = image.header;
    if (const d88::D88Header* resume = image.plan.resume) {
        header = *resume;
        image.firstTrack = std::min(header.tracksDone, trackCount);
        image.summary.resumedTracks = image.firstTrack;
        for (int t = 0; t < image.firstTrack; ++t) {
            d88::TrackRecords stored;
            if (header.trackOffsets[t] != 0 &&
                !loadTrackRecords(image.file, header.trackOffsets[t], header.dataEnd, &stored)) {
                *failure = t == 0 ? image.failure(Step::ImageRead, Cause::NotResumable, -1)
                                  : image.writeFailure(-1);
                return false;
            }
            addToSummary(stored, &image.summary);
            if (t == 0)
                image.storedTrack0 = stored;
        }
    } else {
        // The marker tells the image walk that this image is incomplete until
        // the final rewrite; the progress record lets an interrupted read go on.
        std::memcpy(header.title, d88::kDefaultTitle, std::strlen(d88::kDefaultTitle));
        header.mediaType = d88::mediaTypeFor(medium);
        header.diskSize = d88::kInProgress;
        header.tracksDone = 0;
        header.dataEnd = d88::kHeaderSize;
        if (!writeHeader(image.file, header)) {
            *failure = image.writeFailure(-1);
            return false;
        }
    }
    image.summary.imageStarted = true;
    if (!image.file.seek(static_cast<int32_t>(header.dataEnd), ImageFile::SeekFromImage)) {
        *failure = image.writeFailure(-1);
        return false;
    }
    return true;
}

// Holds each track's best reply until every track before it is final, then
// appends the tracks in order, the progress in the header with each.
class TrackAppender {
public:
    TrackAppender(ReadImage& image, std::vector<int> order) : image(image), order(std::move(order))
    {
    }

    // Keeps the reply with the fewest bad sectors, the first of equals.
    void offer(int t, const d88::TrackRecords& track, int bad, const ReadSchedule::Reply& reply)
    {
        Held& h = held[t];
        if (reply.attempt == 1 || bad < h.bad) {
            h.records = track;
            h.bad = bad;
        }
        h.attempts = reply.attempt;
        h.final = reply.final;
    }

    // Appends every track whose turn has come. False when the image refused
    // a write; lastAppended() says how far it got.
    bool flush()
    {
        d88::D88Header& header = image.header;
        while (appended < order.size()) {
            const int t = order[appended];
            auto it = held.find(t);
            if (it == held.end() || !it->second.final)
                return true;
            const Held& done = it->second;
            header.trackOffsets[t] =
                done.records.empty() ? 0 : static_cast<uint32_t>(image.file.tell());
            header.tracksDone = t + 1;
            bool written = appendTrack(image.file, done.records);
            header.dataEnd = static_cast<uint32_t>(image.file.tell());
            written =
                written && writeHeader(image.file, header) &&
                image.file.seek(static_cast<int32_t>(header.dataEnd), ImageFile::SeekFromImage);
            if (!written)
                return false;
            addToSummary(done.records, &image.summary);
            image.summary.retriedTracks += done.attempts > 1;
            held.erase(it);
            ++appended;
        }
        return true;
    }

    int lastAppended() const { return static_cast<int>(appended) + image.firstTrack - 1; }

private:
    struct Held {
        d88::TrackRecords records;
        int bad = 0;
        int attempts = 0;
        bool final = false;
    };
    ReadImage& image;
    const std::vector<int> order;
    std::map<int, Held> held;
    size_t appended = 0;
};

// A resumed read's first reply: the floppy's track 0 against the stored one.
bool sameFloppy(const d88::TrackRecords& track, const ReadImage& image)
{
    console::out(track.empty() ? " unformatted" : " %2d sectors", int(track.size()));
    if (!sameTrack(track, image.storedTrack0)) {
        console::out(", not the disk read before.\n");
        return false;
    }
    console::out(", the disk read before.\n");
    if (image.firstTrack > 1)
        console::out("Track %3d-%3d: resumed.\n", 1, image.firstTrack - 1);
    return true;
}

// The medium query of a read: the medium asked for, a resumed read's own, 2D
// on a 2D-only machine; the agent's answer in client.medium. False with
// *failure filled.
bool selectMedium(DiskClient& client, int drive, int requested, const d88::D88Header* resume,
                  Outcome* failure)
{
    int& medium = client.medium;
    medium = resume ? d88::mediumFor(resume->mediaType) : requested;
    if (client.capabilities().hasHdDrive == 0) {
        if (medium == d88::kMedium2DD || medium == d88::kMedium2HD) {
            console::out(tr("この 88 は 2D 専用機です.\n"));
            *failure = Outcome::failed(Step::MediumQuery, Cause::Not2D);
            return false;
        }
        medium = d88::kMedium2D;
    }
    if (!client.queryMedium(drive, medium, false, failure))
        return false;
    if (resume && d88::mediaTypeFor(medium) != resume->mediaType) {
        client.sendEnd();
        *failure = Outcome::failed(Step::MediumQuery, Cause::OtherMedium);
        failure->mediumAnswer = medium;
        return false;
    }
    return true;
}

} // namespace

Outcome DiskClient::readDisk(int drive, int requested, ImageFile& file, const ReadPlan& plan)
{
    Outcome failure;
    if (!selectMedium(*this, drive, requested, plan.resume, &failure))
        return failure.in(Operation::Read);
    const int trackCount = d88::trackCountFor(medium);
    console::out(tr("ディスクの種類は %s です.\n"), d88::mediumName(medium));

    ReadImage image(file, plan);
    if (!openImage(image, medium, trackCount, &failure)) {
        if (failure.cause == Cause::NotResumable)
            sendEnd();
        return failure;
    }

    // Track 0 always comes first; a resumed read uses it only to check that
    // the floppy is the one it started with, from one reply, not retried: a
    // weak sector is left out of the comparison anyway.
    std::vector<int> order;
    for (int t = image.firstTrack; t < trackCount; ++t)
        order.push_back(t);
    std::vector<int> tracks = order;
    bool checkTrack0 = image.firstTrack > 0;
    if (checkTrack0)
        tracks.insert(tracks.begin(), 0);
    ReadSchedule schedule(tracks, plan.retries);
    TrackAppender appender(image, order);

    uint32_t start = 0;
    auto retry = [&](int t, const d88::TrackRecords& track) {
        return !(checkTrack0 && t == 0) && countBadSectors(track) > 0;
    };
    auto take = [&](const TrackDelivery& d, Outcome* stop) {
        const d88::TrackRecords& track = *d.records;
        if (checkTrack0 && d.track == 0) {
            checkTrack0 = false;
            if (sameFloppy(track, image))
                return true;
            sendEnd();
            *stop = Outcome::failed(Step::ReadTrack, Cause::OtherDisk, 0).in(Operation::Read);
            return false;
        }
        const int bad = countBadSectors(track);
        printTrackLine(static_cast<int>(track.size()), bad, d.reply.attempt, !d.reply.final);
        if (verbose && !track.empty())
            printSectorLines(*d.reports, track);
        appender.offer(d.track, track, bad, d.reply);
        if (appender.flush())
            return true;
        *stop = image.writeFailure(appender.lastAppended());
        return false;
    };
    // The time of the read proper: from the begin command's reply on.
    auto begun = [&] { start = tickCount(); };
    Outcome read = readScheduled(*this, schedule, Step::ReadTrack, retry, take, begun);
    if (!read.completed) {
        read.operation = Operation::Read;
        if (read.cause != Cause::FileError)
            read.lastDone = appender.lastAppended();
        read.read = image.summary;
        return read;
    }
    console::out("%d ms.\n", static_cast<int>(tickCount() - start));

    image.header.diskSize = image.header.dataEnd;
    image.header.tracksDone = -1; // a complete image has its reserved bytes zero
    if (!writeHeader(file, image.header))
        return image.writeFailure(trackCount - 1);
    image.summary.imageBytes = image.header.diskSize;
    return finishSequence(image.summary, trackCount - 1);
}
