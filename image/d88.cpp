#include "image/d88.h"

#include <cstring>

#include "core/bytes.h"
#include "core/console.h"
#include "core/verbose.h"
#include "image/image_file.h"

namespace d88
{

void D88Header::encode(uint8_t* out) const
{
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out + kTitle, title, kTitleSize);
    out[kWriteProtect] = writeProtect;
    out[kMediaType] = mediaType;
    writeLe32(out + kDiskSize, diskSize);
    for (int t = 0; t < kTrackCount; ++t)
        writeLe32(out + kTrackTable + 4 * t, trackOffsets[t]);
    if (tracksDone >= 0) {
        out[kProgress] = 'F';
        out[kProgress + 1] = '2';
        out[kProgress + 2] = kProgressVersion;
        out[kProgress + 3] = static_cast<uint8_t>(tracksDone);
        writeLe32(out + kProgress + 4, dataEnd);
    }
}

D88Header D88Header::decode(const uint8_t* in)
{
    D88Header header;
    std::memcpy(header.title, in + kTitle, kTitleSize);
    header.writeProtect = in[kWriteProtect];
    header.mediaType = in[kMediaType];
    header.diskSize = readLe32(in + kDiskSize);
    for (int t = 0; t < kTrackCount; ++t)
        header.trackOffsets[t] = readLe32(in + kTrackTable + 4 * t);
    // Only an interrupted image of ours carries a progress, and only a sane one counts.
    if (header.diskSize == kInProgress && in[kProgress] == 'F' && in[kProgress + 1] == '2' &&
        in[kProgress + 2] == kProgressVersion && in[kProgress + 3] <= kTrackCount &&
        in[kProgress + 8] == 0) {
        header.tracksDone = in[kProgress + 3];
        header.dataEnd = readLe32(in + kProgress + 4);
    }
    return header;
}

void D88SectorHeader::encode(uint8_t* out) const
{
    std::memset(out, 0, kSectorHeaderSize);
    out[kSecC] = c;
    out[kSecH] = h;
    out[kSecR] = r;
    out[kSecN] = n;
    writeLe16(out + kSecCount, sectorCount);
    out[kSecDensity] = density;
    out[kSecDeleted] = deleted;
    out[kSecStatus] = status;
    writeLe16(out + kSecDataSize, dataSize);
}

D88SectorHeader D88SectorHeader::decode(const uint8_t* in)
{
    D88SectorHeader sector;
    sector.c = in[kSecC];
    sector.h = in[kSecH];
    sector.r = in[kSecR];
    sector.n = in[kSecN];
    sector.sectorCount = readLe16(in + kSecCount);
    sector.density = in[kSecDensity];
    sector.deleted = in[kSecDeleted];
    sector.status = in[kSecStatus];
    sector.dataSize = readLe16(in + kSecDataSize);
    return sector;
}

uint8_t mediaTypeFor(int medium)
{
    if (medium == kMedium2HD)
        return kMedia2HD;
    if (medium == kMedium2DD)
        return kMedia2DD;
    return kMedia2D;
}

int mediumFor(uint8_t mediaType)
{
    if (mediaType == kMedia2HD)
        return kMedium2HD;
    if (mediaType == kMedia2DD)
        return kMedium2DD;
    return kMedium2D;
}

int trackCountFor(int medium)
{
    // The odd codes are the 80-cylinder media; a 2D disk has 42 cylinders.
    return (medium & 1) ? kTrackCount : 84;
}

const char* mediumName(int medium)
{
    static const char* const names[] = {"2D", "2DD", "???", "2HD"};
    return isMediumCode(medium) ? names[medium] : "???";
}

// The diskSize field of the image starting at sum, or 0 when the file ends
// before all four bytes of it.
static uint32_t sizeFieldAt(ImageFile& image, int64_t sum)
{
    uint8_t field[4] = {};
    if (!image.seek(static_cast<int32_t>(sum + kDiskSize), ImageFile::SeekFromImage))
        return 0;
    if (image.read(field, 4) != 4)
        return 0;
    return readLe32(field);
}

ImagePlace walkImages(ImageFile& image, const std::function<bool(const ImagePlace&)>& visit)
{
    // The walk counts positions from the file start.
    image.baseOffset = 0;
    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t fileSize = image.tell();
    ImagePlace place;
    while (place.start < fileSize) {
        image.baseOffset = 0; // visit may have moved it
        place.diskSize = sizeFieldAt(image, place.start);
        if (!visit(place))
            return place;
        if (place.diskSize == kInProgress || place.diskSize == 0 || place.diskSize > kMaxImageSize)
            return place;
        place.start += place.diskSize;
        ++place.number;
    }
    place.diskSize = 0;
    return place;
}

bool selectImage(ImageFile& image, int index, Selected* where, int* number)
{
    bool walkable = true;
    const ImagePlace place = walkImages(image, [&](const ImagePlace& p) {
        if (p.number >= index || p.diskSize == kInProgress)
            return false;
        walkable = p.diskSize != 0 && p.diskSize <= kMaxImageSize;
        return walkable;
    });
    if (!walkable)
        return false;

    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t fileSize = image.tell();
    if (where) {
        if (place.start >= fileSize)
            *where = Selected::EndOfFile;
        else if (place.diskSize == kInProgress)
            *where = Selected::InProgress;
        else
            *where = Selected::Image;
    }
    if (number)
        *number = place.number;
    if (verbose)
        console::out("disk index: %d\n", place.number);
    image.baseOffset = static_cast<int32_t>(place.start);
    image.seek(0, ImageFile::SeekFromImage);
    return true;
}

bool stampTitle(ImageFile& image, const char* title, bool protect)
{
    const uint8_t flag = protect ? kProtected : 0x00;
    return image.seek(kTitle, ImageFile::SeekFromImage) &&
           image.write(title, kTitleLength) == kTitleLength &&
           image.seek(kWriteProtect, ImageFile::SeekFromImage) && image.write(&flag, 1) == 1;
}

void repairHeader(uint8_t* header)
{
    // Only the 2D part of the table is trusted: images of other tools carry a
    // shorter table whose tail is really the first sector record.
    uint32_t first = kHeaderSize;
    for (int t = 0; t < 84; ++t) {
        const uint32_t offset = readLe32(header + kTrackTable + 4 * t);
        if (offset != 0 && offset < first)
            first = offset;
    }
    if (first < static_cast<uint32_t>(kHeaderSize))
        std::memset(header + first, 0, kHeaderSize - first);
}

D88SectorHeader D88SectorHeader::of(const SectorRecord& s, size_t sectorCount)
{
    D88SectorHeader record;
    record.c = s.c;
    record.h = s.h;
    record.r = s.r;
    record.n = s.n;
    record.sectorCount = static_cast<uint16_t>(sectorCount);
    record.density = s.density;
    record.deleted = s.deleted;
    record.status = s.status;
    record.dataSize = static_cast<uint16_t>(s.data.size());
    return record;
}

} // namespace d88
