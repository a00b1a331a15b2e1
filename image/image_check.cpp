#include "image/image_check.h"

#include <algorithm>

#include "core/bytes.h"
#include "image/d88.h"
#include "image/image_file.h"

namespace
{

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

bool walkTrackRecords(ImageFile& image, uint32_t offset, int64_t end, const RecordVisit& visit)
{
    int64_t pos = offset;
    int count = 0;
    unsigned sectorCount = 0;
    do {
        uint8_t raw[d88::kSectorHeaderSize];
        if (count == d88::kMaxTrackRecords || pos + d88::kSectorHeaderSize > end ||
            !image.seek(static_cast<int32_t>(pos), ImageFile::SeekFromImage) ||
            image.read(raw, d88::kSectorHeaderSize) != d88::kSectorHeaderSize)
            return false;
        const d88::D88SectorHeader record = d88::D88SectorHeader::decode(raw);
        const int64_t data = pos + d88::kSectorHeaderSize;
        pos = data + record.dataSize;
        if (pos > end || (visit && !visit(record, data)))
            return false;
        sectorCount = record.sectorCount;
        ++count;
    } while (static_cast<unsigned>(count) < sectorCount);
    return true;
}

int64_t walkEnd(ImageFile& image, const uint8_t* header)
{
    const uint32_t diskSize = readLe32(header + d88::kDiskSize);
    if (!d88::isSoundDiskSize(diskSize))
        return -1;
    image.seek(0, ImageFile::SeekFromEnd);
    return std::min<int64_t>(diskSize, image.tell()); // counted from the image start
}

ImageCheck checkImage(ImageFile& image, const uint8_t* header, int trackCount)
{
    ImageCheck result;
    const int64_t end = walkEnd(image, header);
    if (end < 0) {
        result.state = ImageState::BadHeader;
        return result;
    }
    trackCount = std::min(trackCount, static_cast<int>(d88::kTrackCount));
    for (int t = 0; t < trackCount; ++t) {
        const uint32_t offset = trackDataOffset(header, t);
        if (offset != 0 && !walkTrackRecords(image, offset, end)) {
            result.state = ImageState::BadTrack;
            result.track = t;
            return result;
        }
    }
    return result;
}
