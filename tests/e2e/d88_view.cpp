#include "tests/e2e/d88_view.h"

#include <cstdio>

namespace e2e {

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

int trackCount(uint8_t mediaType)
{
    return (mediaType == 0x10 || mediaType == 0x20) ? 164 : 84;
}

std::string describe(int t, size_t i, const char* what)
{
    char text[96];
    std::snprintf(text, sizeof text, "track %d sector %zu: %s", t, i, what);
    return text;
}

} // namespace

bool parseImages(const std::vector<uint8_t>& file, std::vector<ImageView>* images,
                 std::string* error)
{
    size_t at = 0;
    while (at < file.size()) {
        if (file.size() - at < 688) {
            *error = "file ends inside a header";
            return false;
        }
        ImageView image;
        image.offset = static_cast<uint32_t>(at);
        image.title.assign(file.begin() + static_cast<long>(at),
                           file.begin() + static_cast<long>(at) + 17);
        image.writeProtect = file[at + 26];
        image.mediaType = file[at + 27];
        image.diskSize = le32(file, at + 28);
        if (image.diskSize < 688 || image.diskSize > file.size() - at) {
            *error = "bad diskSize " + std::to_string(image.diskSize);
            return false;
        }
        image.tracks.resize(164);
        for (int t = 0; t < 164; ++t) {
            uint32_t offset = le32(file, at + 32 + 4 * static_cast<size_t>(t));
            image.trackOffsets.push_back(offset);
            if (offset == 0 || offset >= image.diskSize)
                continue;
            size_t p = at + offset;
            size_t end = at + image.diskSize;
            size_t count = 0;
            do {
                if (end - p < 16) {
                    *error = "record header past the image, track " + std::to_string(t);
                    return false;
                }
                SectorView s;
                s.c = file[p];
                s.h = file[p + 1];
                s.r = file[p + 2];
                s.n = file[p + 3];
                s.sectorCount = le16(file, p + 4);
                s.density = file[p + 6];
                s.deleted = file[p + 7];
                s.status = file[p + 8];
                uint16_t size = le16(file, p + 14);
                p += 16;
                if (end - p < size) {
                    *error = "sector data past the image, track " + std::to_string(t);
                    return false;
                }
                s.data.assign(file.begin() + static_cast<long>(p),
                              file.begin() + static_cast<long>(p + size));
                p += size;
                ++count;
                image.tracks[static_cast<size_t>(t)].push_back(std::move(s));
            } while (count < image.tracks[static_cast<size_t>(t)].back().sectorCount);
        }
        at += image.diskSize;
        images->push_back(std::move(image));
    }
    return true;
}

ImageView asRead(const ImageView& source)
{
    ImageView read = source;
    int tracks = trackCount(source.mediaType);
    for (int t = 0; t < 164; ++t) {
        auto& sectors = read.tracks[static_cast<size_t>(t)];
        if (t >= tracks) {
            sectors.clear();
            continue;
        }
        for (auto& s : sectors) {
            s.sectorCount = static_cast<uint16_t>(sectors.size());
            if (s.status == 0x10) {
                s.status = 0x00;
                s.deleted = 0x10;
            }
            if (s.status == 0xA0 || s.status == 0xF0)
                s.data.clear();
        }
    }
    if (read.mediaType != 0x10 && read.mediaType != 0x20)
        read.mediaType = 0x00;
    return read;
}

std::string compareSectors(const ImageView& expected, const ImageView& actual)
{
    if (expected.mediaType != actual.mediaType)
        return "mediaType " + std::to_string(expected.mediaType) + " != " +
               std::to_string(actual.mediaType);
    for (int t = 0; t < 164; ++t) {
        const auto& a = expected.tracks[static_cast<size_t>(t)];
        const auto& b = actual.tracks[static_cast<size_t>(t)];
        if (a.size() != b.size())
            return "track " + std::to_string(t) + ": " + std::to_string(a.size()) +
                   " sectors expected, " + std::to_string(b.size()) + " found";
        for (size_t i = 0; i < a.size(); ++i) {
            const SectorView& x = a[i];
            const SectorView& y = b[i];
            if (x.c != y.c || x.h != y.h || x.r != y.r || x.n != y.n)
                return describe(t, i, "ID differs");
            if (x.density != y.density)
                return describe(t, i, "density differs");
            if (x.deleted != y.deleted)
                return describe(t, i, "deleted mark differs");
            if (x.status != y.status)
                return describe(t, i, "status differs");
            if (x.sectorCount != y.sectorCount)
                return describe(t, i, "sectorCount differs");
            if (x.data != y.data)
                return describe(t, i, "data differs");
        }
    }
    return "";
}

} // namespace e2e
