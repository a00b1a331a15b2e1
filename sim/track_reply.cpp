#include "sim/track_reply.h"

#include <algorithm>

#include "core/bytes.h"
#include "sim/d88_file.h"

namespace sim {

namespace {

//  report  0 R  1 length (u16)  3 offset (u16)  5 C  6 H  7 N  8 mode  9 ST0  10 ST1  11 ST2
constexpr size_t kReportSize = 12;
constexpr size_t kMaxReportedSectors = 255;   // n is one byte

constexpr uint8_t kModeMfm = 0x40;
constexpr uint8_t kSt0Abnormal = 0x40;     // interrupt code 01
constexpr uint8_t kSt1DataError = 0x20;
constexpr uint8_t kSt2DataCrc = 0x20;
constexpr uint8_t kSt2ControlMark = 0x40;  // deleted-data address mark met
constexpr uint8_t kSt2MissingDam = 0x01;

// The 128 << N that the decoder predicts lengths and offsets with: N from 7 on
// counts as 256 there, not 16384.
uint16_t nominalLength(uint8_t n)
{
    return static_cast<uint16_t>(n <= 6 ? 128u << n : 256u);
}

struct ReportFields {
    uint8_t r = 0, c = 0, h = 0, n = 1, mode = kModeMfm, st0 = 0, st1 = 0, st2 = 0;
    uint16_t offset = 0;
};

void controllerStatus(const Sector& s, ReportFields* f)
{
    switch (s.status) {
    case 0x00:
        break;
    case d88::kStatusIdCrc:
        f->st0 = kSt0Abnormal;
        f->st1 = kSt1DataError;
        break;
    case d88::kStatusNoDataMark:
    case 0xE0:   // "no address mark" of some tools: the controller finds no data field either
        f->st0 = kSt0Abnormal;
        f->st2 = kSt2MissingDam;
        break;
    default:
        // 0xB0, and any status we do not know: the sector is there but bad,
        // so send it as a data CRC error with its data.
        f->st0 = kSt0Abnormal;
        f->st1 = kSt1DataError;
        f->st2 = kSt2DataCrc;
        break;
    }
    if (s.deleted)
        f->st2 |= kSt2ControlMark;
}

} // namespace

std::vector<uint8_t> encodeTrackReply(int t, const std::vector<Sector>& sectors)
{
    const size_t n = std::min(sectors.size(), kMaxReportedSectors);
    std::vector<uint8_t> reply(1, static_cast<uint8_t>(n));
    reply.resize(1 + kReportSize * n);
    // A real track never holds more than the reply can carry; an image can
    // (big sectors, too many of them). Then the data is cut where the reply is
    // full and the reports carry the shorter lengths, so the client stores what
    // arrived and nothing past its buffer.
    size_t room = kMaxTrackReply - reply.size();

    ReportFields prev;
    prev.c = static_cast<uint8_t>(t >> 1);
    prev.h = static_cast<uint8_t>(t & 1);
    for (size_t i = 0; i < n; ++i) {
        const Sector& s = sectors[i];
        ReportFields cur;
        cur.r = s.r;
        cur.c = s.c;
        cur.h = s.h;
        cur.n = s.n;
        cur.mode = s.fm ? 0x00 : kModeMfm;
        controllerStatus(s, &cur);
        cur.offset = static_cast<uint16_t>(reply.size() - 1 - kReportSize * n);
        const size_t length = std::min(s.data.size(), room);
        room -= length;
        const uint16_t nominal = nominalLength(cur.n);

        // The exact inverse of the client's decoding: R counts up by one,
        // lengths and offsets are predicted from this report's own N, every
        // other field is a difference to the report before.
        uint8_t* out = &reply[1 + kReportSize * i];
        out[0] = static_cast<uint8_t>(prev.r + 1 - cur.r);
        writeLe16(out + 1, static_cast<uint16_t>(length - nominal));
        if (i == 0)
            writeLe16(out + 3, static_cast<uint16_t>(0u - cur.offset));
        else
            writeLe16(out + 3, static_cast<uint16_t>(prev.offset + nominal - cur.offset));
        out[5] = static_cast<uint8_t>(cur.c - prev.c);
        out[6] = static_cast<uint8_t>(cur.h - prev.h);
        out[7] = static_cast<uint8_t>(cur.n - prev.n);
        out[8] = static_cast<uint8_t>(cur.mode - prev.mode);
        out[9] = static_cast<uint8_t>(cur.st0 - prev.st0);
        out[10] = static_cast<uint8_t>(cur.st1 - prev.st1);
        out[11] = static_cast<uint8_t>(cur.st2 - prev.st2);
        reply.insert(reply.end(), s.data.begin(), s.data.begin() + length);
        prev = cur;
    }
    return reply;
}

} // namespace sim
