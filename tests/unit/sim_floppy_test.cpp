// The simulator's virtual floppy: track replies checked against a decoder
// written here from the reply format, the physical model of the write-track
// command on the planner's worked layouts, and D88 loading of well-formed,
// quirky and damaged images.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "sim/d88_builder.h"
#include "sim/d88_file.h"
#include "sim/d88_info.h"
#include "sim/floppy.h"
#include "sim/medium_faults.h"
#include "sim/sample_disk.h"
#include "tests/support/hex_dump.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "sim_floppy_" + name;
}

// --- an independent decoder of the track reply ------------------------------

struct Report {
    uint8_t r, c, h, n, mode, st0, st1, st2;
    uint16_t length, offset;
};

uint16_t nominal(uint8_t n)
{
    return static_cast<uint16_t>(n <= 6 ? 128 << n : 256);
}

// Decodes a reply of track t; fails the test when a report points outside it.
std::vector<Report> decodeReply(const Bytes& reply, int t, Bytes* dataArea = nullptr)
{
    std::vector<Report> out;
    EXPECT_GE(reply.size(), 1u);
    if (reply.empty())
        return out;
    const size_t n = reply[0];
    EXPECT_GE(reply.size(), 1 + 12 * n);
    if (reply.size() < 1 + 12 * n)
        return out;
    Report p{0, static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1), 1, 0x40, 0, 0, 0,
             0, 0};
    const size_t areaStart = 1 + 12 * n;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* in = &reply[1 + 12 * i];
        Report d;
        d.r = static_cast<uint8_t>(p.r + 1 - in[0]);
        d.c = static_cast<uint8_t>(p.c + in[5]);
        d.h = static_cast<uint8_t>(p.h + in[6]);
        d.n = static_cast<uint8_t>(p.n + in[7]);
        d.mode = static_cast<uint8_t>(p.mode + in[8]);
        d.st0 = static_cast<uint8_t>(p.st0 + in[9]);
        d.st1 = static_cast<uint8_t>(p.st1 + in[10]);
        d.st2 = static_cast<uint8_t>(p.st2 + in[11]);
        const uint16_t len = nominal(d.n);
        d.length = static_cast<uint16_t>(readLe16(in + 1) + len);
        d.offset = i == 0 ? static_cast<uint16_t>(0u - readLe16(in + 3))
                          : static_cast<uint16_t>(p.offset + len - readLe16(in + 3));
        EXPECT_LE(areaStart + d.offset + d.length, reply.size()) << "report " << i;
        out.push_back(d);
        p = d;
    }
    if (dataArea)
        dataArea->assign(reply.begin() + static_cast<long>(areaStart), reply.end());
    return out;
}

// Checks that the reply of track t decodes back to the floppy's sectors.
void expectReplyMatches(const sim::Floppy& f, int t)
{
    SCOPED_TRACE("track " + std::to_string(t));
    const Bytes reply = f.trackReply(t);
    ASSERT_LE(reply.size(), 16383u);
    Bytes area;
    const std::vector<Report> reports = decodeReply(reply, t, &area);
    const auto& track = f.track(t);
    ASSERT_EQ(reports.size(), std::min<size_t>(track.size(), 255));
    size_t cursor = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& d = reports[i];
        const sim::Sector& s = track[i];
        EXPECT_EQ(d.c, s.c);
        EXPECT_EQ(d.h, s.h);
        EXPECT_EQ(d.r, s.r);
        EXPECT_EQ(d.n, s.n);
        EXPECT_EQ(d.mode, s.fm ? 0x00 : 0x40);
        EXPECT_EQ((d.st2 & 0x40) != 0, s.deleted);
        EXPECT_EQ(d.offset, cursor) << "data packed in report order";
        ASSERT_LE(d.offset + static_cast<size_t>(d.length), area.size());
        EXPECT_LE(d.length, s.data.size());
        EXPECT_TRUE(std::equal(area.begin() + d.offset, area.begin() + d.offset + d.length,
                               s.data.begin()))
            << "sector " << i;
        cursor += d.length;
    }
}

sim::Sector sector(int c, int h, int r, int n, uint8_t fill, bool fm = false)
{
    sim::Sector s;
    s.c = static_cast<uint8_t>(c);
    s.h = static_cast<uint8_t>(h);
    s.r = static_cast<uint8_t>(r);
    s.n = static_cast<uint8_t>(n);
    s.fm = fm;
    s.data.assign(static_cast<size_t>(128) << n, fill);
    return s;
}

// --- track replies ---------------------------------------------------------

TEST(SimFloppyReply, RegularTrackIsAllZeroReports)
{
    sim::Floppy f;
    f.blank(0);
    Bytes expectedArea;
    for (int r = 1; r <= 16; ++r) {
        f.track(5).push_back(sector(2, 1, r, 1, static_cast<uint8_t>(r)));
        expectedArea.insert(expectedArea.end(), 256, static_cast<uint8_t>(r));
    }
    const Bytes reply = f.trackReply(5);
    ASSERT_EQ(reply.size(), 1u + 192 + 4096);
    EXPECT_EQ(reply[0], 16);
    const Bytes reports(reply.begin() + 1, reply.begin() + 193);
    EXPECT_EQ(reports, Bytes(192, 0)) << hexDump(reports);
    EXPECT_TRUE(std::equal(expectedArea.begin(), expectedArea.end(), reply.begin() + 193));
    expectReplyMatches(f, 5);
}

