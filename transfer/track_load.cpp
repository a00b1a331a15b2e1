// Loading one track of an image into the sector descriptors the write
// planner takes, within the agent's track buffers.
#include <algorithm>
#include <limits>

#include "image/d88.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "image/sector_kind.h"
#include "link/protocol.h"
#include "transfer/sector_desc.h"

bool loadTrack(ImageFile& image, uint32_t offset, SectorDesc* descs, uint8_t* data, int* count)
{
    *count = 0;
    uint32_t budget = wire::kTrackDataSize;
    uint8_t* cursor = data;
    // The structure check has walked these records within the image already.
    const int64_t end = std::numeric_limits<int32_t>::max();
    return walkTrackRecords(
        image, offset, end, [&](const d88::D88SectorHeader& sector, int64_t at) {
            const uint32_t length = std::min<uint32_t>(sector.dataSize, budget);
            if (length > 0 &&
                (!image.seek(static_cast<int32_t>(at), ImageFile::SeekFromImage) ||
                 image.read(cursor, static_cast<int>(length)) != static_cast<int>(length)))
                return false;
            SectorDesc& d = descs[*count];
            d.c = sector.c;
            d.h = sector.h;
            d.r = sector.r;
            d.n = sector.n;
            d.density = static_cast<uint8_t>(sector.density ^ wire::kMfm);
            d.status = driveStatus(sector.status);
            d.deleted = sector.status == d88::kStatusDeletedOk ? d88::kDeletedMark : sector.deleted;
            d.data = cursor;
            d.length = length;
            budget -= length;
            cursor += length;
            ++*count;
            return true;
        });
}
