// Disk reading: one floppy, track by track, into a D88 image.
#include <cstring>
#include <vector>

#include "core/console.h"
#include "core/interrupt.h"
#include "core/tick.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
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
    const TrackCounts counts = countSectors(track);
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

Outcome DiskClient::readDisk(int drive, int requested, ImageFile& image)
{
    medium = requested;
    if (caps.hasHdDrive == 0) {
        if (medium == 1 || medium == 3) {
            console::out("この 88 は 2D 専用機です.\n");
            return Outcome::failed(Step::MediumQuery, Cause::Not2D);
        }
        medium = 0;
    }
    Outcome failure;
    if (!queryMedium(drive, medium, false, &failure))
        return failure;

    const int trackCount = d88::trackCountFor(medium);
    console::out("ディスクの種類は %s です.\n", d88::mediumName(medium));

    // Provisional header: the marker tells the image walk that this image is
    // incomplete until the final rewrite below.
    d88::D88Header header;
    std::memcpy(header.title, d88::kDefaultTitle, std::strlen(d88::kDefaultTitle));
    header.mediaType = d88::mediaTypeFor(medium);
    header.diskSize = d88::kInProgress;
    if (!writeHeader(image, header))
        return imageFailure(image, -1);

    const uint8_t begin[2] = {wire::kCmdBeginRead, 0x00};
    uint8_t ignored = 0;
    int code = sendPacket(begin, 2, true, false);
    if (code == wire::kOk)
        code = receivePacket(&ignored, 1, false);
    if (code != wire::kOk)
        return linkFailure(Step::Begin, code);

    Summary summary;
    std::vector<uint8_t> reply(kTrackBufferSize);
    d88::TrackRecords track;
    std::vector<SectorReport> reports;
    const uint32_t start = tickCount();
    for (int t = 0; t < trackCount; ++t) {
        // A Ctrl-C lets the track in flight finish and starts no new one.
        if (interrupts::stopRequested()) {
            Outcome o = Outcome::failed(Step::ReadTrack, Cause::Interrupted, t);
            o.lastDone = t - 1;
            return o;
        }
        header.trackOffsets[t] = static_cast<uint32_t>(image.tell());
        console::out("Track %3d:", t);
        int received = 0;
        code = requestTrack(t < trackCount - 1, t + 1, reply.data(), &received);
        if (code != wire::kOk) {
            console::out("\n");
            Outcome o = linkFailure(Step::ReadTrack, code, t);
            o.lastDone = t - 1;
            return o;
        }
        const int count = received > 0 ? reply[0] : 0;
        if (count == 0) {
            console::out(" unformatted.\n");
            header.trackOffsets[t] = 0;
            ++summary.unformattedTracks;
            continue;
        }
        console::out(" %2d sectors.\n", count);
        if (!decodeTrackReply(reply.data(), received, t, &track, &reports)) {
            if (verbose)
                console::out("track %d: sector reports or data lie outside the reply\n", t);
            Outcome o = Outcome::failed(Step::ReadTrack, Cause::BadReply, t);
            o.lastDone = t - 1;
            return o;
        }
        if (verbose)
            printSectorLines(reports, track);
        if (!appendTrack(image, track))
            return imageFailure(image, t - 1);
        addToSummary(track, &summary);
    }
    console::out("%d ms.\n", static_cast<int>(tickCount() - start));

    header.diskSize = static_cast<uint32_t>(image.tell());
    if (!writeHeader(image, header))
        return imageFailure(image, trackCount - 1);
    summary.imageBytes = header.diskSize;

    code = sendEnd();
    if (code != wire::kOk) {
        // The image is complete; only the agent may not be ready for the next run.
        Outcome o = linkFailure(Step::End, code);
        o.lastDone = trackCount - 1;
        o.summary = summary;
        return o;
    }
    return Outcome::done(summary);
}
