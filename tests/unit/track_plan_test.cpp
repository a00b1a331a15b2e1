#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "link/disk_client.h"
#include "sim/floppy.h"
#include "transfer/sector_desc.h"
#include "tests/support/hex_dump.h"

using testsupport::hexDump;

namespace
{

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMfm = 0x40;
constexpr uint8_t kFm = 0x00;

// A track under construction: descriptors plus the data they point at.
struct Track {
    std::vector<SectorDesc> descs;
    std::vector<Bytes> data;

    Track& add(uint8_t r, uint8_t n, uint8_t density = kMfm, uint8_t status = 0,
               uint8_t deleted = 0, int length = -1)
    {
        SectorDesc d;
        d.c = 5;
        d.h = 1;
        d.r = r;
        d.n = n;
        d.density = density;
        d.status = status;
        d.deleted = deleted;
        descs.push_back(d);
        const size_t size =
            length >= 0 ? static_cast<size_t>(length) : (size_t{128} << std::min<int>(n, 8));
        Bytes b(size);
        for (size_t i = 0; i < size; ++i)
            b[i] = static_cast<uint8_t>(r * 7 + i);
        data.push_back(std::move(b));
        return *this;
    }
    Track& run(int first, int count, uint8_t n, uint8_t density = kMfm)
    {
        for (int r = first; r < first + count; ++r)
            add(static_cast<uint8_t>(r), n, density);
        return *this;
    }
    // Points the descriptors at their data; done last, when no vector grows any more.
    const SectorDesc* table()
    {
        for (size_t i = 0; i < descs.size(); ++i) {
            descs[i].data = data[i].data();
            descs[i].length = static_cast<uint32_t>(data[i].size());
        }
        return descs.data();
    }
    int count() const { return static_cast<int>(descs.size()); }
};

constexpr size_t kGuard = 256;

struct Planned {
    Bytes payload;
    std::string printed;
    bool guardIntact = true;
};

Planned plan(int medium, Track& track)
{
    DiskClient client;
    client.medium = medium;
    Bytes buffer(DiskClient::kPayloadSize + kGuard, 0xA5);
    const SectorDesc* descs = track.table();
    testing::internal::CaptureStdout();
    const int length = client.buildTrackPayload(buffer.data(), descs, track.count());
    Planned p;
    p.printed = testing::internal::GetCapturedStdout();
    p.guardIntact = std::all_of(buffer.begin() + DiskClient::kPayloadSize, buffer.end(),
                                [](uint8_t b) { return b == 0xA5; });
    if (length >= 0 && length <= DiskClient::kPayloadSize)
        p.payload.assign(buffer.begin(), buffer.begin() + length);
    return p;
}

// The payload read back: the inverse of the planner's layout.
struct Parsed {
    uint8_t type = 0, n = 0, sc = 0, gap3 = 0, filler = 0;
    std::vector<Bytes> ids;
    struct Record {
        uint8_t type;
        Bytes id;
        Bytes data;
    };
    std::vector<Record> records;
};

bool parse(const Bytes& p, Parsed* out, std::string* why)
{
    if (p.size() < 6)
        return *why = "shorter than 6 bytes", false;
    out->type = p[0];
    out->n = p[1];
    out->sc = p[2];
    out->gap3 = p[3];
    out->filler = p[4];
    size_t pos = 5;
    if (p.size() - pos < 4u * out->sc)
        return *why = "IDs run past the end", false;
    for (int i = 0; i < out->sc; ++i, pos += 4)
        out->ids.emplace_back(&p[pos], &p[pos] + 4);
    for (;;) {
        if (pos >= p.size())
            return *why = "no end byte", false;
        if (p[pos] == 0x00)
            break;
        if (p.size() - pos < 7)
            return *why = "record head cut", false;
        const size_t length = p[pos + 5] | (p[pos + 6] << 8);
        if (p.size() - pos - 7 < length)
            return *why = "record data cut", false;
        out->records.push_back(
            {p[pos], Bytes(&p[pos + 1], &p[pos + 5]), Bytes(&p[pos + 7], &p[pos + 7] + length)});
        pos += 7 + length;
    }
    if (pos + 1 != p.size())
        return *why = "bytes after the end byte", false;
    return true;
}

Bytes id(uint8_t r, uint8_t n)
{
    return {5, 1, r, n};
}

// R of 0 marks a dummy slot in the expected lists.
constexpr uint8_t kDummy = 0;

struct WorkedRow {
    const char* name;
    int medium;
    Track track;
    const char* summary;
    uint8_t type, n, sc, gap3, filler;
    std::vector<uint8_t> slots; // R per slot, kDummy for a dummy
    bool fits;                  // the sim's floppy takes it without a violation
};

Track uniform(int count, uint8_t n, uint8_t density = kMfm)
{
    Track t;
    t.run(1, count, n, density);
    return t;
}

std::vector<uint8_t> seq(int first, int count)
{
    std::vector<uint8_t> v;
    for (int r = first; r < first + count; ++r)
        v.push_back(static_cast<uint8_t>(r));
    return v;
}

std::vector<WorkedRow> workedRows()
{
    std::vector<WorkedRow> rows;
    rows.push_back({"2D 16x256", 0, uniform(16, 1), " (N:1 Gap3:37h)", 0x41, 1, 16, 0x37, 0x00,
                    seq(1, 16), true});
    rows.push_back({"2HD 8x1024", 3, uniform(8, 3), " (N:3 Gap3:b5h)", 0x41, 3, 8, 0xB5, 0x00,
                    seq(1, 8), true});
    rows.push_back({"2HD 26x256", 3, uniform(26, 1), " (N:1 Gap3:48h)", 0x41, 1, 26, 0x48, 0x00,
                    seq(1, 26), true});
    rows.push_back({"2D FM 16x128", 0, uniform(16, 0, kFm), " (N:0 Gap3:1ah)", 0x01, 0, 16, 0x1A,
                    0x00, seq(1, 16), true});
    rows.push_back({"2D 1x128", 0, uniform(1, 0), " (N:0 Gap3:169ah)", 0x41, 0, 1, 0x9A, 0x00,
                    seq(1, 1), true});
    {
        Track t;
        t.add(1, 3).run(2, 4, 1);
        rows.push_back({"2D 1024 then 4x256",
                        0,
                        t,
                        " (N:2 Gap3:ffh[Mixed])",
                        0x41,
                        2,
                        6,
                        0xFF,
                        0x4E,
                        {1, kDummy, 2, 3, 4, 5},
                        true});
    }
    {
        Track t;
        t.run(1, 5, 3).add(6, 1);
        rows.push_back({"2D 5x1024 then 256",
                        0,
                        t,
                        " (N:0 Gap3:c5h[Mixed])",
                        0x41,
                        0,
                        16,
                        0xC5,
                        0x4E,
                        {1, kDummy, kDummy, 2, kDummy, kDummy, 3, kDummy, kDummy, 4, kDummy, kDummy,
                         5, kDummy, kDummy, 6},
                        true});
    }
    return rows;
}

TEST(TrackPlan, WorkedValues)
{
    for (WorkedRow& row : workedRows()) {
        SCOPED_TRACE(row.name);
        Planned p = plan(row.medium, row.track);
        EXPECT_EQ(p.printed, row.summary);
        Parsed parsed;
        std::string why;
        ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why << "\n" << hexDump(p.payload);
        const Bytes head(p.payload.begin(), p.payload.begin() + 5);
        const Bytes want = {row.type, row.n, row.sc, row.gap3, row.filler};
        EXPECT_EQ(head, want) << "expected " << hexDump(want) << "\nactual   " << hexDump(head);

        ASSERT_EQ(parsed.ids.size(), row.slots.size());
        for (size_t i = 0; i < row.slots.size(); ++i) {
            if (row.slots[i] == kDummy) {
                // Dummy IDs carry the grid's N and an R that no sector of the track uses.
                EXPECT_EQ(parsed.ids[i], (Bytes{5, 1, 0xFF, row.n})) << "slot " << i;
            } else {
                const SectorDesc& d = row.track.descs[row.slots[i] - 1];
                EXPECT_EQ(parsed.ids[i], id(d.r, d.n)) << "slot " << i;
            }
        }
        // Every sector's data record, in order, with its data.
        ASSERT_EQ(parsed.records.size(), row.track.descs.size());
        for (size_t i = 0; i < parsed.records.size(); ++i) {
            const SectorDesc& d = row.track.descs[i];
            EXPECT_EQ(parsed.records[i].type, 0x02 | d.density);
            EXPECT_EQ(parsed.records[i].id, id(d.r, d.n));
            EXPECT_EQ(parsed.records[i].data, row.track.data[i]);
        }

        // The simulated controller formats and writes it without losing a sector.
        sim::Floppy floppy;
        floppy.blank(row.medium);
        std::vector<std::string> violations;
        floppy.writeTrack(10, p.payload.data(), p.payload.size(), &violations);
        if (row.fits) {
            EXPECT_TRUE(violations.empty()) << (violations.empty() ? "" : violations[0]);
            std::vector<uint8_t> rs;
            for (const sim::Sector& s : floppy.track(10))
                rs.push_back(s.r);
            EXPECT_EQ(rs, seq(1, static_cast<int>(row.track.descs.size())));
        }
    }
}

TEST(TrackPlan, UnformattedPayloadPerMedium)
{
    const struct {
        int medium;
        Bytes want;
    } rows[] = {
        {0, {0x41, 0x06, 0x01, 0x06, 0x4E, 0x00}},
        {1, {0x41, 0x06, 0x01, 0x06, 0x4E, 0x00}},
        {3, {0x41, 0x07, 0x01, 0x06, 0x4E, 0x00}},
    };
    for (const auto& row : rows) {
        Track empty;
        Planned p = plan(row.medium, empty);
        EXPECT_EQ(p.payload, row.want) << "medium " << row.medium << "\nexpected " << hexDump(row.want)
                                       << "\nactual   " << hexDump(p.payload);
        EXPECT_EQ(p.printed, "");
    }
}

TEST(TrackPlan, NoUsableSectorIsUniformWithSizeMinusOne)
{
    Track t;
    t.add(1, 1, kMfm, 0xA0).add(2, 1, kMfm, 0xF0).add(3, 2, kMfm, 0xB0);
    Planned p = plan(0, t);
    // Z = 0: (6250 - 3 * 62 - 274) / 3 = 1930.
    EXPECT_EQ(p.printed, " (N:-1 Gap3:78ah)");
    const Bytes want = {0x41, 0xFF, 0x03, 0x8A, 0x00, 5, 1, 1, 1, 5, 1, 2, 1, 5, 1, 3, 2, 0x00};
    EXPECT_EQ(p.payload, want) << "expected " << hexDump(want) << "\nactual   " << hexDump(p.payload);
}

TEST(TrackPlan, SizeCodeAboveEightIsCappedInTheFormatOnly)
{
    Track t;
    t.add(1, 9, kMfm, 0, 0, 16);
    Planned p = plan(3, t);
    // 32768-byte sectors: 10416 - 32830 - 64 = -22478.
    EXPECT_EQ(p.printed, " (N:8 Gap3:ffffa832h)");
    const Bytes want = {0x41, 0x08, 0x01, 0x32, 0x00, 5, 1, 1, 9, 0x42, 5, 1, 1, 9, 16, 0};
    ASSERT_GE(p.payload.size(), want.size());
    EXPECT_EQ(Bytes(p.payload.begin(), p.payload.begin() + want.size()), want)
        << "actual " << hexDump(p.payload);
    EXPECT_EQ(p.payload.size(), want.size() + 16 + 1);
}

TEST(TrackPlan, NegativeGapKeepsLowByteAndPrintsWholeValue)
{
    // 26 FM sectors of 128 bytes do not fit a 2D track: (3125 - 26 * 160 - 32) / 26 = -41.
    Track t = uniform(26, 0, kFm);
    Planned p = plan(0, t);
    EXPECT_EQ(p.printed, " (N:0 Gap3:ffffffd7h)");
    ASSERT_GE(p.payload.size(), 5u);
    EXPECT_EQ(p.payload[3], 0xD7);
    EXPECT_EQ(p.payload[0], 0x01);
}

TEST(TrackPlan, UnusableSectorOnUniformTrackKeepsItsSlot)
{
    Track t = uniform(16, 1);
    t.descs[4].status = 0xB0;
    // A different size on the unusable sector does not make the track mixed.
    t.descs[7].status = 0xA0;
    t.descs[7].n = 3;
    Planned p = plan(0, t);
    EXPECT_EQ(p.printed, " (N:1 Gap3:37h)");
    Parsed parsed;
    std::string why;
    ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
    EXPECT_EQ(parsed.sc, 16);
    EXPECT_EQ(parsed.ids[4], id(5, 1));
    EXPECT_EQ(parsed.ids[7], id(8, 3));
    ASSERT_EQ(parsed.records.size(), 14u);
    EXPECT_EQ(parsed.records[4].id, id(6, 1));
    EXPECT_EQ(parsed.records[6].id, id(9, 1));
}

TEST(TrackPlan, UnusableSectorOnMixedTrackGetsNeitherSlotNorData)
{
    Track t;
    t.add(1, 3).add(2, 1).add(9, 0, kMfm, 0xF0).add(3, 1).add(4, 1).add(5, 1);
    Planned p = plan(0, t);
    EXPECT_EQ(p.printed, " (N:2 Gap3:ffh[Mixed])");
    Parsed parsed;
    std::string why;
    ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
    std::vector<uint8_t> rs;
    for (const Bytes& i : parsed.ids)
        rs.push_back(i[2]);
    EXPECT_EQ(rs, (std::vector<uint8_t>{1, 0xFF, 2, 3, 4, 5}));
    ASSERT_EQ(parsed.records.size(), 5u);
    EXPECT_EQ(parsed.records[2].id, id(3, 1));
}

TEST(TrackPlan, DummyIdAvoidsEveryRecordNumberOfTheTrack)
{
    Track t;
    t.add(0xFF, 3).add(0xFE, 1).add(1, 1);
    Planned p = plan(0, t);
    Parsed parsed;
    std::string why;
    ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
    ASSERT_GE(parsed.ids.size(), 2u);
    EXPECT_EQ(parsed.ids[1], (Bytes{5, 1, 0xFD, parsed.n}));
}

TEST(TrackPlan, DensityAndDeletedMarkPerRecord)
{
    // The first descriptor decides the track's density; each record keeps its own.
    Track t;
    t.add(1, 1, kFm).add(2, 1, kMfm, 0, 0x10).add(3, 1, kFm, 0, 0x10);
    Planned p = plan(0, t);
    Parsed parsed;
    std::string why;
    ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
    EXPECT_EQ(parsed.type, 0x01);
    ASSERT_EQ(parsed.records.size(), 3u);
    EXPECT_EQ(parsed.records[0].type, 0x02);
    EXPECT_EQ(parsed.records[1].type, 0xC2);
    EXPECT_EQ(parsed.records[2].type, 0x82);

    // Density bytes with other bits (a damaged or foreign image) still count
    // as MFM, and only the MFM bit reaches the type bytes: a stray bit 7 would
    // be a deleted mark, bits 0 and 1 another kind of record.
    for (uint8_t odd : {uint8_t(0x80), uint8_t(0x01), uint8_t(0xC3)}) {
        Track u;
        u.add(1, 1, odd).add(2, 1, odd);
        Planned q = plan(0, u);
        Parsed back;
        ASSERT_TRUE(parse(q.payload, &back, &why)) << why;
        EXPECT_EQ(back.type, 0x41) << int(odd);
        ASSERT_EQ(back.records.size(), 2u);
        EXPECT_EQ(back.records[0].type, 0x42) << int(odd);
    }
}

TEST(TrackPlan, ShortAndEmptyRecordsAreWrittenAsGiven)
{
    Track t;
    t.add(1, 1, kMfm, 0, 0, 100).add(2, 1, kMfm, 0, 0, 0);
    Planned p = plan(0, t);
    Parsed parsed;
    std::string why;
    ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.records[0].data.size(), 100u);
    EXPECT_EQ(parsed.records[1].data.size(), 0u);
    EXPECT_EQ(p.payload.size(), 5u + 8 + 7 + 100 + 7 + 1);
}

