#include "sim/d88_file.h"

#include <algorithm>
#include <cstdio>

#include "core/bytes.h"

namespace sim {

int mediumFromMediaType(uint8_t mediaType)
{
    if (mediaType == 0x20)
        return 3;
    if (mediaType == 0x10)
        return 1;
    return 0;
}

uint8_t mediaTypeFromMedium(int medium)
{
    if (medium == 3)
        return 0x20;
    if (medium == 1)
        return 0x10;
    return 0x00;
}

int trackCountOf(int medium)
{
    return (medium & 1) ? 164 : 84;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    bytes->clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    uint8_t chunk[65536];
    bool ok = true;
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, f);
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (bytes->size() > d88::kMaxFileSize) {
            if (error)
                *error = path + " is too large for a D88 file";
            ok = false;
            break;
        }
        if (got < sizeof chunk) {
            if (std::ferror(f)) {
                if (error)
                    *error = "cannot read " + path;
                ok = false;
            }
            break;
        }
    }
    std::fclose(f);
    if (!ok)
        bytes->clear();
    return ok;
}

bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error)
            *error = "cannot create " + path;
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok && error)
        *error = "cannot write " + path;
    return ok;
}

bool locateD88Image(const std::vector<uint8_t>& file, int index, size_t* start, std::string* error)
{
    size_t sum = 0;
    for (int i = 1; i < index; ++i) {
        if (file.size() - sum < d88::kDiskSize + 4) {
            if (error)
                *error = "no image " + std::to_string(index) + " in the file";
            return false;
        }
        uint32_t size = readLe32(&file[sum + d88::kDiskSize]);
        if (size == d88::kInProgress || size == 0 || size > d88::kMaxImageSize) {
            if (error)
                *error = "image " + std::to_string(i) + " has no usable size; image " +
                         std::to_string(index) + " cannot be reached";
            return false;
        }
        sum += size;
        if (sum >= file.size()) {
            if (error)
                *error = "no image " + std::to_string(index) + " in the file";
            return false;
        }
    }
    if (sum >= file.size()) {
        if (error)
            *error = "the file holds no image";
        return false;
    }
    *start = sum;
    return true;
}

namespace {

std::string titleOf(const uint8_t* header)
{
    // Byte 16 is meant to be NUL; some tools fill all 17 bytes, so stop at 16.
    std::string title;
    for (size_t i = 0; i < d88::kTitleSize - 1 && header[i] != 0; ++i)
        title.push_back(static_cast<char>(header[i]));
    return title;
}

// Images with a header shorter than 688 bytes (a table of 160 entries, say)
// start their first track inside our header: whatever lies from there on is
// sector data, not table entries. The same rule as the client's reader.
void repairHeader(uint8_t* header)
{
    uint32_t smallest = d88::kHeaderSize;
    for (int t = 0; t < 84; ++t) {
        uint32_t off = readLe32(header + d88::kTrackTable + 4 * t);
        if (off != 0 && off < smallest)
            smallest = off;
    }
    if (smallest < d88::kHeaderSize)
        std::fill(header + smallest, header + d88::kHeaderSize, 0);
}

void readTrack(const std::vector<uint8_t>& file, size_t imageEnd, size_t pos, int t,
               std::vector<Sector>* track, std::vector<std::string>* warnings)
{
    const std::string where = "track " + std::to_string(t) + ": ";
    size_t dataLeft = d88::kMaxTrackData;
    bool cut = false;
    for (int count = 0;;) {
        if (imageEnd - pos < d88::kRecordSize) {
            warnings->push_back(where + "sector record runs past the end of the image");
            return;
        }
        const uint8_t* rec = &file[pos];
        size_t dataSize = readLe16(rec + d88::kSecDataSize);
        if (imageEnd - pos - d88::kRecordSize < dataSize) {
            warnings->push_back(where + "sector data runs past the end of the image");
            return;
        }
        Sector s;
        s.c = rec[d88::kSecC];
        s.h = rec[d88::kSecH];
        s.r = rec[d88::kSecR];
        s.n = rec[d88::kSecN];
        s.fm = (rec[d88::kSecDensity] & d88::kDensityFm) != 0;
        s.deleted = rec[d88::kSecDeleted] != 0;
        s.status = rec[d88::kSecStatus];
        if (s.status == d88::kStatusDeletedOk) {
            s.status = 0;
            s.deleted = true;
        }
        // Kept as stored even for 0xA0/0xF0: hxcfe keeps the data there.
        const size_t kept = std::min(dataSize, dataLeft);
        if (kept < dataSize && !cut) {
            warnings->push_back(where + "sector data past " +
                                std::to_string(d88::kMaxTrackData) +
                                " bytes cut: no track reply carries it");
            cut = true;
        }
        dataLeft -= kept;
        s.data.assign(rec + d88::kRecordSize, rec + d88::kRecordSize + kept);
        track->push_back(std::move(s));
        pos += d88::kRecordSize + dataSize;
        ++count;
        // A first record with sectorCount 0 still counts as one record.
        if (count >= readLe16(rec + d88::kSecCount))
            return;
        if (count >= d88::kMaxRecordsPerTrack) {
            warnings->push_back(where + "more than " + std::to_string(d88::kMaxRecordsPerTrack) +
                                " sector records; the rest is ignored");
            return;
        }
    }
}

} // namespace

