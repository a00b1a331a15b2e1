#include "image/d88.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "image/image_file.h"
#include "tests/support/hex_dump.h"
#include "tests/support/temp_file.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;
using d88::Selected;

// ---- D88Header / D88SectorHeader ----------------------------------------------

TEST(D88Header, EncodesAndDecodesGoldenBytes)
{
    d88::D88Header header;
    std::memcpy(header.title, "made by ferry2", 14);
    header.writeProtect = 0x10;
    header.mediaType = 0x20;
    header.diskSize = 0xDEADD13C;
    header.trackOffsets[0] = 0x2B0;
    header.trackOffsets[1] = 0x12345678;
    header.trackOffsets[163] = 0x00400000;

    Bytes expected(688, 0);
    std::memcpy(expected.data(), "made by ferry2", 14);
    expected[26] = 0x10;
    expected[27] = 0x20;
    const uint8_t size[] = {0x3C, 0xD1, 0xAD, 0xDE};
    std::memcpy(&expected[28], size, 4);
    const uint8_t t0[] = {0xB0, 0x02, 0x00, 0x00};
    const uint8_t t1[] = {0x78, 0x56, 0x34, 0x12};
    const uint8_t t163[] = {0x00, 0x00, 0x40, 0x00};
    std::memcpy(&expected[32], t0, 4);
    std::memcpy(&expected[36], t1, 4);
    std::memcpy(&expected[32 + 4 * 163], t163, 4);

    Bytes actual(688, 0xEE);   // reserved bytes must come out zero
    header.encode(actual.data());
    EXPECT_EQ(actual, expected) << "expected\n" << hexDump(expected) << "\nactual\n" << hexDump(actual);

    const d88::D88Header back = d88::D88Header::decode(expected.data());
    EXPECT_EQ(0, std::memcmp(back.title, header.title, 17));
    EXPECT_EQ(back.writeProtect, 0x10);
    EXPECT_EQ(back.mediaType, 0x20);
    EXPECT_EQ(back.diskSize, 0xDEADD13Cu);
    for (int t = 0; t < 164; ++t)
        EXPECT_EQ(back.trackOffsets[t], header.trackOffsets[t]) << "track " << t;
}

// An interrupted read's progress in the reserved bytes: written only when
// given, read back only from an image that still has the marker and our
// mark, version and a sane count.
TEST(D88Header, ProgressRecord)
{
    const struct {
        const char* label;
        uint32_t diskSize;
        Bytes reserved;     // bytes 0x11..0x19 as stored
        int tracksDone;     // decoded; -1 none
        uint32_t dataEnd;
    } rows[] = {
        {"ours", 0xDEADD13C, {'F', '2', 1, 40, 0x10, 0x20, 0x03, 0x00, 0}, 40, 0x32010},
        {"all tracks", 0xDEADD13C, {'F', '2', 1, 164, 0xB0, 0x02, 0, 0, 0}, 164, 0x2B0},
        {"complete image", 0x00032010, {'F', '2', 1, 40, 0x10, 0x20, 0x03, 0x00, 0}, -1, 0},
        {"no mark", 0xDEADD13C, {0, 0, 0, 0, 0, 0, 0, 0, 0}, -1, 0},
        {"other version", 0xDEADD13C, {'F', '2', 2, 40, 0x10, 0x20, 0x03, 0x00, 0}, -1, 0},
        {"count past 164", 0xDEADD13C, {'F', '2', 1, 165, 0x10, 0x20, 0x03, 0x00, 0}, -1, 0},
        {"last byte set", 0xDEADD13C, {'F', '2', 1, 40, 0x10, 0x20, 0x03, 0x00, 7}, -1, 0},
    };
    for (const auto& row : rows) {
        Bytes bytes(688, 0);
        writeLe32(&bytes[28], row.diskSize);
        std::memcpy(&bytes[0x11], row.reserved.data(), 9);
        const d88::D88Header h = d88::D88Header::decode(bytes.data());
        EXPECT_EQ(h.tracksDone, row.tracksDone) << row.label;
        EXPECT_EQ(h.dataEnd, row.dataEnd) << row.label;
        if (row.tracksDone < 0)
            continue;
        Bytes again(688, 0xEE);
        h.encode(again.data());
        EXPECT_EQ(again, bytes) << row.label;
    }
}

