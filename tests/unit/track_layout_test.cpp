#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/d88.h"
#include "inspect/track_layout.h"

namespace
{

// One sector of a row: R and size code, and where the ID says it lies when
// that is not the track's own place (c < 0: the track's).
struct S {
    int r;
    int n = 1;
    bool fm = false;
    int c = -1, h = -1;
};

struct Case {
    int t;
    std::vector<S> sectors;
    const char* layout;
    const char* records;
    const char* oddIds;
};

TEST(TrackLayout, Line)
{
    std::vector<S> sixteen;
    for (int r = 1; r <= 16; ++r)
        sixteen.push_back({r});
    std::vector<S> fm16;
    for (int r = 1; r <= 16; ++r)
        fm16.push_back({r, 0, true});

    const std::vector<Case> cases = {
        {0, sixteen, "16 x 256 MFM", "1-16", ""},
        {11, {{1, 3}, {2}, {3}, {4}, {5}}, "1 x 1024 + 4 x 256 MFM", "1-5", ""},
        {10, fm16, "16 x 128 FM", "1-16", ""},
        {0, {{1, 0, true}, {2}, {3}}, "1 x 128 FM + 2 x 256 MFM", "1-3", ""},
        {2, {{1}, {2}, {3, 2}, {4}, {5}}, "2 x 256 + 1 x 512 + 2 x 256 MFM", "1-5", ""},
        {4, {{1, 10}, {2, 10}}, "2 x N=10 MFM", "1-2", ""},
        {4, {{5}, {1}, {2}, {3}, {4}, {9}, {244}}, "7 x 256 MFM", "1-5, 9, 244", ""},
        {9, {{1}, {2}, {3, 1, false, 7, 1}}, "3 x 256 MFM", "1-3", "ID の C/H が違う: C7 H1 (R 3)"},
        {9,
         {{1, 1, false, 4, 0}, {2, 1, false, 4, 0}, {3}},
         "3 x 256 MFM",
         "1-3",
         "ID の C/H が違う: C4 H0 (R 1-2)"},
        {8, {{1}, {1}, {2}, {2}, {2}}, "5 x 256 MFM", "1-2", "R の重複: R1 x2, R2 x3"},
        {8,
         {{1}, {1}, {244, 1, false, 7, 1}},
         "3 x 256 MFM",
         "1, 244",
         "ID の C/H が違う: C7 H1 (R 244); R の重複: R1 x2"},
        {3, {}, "", "", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string("track ") + std::to_string(k.t) + " " + k.layout);
        d88::TrackRecords track;
        for (const S& s : k.sectors) {
            d88::SectorRecord rec;
            rec.c = static_cast<uint8_t>(s.c >= 0 ? s.c : k.t / 2);
            rec.h = static_cast<uint8_t>(s.h >= 0 ? s.h : k.t % 2);
            rec.r = static_cast<uint8_t>(s.r);
            rec.n = static_cast<uint8_t>(s.n);
            rec.density = s.fm ? d88::kDensityFm : d88::kDensityMfm;
            track.push_back(rec);
        }
        const TrackLayout line = describeTrack(k.t, track);
        EXPECT_EQ(line.layout, k.layout);
        EXPECT_EQ(line.records, k.records);
        EXPECT_EQ(line.oddIds, k.oddIds);
    }
}

TEST(TrackLayout, SectorMapCharacter)
{
    struct Row {
        uint8_t status, deleted;
        SectorKind kind;
        char map;
    };
    const Row rows[] = {
        {0x00, 0x00, SectorKind::Good, '.'},    {0x00, 0x10, SectorKind::Deleted, 'd'},
        {0x10, 0x10, SectorKind::Deleted, 'd'}, // another tool's "deleted, read fine"
        {0x10, 0x00, SectorKind::Deleted, 'd'}, {0xB0, 0x00, SectorKind::DataCrc, 'D'},
        {0xB0, 0x10, SectorKind::DataCrc, 'D'}, // the error is what matters
        {0xA0, 0x00, SectorKind::IdCrc, 'I'},   {0xF0, 0x00, SectorKind::NoAddressMark, 'M'},
        {0x20, 0x00, SectorKind::Other, '?'},
    };
    for (const Row& row : rows) {
        d88::SectorRecord s;
        s.status = row.status;
        s.deleted = row.deleted;
        EXPECT_EQ(sectorKind(s), row.kind) << int(row.status) << " " << int(row.deleted);
        EXPECT_EQ(sectorMapChar(sectorKind(s)), row.map);
    }
}

} // namespace