TEST(TrackPlan, FailedSearchStaysInBounds)
{
    const struct {
        const char* name;
        int medium;
        Track track;
        const char* summary;
    } rows[] = {
        // Seven 1024-byte sectors and a small one: more than a 2D track holds.
        {"overcrowded", 0, Track().run(1, 7, 3).add(8, 0),
         "[TOO DIFFICULT!] (N:3 Gap3:03h[Mixed])"},
        // A sector larger than the track beside small ones; its code is capped at 8.
        {"oversized", 0, Track().add(1, 0).add(2, 12, kMfm, 0, 0, 64).add(3, 0),
         "[TOO DIFFICULT!] (N:8 Gap3:03h[Mixed])"},
        // 64 sectors alternating in size.
        {"64 records", 3,
         [] {
             Track t;
             for (int r = 1; r <= 64; ++r)
                 t.add(static_cast<uint8_t>(r), r % 2 ? 0 : 2);
             return t;
         }(),
         "[TOO DIFFICULT!] (N:2 Gap3:03h[Mixed])"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Track t = row.track;
        Planned p = plan(row.medium, t);
        EXPECT_EQ(p.printed, row.summary);
        EXPECT_TRUE(p.guardIntact);
        Parsed parsed;
        std::string why;
        ASSERT_TRUE(parse(p.payload, &parsed, &why)) << why;
        // Every usable sector gets exactly one slot: no dummies.
        EXPECT_EQ(parsed.sc, t.count());
        EXPECT_EQ(parsed.records.size(), static_cast<size_t>(t.count()));
    }
}

TEST(TrackPlan, PayloadNeverOverrunsItsBuffer)
{
    // Descriptors claiming far more data than a track holds, and random layouts.
    std::mt19937 random(20240601);
    Bytes big(40000, 0x11);
    for (int round = 0; round < 300; ++round) {
        Track t;
        const int count = 1 + static_cast<int>(random() % 64);
        for (int i = 0; i < count; ++i) {
            t.add(static_cast<uint8_t>(random()), static_cast<uint8_t>(random() % 12),
                  random() % 4 ? kMfm : kFm, random() % 5 ? 0 : 0xB0, random() % 7 ? 0 : 0x10, 0);
        }
        t.table();
        for (SectorDesc& d : t.descs) {
            d.data = big.data();
            d.length = static_cast<uint32_t>(random() % 40000);
        }
        DiskClient client;
        client.medium = static_cast<int>(random() % 4);
        Bytes buffer(DiskClient::kPayloadSize + kGuard, 0xA5);
        testing::internal::CaptureStdout();
        const int length = client.buildTrackPayload(buffer.data(), t.descs.data(), count);
        testing::internal::GetCapturedStdout();
        ASSERT_GE(length, 6) << "round " << round;
        ASSERT_LE(length, DiskClient::kPayloadSize) << "round " << round;
        ASSERT_TRUE(std::all_of(buffer.begin() + DiskClient::kPayloadSize, buffer.end(),
                                [](uint8_t b) { return b == 0xA5; }))
            << "round " << round;
        Parsed parsed;
        std::string why;
        ASSERT_TRUE(parse(Bytes(buffer.begin(), buffer.begin() + length), &parsed, &why))
            << "round " << round << ": " << why;
        size_t data = 0;
        for (const auto& r : parsed.records)
            data += r.data.size();
        EXPECT_LE(data, static_cast<size_t>(DiskClient::kTrackDataSize));
        EXPECT_LE(parsed.sc, 64) << "round " << round;
    }
}

TEST(TrackPlan, SearchMaximisesTheSmallestMargin)
{
    Track t;
    t.add(1, 1).add(2, 0);
    DiskClient client;
    client.medium = 0;
    int n = -7, gap3 = -7;
    ASSERT_TRUE(client.searchGap(t.table(), t.count(), n, gap3, 6200));
    // 256 + 64 and 128 + 64 bytes: a 1024-byte slot with gap 255 leaves the most room.
    EXPECT_EQ(n, 3);
    EXPECT_EQ(gap3, 255);

    // Nothing fits: the values come back untouched.
    Track full = Track().run(1, 7, 3).add(8, 0);
    n = 4;
    gap3 = 99;
    EXPECT_FALSE(client.searchGap(full.table(), full.count(), n, gap3, 6200));
    EXPECT_EQ(n, 4);
    EXPECT_EQ(gap3, 99);
}

} // namespace