// An interrupted read is stamped with the title and the write-protect flag as
// a complete one is: bytes 0-15 and 26 change, nothing else, so the marker
// and the progress record still let --resume go on.
TEST(D88Header, StampOfAnInterruptedReadTouchesOnlyTitleAndFlag)
{
    Bytes header(688, 0);
    std::memcpy(&header[0], "made by ferry2", 14);
    writeLe32(&header[28], 0xDEADD13C);
    const uint8_t progress[9] = {'F', '2', 1, 40, 0x10, 0x20, 0x03, 0x00, 0};
    std::memcpy(&header[0x11], progress, 9);
    Bytes file = header;
    file.insert(file.end(), 300, 0x5A); // tracks stored so far
    testsupport::TempFile temp("interrupted.d88", file);

    ImageFile image;
    ASSERT_TRUE(image.open(temp.path.c_str(), ImageFile::OpenAlways));
    ASSERT_TRUE(d88::stampTitle(image, "floppy\0\0\0\0\0\0\0\0\0\xFF", true));
    image.close();

    Bytes expected = file;
    std::memcpy(&expected[0], "floppy\0\0\0\0\0\0\0\0\0\xFF", 16);
    expected[26] = 0x10;
    EXPECT_EQ(temp.contents(), expected);
    const d88::D88Header decoded = d88::D88Header::decode(expected.data());
    EXPECT_EQ(decoded.tracksDone, 40);
    EXPECT_EQ(decoded.dataEnd, 0x32010u);
}

TEST(D88SectorHeader, EncodesAndDecodesGoldenBytes)
{
    struct Row {
        d88::D88SectorHeader sector;
        uint8_t bytes[16];
    };
    auto make = [](uint8_t c, uint8_t h, uint8_t r, uint8_t n, uint16_t count, uint8_t density,
                   uint8_t deleted, uint8_t status, uint16_t size) {
        d88::D88SectorHeader s;
        s.c = c, s.h = h, s.r = r, s.n = n, s.sectorCount = count, s.density = density;
        s.deleted = deleted, s.status = status, s.dataSize = size;
        return s;
    };
    const Row rows[] = {
        {make(0, 0, 1, 1, 16, 0x00, 0x00, 0x00, 256),
         {0x00, 0x00, 0x01, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0x00, 0x01}},
        {make(0x29, 1, 0xF5, 3, 0x0102, 0x40, 0x10, 0xB0, 0x0400),
         {0x29, 0x01, 0xF5, 0x03, 0x02, 0x01, 0x40, 0x10, 0xB0, 0, 0, 0, 0, 0, 0x00, 0x04}},
        {make(2, 0, 9, 2, 9, 0x00, 0x00, 0xA0, 0),
         {0x02, 0x00, 0x09, 0x02, 0x09, 0x00, 0x00, 0x00, 0xA0, 0, 0, 0, 0, 0, 0x00, 0x00}},
    };
    for (const Row& row : rows) {
        uint8_t actual[16];
        std::memset(actual, 0xEE, sizeof actual);
        row.sector.encode(actual);
        EXPECT_EQ(0, std::memcmp(actual, row.bytes, 16))
            << "expected " << hexDump(row.bytes, 16) << "\nactual   " << hexDump(actual, 16);

        const d88::D88SectorHeader back = d88::D88SectorHeader::decode(row.bytes);
        uint8_t again[16];
        back.encode(again);
        EXPECT_EQ(0, std::memcmp(again, row.bytes, 16)) << hexDump(again, 16);
    }
}

