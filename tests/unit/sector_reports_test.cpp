#include "transfer/sector_reports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "tests/support/hex_dump.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;

// One report as 12 wire bytes.
Bytes reportBytes(uint8_t r, uint16_t length, uint16_t offset, uint8_t c, uint8_t h, uint8_t n,
                  uint8_t mode, uint8_t st0, uint8_t st1, uint8_t st2)
{
    return {r, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8), c, h, n, mode,
            st0, st1, st2};
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(SectorReport, ParseAndStoreGoldenBytes)
{
    const Bytes bytes = reportBytes(0x05, 0x0200, 0x1234, 0x29, 0x01, 0x02, 0x40, 0x40, 0x20,
                                    0x61);
    const SectorReport r = SectorReport::parse(bytes.data());
    EXPECT_EQ(r.r, 0x05);
    EXPECT_EQ(r.length, 0x0200);
    EXPECT_EQ(r.offset, 0x1234);
    EXPECT_EQ(r.c, 0x29);
    EXPECT_EQ(r.h, 0x01);
    EXPECT_EQ(r.n, 0x02);
    EXPECT_EQ(r.mode, 0x40);
    EXPECT_EQ(r.st0, 0x40);
    EXPECT_EQ(r.st1, 0x20);
    EXPECT_EQ(r.st2, 0x61);
    Bytes back(12, 0xEE);
    r.store(back.data());
    EXPECT_EQ(back, bytes) << hexDump(back.data(), 12);
}

TEST(SectorReport, NominalLength)
{
    const int expected[] = {128, 256, 512, 1024, 2048, 4096, 8192, 256, 256};
    for (int n = 0; n < 9; ++n)
        EXPECT_EQ(nominalLength(static_cast<uint8_t>(n)), expected[n]) << "N " << n;
    EXPECT_EQ(nominalLength(255), 256);
}

TEST(SectorReport, RegularTrackOfZeroReportsDecodes)
{
    // Track 5: cylinder 2, head 1; sixteen 256-byte MFM sectors packed in order.
    Bytes reports(16 * kReportSize, 0);
    decodeSectorReports(reports.data(), 16, 5);
    for (int i = 0; i < 16; ++i) {
        const Bytes expected = reportBytes(static_cast<uint8_t>(i + 1), 256,
                                           static_cast<uint16_t>(256 * i), 2, 1, 1, 0x40, 0, 0, 0);
        const uint8_t* actual = &reports[static_cast<size_t>(i) * kReportSize];
        EXPECT_EQ(0, std::memcmp(actual, expected.data(), kReportSize))
            << "report " << i << "\nexpected " << hexDump(expected.data(), 12) << "\nactual   "
            << hexDump(actual, 12);
    }
}

struct DecodeRow {
    const char* name;
    int track;
    Bytes wire;      // received reports
    Bytes decoded;   // the same reports after decoding
};

TEST(SectorReport, DecodesDeltas)
{
    const DecodeRow rows[] = {
        {"first R byte 0xFF gives R 2", 0, reportBytes(0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0),
         reportBytes(2, 256, 0, 0, 0, 1, 0x40, 0, 0, 0)},
        {"second report uses its own N for the offset", 0,
         join({reportBytes(0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
               reportBytes(0, 0, 0x0100, 0, 0, 1, 0, 0, 0, 0)}),
         join({reportBytes(1, 256, 0, 0, 0, 1, 0x40, 0, 0, 0),
               reportBytes(2, 512, 256, 0, 0, 2, 0x40, 0, 0, 0)})},
        {"N 7 and above count 256", 0, reportBytes(0, 0, 0, 0, 0, 6, 0, 0, 0, 0),
         reportBytes(1, 256, 0, 0, 0, 7, 0x40, 0, 0, 0)},
        {"first offset is negated", 3, reportBytes(0, 0xFF00, 0xFF00, 0, 0, 0, 0xC0, 0, 0, 0),
         reportBytes(1, 0, 0x0100, 1, 1, 1, 0x00, 0, 0, 0)},
        {"FM, errors and wraps accumulate", 163,
         join({reportBytes(0, 0, 0, 0xFF, 0xFF, 0xFF, 0xC0, 0x40, 0x20, 0x20),
               reportBytes(0xFF, 0, 0xFF80, 1, 1, 0, 0, 0xC0, 0xE0, 0xE0)}),
         join({reportBytes(1, 128, 0, 80, 0, 0, 0x00, 0x40, 0x20, 0x20),
               reportBytes(3, 128, 256, 81, 1, 0, 0x00, 0x00, 0x00, 0x00)})},
    };
    for (const DecodeRow& row : rows) {
        Bytes actual = row.wire;
        decodeSectorReports(actual.data(), static_cast<int>(actual.size() / kReportSize),
                            row.track);
        EXPECT_EQ(actual, row.decoded) << row.name << "\nexpected\n"
                                       << hexDump(row.decoded.data(), row.decoded.size())
                                       << "\nactual\n"
                                       << hexDump(actual.data(), actual.size());
    }
}

TEST(SectorReport, StatusAndDeletedMark)
{
    struct Row {
        uint8_t st0, st1, st2;
        uint8_t status, deleted;
    };
    const Row rows[] = {
        {0x00, 0x00, 0x00, 0x00, 0x00}, {0x40, 0x20, 0x20, 0xB0, 0x00},
        {0x40, 0x20, 0x00, 0xA0, 0x00}, {0x40, 0x00, 0x01, 0xF0, 0x00},
        {0x40, 0x00, 0x00, 0x00, 0x00}, {0x41, 0x20, 0x21, 0xB0, 0x00},
        {0x00, 0x20, 0x20, 0x00, 0x00}, {0xC0, 0x20, 0x20, 0x00, 0x00},
        {0x00, 0x20, 0x01, 0x00, 0x00}, {0xC0, 0x00, 0x01, 0x00, 0x00},
        {0x80, 0x20, 0x00, 0x00, 0x00}, {0x40, 0x20, 0x01, 0xA0, 0x00},
        {0x00, 0x00, 0x40, 0x00, 0x10}, {0x40, 0x20, 0x60, 0xB0, 0x10},
        {0x40, 0x00, 0x41, 0xF0, 0x10}, {0x40, 0x00, 0xBF, 0xF0, 0x00},
    };
    for (const Row& row : rows) {
        SectorReport report;
        report.st0 = row.st0;
        report.st1 = row.st1;
        report.st2 = row.st2;
        char name[40];
        std::snprintf(name, sizeof name, "ST0 %02X ST1 %02X ST2 %02X", row.st0, row.st1,
                      row.st2);
        EXPECT_EQ(d88Status(report), row.status) << name;
        EXPECT_EQ(d88Deleted(report), row.deleted) << name;
    }
}

} // namespace