TEST(SimFloppyReply, GoldenReportBytes)
{
    struct Row {
        const char* name;
        int t;
        std::vector<sim::Sector> sectors;
        Bytes lastReport;   // received bytes of the last report
    };
    sim::Sector badFm = sector(1, 1, 1, 0, 0x11, true);
    badFm.status = 0xB0;
    badFm.deleted = true;
    sim::Sector big = sector(0, 0, 1, 7, 0x22);   // 16384 bytes: more than the reply holds
    const std::vector<Row> rows = {
        {"first R of 2", 0, {sector(0, 0, 2, 1, 0)}, {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"N 2 after N 1: length and offset predicted from this report's N", 0,
         {sector(0, 0, 1, 1, 0), sector(0, 0, 2, 2, 0)},
         {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0}},
        {"FM, deleted, data CRC error on track 3", 3, {badFm},
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xC0, 0x40, 0x20, 0x60}},
        {"N 7 counts 256; the data is cut to what the reply holds", 0, {big},
         {0x00, 0xF2, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x06, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(0);
        f.track(row.t) = row.sectors;
        const Bytes reply = f.trackReply(row.t);
        ASSERT_EQ(reply[0], row.sectors.size());
        const size_t at = 1 + 12 * (row.sectors.size() - 1);
        const Bytes got(reply.begin() + static_cast<long>(at),
                        reply.begin() + static_cast<long>(at + 12));
        EXPECT_EQ(got, row.lastReport) << "expected\n"
                                       << hexDump(row.lastReport) << "\nactual\n"
                                       << hexDump(got);
        EXPECT_LE(reply.size(), 16383u);
        expectReplyMatches(f, row.t);
    }
}

TEST(SimFloppyReply, StatusMapsToControllerBytes)
{
    struct Row {
        uint8_t status;
        bool deleted;
        size_t dataBytes;
        uint8_t st0, st1, st2;
    };
    const Row rows[] = {
        {0x00, false, 256, 0x00, 0x00, 0x00}, {0xB0, false, 256, 0x40, 0x20, 0x20},
        {0xA0, false, 0, 0x40, 0x20, 0x00},   {0xA0, false, 256, 0x40, 0x20, 0x00},
        {0xF0, false, 0, 0x40, 0x00, 0x01},   {0x00, true, 256, 0x00, 0x00, 0x40},
        {0xB0, true, 256, 0x40, 0x20, 0x60},  {0xF0, true, 0, 0x40, 0x00, 0x41},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("status " + std::to_string(row.status) + " deleted " +
                     std::to_string(row.deleted) + " data " + std::to_string(row.dataBytes));
        sim::Floppy f;
        f.blank(0);
        sim::Sector s = sector(0, 0, 1, 1, 0x5A);
        s.status = row.status;
        s.deleted = row.deleted;
        s.data.resize(row.dataBytes);
        f.track(0).push_back(s);
        const std::vector<Report> d = decodeReply(f.trackReply(0), 0);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].st0, row.st0);
        EXPECT_EQ(d[0].st1, row.st1);
        EXPECT_EQ(d[0].st2, row.st2);
        EXPECT_EQ(d[0].length, row.dataBytes) << "the stored data length is reported";
    }
}

TEST(SimFloppyReply, UnformattedAndOutOfRangeTracksAreEmpty)
{
    sim::Floppy f;
    f.blank(3);
    EXPECT_EQ(f.trackReply(7), Bytes{0});
    EXPECT_EQ(f.trackReply(-1), Bytes{0});
    EXPECT_EQ(f.trackReply(164), Bytes{0});
}

TEST(SimFloppyReply, OversizedTrackIsCutToTheReply)
{
    sim::Floppy f;
    f.blank(3);
    for (int r = 1; r <= 20; ++r)
        f.track(2).push_back(sector(1, 0, r, 3, static_cast<uint8_t>(r)));
    const Bytes reply = f.trackReply(2);
    EXPECT_EQ(reply.size(), 16383u);
    const std::vector<Report> d = decodeReply(reply, 2);
    ASSERT_EQ(d.size(), 20u);
    size_t total = 0;
    for (const Report& rep : d)
        total += rep.length;
    EXPECT_EQ(total, 16383u - 1 - 240);
    EXPECT_EQ(d[19].length, 0);
    expectReplyMatches(f, 2);
}

TEST(SimFloppyReply, SampleFloppyDecodesBackOnEveryTrack)
{
    const sim::Floppy f = sim::makeSampleFloppy();
    for (int t = 0; t < f.trackCount(); ++t)
        expectReplyMatches(f, t);
}

// --- write-track payloads ----------------------------------------------------

struct Payload {
    Bytes bytes;
    Payload(uint8_t type, uint8_t n, uint8_t gap3, uint8_t filler,
            const std::vector<std::array<uint8_t, 4>>& ids)
    {
        bytes = {type, n, static_cast<uint8_t>(ids.size()), gap3, filler};
        for (const auto& id : ids)
            bytes.insert(bytes.end(), id.begin(), id.end());
    }
    Payload& data(uint8_t type, const std::array<uint8_t, 4>& id, const Bytes& d)
    {
        bytes.push_back(type);
        bytes.insert(bytes.end(), id.begin(), id.end());
        uint8_t len[2];
        writeLe16(len, static_cast<uint16_t>(d.size()));
        bytes.insert(bytes.end(), len, len + 2);
        bytes.insert(bytes.end(), d.begin(), d.end());
        return *this;
    }
    Bytes end() const
    {
        Bytes out = bytes;
        out.push_back(0x00);
        return out;
    }
};

using Id = std::array<uint8_t, 4>;

Bytes fillData(size_t n, uint8_t r)
{
    Bytes d(n);
    for (size_t i = 0; i < n; ++i)
        d[i] = static_cast<uint8_t>(r * 17 + i);
    return d;
}

// A uniform payload: every ID gets a data record.
Bytes uniformPayload(uint8_t type, uint8_t n, uint8_t gap3, const std::vector<Id>& ids)
{
    Payload p(type, n, gap3, 0x00, ids);
    for (const Id& id : ids)
        p.data(static_cast<uint8_t>(0x02 | (type & 0x40)), id,
               fillData(static_cast<size_t>(128) << id[3], id[2]));
    return p.end();
}

std::vector<Id> ids(int t, int count, int n)
{
    std::vector<Id> out;
    for (int r = 1; r <= count; ++r)
        out.push_back({static_cast<uint8_t>(t >> 1), static_cast<uint8_t>(t & 1),
                       static_cast<uint8_t>(r), static_cast<uint8_t>(n)});
    return out;
}