bool parseD88Image(const std::vector<uint8_t>& file, size_t start, D88Image* image,
                   std::string* error)
{
    *image = D88Image();
    if (start > file.size() || file.size() - start < d88::kTrackTable) {
        if (error)
            *error = "the file ends inside an image header";
        return false;
    }
    const size_t remain = std::min<size_t>(file.size() - start, d88::kMaxImageSize);
    image->diskSize = readLe32(&file[start + d88::kDiskSize]);
    size_t extent = image->diskSize;
    if (image->diskSize == d88::kInProgress) {
        image->warnings.push_back("incomplete image (in-progress marker); read to the end of file");
        extent = remain;
    } else if (image->diskSize < d88::kHeaderSize || image->diskSize > d88::kMaxImageSize) {
        image->warnings.push_back("implausible diskSize " + std::to_string(image->diskSize) +
                                  "; read to the end of file");
        extent = remain;
    } else if (extent > remain) {
        image->warnings.push_back("the file ends inside the image (diskSize " +
                                  std::to_string(image->diskSize) + ", " +
                                  std::to_string(remain) + " bytes present)");
        extent = remain;
    }

    uint8_t header[d88::kHeaderSize] = {};
    size_t headerBytes = std::min(extent, d88::kHeaderSize);
    std::copy(file.begin() + start, file.begin() + start + headerBytes, header);
    if (headerBytes < d88::kHeaderSize)
        image->warnings.push_back("the image ends inside its header");
    repairHeader(header);

    image->title = titleOf(header + d88::kTitle);
    image->writeProtect = header[d88::kWriteProtect] != 0;
    image->medium = mediumFromMediaType(header[d88::kMediaType]);
    const int tracks = trackCountOf(image->medium);
    image->tracks.assign(tracks, std::vector<Sector>());
    const size_t imageEnd = start + extent;
    for (int t = 0; t < tracks; ++t) {
        uint32_t off = readLe32(header + d88::kTrackTable + 4 * t);
        if (off == 0)
            continue;
        // Some tools point unformatted tracks at the end of the image.
        if (off == extent)
            continue;
        if (off > extent) {
            image->warnings.push_back("track " + std::to_string(t) +
                                      ": offset past the end of the image; unformatted");
            continue;
        }
        readTrack(file, imageEnd, start + off, t, &image->tracks[t], &image->warnings);
    }
    return true;
}

std::vector<uint8_t> buildD88Image(const std::string& title, bool writeProtect, int medium,
                                   const std::vector<Sector>* tracks, int trackCount)
{
    std::vector<uint8_t> out(d88::kHeaderSize, 0);
    for (size_t i = 0; i < title.size() && i < d88::kTitleSize - 1; ++i)
        out[d88::kTitle + i] = static_cast<uint8_t>(title[i]);
    out[d88::kWriteProtect] = writeProtect ? 0x10 : 0x00;
    out[d88::kMediaType] = mediaTypeFromMedium(medium);
    trackCount = std::min(trackCount, d88::kTableEntries);
    for (int t = 0; t < trackCount; ++t) {
        const std::vector<Sector>& track = tracks[t];
        if (track.empty())
            continue;
        writeLe32(&out[d88::kTrackTable + 4 * t], static_cast<uint32_t>(out.size()));
        const size_t records = std::min<size_t>(track.size(), 0xFFFF);
        for (size_t i = 0; i < records; ++i) {
            const Sector& s = track[i];
            const bool noData = s.status == d88::kStatusIdCrc || s.status == d88::kStatusNoDataMark;
            const size_t dataSize = noData ? 0 : std::min<size_t>(s.data.size(), 0xFFFF);
            uint8_t rec[d88::kRecordSize] = {};
            rec[d88::kSecC] = s.c;
            rec[d88::kSecH] = s.h;
            rec[d88::kSecR] = s.r;
            rec[d88::kSecN] = s.n;
            writeLe16(rec + d88::kSecCount, static_cast<uint16_t>(records));
            rec[d88::kSecDensity] = s.fm ? d88::kDensityFm : 0x00;
            rec[d88::kSecDeleted] = s.deleted ? d88::kDeletedMark : 0x00;
            rec[d88::kSecStatus] = s.status;
            writeLe16(rec + d88::kSecDataSize, static_cast<uint16_t>(dataSize));
            out.insert(out.end(), rec, rec + d88::kRecordSize);
            out.insert(out.end(), s.data.begin(), s.data.begin() + dataSize);
        }
    }
    writeLe32(&out[d88::kDiskSize], static_cast<uint32_t>(out.size()));
    return out;
}

} // namespace sim
