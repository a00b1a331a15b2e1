// Disk reading: one floppy, track by track, into a D88 image.
#include <cstring>

#include "core/bytes.h"
#include "core/console.h"
#include "core/tick.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/sector_reports.h"

namespace {

const char kWriteFailedMessage[] = "ディスクイメージに書き込めません.\n";

bool writeAll(ImageFile& image, const uint8_t* data, int length)
{
    return image.write(data, length) == length;
}

// Writes the whole header at image offset 0.
bool writeHeader(ImageFile& image, const d88::D88Header& header)
{
    uint8_t bytes[d88::kHeaderSize];
    header.encode(bytes);
    return image.seek(0, ImageFile::SeekFromImage) && writeAll(image, bytes, d88::kHeaderSize);
}

} // namespace

bool DiskClient::readDisk(int drive, int medium, ImageFile& image)
{
    wroteHeader = false;
    writeFailed = false;

    this->medium = medium;
    if (caps.hasHdDrive == 0) {
        if (this->medium == 1 || this->medium == 3) {
            console::out("この 88 は 2D 専用機です.\n");
            return true;
        }
        this->medium = 0;
    }

    bool inputEnded = false;
    for (;;) {
        const uint8_t query[3] = {
            wire::kCmdMedium, static_cast<uint8_t>(drive),
            static_cast<uint8_t>(this->medium >= 0 && this->medium <= 3 ? this->medium : 0xFF)};
        if (sendPacket(query, 3, true, false) != wire::kOk)
            return false;
        // An empty answer counts as a medium that cannot be told, not as 2D.
        uint8_t answer = wire::kAnswerUnknownMedium;
        if (receivePacket(&answer, 1, false) != wire::kOk)
            return false;
        this->medium = answer;
        if (verbose)
            console::out("media = %d\n", this->medium);
        if (answer == wire::kAnswerUnknownMedium) {
            console::out("ディスクの種類が特定できません.\n");
            return false;
        }
        if (answer <= 3)
            break;
        if (answer != wire::kAnswerNoDisk) {
            console::out("ディスク操作に関するエラーが生じました.\n");
            return false;
        }
        // The repeated query asks for any medium: the code now holds 254.
        console::out("PC88 のドライブ %d にディスクを入れてキーを押してください.\n", drive + 1);
        // End of input counts as one key press; a drive still empty after it
        // would otherwise be asked about forever.
        if (!console::waitKey()) {
            if (inputEnded) {
                console::out("%s", console::kNoKeyMessage);
                return false;
            }
            inputEnded = true;
        }
    }

    const int trackCount = d88::trackCountFor(this->medium);
    console::out("ディスクの種類は %s です.\n", d88::mediumName(this->medium));

    // Provisional header: the marker tells the image walk that this image is
    // incomplete until the final rewrite below.
    d88::D88Header header;
    std::memcpy(header.title, d88::kDefaultTitle, std::strlen(d88::kDefaultTitle));
    header.mediaType = d88::mediaTypeFor(this->medium);
    header.diskSize = d88::kInProgress;
    if (!writeHeader(image, header)) {
        writeFailed = true;
        console::err(kWriteFailedMessage);
        return false;
    }
    wroteHeader = true;

    const uint8_t begin[2] = {wire::kCmdBeginRead, 0x00};
    uint8_t ignored = 0;
    if (sendPacket(begin, 2, true, false) != wire::kOk ||
        receivePacket(&ignored, 1, false) != wire::kOk)
        return false;

    const uint32_t start = tickCount();
    for (int t = 0; t < trackCount; ++t) {
        header.trackOffsets[t] = static_cast<uint32_t>(image.tell());
        const int stored = readTrack(t < trackCount - 1, t, image);
        if (stored < 0)
            return false;
        if (stored == 0)
            header.trackOffsets[t] = 0;
    }
    console::out("%d ms.\n", static_cast<int>(tickCount() - start));

    header.diskSize = static_cast<uint32_t>(image.tell());
    if (!writeHeader(image, header)) {
        writeFailed = true;
        console::err(kWriteFailedMessage);
        return false;
    }

    const uint8_t end[1] = {wire::kCmdEnd};
    sendPacket(end, 1, true, false);
    return true;
}

