#pragma once
// A test-side reading of D88 files, independent of the client's image code, to
// compare what a transfer produced with what it started from.
#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct SectorView {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint8_t density = 0, deleted = 0, status = 0;
    uint16_t sectorCount = 0;
    std::vector<uint8_t> data;
};

struct ImageView {
    std::vector<uint8_t> title;     // 17 bytes
    uint8_t writeProtect = 0;
    uint8_t mediaType = 0;
    uint32_t diskSize = 0;
    uint32_t offset = 0;            // where the image starts in its file
    std::vector<uint32_t> trackOffsets;
    std::vector<std::vector<SectorView>> tracks;   // 164 entries
};

// Every image of a file; false with a reason on a malformed file.
bool parseImages(const std::vector<uint8_t>& file, std::vector<ImageView>* images,
                 std::string* error);

// What reading source from a floppy should record: sectors with status 0xA0 or
// 0xF0 carry no data, status 0x10 (deleted data read fine) is a deleted mark
// with status 0, and tracks beyond the medium's track count are dropped.
ImageView asRead(const ImageView& source);

// A description of the first differences in the sectors of two images (media
// type included; title and write-protect ignored), or "" when they agree.
std::string compareSectors(const ImageView& expected, const ImageView& actual);

} // namespace e2e
