// Disk writing: puts a D88 image back onto a floppy, one write-track command
// and one track payload per track. The agent formats each track to the
// payload's layout and writes its sectors.
#include <cstring>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/interrupt.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "image/image_check.h"
#include "transfer/sector_desc.h"

Outcome DiskClient::writeTracks(ImageFile& image, const uint8_t* header,
                                const std::vector<int>& tracks, Summary* summary)
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
            return o;
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
                return o;
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
            return o;
        }
        console::out(".\n");
        ++summary->tracksWritten;
        lastDone = t;
    }
    return Outcome::done(*summary);
}

Outcome DiskClient::writeDisk(int drive, ImageFile& image, bool verify)
{
    uint8_t header[d88::kHeaderSize];
    if (image.read(header, d88::kHeaderSize) != d88::kHeaderSize) {
        console::err("指定されたディスクがありません.\n");
        return Outcome::failed(Step::ImageOpen, Cause::NoImage);
    }
    d88::repairHeader(header);
    medium = d88::mediumFor(header[d88::kMediaType]);
    const int trackCount = d88::trackCountFor(medium);

    // The title is CP932 bytes, up to 16 of them and up to a NUL.
    const std::string title(reinterpret_cast<const char*>(header + d88::kTitle),
                            strnlen(reinterpret_cast<const char*>(header + d88::kTitle), d88::kTitleLength));
    console::out("[%s] (%s) を書き戻します.\n", console::fromCp932(title).c_str(),
                 d88::mediumName(medium));

    // Everything the track loop will read is walked once here, so a damaged
    // image stops before the floppy in the drive is touched.
    const ImageCheck check = checkImage(image, header, trackCount);
    if (check.state != ImageState::Sound)
        return Outcome::failed(Step::ImageRead, Cause::DamagedImage, check.track);

    if (capabilities().hasHdDrive == 0 && medium != d88::kMedium2D) {
        console::out("この機種では %s のディスクイメージは書き戻しできません．\n",
                     d88::mediumName(medium));
        return Outcome::failed(Step::MediumQuery, Cause::Not2D);
    }

    Outcome failure;
    if (!queryMedium(drive, medium, true, &failure))
        return failure;

    std::vector<int> tracks;
    for (int t = 0; t < trackCount; ++t)
        tracks.push_back(t);
    Summary summary;
    Outcome outcome = writeTracks(image, header, tracks, &summary);
    if (!outcome.completed)
        return outcome;

    outcome = finishSequence(summary, trackCount - 1);
    if (!outcome.completed)
        return outcome;
    if (verify) {
        outcome = verifyDisk(drive, image, header, &summary);
        if (!outcome.completed)
            return outcome;
    }
    summary.wireBytes = bytesWritten();
    return Outcome::done(summary);
}
