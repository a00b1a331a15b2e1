// Loading one track of an image into the sector descriptors the write
// planner takes, within the agent's track buffers.
#include <algorithm>

#include "image/d88.h"
#include "image/image_file.h"
#include "link/protocol.h"
#include "transfer/sector_desc.h"

namespace
{

// Some tools record a deleted-data sector that read cleanly with this status
// rather than 0 plus the deleted mark.
constexpr uint8_t kStatusDeletedOk = 0x10;

} // namespace

bool loadTrack(ImageFile& image, uint32_t offset, SectorDesc* descs, uint8_t* data, int* count)
{
    *count = 0;
    if (!image.seek(static_cast<int32_t>(offset), ImageFile::SeekFromImage))
        return false;
    uint32_t budget = wire::kTrackDataSize;
    uint8_t* cursor = data;
    d88::D88SectorHeader sector;
    do {
        if (*count == wire::kMaxRecords)
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
        d.density = static_cast<uint8_t>(sector.density ^ wire::kMfm);
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