TEST(D88Medium, CodesTypesTrackCountsAndNames)
{
    struct Row {
        int medium;
        uint8_t mediaType;
        int tracks;
        const char* name;
    };
    const Row rows[] = {
        {0, 0x00, 84, "2D"}, {1, 0x10, 164, "2DD"}, {2, 0x00, 84, "???"}, {3, 0x20, 164, "2HD"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(d88::mediaTypeFor(row.medium), row.mediaType) << row.medium;
        EXPECT_EQ(d88::trackCountFor(row.medium), row.tracks) << row.medium;
        EXPECT_STREQ(d88::mediumName(row.medium), row.name);
    }
    EXPECT_EQ(d88::mediumFor(0x00), 0);
    EXPECT_EQ(d88::mediumFor(0x10), 1);
    EXPECT_EQ(d88::mediumFor(0x20), 3);
    EXPECT_EQ(d88::mediumFor(0x40), 0);   // unknown types read as 2D
    EXPECT_EQ(d88::mediumFor(0x30), 0);
}

// ---- repairHeader -----------------------------------------------------------------

Bytes headerWith(std::initializer_list<std::pair<int, uint32_t>> entries)
{
    Bytes h(688, 0);
    std::memcpy(h.data(), "TITLE", 5);
    h[27] = 0x10;
    writeLe32(&h[28], 0x1000);
    // Fill the bytes that a short-header tool would have as its first record.
    for (int i = 640; i < 688; ++i)
        h[i] = static_cast<uint8_t>(i);
    for (const auto& e : entries)
        writeLe32(&h[32 + 4 * e.first], e.second);
    return h;
}

TEST(D88Repair, ZeroesHeaderFromFirstTrackOffset)
{
    struct Row {
        const char* name;
        Bytes header;
        uint32_t cut;   // bytes from here to 687 become zero; 688 = unchanged
    };
    const Row rows[] = {
        {"first offset 672", headerWith({{0, 672}, {1, 0x1000}}), 672},
        {"first offset 0x170", headerWith({{3, 0x170}, {0, 0x400}, {83, 0x200}}), 0x170},
        {"below 32", headerWith({{0, 20}}), 20},
        {"all at or above 688", headerWith({{0, 688}, {1, 0x2000}, {83, 0x3000}}), 688},
        {"first 84 entries zero", headerWith({{84, 0x100}, {100, 0x20}}), 688},
        {"entry 83 counts", headerWith({{83, 0x2A0}, {10, 0x1000}}), 0x2A0},
    };
    for (const Row& row : rows) {
        Bytes actual = row.header;
        d88::repairHeader(actual.data());
        Bytes expected = row.header;
        for (uint32_t i = row.cut; i < 688; ++i)
            expected[i] = 0;
        EXPECT_EQ(actual, expected) << row.name << "\nexpected\n"
                                    << hexDump(expected) << "\nactual\n"
                                    << hexDump(actual);
    }
}

TEST(D88Repair, OffsetSixSeventyTwoClearsTheLastFourEntries)
{
    Bytes h = headerWith({});
    for (int t = 0; t < 160; ++t)
        writeLe32(&h[32 + 4 * t], 672 + 0x1100 * t);
    const Bytes before = h;
    d88::repairHeader(h.data());
    const d88::D88Header header = d88::D88Header::decode(h.data());
    for (int t = 0; t < 160; ++t)
        EXPECT_EQ(header.trackOffsets[t], 672u + 0x1100u * t) << "entry " << t;
    for (int t = 160; t < 164; ++t)
        EXPECT_EQ(header.trackOffsets[t], 0u) << "entry " << t;
    EXPECT_EQ(0, std::memcmp(h.data(), before.data(), 672));
}

TEST(D88Repair, BelowThirtyTwoClearsTitleAndMediaType)
{
    Bytes h = headerWith({{0, 16}});
    d88::repairHeader(h.data());
    const d88::D88Header header = d88::D88Header::decode(h.data());
    EXPECT_EQ(0, std::memcmp(header.title, "TITLE", 5));
    EXPECT_EQ(header.title[16], 0);
    EXPECT_EQ(header.mediaType, 0);
    EXPECT_EQ(header.diskSize, 0u);
    EXPECT_EQ(header.trackOffsets[0], 0u);
}

// ---- selectImage ------------------------------------------------------------------

// An image of size bytes whose header says diskSize and whose bytes after the
// size field carry a tag, so the selected position can be checked by reading.
Bytes image(uint32_t size, uint32_t diskSize, uint8_t tag)
{
    Bytes b(size, tag);
    if (size >= 32) {
        std::memset(b.data(), 0, 32);
        b[0] = tag;
        writeLe32(&b[28], diskSize);
    }
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct SelectRow {
    const char* name;
    Bytes file;
    int index;
    bool ok;
    int32_t base;
    Selected where;
};

const char* whereName(Selected s)
{
    switch (s) {
    case Selected::Image: return "Image";
    case Selected::InProgress: return "InProgress";
    case Selected::EndOfFile: return "EndOfFile";
    }
    return "?";
}

TEST(D88SelectImage, WalksImagesAndReportsWhereItStopped)
{
    constexpr uint32_t A = 1000, B = 2000;
    const Bytes two = concat({image(A, A, 0xA1), image(B, B, 0xB2)});
    const Bytes interrupted = concat({image(A, A, 0xA1), image(B, 0xDEADD13C, 0xB2)});
    const Bytes big = image(688, 0x400000, 0xC3);
    const Bytes tooBig = image(688, 0x400001, 0xC3);
    const Bytes zero = concat({image(A, A, 0xA1), image(B, 0, 0xB2)});
    const Bytes cutHeader = concat({image(A, A, 0xA1), Bytes(20, 0x55)});
    const Bytes cutSizeField = concat({image(A, A, 0xA1), Bytes(30, 0x00)});
    const Bytes markerFirst = image(A, 0xDEADD13C, 0xD4);

    const SelectRow rows[] = {
        {"two, index 1", two, 1, true, 0, Selected::Image},
        {"two, index 2", two, 2, true, A, Selected::Image},
        {"two, index 3", two, 3, true, A + B, Selected::EndOfFile},
        {"two, index 99999", two, 99999, true, A + B, Selected::EndOfFile},
        {"two, index 0", two, 0, true, 0, Selected::Image},
        {"two, index -1", two, -1, true, 0, Selected::Image},
        {"interrupted, index 3", interrupted, 3, true, A, Selected::InProgress},
        {"interrupted, index 99999", interrupted, 99999, true, A, Selected::InProgress},
        {"interrupted, index 2", interrupted, 2, true, A, Selected::InProgress},
        {"marker first, index 99999", markerFirst, 99999, true, 0, Selected::InProgress},
        {"0x400000 accepted", big, 99999, true, 0x400000, Selected::EndOfFile},
        {"0x400001 refused", tooBig, 99999, false, 0, Selected::Image},
        {"0x400001 ignored at index 1", tooBig, 1, true, 0, Selected::Image},
        {"zero size refused", zero, 99999, false, 0, Selected::Image},
        {"zero size beyond index", zero, 2, true, A, Selected::Image},
        {"empty, index 1", Bytes(), 1, true, 0, Selected::EndOfFile},
        {"empty, index 99999", Bytes(), 99999, true, 0, Selected::EndOfFile},
        {"ends inside a header", cutHeader, 99999, false, 0, Selected::Image},
        {"ends inside the size field", cutSizeField, 99999, false, 0, Selected::Image},
    };
    for (const SelectRow& row : rows) {
        testsupport::TempFile file("image.d88", row.file);
        ImageFile f;
        ASSERT_TRUE(f.open(file.path.c_str(), ImageFile::ReadOnly)) << row.name;
        Selected where = Selected::Image;
        const bool ok = d88::selectImage(f, row.index, &where);
        EXPECT_EQ(ok, row.ok) << row.name;
        EXPECT_EQ(f.baseOffset, row.base) << row.name;
        if (!ok)
            continue;
        EXPECT_EQ(where, row.where) << row.name << ": " << whereName(where);
        // Positioned at the first byte of the selection.
        EXPECT_EQ(f.tell(), 0) << row.name;
        if (where != Selected::EndOfFile) {
            uint8_t first = 0;
            EXPECT_EQ(f.read(&first, 1), 1) << row.name;
            EXPECT_EQ(first, row.file[static_cast<size_t>(row.base)]) << row.name;
        }
    }
}

} // namespace
