#include "image/image_tracks.h"

#include <algorithm>

#include "core/bytes.h"
#include "image/image_file.h"

bool loadTrackRecords(ImageFile& image, uint32_t offset, int64_t end, d88::TrackRecords* track)
{
    track->clear();
    return walkTrackRecords(
        image, offset, end, [&](const d88::D88SectorHeader& header, int64_t data) {
            d88::SectorRecord s;
            s.c = header.c;
            s.h = header.h;
            s.r = header.r;
            s.n = header.n;
            s.density = header.density;
            s.deleted = header.deleted;
            s.status = header.status;
            s.data.resize(header.dataSize);
            if (header.dataSize > 0 &&
                (!image.seek(static_cast<int32_t>(data), ImageFile::SeekFromImage) ||
                 image.read(s.data.data(), header.dataSize) != header.dataSize))
                return false;
            track->push_back(std::move(s));
            return true;
        });
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

    // An in-progress or impossible size has no tracks.
    const int64_t end = walkEnd(image, out->header);
    if (end < 0)
        return true;
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
