#include "image/image_tracks.h"

#include <algorithm>

#include "core/bytes.h"
#include "image/image_file.h"

bool loadTrackRecords(ImageFile& image, uint32_t offset, int64_t end, d88::TrackRecords* track)
{
    track->clear();
    int64_t pos = offset;
    unsigned sectorCount = 0;
    do {
        uint8_t raw[d88::kSectorHeaderSize];
        if (track->size() == static_cast<size_t>(d88::kMaxTrackRecords) ||
            pos + d88::kSectorHeaderSize > end ||
            !image.seek(static_cast<int32_t>(pos), ImageFile::SeekFromImage) ||
            image.read(raw, d88::kSectorHeaderSize) != d88::kSectorHeaderSize)
            return false;
        const d88::D88SectorHeader header = d88::D88SectorHeader::decode(raw);
        pos += d88::kSectorHeaderSize + header.dataSize;
        if (pos > end)
            return false;
        d88::SectorRecord s;
        s.c = header.c;
        s.h = header.h;
        s.r = header.r;
        s.n = header.n;
        s.density = header.density;
        s.deleted = header.deleted;
        s.status = header.status;
        s.data.resize(header.dataSize);
        if (header.dataSize > 0 && image.read(s.data.data(), header.dataSize) != header.dataSize)
            return false;
        track->push_back(std::move(s));
        sectorCount = header.sectorCount;
    } while (track->size() < sectorCount);
    return true;
}

bool loadImageTracks(ImageFile& image, ImageTracks* out)
{
    *out = ImageTracks();
    if (!image.seek(0, ImageFile::SeekFromImage) ||
        image.read(out->header, d88::kHeaderSize) != d88::kHeaderSize)
        return false;
    d88::repairHeader(out->header);
    out->medium = d88::mediumFor(out->header[d88::kMediaType]);
    out->trackCount = d88::trackCountFor(out->medium);
    out->check = checkImage(image, out->header, out->trackCount);
    out->tracks.resize(static_cast<size_t>(out->trackCount));

    // The bound checkImage walks within: the image's size, or less of it when
    // the file ends first. An in-progress or impossible size has no tracks.
    const uint32_t diskSize = readLe32(out->header + d88::kDiskSize);
    if (diskSize == d88::kInProgress || diskSize < static_cast<uint32_t>(d88::kHeaderSize) ||
        diskSize > d88::kMaxImageSize)
        return true;
    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t end = std::min<int64_t>(diskSize, image.tell());
    for (int t = 0; t < out->trackCount; ++t) {
        const uint32_t offset = trackDataOffset(out->header, t);
        if (offset == 0)
            continue;
        d88::TrackRecords& track = out->tracks[static_cast<size_t>(t)];
        if (!loadTrackRecords(image, offset, end, &track)) {
            track.clear();
            out->damaged.push_back(t);
        }
    }
    return true;
}
