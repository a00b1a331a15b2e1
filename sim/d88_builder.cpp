#include "sim/d88_builder.h"

#include <algorithm>

#include "core/bytes.h"
#include "sim/d88_file.h"

namespace sim {

D88Builder& D88Builder::setTitle(const std::string& text)
{
    std::fill(title.begin(), title.end(), 0);
    std::copy_n(text.begin(), std::min<size_t>(text.size(), 16), title.begin());
    return *this;
}

D88Builder& D88Builder::setTitleBytes(const std::vector<uint8_t>& bytes)
{
    std::fill(title.begin(), title.end(), 0);
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), title.size()), title.begin());
    return *this;
}

D88Builder& D88Builder::setMediaType(uint8_t value)
{
    mediaType = value;
    return *this;
}

D88Builder& D88Builder::setWriteProtect(bool on)
{
    writeProtect = on;
    return *this;
}

D88Builder& D88Builder::setTrack(int t, std::vector<D88Record> records)
{
    tracks.at(static_cast<size_t>(t)) = std::move(records);
    return *this;
}

uint8_t d88Pattern(int t, int r, size_t i)
{
    return static_cast<uint8_t>((t * 7 + r * 31 + i * 13 + (i >> 8)) & 0xFF);
}

D88Builder& D88Builder::addRegularTrack(int t, int count, int n, bool fm, int fill, int firstR)
{
    std::vector<D88Record> records;
    for (int i = 0; i < count; ++i) {
        D88Record rec;
        rec.c = static_cast<uint8_t>(t >> 1);
        rec.h = static_cast<uint8_t>(t & 1);
        rec.r = static_cast<uint8_t>(firstR + i);
        rec.n = static_cast<uint8_t>(n);
        rec.density = fm ? 0x40 : 0x00;
        rec.data.resize(static_cast<size_t>(128) << std::min(n, 8));
        for (size_t k = 0; k < rec.data.size(); ++k)
            rec.data[k] = fill >= 0 ? static_cast<uint8_t>(fill) : d88Pattern(t, rec.r, k);
        records.push_back(std::move(rec));
    }
    return setTrack(t, std::move(records));
}

D88Builder& D88Builder::setUnformattedAtEnd(bool on, bool allEntries)
{
    unformattedAtEnd = on;
    unformattedAtEndAll = allEntries;
    return *this;
}

D88Builder& D88Builder::setTrackPadding(size_t bytes)
{
    padding = bytes;
    return *this;
}

D88Builder& D88Builder::setHeaderSize(size_t bytes)
{
    headerSize = std::max<size_t>(bytes, d88::kTrackTable);
    return *this;
}

D88Builder& D88Builder::setDiskSize(uint32_t value)
{
    diskSizeGiven = true;
    diskSizeValue = value;
    return *this;
}

D88Builder& D88Builder::setTrackOffset(int t, uint32_t offset)
{
    offsetOverrides.emplace_back(t, offset);
    return *this;
}

std::vector<uint8_t> D88Builder::build() const
{
    // The full 688-byte header is laid out first; a shorter one is cut from
    // it afterwards, which is what a tool with a smaller table writes.
    std::vector<uint8_t> head(d88::kHeaderSize, 0);
    std::copy(title.begin(), title.end(), head.begin() + d88::kTitle);
    head[d88::kWriteProtect] = writeProtect ? 0x10 : 0x00;
    head[d88::kMediaType] = mediaType;

    std::vector<uint8_t> body;
    uint32_t offsets[d88::kTableEntries] = {};
    int lastFormatted = -1;
    for (int t = 0; t < d88::kTableEntries; ++t) {
        const std::vector<D88Record>& records = tracks[static_cast<size_t>(t)];
        if (records.empty())
            continue;
        lastFormatted = t;
        offsets[t] = static_cast<uint32_t>(headerSize + body.size());
        for (const D88Record& rec : records) {
            uint8_t raw[d88::kRecordSize] = {};
            raw[d88::kSecC] = rec.c;
            raw[d88::kSecH] = rec.h;
            raw[d88::kSecR] = rec.r;
            raw[d88::kSecN] = rec.n;
            const int count = rec.sectorCount >= 0 ? rec.sectorCount
                                                   : static_cast<int>(records.size());
            writeLe16(raw + d88::kSecCount, static_cast<uint16_t>(count));
            raw[d88::kSecDensity] = rec.density;
            raw[d88::kSecDeleted] = rec.deleted;
            raw[d88::kSecStatus] = rec.status;
            const int size = rec.dataSize >= 0 ? rec.dataSize : static_cast<int>(rec.data.size());
            writeLe16(raw + d88::kSecDataSize, static_cast<uint16_t>(size));
            body.insert(body.end(), raw, raw + d88::kRecordSize);
            body.insert(body.end(), rec.data.begin(), rec.data.end());
        }
        body.insert(body.end(), padding, 0);
    }
    const uint32_t imageSize = static_cast<uint32_t>(headerSize + body.size());
    if (unformattedAtEnd) {
        const int last = unformattedAtEndAll ? d88::kTableEntries - 1 : lastFormatted;
        for (int t = 0; t <= last; ++t)
            if (offsets[t] == 0)
                offsets[t] = imageSize;
    }
    for (const auto& o : offsetOverrides)
        if (o.first >= 0 && o.first < d88::kTableEntries)
            offsets[o.first] = o.second;
    for (int t = 0; t < d88::kTableEntries; ++t)
        writeLe32(&head[d88::kTrackTable + 4 * t], offsets[t]);
    writeLe32(&head[d88::kDiskSize], diskSizeGiven ? diskSizeValue : imageSize);

    head.resize(std::min(headerSize, d88::kHeaderSize));
    head.resize(headerSize, 0);
    head.insert(head.end(), body.begin(), body.end());
    return head;
}

std::vector<uint8_t> concatImages(const std::vector<std::vector<uint8_t>>& images)
{
    std::vector<uint8_t> out;
    for (const auto& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

} // namespace sim