TEST(SimFloppyWrite, WorkedLayouts)
{
    const Id dummy = {0x00, 0x00, 0xFF, 0x00};
    // 2D, R=1 of 1024, then R=2..5 of 256: N 2, SC 6, gap 0xFF, one dummy after R=1.
    Payload mixed1(0x41, 2, 0xFF, 0x4E,
                   {{0, 0, 1, 3}, dummy, {0, 0, 2, 1}, {0, 0, 3, 1}, {0, 0, 4, 1}, {0, 0, 5, 1}});
    mixed1.data(0x42, {0, 0, 1, 3}, fillData(1024, 1));
    for (uint8_t r = 2; r <= 5; ++r)
        mixed1.data(0x42, {0, 0, r, 1}, fillData(256, r));
    // 2D, R=1..5 of 1024 each followed by two dummies, then R=6 of 256: N 0, SC 16, gap 0xC5.
    std::vector<Id> slots2;
    for (uint8_t r = 1; r <= 5; ++r) {
        slots2.push_back({0, 0, r, 3});
        slots2.push_back(dummy);
        slots2.push_back(dummy);
    }
    slots2.push_back({0, 0, 6, 1});
    Payload mixed2(0x41, 0, 0xC5, 0x4E, slots2);
    for (uint8_t r = 1; r <= 5; ++r)
        mixed2.data(0x42, {0, 0, r, 3}, fillData(1024, r));
    mixed2.data(0x42, {0, 0, 6, 1}, fillData(256, 6));

    struct Row {
        const char* name;
        int medium;
        Bytes payload;
        std::vector<int> survivors;   // R in slot order
    };
    auto range = [](int first, int last) {
        std::vector<int> v;
        for (int r = first; r <= last; ++r)
            v.push_back(r);
        return v;
    };
    const std::vector<Row> rows = {
        {"2D 16 x 256 gap 0x37", 0, uniformPayload(0x41, 1, 0x37, ids(0, 16, 1)), range(1, 16)},
        {"2HD 8 x 1024 gap 0xB5", 3, uniformPayload(0x41, 3, 0xB5, ids(0, 8, 3)), range(1, 8)},
        {"2HD 26 x 256 gap 0x48", 3, uniformPayload(0x41, 1, 0x48, ids(0, 26, 1)), range(1, 26)},
        {"2D FM 16 x 128 gap 0x1A", 0, uniformPayload(0x01, 0, 0x1A, ids(0, 16, 0)), range(1, 16)},
        {"2D 1 x 128 gap 0x9A", 0, uniformPayload(0x41, 0, 0x9A, ids(0, 1, 0)), range(1, 1)},
        {"2D mixed 1024 + 4 x 256, N 2 SC 6 gap 0xFF", 0, mixed1.end(), range(1, 5)},
        {"2D mixed 5 x 1024 + 256, N 0 SC 16 gap 0xC5", 0, mixed2.end(), range(1, 6)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(row.medium);
        std::vector<std::string> violations;
        EXPECT_EQ(f.writeTrack(0, row.payload.data(), row.payload.size(), &violations),
                  sim::Floppy::kWriteOk);
        EXPECT_TRUE(violations.empty()) << violations.front();
        const auto& track = f.track(0);
        ASSERT_EQ(track.size(), row.survivors.size());
        for (size_t i = 0; i < track.size(); ++i) {
            EXPECT_EQ(track[i].r, row.survivors[i]);
            EXPECT_EQ(track[i].data, fillData(static_cast<size_t>(128) << track[i].n, track[i].r));
            EXPECT_EQ(track[i].fm, row.payload[0] == 0x01);
            EXPECT_EQ(track[i].status, 0);
        }
        expectReplyMatches(f, 0);
    }
}

TEST(SimFloppyWrite, LayoutViolations)
{
    // R=1 of 1024 in a grid of 256-byte slots with gap 0x10: its data field
    // runs over R=2's ID.
    Payload tooSmallGap(0x41, 1, 0x10, 0x4E, {{0, 0, 1, 3}, {0, 0, 2, 1}});
    tooSmallGap.data(0x42, {0, 0, 1, 3}, fillData(1024, 1));
    tooSmallGap.data(0x42, {0, 0, 2, 1}, fillData(256, 2));
    // 16 slots of 512 + 62 + 0x50 bytes: 10464 bytes on a 6250-byte track.
    const Bytes oversized = uniformPayload(0x41, 2, 0x50, ids(0, 16, 2));
    // A record whose ID no slot carries.
    Payload noSlot(0x41, 1, 0x37, 0x00, ids(0, 16, 1));
    noSlot.data(0x42, {0, 0, 1, 1}, fillData(256, 1));
    noSlot.data(0x42, {0, 0, 16, 4}, fillData(2048, 16));
    // The last slot holds a 2048-byte sector: its data field runs past the
    // index over the IDs of slots 0 to 3 (146 + 15 * 373 + 62 + 2048 = 7851,
    // slot 4's ID lies at 1638 + 6250 = 7888).
    std::vector<Id> wrapIds = ids(0, 16, 1);
    wrapIds[15][3] = 4;
    Payload wraps(0x41, 1, 0x37, 0x00, wrapIds);
    wraps.data(0x42, wrapIds[0], fillData(256, 1));
    wraps.data(0x42, wrapIds[15], fillData(2048, 16));
    struct Row {
        const char* name;
        Bytes payload;
        std::vector<int> survivors;
    };
    const std::vector<Row> rows = {
        {"too small a gap", tooSmallGap.end(), {1}},
        {"grid longer than the track", oversized, {8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {"record without a slot", noSlot.end(),
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        {"last sector past the index", wraps.end(), {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(0);
        std::vector<std::string> violations;
        EXPECT_EQ(f.writeTrack(4, row.payload.data(), row.payload.size(), &violations),
                  sim::Floppy::kWriteLost);
        EXPECT_FALSE(violations.empty());
        ASSERT_EQ(f.track(4).size(), row.survivors.size());
        for (size_t i = 0; i < row.survivors.size(); ++i)
            EXPECT_EQ(f.track(4)[i].r, row.survivors[i]);
    }
}

TEST(SimFloppyWrite, Boundaries)
{
    // A 256-byte sector in 128-byte slots: its data field ends 62 + 256 bytes
    // after its slot start, the next ID begins 128 + 62 + gap3 after it.
    auto twoSlots = [](uint8_t gap3) {
        Payload p(0x41, 0, gap3, 0x00, {{0, 0, 1, 1}, {0, 0, 2, 0}});
        p.data(0x42, {0, 0, 1, 1}, fillData(256, 1));
        p.data(0x42, {0, 0, 2, 0}, fillData(128, 2));
        return p.end();
    };
    // Ten slots of 512 + 62 + gap3 bytes: with gap3 51 exactly one revolution.
    struct Row {
        const char* name;
        Bytes payload;
        size_t survivors;
        bool clean;
    };
    const Row rows[] = {
        {"next ID right at the end of the data field", twoSlots(0x80), 2, true},
        {"next ID one byte before it", twoSlots(0x7F), 1, false},
        {"grid of exactly one revolution", uniformPayload(0x41, 2, 51, ids(0, 10, 2)), 10, true},
        {"grid one slot's worth of gap longer", uniformPayload(0x41, 2, 52, ids(0, 10, 2)), 9,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(0);
        std::vector<std::string> violations;
        EXPECT_EQ(f.writeTrack(0, row.payload.data(), row.payload.size(), &violations),
                  row.clean ? sim::Floppy::kWriteOk : sim::Floppy::kWriteLost);
        EXPECT_EQ(violations.empty(), row.clean);
        EXPECT_EQ(f.track(0).size(), row.survivors);
    }
}

TEST(SimFloppyWrite, SlotsAndRecords)
{
    sim::Floppy f;
    f.blank(0);
    std::vector<std::string> violations;

    // Repeated IDs fill their slots in order; IDs need not match the track.
    Payload dup(0x41, 1, 0x37, 0x00, {{2, 0, 1, 1}, {2, 0, 1, 1}, {7, 1, 3, 1}, {2, 0, 244, 1}});
    dup.data(0x42, {2, 0, 1, 1}, Bytes(256, 0xAA));
    dup.data(0x42, {2, 0, 1, 1}, Bytes(256, 0xBB));
    dup.data(0x42, {7, 1, 3, 1}, Bytes(256, 0xCC));
    dup.data(0x42, {2, 0, 244, 1}, Bytes(256, 0xDD));
    Bytes p = dup.end();
    EXPECT_EQ(f.writeTrack(4, p.data(), p.size(), &violations), sim::Floppy::kWriteOk);
    ASSERT_EQ(f.track(4).size(), 4u);
    EXPECT_EQ(f.track(4)[0].data, Bytes(256, 0xAA));
    EXPECT_EQ(f.track(4)[1].data, Bytes(256, 0xBB));
    EXPECT_EQ(f.track(4)[2].c, 7);
    EXPECT_EQ(f.track(4)[3].r, 244);

    // A slot without a record keeps the filler; a short record is padded with
    // it; each record carries its own density and deleted mark.
    Payload gaps(0x41, 1, 0x37, 0xE5, ids(6, 3, 1));
    gaps.data(0xC2, {3, 0, 1, 1}, Bytes(100, 0x01));
    gaps.data(0x02, {3, 0, 3, 1}, Bytes(600, 0x03));   // longer than its sector: cut
    p = gaps.end();
    EXPECT_EQ(f.writeTrack(6, p.data(), p.size(), &violations), sim::Floppy::kWriteOk);
    ASSERT_EQ(f.track(6).size(), 3u);
    Bytes padded(256, 0xE5);
    std::fill(padded.begin(), padded.begin() + 100, 0x01);
    EXPECT_EQ(f.track(6)[0].data, padded);
    EXPECT_TRUE(f.track(6)[0].deleted);
    EXPECT_FALSE(f.track(6)[0].fm);
    EXPECT_EQ(f.track(6)[1].data, Bytes(256, 0xE5));
    EXPECT_FALSE(f.track(6)[1].deleted);
    EXPECT_TRUE(f.track(6)[2].fm);
    EXPECT_EQ(f.track(6)[2].data, Bytes(256, 0x03));
    EXPECT_TRUE(violations.empty());
}

TEST(SimFloppyWrite, UnformattedPayload)
{
    struct Row {
        int medium;
        Bytes payload;
        uint8_t reply;
    };
    const Row rows[] = {
        {0, {0x41, 0x06, 0x01, 0x06, 0x4E, 0x00}, sim::Floppy::kWriteOk},
        {3, {0x41, 0x07, 0x01, 0x06, 0x4E, 0x00}, sim::Floppy::kWriteOk},
        // N 6 on a 2HD track: an 8192-byte slot fits, so the agent could not erase.
        {3, {0x41, 0x06, 0x01, 0x06, 0x4E, 0x00}, sim::Floppy::kWriteLost},
    };
    for (const Row& row : rows) {
        sim::Floppy f;
        f.blank(row.medium);
        f.track(9).push_back(sector(4, 1, 1, 1, 0));
        std::vector<std::string> violations;
        EXPECT_EQ(f.writeTrack(9, row.payload.data(), row.payload.size(), &violations), row.reply)
            << hexDump(row.payload);
        EXPECT_TRUE(f.track(9).empty());
        EXPECT_EQ(violations.empty(), row.reply == sim::Floppy::kWriteOk);
    }
}

TEST(SimFloppyWrite, MalformedPayloadsLeaveTheTrackUnchanged)
{
    Payload good(0x41, 1, 0x37, 0x00, ids(0, 2, 1));
    good.data(0x42, {0, 0, 1, 1}, Bytes(256, 1));
    const Bytes whole = good.end();
    Bytes trailing = whole;
    trailing.push_back(0x00);
    Bytes badType = whole;
    badType[5 + 8] = 0x05;
    Bytes longRecord = whole;
    writeLe16(&longRecord[5 + 8 + 5], 300);
    const std::vector<Bytes> rows = {
        {},
        {0x41, 0x01, 0x00, 0x37},
        {0x42, 0x01, 0x00, 0x37, 0x00, 0x00},            // not a format record
        {0x41, 0x01, 0x10, 0x37, 0x00, 0, 0, 1, 1, 0},   // 16 IDs announced, one sent
        Bytes(whole.begin(), whole.end() - 1),           // no end byte
        Bytes(whole.begin(), whole.begin() + 5 + 8 + 4), // record header cut
        longRecord,
        trailing,
        badType,
    };
    for (const Bytes& payload : rows) {
        sim::Floppy f;
        f.blank(0);
        f.track(0).push_back(sector(0, 0, 9, 1, 0x99));
        std::vector<std::string> violations;
        EXPECT_EQ(f.writeTrack(0, payload.data(), payload.size(), &violations),
                  sim::Floppy::kWriteMalformed)
            << hexDump(payload);
        EXPECT_FALSE(violations.empty());
        ASSERT_EQ(f.track(0).size(), 1u);
        EXPECT_EQ(f.track(0)[0].r, 9);
    }
    sim::Floppy f;
    f.blank(0);
    std::vector<std::string> violations;
    EXPECT_EQ(f.writeTrack(84, whole.data(), whole.size(), &violations),
              sim::Floppy::kWriteNoTrack);
    EXPECT_EQ(f.writeTrack(-1, whole.data(), whole.size(), nullptr), sim::Floppy::kWriteNoTrack);
}

TEST(SimFloppyWrite, RandomPayloadsNeverBreakTheModel)
{
    uint32_t seed = 12345;
    auto next = [&]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<uint8_t>(seed >> 24);
    };
    sim::Floppy f;
    f.blank(3);
    for (int i = 0; i < 3000; ++i) {
        Bytes payload(next() % 64);
        for (uint8_t& b : payload)
            b = next();
        if (!payload.empty() && (i & 1))
            payload[0] = 0x41;
        std::vector<std::string> violations;
        const uint8_t reply = f.writeTrack(i % 164, payload.data(), payload.size(), &violations);
        EXPECT_EQ(reply == sim::Floppy::kWriteOk, violations.empty());
        EXPECT_LE(f.trackReply(i % 164).size(), 16383u);
    }
}

// --- D88 files ---------------------------------------------------------------

void expectSameTracks(const sim::Floppy& a, const sim::Floppy& b)
{
    ASSERT_EQ(a.medium(), b.medium());
    for (int t = 0; t < sim::Floppy::kTracks; ++t) {
        SCOPED_TRACE("track " + std::to_string(t));
        ASSERT_EQ(a.track(t).size(), b.track(t).size());
        for (size_t i = 0; i < a.track(t).size(); ++i) {
            const sim::Sector& x = a.track(t)[i];
            const sim::Sector& y = b.track(t)[i];
            EXPECT_TRUE(x.c == y.c && x.h == y.h && x.r == y.r && x.n == y.n && x.fm == y.fm &&
                        x.deleted == y.deleted && x.status == y.status)
                << "sector " << i;
            EXPECT_EQ(x.data, y.data) << "sector " << i;
        }
    }
}

Bytes readAll(const std::string& path)
{
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    uint8_t buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + got);
    std::fclose(f);
    return out;
}

TEST(SimFloppyFile, SaveThenLoadRoundTrip)
{
    const sim::Floppy sample = sim::makeSampleFloppy();
    const std::string path = tempPath("roundtrip.d88");
    std::string error;
    ASSERT_TRUE(sample.save(path, &error)) << error;
    sim::Floppy back;
    ASSERT_TRUE(back.load(path, &error)) << error;
    EXPECT_TRUE(back.loadWarnings().empty());
    expectSameTracks(sample, back);

    const Bytes file = readAll(path);
    ASSERT_GE(file.size(), 688u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data())), "ferry88sim");
    EXPECT_EQ(file[27], 0x00);
    EXPECT_EQ(readLe32(&file[28]), file.size());
    EXPECT_EQ(readLe32(&file[32]), 688u);
    for (int t = 13; t < 164; ++t)
        EXPECT_EQ(readLe32(&file[32 + 4 * t]), 0u) << t;
    std::remove(path.c_str());
}

TEST(SimFloppyFile, SaveDropsDataOfSectorsWithoutADataField)
{
    sim::Floppy f;
    f.blank(1);
    f.track(100).push_back(sector(50, 0, 1, 1, 0x10));
    f.track(100).back().status = 0xA0;
    f.track(100).push_back(sector(50, 0, 2, 1, 0x20));
    f.track(100).back().status = 0xF0;
    f.track(100).push_back(sector(50, 0, 3, 1, 0x30));
    f.track(100).back().status = 0xB0;
    const std::string path = tempPath("nodata.d88");
    ASSERT_TRUE(f.save(path, nullptr));
    const Bytes file = readAll(path);
    ASSERT_EQ(file.size(), 688u + 3 * 16 + 256);
    EXPECT_EQ(file[27], 0x10);
    EXPECT_EQ(readLe32(&file[32 + 4 * 100]), 688u);
    EXPECT_EQ(readLe16(&file[688 + 14]), 0);
    EXPECT_EQ(readLe16(&file[688 + 16 + 14]), 0);
    EXPECT_EQ(readLe16(&file[688 + 32 + 14]), 256);
    std::remove(path.c_str());
}

sim::Floppy loadBytes(const Bytes& bytes, const std::string& name, int index = 1,
                      bool* ok = nullptr)
{
    const std::string path = tempPath(name);
    EXPECT_TRUE(sim::writeWholeFile(path, bytes));
    sim::Floppy f;
    std::string error;
    const bool loaded = f.load(path, &error, index);
    if (ok)
        *ok = loaded;
    else
        EXPECT_TRUE(loaded) << error;
    std::remove(path.c_str());
    return f;
}

TEST(SimFloppyFile, ForeignToolQuirks)
{
    // Unformatted tracks between formatted ones pointing at the file end.
    {
        sim::D88Builder b;
        b.addRegularTrack(0, 16, 1).addRegularTrack(6, 16, 1).setUnformattedAtEnd(true, true);
        const sim::Floppy f = loadBytes(b.build(), "atend.d88");
        EXPECT_EQ(f.track(0).size(), 16u);
        EXPECT_TRUE(f.track(3).empty());
        EXPECT_EQ(f.track(6).size(), 16u);
        EXPECT_TRUE(f.loadWarnings().empty());
    }
    // Status 0x10 with the deleted byte (hxcfe), data kept for 0xA0 sectors,
    // padding after each track (FM-7 tools), a first record with sectorCount 0.
    {
        sim::D88Builder b;
        b.addRegularTrack(0, 4, 1).setTrackPadding(1280);
        b.track(0)[1].status = 0x10;
        b.track(0)[1].deleted = 0x10;
        b.track(0)[2].status = 0xA0;
        sim::D88Record lone;
        lone.c = 40, lone.h = 0, lone.r = 1, lone.n = 0, lone.sectorCount = 0;
        b.setTrack(80, {lone});
        const sim::Floppy f = loadBytes(b.build(), "hxc.d88");
        ASSERT_EQ(f.track(0).size(), 4u);
        EXPECT_EQ(f.track(0)[1].status, 0);
        EXPECT_TRUE(f.track(0)[1].deleted);
        EXPECT_EQ(f.track(0)[2].status, 0xA0);
        EXPECT_EQ(f.track(0)[2].data.size(), 256u);
        ASSERT_EQ(f.track(80).size(), 1u);
        EXPECT_TRUE(f.track(80)[0].data.empty());
        expectReplyMatches(f, 0);
        expectReplyMatches(f, 80);
    }
    // A header of 160 entries: the first track starts at 672.
    {
        sim::D88Builder b(0x10);
        b.addRegularTrack(0, 9, 2).addRegularTrack(1, 9, 2).setHeaderSize(672);
        const sim::Floppy f = loadBytes(b.build(), "short.d88");
        EXPECT_EQ(f.medium(), 1);
        EXPECT_EQ(f.track(0).size(), 9u);
        EXPECT_EQ(f.track(1).size(), 9u);
        EXPECT_EQ(f.track(1)[8].data[5], sim::d88Pattern(1, 9, 5));
    }
}

TEST(SimFloppyFile, DamagedImages)
{
    // Records that run past the end keep the records before them.
    {
        sim::D88Builder b;
        b.addRegularTrack(0, 16, 1).addRegularTrack(1, 4, 1);
        b.track(1)[2].dataSize = 4000;
        const sim::Floppy f = loadBytes(b.build(), "pastend.d88");
        EXPECT_EQ(f.track(0).size(), 16u);
        EXPECT_EQ(f.track(1).size(), 2u);
        EXPECT_FALSE(f.loadWarnings().empty());
    }
    // Offsets past the image, a diskSize larger than the file, and a 2D
    // image with table entries past its 84 tracks.
    {
        sim::D88Builder b;
        b.addRegularTrack(0, 16, 1).addRegularTrack(90, 16, 1);
        b.setTrackOffset(2, 0x7FFFFFFF).setDiskSize(0x300000);
        const sim::Floppy f = loadBytes(b.build(), "offsets.d88");
        EXPECT_EQ(f.medium(), 0);
        EXPECT_EQ(f.trackCount(), 84);
        EXPECT_EQ(f.track(0).size(), 16u);
        EXPECT_TRUE(f.track(2).empty());
        EXPECT_TRUE(f.track(90).empty());
        EXPECT_GE(f.loadWarnings().size(), 2u);
    }
    // More records than a reply can count.
    {
        std::vector<sim::D88Record> many(300);
        for (size_t i = 0; i < many.size(); ++i)
            many[i].r = static_cast<uint8_t>(i), many[i].n = 0;
        sim::D88Builder b(0x20);
        b.setTrack(5, many);
        const sim::Floppy f = loadBytes(b.build(), "many.d88");
        EXPECT_EQ(f.track(5).size(), 255u);
        EXPECT_FALSE(f.loadWarnings().empty());
    }
    // Every truncation of a good image either loads or fails cleanly.
    const Bytes good = sim::D88Builder().addRegularTrack(0, 16, 1).addRegularTrack(3, 5, 2).build();
    for (size_t cut = 0; cut < good.size(); cut += 61) {
        bool ok = false;
        const sim::Floppy f = loadBytes(Bytes(good.begin(), good.begin() + static_cast<long>(cut)),
                                        "cut.d88", 1, &ok);
        EXPECT_EQ(ok, cut >= 32) << cut;
        for (int t = 0; t < 4; ++t)
            EXPECT_LE(f.trackReply(t).size(), 16383u);
    }
}

TEST(SimFloppyFile, MultiImageFiles)
{
    const Bytes a = sim::D88Builder().setTitle("ONE").addRegularTrack(0, 16, 1).build();
    const Bytes b = sim::D88Builder(0x20).setTitle("TWO").addRegularTrack(1, 8, 3).build();
    const Bytes c = sim::D88Builder(0x10).setTitle("THREE").addRegularTrack(2, 9, 2).build();
    const Bytes file = sim::concatImages({a, b, c});
    struct Row {
        int index;
        bool ok;
        int medium;
        int track;
        size_t sectors;
    };
    const Row rows[] = {{0, true, 0, 0, 16}, {1, true, 0, 0, 16}, {2, true, 3, 1, 8},
                        {3, true, 1, 2, 9},  {4, false, 0, 0, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE("index " + std::to_string(row.index));
        bool ok = false;
        const sim::Floppy f = loadBytes(file, "multi.d88", row.index, &ok);
        EXPECT_EQ(ok, row.ok);
        if (!ok)
            continue;
        EXPECT_EQ(f.medium(), row.medium);
        EXPECT_EQ(f.track(row.track).size(), row.sectors);
    }
    // A size of 0 in the first image: the second cannot be reached.
    bool ok = true;
    Bytes broken = file;
    writeLe32(&broken[28], 0);
    loadBytes(broken, "multi0.d88", 2, &ok);
    EXPECT_FALSE(ok);
    // An interrupted read (in-progress marker) is read to the end of the file.
    const Bytes partial =
        sim::D88Builder().addRegularTrack(0, 16, 1).setDiskSize(0xDEADD13C).build();
    const sim::Floppy f = loadBytes(partial, "partial.d88");
    EXPECT_EQ(f.track(0).size(), 16u);
    EXPECT_FALSE(f.loadWarnings().empty());
}

// Every table entry of a 4 MiB 2DD image points at one run of 63 records of
// 65535 bytes: the floppy holds at most one reply's worth of data per track,
// not 164 copies of the run.
TEST(SimFloppyFile, SharedRecordRunStaysBounded)
{
    std::vector<sim::D88Record> run(63);
    for (size_t i = 0; i < run.size(); ++i) {
        run[i].r = static_cast<uint8_t>(i + 1);
        run[i].n = 8;
        run[i].data.assign(65535, static_cast<uint8_t>(i));
    }
    sim::D88Builder b(0x10);
    b.setTrack(0, run);
    for (int t = 1; t < 164; ++t)
        b.setTrackOffset(t, 688);
    const Bytes image = b.build();
    ASSERT_LE(image.size(), 0x400000u);
    const sim::Floppy f = loadBytes(image, "shared.d88");

    size_t held = 0;
    for (int t = 0; t < f.trackCount(); ++t) {
        ASSERT_EQ(f.track(t).size(), 63u) << t;
        size_t track = 0;
        for (const sim::Sector& s : f.track(t))
            track += s.data.size();
        EXPECT_EQ(track, 16384u) << t;
        held += track;
    }
    EXPECT_EQ(held, 164u * 16384u);
    EXPECT_EQ(f.loadWarnings().size(), 164u);
    expectReplyMatches(f, 163);
}

TEST(SimFloppyFile, TestdataCorpusLoads)
{
    namespace fs = std::filesystem;
    const fs::path dir(FERRY2_TESTDATA);
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        GTEST_SKIP() << "no test data at " << dir;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".d88" && ext != ".d77")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        sim::Floppy f;
        std::string error;
        ASSERT_TRUE(f.load(entry.path().string(), &error)) << error;
        EXPECT_TRUE(f.loadWarnings().empty()) << f.loadWarnings().front();
        int formatted = 0;
        for (int t = 0; t < f.trackCount(); ++t) {
            formatted += !f.track(t).empty();
            expectReplyMatches(f, t);
        }
        EXPECT_GT(formatted, 0);
        std::string text;
        EXPECT_TRUE(sim::describeD88(entry.path().string(), &text));
        EXPECT_LT(text.size(), 20000u);
    }
    EXPECT_GT(files, 0);
}

TEST(SimFloppyFile, HxcOdditiesImage)
{
    const std::string path = std::string(FERRY2_TESTDATA) + "/hxc_oddities_2d.d88";
    sim::Floppy f;
    std::string error;
    if (!f.load(path, &error))
        GTEST_SKIP() << error;
    EXPECT_EQ(f.medium(), 0);
    ASSERT_EQ(f.track(1).size(), 5u);
    const uint8_t sizes[] = {1, 2, 3, 0, 4};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(f.track(1)[i].n, sizes[i]);
    ASSERT_EQ(f.track(2).size(), 10u);
    EXPECT_TRUE(f.track(2)[2].deleted);
    EXPECT_EQ(f.track(2)[2].status, 0);
    EXPECT_EQ(f.track(2)[4].status, 0xB0);
    EXPECT_EQ(f.track(2)[6].status, 0xA0);
    EXPECT_EQ(f.track(2)[6].data.size(), 256u);
    EXPECT_TRUE(f.track(2)[8].deleted);
    EXPECT_EQ(f.track(2)[8].status, 0xB0);
    ASSERT_EQ(f.track(3).size(), 10u);
    EXPECT_TRUE(f.track(3)[0].fm);
    ASSERT_EQ(f.track(4).size(), 4u);
    EXPECT_EQ(f.track(4)[0].r, f.track(4)[1].r);
    EXPECT_EQ(f.track(4)[2].c, 7);
    EXPECT_TRUE(f.track(5).empty());
    ASSERT_EQ(f.track(6).size(), 3u);
    EXPECT_EQ(f.track(6)[1].status, 0xF0);

    const std::vector<Report> d = decodeReply(f.trackReply(2), 2);
    ASSERT_EQ(d.size(), 10u);
    EXPECT_EQ(d[2].st2, 0x40);
    EXPECT_EQ(d[6].st1, 0x20);
    EXPECT_EQ(d[6].st2, 0x00);
    EXPECT_EQ(d[8].st2, 0x60);
}

// --- faults of the medium ---------------------------------------------------

using Fault = sim::MediumFault::Kind;

// Reads of track 3 (R1..R4 of 256 bytes) under the faults: per read, whether
// R2 came out spoiled ('x': data CRC error and inverted data) or intact ('.').
// The other sectors and the floppy itself stay as they are.
TEST(SimMediumFaults, SpoiledReads)
{
    struct Row {
        const char* name;
        std::vector<sim::MediumFault> faults;
        const char* reads;
    };
    const Row rows[] = {
        {"bad sector", {{Fault::BadSector, 3, 2, 1}}, "xxxx"},
        {"weak sector, first read", {{Fault::WeakSector, 3, 2, 1}}, "x..."},
        {"weak sector, first three reads", {{Fault::WeakSector, 3, 2, 3}}, "xxx."},
        {"bad and weak on one sector", {{Fault::WeakSector, 3, 2, 1}, {Fault::BadSector, 3, 2, 1}},
         "xxxx"},
        {"another track", {{Fault::BadSector, 4, 2, 1}}, "...."},
        {"no such sector", {{Fault::BadSector, 3, 9, 1}}, "...."},
        {"a flaky write does not touch reads", {{Fault::FlakyWrite, 3, 0, 2}}, "...."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(0);
        for (int r = 1; r <= 4; ++r)
            f.track(3).push_back(sector(1, 1, r, 1, static_cast<uint8_t>(0x10 * r)));
        const sim::Floppy before = f;
        sim::MediumFaults faults(row.faults);
        std::string seen;
        for (size_t k = 0; row.reads[k]; ++k) {
            std::vector<sim::FaultAction> acted;
            const Bytes reply = faults.trackReply(f, 3, &acted);
            Bytes area;
            const std::vector<Report> d = decodeReply(reply, 3, &area);
            ASSERT_EQ(d.size(), 4u);
            const bool spoiled = d[1].st1 == 0x20 && d[1].st2 == 0x20 &&
                                 area[d[1].offset] == static_cast<uint8_t>(~0x20);
            const bool intact = d[1].st1 == 0 && d[1].st2 == 0 && area[d[1].offset] == 0x20;
            EXPECT_TRUE(spoiled || intact) << "read " << k;
            seen += spoiled ? 'x' : '.';
            EXPECT_EQ(acted.size(), spoiled ? 1u : 0u);
            if (spoiled) {
                EXPECT_EQ(acted[0].track, 3);
                EXPECT_EQ(acted[0].sector, 2);
                EXPECT_EQ(acted[0].count, static_cast<int>(k) + 1);
            }
            for (size_t i : {0u, 2u, 3u}) {
                EXPECT_EQ(d[i].st1, 0) << i;
                EXPECT_EQ(area[d[i].offset], 0x10 * (i + 1)) << i;
            }
        }
        EXPECT_EQ(seen, row.reads);
        expectSameTracks(before, f);
    }
}

// Writes of track 5 under the faults: per write, whether the stored first
// sector came out inverted ('x') or as written ('.'). The reply byte says
// the write went well either way.
TEST(SimMediumFaults, FlakyWrites)
{
    struct Row {
        const char* name;
        std::vector<sim::MediumFault> faults;
        const char* writes;
    };
    const Row rows[] = {
        {"first write", {{Fault::FlakyWrite, 5, 0, 1}}, "x..."},
        {"first two writes", {{Fault::FlakyWrite, 5, 0, 2}}, "xx.."},
        {"another track", {{Fault::FlakyWrite, 6, 0, 1}}, "...."},
        {"bad sectors do not touch writes", {{Fault::BadSector, 5, 1, 1}}, "...."},
    };
    const Bytes payload = uniformPayload(0x41, 1, 0x36, ids(5, 4, 1));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Floppy f;
        f.blank(0);
        sim::MediumFaults faults(row.faults);
        std::string seen;
        for (size_t k = 0; row.writes[k]; ++k) {
            std::vector<sim::FaultAction> acted;
            std::vector<std::string> violations;
            EXPECT_EQ(faults.writeTrack(f, 5, payload.data(), payload.size(), &violations,
                                        &acted),
                      sim::Floppy::kWriteOk);
            EXPECT_TRUE(violations.empty());
            ASSERT_EQ(f.track(5).size(), 4u);
            Bytes inverted = fillData(256, 1);
            for (uint8_t& b : inverted)
                b = static_cast<uint8_t>(~b);
            const bool spoiled = f.track(5)[0].data == inverted;
            EXPECT_TRUE(spoiled || f.track(5)[0].data == fillData(256, 1)) << "write " << k;
            seen += spoiled ? 'x' : '.';
            EXPECT_EQ(f.track(5)[1].data, fillData(256, 2));
            ASSERT_EQ(acted.size(), spoiled ? 1u : 0u);
            if (spoiled) {
                EXPECT_EQ(acted[0].sector, 1);
                EXPECT_EQ(acted[0].count, static_cast<int>(k) + 1);
            }
        }
        EXPECT_EQ(seen, row.writes);
    }
    // A write the floppy refuses is no write of the track.
    sim::Floppy f;
    f.blank(0);
    sim::MediumFaults faults({{Fault::FlakyWrite, 5, 0, 1}});
    std::vector<sim::FaultAction> acted;
    const Bytes malformed = {0x41, 0x01};
    EXPECT_EQ(faults.writeTrack(f, 5, malformed.data(), malformed.size(), nullptr, &acted),
              sim::Floppy::kWriteMalformed);
    EXPECT_EQ(faults.writeTrack(f, 5, payload.data(), payload.size(), nullptr, &acted),
              sim::Floppy::kWriteOk);
    ASSERT_EQ(acted.size(), 1u);
    EXPECT_EQ(acted[0].count, 1);
}

// --- sample disk and description ----------------------------------------------

TEST(SimFloppySample, DeterministicAndRecognisable)
{
    const sim::Floppy a = sim::makeSampleFloppy();
    const sim::Floppy b = sim::makeSampleFloppy();
    expectSameTracks(a, b);
    EXPECT_EQ(a.medium(), 0);
    const Bytes& boot = a.track(0)[0].data;
    EXPECT_EQ(std::string(boot.begin(), boot.begin() + 18), "FERRY2 SAMPLE DISK");
    EXPECT_TRUE(a.track(10)[0].fm);
    EXPECT_EQ(a.track(11)[0].n, 3);
    EXPECT_TRUE(a.track(12)[2].deleted);
    EXPECT_EQ(a.track(12)[4].status, 0xB0);
    EXPECT_TRUE(a.track(13).empty());
}

// Header fields as other tools write them, as --info shows them.
TEST(SimFloppySample, DescribeHeaderFields)
{
    struct Row {
        const char* name;
        sim::D88Builder image;
        const char* shown;
    };
    const Row rows[] = {
        {"all 17 title bytes used: 16 shown", sim::D88Builder().setTitleBytes(Bytes(17, 'A')),
         "\"AAAAAAAAAAAAAAAA\" 2D, not write-protected"},
        {"control bytes in the title", sim::D88Builder().setTitleBytes({'A', 0x1B, 'B'}),
         "\"A.B\" 2D"},
        {"write-protect flag", sim::D88Builder().setTitle("WP").setWriteProtect(true),
         "\"WP\" 2D, write-protected"},
        {"media type 0x10", sim::D88Builder().setMediaType(0x10), "\"\" 2DD"},
        {"media type 0x20", sim::D88Builder().setMediaType(0x20), "\"\" 2HD"},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = tempPath("header.d88");
        ASSERT_TRUE(sim::writeWholeFile(path, row.image.addRegularTrack(0, 16, 1).build()));
        std::string text;
        EXPECT_TRUE(sim::describeD88(path, &text));
        EXPECT_NE(text.find(row.shown), std::string::npos) << text;
        std::remove(path.c_str());
    }
}

TEST(SimFloppySample, Describe)
{
    const std::string one = tempPath("describe1.d88");
    ASSERT_TRUE(sim::makeSampleFloppy().save(one, nullptr));
    const Bytes sample = readAll(one);
    const Bytes second = sim::D88Builder(0x20).setTitle("SECOND").addRegularTrack(0, 8, 3).build();
    const std::string two = tempPath("describe2.d88");
    ASSERT_TRUE(sim::writeWholeFile(two, sim::concatImages({sample, second, Bytes(40, 0x55)})));

    std::string text;
    ASSERT_TRUE(sim::describeD88(two, &text));
    for (const char* line : {"\"ferry88sim\" 2D, not write-protected", "13 formatted tracks",
                             "  t 00: 16 x 256 MFM\n", "  t 10: 16 x 128 FM\n",
                             "  t 11: 1 x 1024 + 4 x 256 MFM\n",
                             "  t 12: 16 x 256 MFM, 1 deleted, 1 data CRC error\n",
                             "image 2 at ", "\"SECOND\" 2HD", "  t 00: 8 x 1024 MFM\n",
                             "image 3 at "})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    EXPECT_FALSE(sim::describeD88(tempPath("missing.d88"), &text));
    EXPECT_FALSE(text.empty());
    std::remove(one.c_str());
    std::remove(two.c_str());
}

} // namespace
