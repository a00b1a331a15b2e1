// Disk writing: puts a D88 image back onto a floppy, one write-track command
// and one track payload per track. The agent formats each track to the
// payload's layout and writes its sectors; the PC never reads the disk back.
#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "core/console.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/image_check.h"
#include "transfer/sector_desc.h"

namespace
{

void reportDamage(const ImageCheck& check)
{
    if (check.state == ImageState::BadTrack)
        console::err("ディスクイメージが壊れています (トラック %d).\n", check.track);
    else
        console::err("ディスクイメージが壊れています.\n");
}

} // namespace

bool DiskClient::writeDisk(int drive, ImageFile& image)
{
    damagedImage = false;
    uint8_t header[d88::kHeaderSize];
    if (image.read(header, d88::kHeaderSize) != d88::kHeaderSize) {
        console::err("指定されたディスクがありません.\n");
        damagedImage = true;
        return false;
    }
    d88::repairHeader(header);
    medium = d88::mediumFor(header[d88::kMediaType]);
    const int trackCount = d88::trackCountFor(medium);

    char title[17] = {};
    std::memcpy(title, header + d88::kTitle, 16);
    console::out("[%.16s] (%s) を書き戻します.\n", title, d88::mediumName(medium));

    // Everything the track loop will read is walked once here, so a damaged
    // image stops before the floppy in the drive is touched.
    const ImageCheck check = checkImage(image, header, trackCount);
    if (check.state != ImageState::Sound) {
        reportDamage(check);
        damagedImage = true;
        return false;
    }

    if (capabilities().hasHdDrive == 0 && medium != 0) {
        console::out("この機種では %s のディスクイメージは書き戻しできません．\n",
                     d88::mediumName(medium));
        return false;
    }

    bool inputEnded = false;
    for (;;) {
        console::out("PC88 のドライブ %d に新しいディスクを入れてキーを押してください.\n",
                     drive + 1);
        // End of input counts as one key press; a drive still empty after it
        // would otherwise be asked about forever.
        if (!console::waitKey()) {
            if (inputEnded) {
                console::out("%s", console::kNoKeyMessage);
                return false;
            }
            inputEnded = true;
        }
        const uint8_t query[3] = {wire::kCmdMedium, static_cast<uint8_t>(drive),
                                  static_cast<uint8_t>(medium | wire::kMediumForWrite)};
        if (sendPacket(query, 3, true, false) != wire::kOk)
            return false;
        // An empty reply reads as "type undetermined" rather than a stale byte.
        uint8_t answer = wire::kAnswerUnknownMedium;
        if (receivePacket(&answer, 1, false) != wire::kOk)
            return false;
        if (verbose)
            console::out("media = %d\n", answer);
        if (answer <= 3)
            break;
        if (answer == wire::kAnswerNoDisk)
            continue;
        if (answer == wire::kAnswerWriteProtected)
            console::out("ディスクはライトプロテクトされています.\n");
        else
            console::out("ディスク操作に関するエラーが生じました.\n");
        return false;
    }

    std::vector<SectorDesc> descs(kMaxRecords);
    std::vector<uint8_t> data(kTrackDataSize);
    std::vector<uint8_t> payload(kPayloadSize);
    for (int t = 0; t < trackCount; ++t) {
        console::out("Track %3d:", t);
        const uint32_t offset = trackDataOffset(header, t);
        int count = 0;
        if (offset == 0) {
            console::out(" unformatted");
        } else {
            if (!loadTrack(image, offset, descs.data(), data.data(), &count)) {
                // The check above walked these records; only a file changed
                // under us gets here.
                console::out("\n");
                reportDamage({ImageState::BadTrack, t});
                return false;
            }
            console::out(" %2d sectors", count);
        }

        const int length = buildTrackPayload(payload.data(), descs.data(), count);
        const uint8_t command[4] = {wire::kCmdWriteTrack, static_cast<uint8_t>(t),
                                    static_cast<uint8_t>(length & 0xFF),
                                    static_cast<uint8_t>(length >> 8)};
        if (sendPacket(command, 4, true, false) != wire::kOk)
            return false;
        if (sendPacket(payload.data(), length, false, true) != wire::kOk)
            return false;
        uint8_t reply = 0; // not examined: a track the agent could not write does not stop the run
        if (receivePacket(&reply, 1, false) != wire::kOk)
            return false;
        console::out(".\n");
    }

    const uint8_t end[1] = {wire::kCmdEnd};
    sendPacket(end, 1, true, false);
    return true;
}
