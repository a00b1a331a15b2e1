#include "image/image_check.h"

#include <algorithm>

#include "core/bytes.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "transfer/sector_desc.h"

namespace
{

// Some tools record a deleted-data sector that read cleanly with this status
// rather than 0 plus the deleted mark.
constexpr uint8_t kStatusDeletedOk = 0x10;
// The planner's density bit is the inverse of D88's: 0x40 means MFM there.
constexpr uint8_t kDensityFlip = 0x40;

} // namespace

uint32_t trackDataOffset(const uint8_t* header, int t)
{
    if (t < 0 || t >= d88::kTrackCount)
        return 0;
    const uint32_t offset = readLe32(header + d88::kTrackTable + 4 * t);
    const uint32_t diskSize = readLe32(header + d88::kDiskSize);
    return offset < diskSize ? offset : 0;
}

bool headerPresent(ImageFile& image)
{
    image.seek(0, ImageFile::SeekFromEnd);
    const bool present = image.tell() >= d88::kHeaderSize;
    image.seek(0, ImageFile::SeekFromImage);
    return present;
}

ImageCheck checkImage(ImageFile& image, const uint8_t* header, int trackCount)
{
    ImageCheck result;
    const uint32_t diskSize = readLe32(header + d88::kDiskSize);
    if (diskSize == d88::kInProgress || diskSize < static_cast<uint32_t>(d88::kHeaderSize) ||
        diskSize > d88::kMaxImageSize) {
        result.state = ImageState::BadHeader;
        return result;
    }
    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t fileEnd = image.tell(); // counted from the image start
    const int64_t end = std::min<int64_t>(diskSize, fileEnd);

    trackCount = std::min(trackCount, static_cast<int>(d88::kTrackCount));
    for (int t = 0; t < trackCount; ++t) {
        const uint32_t offset = trackDataOffset(header, t);
        if (offset == 0)
            continue;
        int64_t pos = offset;
        int count = 0;
        bool sound = true;
        unsigned sectorCount = 0;
        do {
            uint8_t record[d88::kSectorHeaderSize];
            if (count == DiskClient::kMaxRecords || pos + d88::kSectorHeaderSize > end ||
                !image.seek(static_cast<int32_t>(pos), ImageFile::SeekFromImage) ||
                image.read(record, d88::kSectorHeaderSize) != d88::kSectorHeaderSize) {
                sound = false;
                break;
            }
            pos += d88::kSectorHeaderSize + readLe16(record + d88::kSecDataSize);
            if (pos > end) {
                sound = false;
                break;
            }
            sectorCount = readLe16(record + d88::kSecCount);
            ++count;
        } while (static_cast<unsigned>(count) < sectorCount);
        if (!sound) {
            result.state = ImageState::BadTrack;
            result.track = t;
            return result;
        }
    }
    return result;
}

bool loadTrack(ImageFile& image, uint32_t offset, SectorDesc* descs, uint8_t* data, int* count)
{
    *count = 0;
    if (!image.seek(static_cast<int32_t>(offset), ImageFile::SeekFromImage))
        return false;
    uint32_t budget = DiskClient::kTrackDataSize;
    uint8_t* cursor = data;
    d88::D88SectorHeader sector;
    do {
        if (*count == DiskClient::kMaxRecords)
            return false;
        uint8_t record[d88::kSectorHeaderSize];
        if (image.read(record, d88::kSectorHeaderSize) != d88::kSectorHeaderSize)
            return false;
        sector = d88::D88SectorHeader::decode(record);
        const uint32_t length = std::min<uint32_t>(sector.dataSize, budget);
        if (length > 0 && image.read(cursor, static_cast<int>(length)) != static_cast<int>(length))
            return false;
        // Skip what the budget cut off, so the next record is read at its own place.
        if (sector.dataSize > length &&
            !image.seek(static_cast<int32_t>(sector.dataSize - length), ImageFile::SeekFromCurrent))
            return false;

        SectorDesc& d = descs[*count];
        d.c = sector.c;
        d.h = sector.h;
        d.r = sector.r;
        d.n = sector.n;
        d.density = static_cast<uint8_t>(sector.density ^ kDensityFlip);
        d.status = sector.status;
        d.deleted = sector.deleted;
        if (sector.status == kStatusDeletedOk) {
            d.status = d88::kStatusOk;
            d.deleted = d88::kDeletedMark;
        }
        d.data = cursor;
        d.length = length;

        budget -= length;
        cursor += length;
        ++*count;
    } while (*count < sector.sectorCount);
    return true;
}
