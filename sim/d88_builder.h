#pragma once
// Builds D88 images in memory for tests and benchmarks, record by record, so
// that an image can carry exactly the quirks a reader must survive: the
// statuses and flags of other tools, unformatted tracks between formatted
// ones, offsets at the end of the file, short headers, padding after tracks,
// sector counts and data sizes that disagree with the records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One D88 sector record with its fields as they go into the file.
struct D88Record {
    uint8_t c = 0, h = 0, r = 1, n = 1;
    uint8_t density = 0x00;      // 0x00 MFM, 0x40 FM
    uint8_t deleted = 0x00;      // 0x10 deleted-data mark
    uint8_t status = 0x00;       // 0x00, 0x10 (some tools), 0xA0, 0xB0, 0xF0, ...
    int sectorCount = -1;        // -1: the number of records of the track
    int dataSize = -1;           // -1: data.size(); otherwise written as given
    std::vector<uint8_t> data;
};

class D88Builder {
public:
    explicit D88Builder(uint8_t mediaType = 0x00) : mediaType(mediaType) {}

    D88Builder& setTitle(const std::string& text);
    // Raw title bytes, all 17 of them (byte 16 need not be NUL).
    D88Builder& setTitleBytes(const std::vector<uint8_t>& bytes);
    D88Builder& setMediaType(uint8_t value);
    D88Builder& setWriteProtect(bool on);

    // Replaces track t's records; an empty list leaves the track unformatted.
    D88Builder& setTrack(int t, std::vector<D88Record> records);
    // Track t with count sectors R = firstR, firstR + 1, ... of size code n;
    // C and H from t. Data: fill, or when fill is negative a pattern of t, R
    // and the byte index that tells the sectors apart.
    D88Builder& addRegularTrack(int t, int count, int n, bool fm = false, int fill = -1,
                                int firstR = 1);
    std::vector<D88Record>& track(int t) { return tracks.at(static_cast<size_t>(t)); }

    // Quirks of other tools.
    // Unformatted tracks (up to the last formatted one, or all entries when
    // allEntries) point at the end of the image instead of holding 0.
    D88Builder& setUnformattedAtEnd(bool on, bool allEntries = false);
    // Unused bytes after every formatted track.
    D88Builder& setTrackPadding(size_t bytes);
    // A header of this many bytes (672 = a table of 160 entries); tracks begin
    // right after it. Entries that do not fit are dropped.
    D88Builder& setHeaderSize(size_t bytes);
    // diskSize as given instead of the image's size (0xDEADD13C, 0, ...).
    D88Builder& setDiskSize(uint32_t value);
    // Overrides the table entry of track t after layout.
    D88Builder& setTrackOffset(int t, uint32_t offset);

    std::vector<uint8_t> build() const;

private:
    uint8_t mediaType;
    std::vector<uint8_t> title = std::vector<uint8_t>(17, 0);
    bool writeProtect = false;
    std::vector<std::vector<D88Record>> tracks = std::vector<std::vector<D88Record>>(164);
    bool unformattedAtEnd = false;
    bool unformattedAtEndAll = false;
    size_t padding = 0;
    size_t headerSize = 688;
    bool diskSizeGiven = false;
    uint32_t diskSizeValue = 0;
    std::vector<std::pair<int, uint32_t>> offsetOverrides;
};

// The pattern byte addRegularTrack writes at index i of sector R of track t.
uint8_t d88Pattern(int t, int r, size_t i);

// Several images back to back, as one multi-image file.
std::vector<uint8_t> concatImages(const std::vector<std::vector<uint8_t>>& images);

} // namespace sim
