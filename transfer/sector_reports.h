#pragma once
// The agent's per-sector reports in a track reply: 12 bytes each, every field
// delta-coded against the previous report so that a regular track is all zeros.
//
//  0 R  1 data length (u16)  3 data offset (u16)  5 C  6 H  7 N  8 mode (0x40 MFM)
//  9 ST0  10 ST1  11 ST2
#include <cstdint>

constexpr int kReportSize = 12;

struct SectorReport {
    uint8_t r = 0;
    uint16_t length = 0;
    uint16_t offset = 0;
    uint8_t c = 0, h = 0, n = 0, mode = 0;
    uint8_t st0 = 0, st1 = 0, st2 = 0;

    static SectorReport parse(const uint8_t* in);
    void store(uint8_t* out) const;
};

// Nominal length of size code n: 128 << n for n up to 6, 256 from 7 on.
int nominalLength(uint8_t n);

// Decodes the n reports of a reply of track t in place (same byte layout).
void decodeSectorReports(uint8_t* reports, int n, int t);

// D88 status and deleted mark of a decoded report.
uint8_t d88Status(const SectorReport& report);
uint8_t d88Deleted(const SectorReport& report);