int DiskClient::readTrack(bool more, int t, ImageFile& image)
{
    d88::D88SectorHeader record;
    console::out("Track %3d:", t);

    const uint8_t fast = fastReceive ? 1 : 0;
    // The command for track t already names track t + 1: the agent answers
    // with the track named by the command before (the begin command names 0).
    uint8_t command[3];
    if (more) {
        command[0] = wire::kCmdReadTrack;
        command[1] = static_cast<uint8_t>(t + 1);
        command[2] = fast;
    } else {
        command[0] = wire::kCmdReadLastTrack;
        command[1] = fast;
        command[2] = fast;
    }
    if (sendPacket(command, 3, true, false) != wire::kOk)
        return -1;

    uint8_t reply[kTrackBufferSize];
    reply[0] = 0;   // an empty reply reads as an unformatted track
    int received = 0;
    if (receivePacket(reply, kTrackBufferSize, fastReceive, &received) != wire::kOk)
        return -1;
    if (received > kTrackBufferSize)
        received = kTrackBufferSize;

    const int count = reply[0];
    if (count == 0) {
        console::out(" unformatted.\n");
        return 0;
    }
    console::out(" %2d sectors.\n", count);

    const int dataArea = 1 + count * kReportSize;
    if (dataArea > received) {
        if (verbose)
            console::out("track %d: reply ends inside the sector reports\n", t);
        return -1;
    }
    decodeSectorReports(reply + 1, count, t);

    // Offsets and lengths come from the agent: every sector's data must lie
    // inside what actually arrived before anything of the track is stored.
    for (int i = 0; i < count; ++i) {
        const SectorReport report = SectorReport::parse(reply + 1 + i * kReportSize);
        const uint8_t status = d88Status(report);
        const bool carriesData = status != d88::kStatusIdCrc && status != d88::kStatusNoDataMark;
        if (carriesData && dataArea + report.offset + report.length > received) {
            if (verbose)
                console::out("track %d: report %d data lies outside the reply\n", t, i + 1);
            return -1;
        }
    }

    for (int i = 0; i < count; ++i) {
        const SectorReport report = SectorReport::parse(reply + 1 + i * kReportSize);
        if (verbose)
            console::out("%s %.2x %.2x %.2x %.2x  %.2x %.4x %.4x", report.mode ? "MFM" : "FM",
                         report.c, report.h, report.r, report.n, report.st0, report.offset,
                         report.length);

        record.c = report.c;
        record.h = report.h;
        record.r = report.r;
        record.n = report.n;
        record.sectorCount = static_cast<uint16_t>(count);
        record.density = static_cast<uint8_t>(report.mode ^ 0x40);
        record.deleted = d88Deleted(report);
        record.status = d88Status(report);
        record.dataSize = report.length;
        if (record.status == d88::kStatusDataCrc) {
            if (verbose)
                console::out(" err:DATA CRC");
        } else if (record.status == d88::kStatusIdCrc) {
            record.dataSize = 0;
            if (verbose)
                console::out(" err:ID CRC");
        } else if (record.status == d88::kStatusNoDataMark) {
            record.dataSize = 0;
            if (verbose)
                console::out(" err:MAM");
        }
        if (verbose)
            console::out("\n");

        uint8_t bytes[d88::kSectorHeaderSize];
        record.encode(bytes);
        const bool written =
            writeAll(image, bytes, d88::kSectorHeaderSize) &&
            (record.dataSize == 0 ||
             writeAll(image, reply + dataArea + report.offset, record.dataSize));
        if (!written) {
            writeFailed = true;
            console::err(kWriteFailedMessage);
            return -1;
        }
    }
    if (verbose)
        console::out("\n");
    return 1;
}
