// Disk writing: puts a D88 image back onto a floppy, one write-track command
// and one track payload per track. The agent formats each track to the
// payload's layout and writes its sectors.
#include <cstring>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/i18n.h"
#include "core/interrupt.h"
#include "image/d88.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/sector_desc.h"

Outcome DiskClient::writeTracks(ImageFile& image, const uint8_t* header,
                                const std::vector<int>& tracks, Operation operation, int* written)
{
    std::vector<SectorDesc> descs(kMaxRecords);
    std::vector<uint8_t> data(kTrackDataSize);
    std::vector<uint8_t> payload(kPayloadSize);
    int lastDone = -1;
    for (int t : tracks) {
        // A Ctrl-C lets the track in flight finish and starts no new one.
        if (interrupts::stopRequested()) {
            Outcome o = Outcome::failed(Step::WriteTrack, Cause::Interrupted, t);
            o.lastDone = lastDone;
            return o.in(operation);
        }
        console::out("Track %3d:", t);
        const uint32_t offset = trackDataOffset(header, t);
        int count = 0;
        if (offset == 0) {
            console::out(" unformatted");
        } else {
            if (!loadTrack(image, offset, descs.data(), data.data(), &count)) {
                // The check before the first prompt walked these records; only
                // a file changed under us gets here.
                console::out("\n");
                Outcome o = Outcome::failed(Step::ImageRead, Cause::DamagedImage, t);
                o.lastDone = lastDone;
                return o.in(operation);
            }
            console::out(" %2d sectors", count);
        }

        const int length = buildTrackPayload(payload.data(), descs.data(), count);
        const uint8_t command[4] = {wire::kCmdWriteTrack, static_cast<uint8_t>(t),
                                    static_cast<uint8_t>(length & 0xFF),
                                    static_cast<uint8_t>(length >> 8)};
        int code = sendPacket(command, 4, true, false);
        if (code == wire::kOk)
            code = sendPacket(payload.data(), length, false, true);
        // The reply byte is not examined: the agent's codes for a track it
        // could not write are not known to this side.
        uint8_t reply = 0;
        if (code == wire::kOk)
            code = receivePacket(&reply, 1, false);
        if (code != wire::kOk) {
            console::out("\n");
            Outcome o = linkFailure(Step::WriteTrack, code, t);
            o.lastDone = lastDone;
            return o.in(operation);
        }
        console::out(".\n");
        ++*written;
        lastDone = t;
    }
    return Outcome::done(operation);
}

namespace {

Outcome imageFault(Step step, Cause cause, int where, const std::string& file)
{
    Outcome o = Outcome::failed(step, cause, where).in(Operation::Write);
    o.file = file;
    return o;
}

} // namespace

Outcome DiskClient::writeDisk(int drive, ImageFile& image, bool verify, const std::string& file)
{
    uint8_t header[d88::kHeaderSize];
    if (image.read(header, d88::kHeaderSize) != d88::kHeaderSize) {
        console::err(tr("指定されたディスクがありません.\n"));
        return imageFault(Step::ImageOpen, Cause::NoImage, -1, file);
    }
    d88::repairHeader(header);
    medium = d88::mediumFor(header[d88::kMediaType]);
    const int trackCount = d88::trackCountFor(medium);

    const char* title = reinterpret_cast<const char*>(header + d88::kTitle);
    console::out(tr("[%s] (%s) を書き戻します.\n"),
                 console::fromCp932(std::string(title, strnlen(title, d88::kTitleLength))).c_str(),
                 d88::mediumName(medium));

    // Everything the track loop will read is walked once here, so a damaged
    // image stops before the floppy in the drive is touched.
    const ImageCheck check = checkImage(image, header, trackCount);
    if (check.state != ImageState::Sound)
        return imageFault(Step::ImageRead, Cause::DamagedImage, check.track, file);

    if (capabilities().hasHdDrive == 0 && medium != d88::kMedium2D) {
        console::out(tr("この機種では %s のディスクイメージは書き戻しできません．\n"),
                     d88::mediumName(medium));
        return Outcome::failed(Step::MediumQuery, Cause::Not2D).in(Operation::Write);
    }

    Outcome failure;
    if (!queryMedium(drive, medium, true, &failure))
        return failure.in(Operation::Write);
    Outcome outcome;
    if (verify) {
        outcome = verifiedWrite(drive, image, header, trackCount);
    } else {
        std::vector<int> tracks;
        for (int t = 0; t < trackCount; ++t)
            tracks.push_back(t);
        WriteSummary summary;
        outcome = writeTracks(image, header, tracks, Operation::Write, &summary.tracksWritten);
        if (outcome.completed)
            outcome = finishSequence(summary, trackCount - 1);
        outcome.write.wireBytes = bytesWritten();
    }
    // The track loops read the image too: a file changed under them names it.
    if (outcome.side() == Side::ImageFile)
        outcome.file = file;
    return outcome;
}
