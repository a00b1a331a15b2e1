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
            if (count == d88::kMaxTrackRecords || pos + d88::kSectorHeaderSize > end ||
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
