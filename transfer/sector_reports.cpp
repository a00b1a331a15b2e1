#include "transfer/sector_reports.h"

#include "core/bytes.h"
#include "image/d88.h"
#include "link/protocol.h"

SectorReport SectorReport::parse(const uint8_t* in)
{
    SectorReport report;
    report.r = in[0];
    report.length = readLe16(in + 1);
    report.offset = readLe16(in + 3);
    report.c = in[5];
    report.h = in[6];
    report.n = in[7];
    report.mode = in[8];
    report.st0 = in[9];
    report.st1 = in[10];
    report.st2 = in[11];
    return report;
}

void SectorReport::store(uint8_t* out) const
{
    out[0] = r;
    writeLe16(out + 1, length);
    writeLe16(out + 3, offset);
    out[5] = c;
    out[6] = h;
    out[7] = n;
    out[8] = mode;
    out[9] = st0;
    out[10] = st1;
    out[11] = st2;
}

int nominalLength(uint8_t n)
{
    // The agent clamps size codes beyond 6 to 256, not to 128 << n.
    return n <= 6 ? 128 << n : 256;
}

void decodeSectorReports(uint8_t* reports, int n, int t)
{
    SectorReport previous;
    previous.c = static_cast<uint8_t>(t >> 1);
    previous.h = static_cast<uint8_t>(t & 1);
    previous.n = 1;
    previous.mode = wire::kMfm;

    for (int i = 0; i < n; ++i) {
        uint8_t* raw = reports + i * kReportSize;
        const SectorReport v = SectorReport::parse(raw);
        SectorReport d;
        d.r = static_cast<uint8_t>(previous.r + 1 - v.r);
        d.c = static_cast<uint8_t>(previous.c + v.c);
        d.h = static_cast<uint8_t>(previous.h + v.h);
        d.n = static_cast<uint8_t>(previous.n + v.n);
        d.mode = static_cast<uint8_t>(previous.mode + v.mode);
        d.st0 = static_cast<uint8_t>(previous.st0 + v.st0);
        d.st1 = static_cast<uint8_t>(previous.st1 + v.st1);
        d.st2 = static_cast<uint8_t>(previous.st2 + v.st2);
        // Both the length and the offset prediction use this report's own
        // size code, not the predecessor's.
        const int nominal = nominalLength(d.n);
        d.length = static_cast<uint16_t>(v.length + nominal);
        d.offset = i == 0 ? static_cast<uint16_t>(-v.offset)
                          : static_cast<uint16_t>(previous.offset + nominal - v.offset);
        d.store(raw);
        previous = d;
    }
}

uint8_t d88Status(const SectorReport& report)
{
    // uPD765: ST0 interrupt code 01 is an abnormal end; ST1 bit 5 a CRC error,
    // placed by ST2 bit 5 in the data field; ST2 bit 0 a missing data mark.
    if ((report.st0 & 0xC0) != 0x40)
        return d88::kStatusOk;
    if (report.st1 & 0x20)
        return (report.st2 & 0x20) ? d88::kStatusDataCrc : d88::kStatusIdCrc;
    if (report.st2 & 0x01)
        return d88::kStatusNoDataMark;
    return d88::kStatusOk;
}

uint8_t d88Deleted(const SectorReport& report)
{
    // ST2 bit 6 (control mark) lands on the D88 deleted flag 0x10.
    return static_cast<uint8_t>((report.st2 >> 2) & 0x10);
}
