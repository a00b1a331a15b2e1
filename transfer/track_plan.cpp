// Track format planning: one write-track payload per track, holding the format
// record that the agent hands to the disk controller and the data of every
// sector to be written into the freshly formatted track (layout in track_plan.h).
#include "transfer/track_plan.h"

#include <algorithm>
#include <cstdint>

#include "core/bytes.h"
#include "core/console.h"
#include "image/d88.h"
#include "link/disk_client.h"
#include "transfer/sector_desc.h"

namespace
{

constexpr uint8_t kFormatRecord = 0x01;
constexpr uint8_t kDataRecord = 0x02;
constexpr uint8_t kDeletedRecord = 0x80;
constexpr uint8_t kMfmBit = wire::kMfm;
constexpr uint8_t kEndRecord = 0x00;
constexpr uint8_t kFillerUniform = 0x00;
constexpr uint8_t kFillerMixed = 0x4E;

constexpr int kIdSize = 4;
// Largest size code the planner formats with: 32768-byte sectors.
constexpr int kMaxSizeCode = 8;
// The slot count travels in one byte.
constexpr int kMaxSlots = 255;
// Gap-3 of a mixed track whose search found no layout (see buildTrackPayload).
constexpr int kFallbackGap3 = 3;

// The physical track, in bytes, per recording density. A formatted track is the
// index preamble, then per sector its overhead, its data and gap 3, then gap 4b
// up to the index hole.
struct TrackGeometry {
    // Sync, ID address mark, ID, CRC, gap 2, sync, data address mark, CRC: one
    // sector besides its data and gap 3.
    int sectorOverhead;
    // The same as searchGap counts it: one byte more than sectorOverhead on FM
    // tracks. The mixed layouts users' images get depend on it, so it stays.
    int searchOverhead;
    // Gap 4a, sync, index mark, gap 1: ahead of the first sector.
    int indexPreamble;
    // Kept free at the end of the track by the first gap-3 try, besides the preamble.
    int endSpare;
    // All the last try keeps ahead of the first sector.
    int minimalLeadIn;
    // Smallest gap-3 the first and the second try settle for.
    int roomyGap3;
    int tightGap3;
    // How far a mixed grid stays short of one revolution, so that the write
    // splice never lands on the first ID.
    int spliceRoom;
};

constexpr TrackGeometry kMfmGeometry = {
    /*sectorOverhead=*/62, /*searchOverhead=*/62,
    /*indexPreamble=*/146, /*endSpare=*/128,
    /*minimalLeadIn=*/64,  /*roomyGap3=*/24,
    /*tightGap3=*/16,      /*spliceRoom=*/50};
constexpr TrackGeometry kFmGeometry = {
    /*sectorOverhead=*/32, /*searchOverhead=*/33,
    /*indexPreamble=*/73,  /*endSpare=*/64,
    /*minimalLeadIn=*/32,  /*roomyGap3=*/12,
    /*tightGap3=*/8,       /*spliceRoom=*/25};

// Behind a sector's data field, before the next slot's ID may begin.
constexpr int kSpareAfterData = 2;
// Slot grids of a mixed track: size codes 0 to 3 (128 to 1024 bytes), gap-3 2 to 255.
constexpr int kMaxGridSizeCode = 3;
constexpr int kMinGridGap3 = 2;
constexpr int kMaxGridGap3 = 255;
// Above any margin a grid slot can leave (at most 1024 + 62 + 255 bytes): the
// smallest margin over a track starts here.
constexpr int kUnboundedMargin = 9999;

bool isMfm(uint8_t density)
{
    return density != 0;
}

// The density bit of a type byte. An image's density byte may hold other bits
// (another tool's, or a damaged file's); they must not reach the type bytes,
// where bit 7 is the deleted mark and bits 0 and 1 the record kind.
uint8_t densityBit(uint8_t density)
{
    return isMfm(density) ? kMfmBit : 0;
}

const TrackGeometry& geometry(bool mfm)
{
    return mfm ? kMfmGeometry : kFmGeometry;
}

// Bytes of one revolution: 250 kbit/s at 300 rpm, 500 kbit/s at 360 rpm; FM half.
int trackLength(bool mfm, int medium)
{
    if (d88::isHighDensity(medium))
        return mfm ? 10416 : 5208;
    return mfm ? 6250 : 3125;
}

// What the slots of a mixed layout must stay below.
int mixedLimit(bool mfm, int medium)
{
    return trackLength(mfm, medium) - geometry(mfm).spliceRoom;
}

// Data bytes of size code n, capped the way the format record caps it; 0 for the
// "no usable sector" code -1.
int sectorBytes(int n)
{
    if (n < 0)
        return 0;
    return 128 << std::min(n, kMaxSizeCode);
}

void putId(uint8_t*& cursor, uint8_t c, uint8_t h, uint8_t r, uint8_t n)
{
    cursor[0] = c;
    cursor[1] = h;
    cursor[2] = r;
    cursor[3] = n;
    cursor += kIdSize;
}

constexpr int kMaxRecords = DiskClient::kMaxRecords;

} // namespace

namespace trackplan {

int buildPayload(int medium, uint8_t* out, const SectorDesc* descs, int count, PlanNote* note)
{
    *note = PlanNote();
    count = std::clamp(count, 0, kMaxRecords);
    uint8_t* cursor = out;

    if (count == 0) {
        // One MFM slot longer than the whole track: the controller writes gap and
        // filler all round, which leaves the track without a single ID.
        const uint8_t unformatted[6] = {kFormatRecord | kMfmBit,
                                        static_cast<uint8_t>(d88::isHighDensity(medium) ? 7 : 6),
                                        0x01,
                                        0x06,
                                        kFillerMixed,
                                        kEndRecord};
        std::copy(unformatted, unformatted + 6, out);
        return 6;
    }

    // Only sectors that read without error decide the layout.
    int common = -1;
    int largest = -1;
    bool mixed = false;
    for (int i = 0; i < count; ++i) {
        if (descs[i].status != 0)
            continue;
        const int n = descs[i].n;
        if (common < 0) {
            common = n;
        } else if (n != common) {
            mixed = true;
        }
        largest = std::max(largest, n);
    }

    if (!mixed) {
        planUniform(medium, cursor, descs, count, common, note);
    } else {
        const int limit = mixedLimit(isMfm(descs[0].density), medium);
        // searchGap leaves these alone when no grid fits the track. Slots of the
        // largest sector's size then give every sector one slot and no dummies,
        // so the slot count stays within the descriptor count; the track is
        // written as well as it goes.
        int n = std::min(largest, kMaxSizeCode);
        int gap3 = kFallbackGap3;
        note->tooDifficult = !searchGap(descs, count, n, gap3, limit);
        planMixed(cursor, descs, count, n, gap3, note);
    }

    // The data area of disk writing holds 12288 bytes for the whole track; the
    // same budget here keeps the payload inside its buffer whatever the
    // descriptors claim (format record at most 5 + 4 x 255, 64 record heads).
    uint32_t budget = DiskClient::kTrackDataSize;
    for (int i = 0; i < count; ++i) {
        const SectorDesc& d = descs[i];
        if (d.status != 0)
            continue;
        uint32_t length = d.data != nullptr ? std::min(d.length, budget) : 0;
        budget -= length;
        *cursor++ =
            static_cast<uint8_t>(kDataRecord | densityBit(d.density) |
                                 (d.deleted != 0 ? kDeletedRecord : 0));
        putId(cursor, d.c, d.h, d.r, d.n);
        writeLe16(cursor, static_cast<uint16_t>(length));
        cursor += 2;
        std::copy(d.data, d.data + length, cursor);
        cursor += length;
    }
    *cursor++ = kEndRecord;
    return static_cast<int>(cursor - out);
}

void planUniform(int medium, uint8_t*& cursor, const SectorDesc* descs, int count, int n,
                 PlanNote* note)
{
    count = std::clamp(count, 0, kMaxRecords);
    n = std::min(n, kMaxSizeCode);
    const int z = sectorBytes(n);
    const bool mfm = isMfm(descs[0].density);
    const int t = trackLength(mfm, medium);
    const int slots = std::max(count, 1);

    // Each try gives up more of the room kept at the end of the track and ahead
    // of the first sector: spare plus index preamble, the preamble alone, a
    // minimal lead-in. C++ division truncates toward zero, as the gap needs.
    const TrackGeometry& g = geometry(mfm);
    const int rest = t - count * (z + g.sectorOverhead);
    int gap3 = (rest - (g.indexPreamble + g.endSpare)) / slots;
    if (gap3 < g.roomyGap3)
        gap3 = (rest - g.indexPreamble) / slots;
    if (gap3 < g.tightGap3)
        gap3 = (rest - g.minimalLeadIn) / slots;

    *cursor++ = static_cast<uint8_t>(kFormatRecord | densityBit(descs[0].density));
    *cursor++ = static_cast<uint8_t>(n);
    *cursor++ = static_cast<uint8_t>(count);
    *cursor++ = static_cast<uint8_t>(gap3);
    *cursor++ = kFillerUniform;
    // Unusable sectors keep their slot, so the track keeps its ID sequence.
    for (int i = 0; i < count; ++i)
        putId(cursor, descs[i].c, descs[i].h, descs[i].r, descs[i].n);

    note->kind = PlanNote::Uniform;
    note->n = n;
    note->gap3 = gap3;
}

bool searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit)
{
    count = std::clamp(count, 0, kMaxRecords);
    const int c = geometry(isMfm(descs[0].density)).searchOverhead;
    int best = 0;
    for (int sn = 0; sn <= kMaxGridSizeCode; ++sn) {
        for (int g = kMinGridGap3; g <= kMaxGridGap3; ++g) {
            const int s = sectorBytes(sn) + c + g;
            int total = 0;
            int slots = 0;
            int margin = kUnboundedMargin;
            for (int i = 0; i < count; ++i) {
                if (descs[i].status != 0)
                    continue;
                // ID field, data field and the spare bytes, from the first slot's start.
                const int need = sectorBytes(descs[i].n) + c + kSpareAfterData;
                const int k = std::max(1, (need + s - 1) / s);
                slots += k;
                total += k * s;
                margin = std::min(margin, k * s - need);
            }
            // Only a strictly larger margin wins: ties keep the smaller slot and gap.
            if (total < limit && slots < kMaxRecords && margin > best) {
                best = margin;
                n = sn;
                gap3 = g;
            }
        }
    }
    return best > 0;
}

void planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3,
               PlanNote* note)
{
    count = std::clamp(count, 0, kMaxRecords);
    const bool mfm = isMfm(descs[0].density);

    uint8_t* head = cursor;
    *cursor++ = static_cast<uint8_t>(kFormatRecord | densityBit(descs[0].density));
    *cursor++ = static_cast<uint8_t>(n);
    *cursor++ = 0; // SC, known once the dummies are counted
    *cursor++ = static_cast<uint8_t>(gap3);
    *cursor++ = kFillerMixed;
    note->kind = PlanNote::Mixed;
    note->n = n;
    note->gap3 = gap3;

    // The agent formats every slot with the MFM sector overhead, FM tracks too;
    // a sector's own data field takes its density's overhead and the spare bytes.
    const int s = sectorBytes(n) + gap3 + kMfmGeometry.sectorOverhead;
    const int overhead = geometry(mfm).sectorOverhead + kSpareAfterData;

    // A dummy slot is overwritten by the data of the sector before it, but until
    // then the controller sees its ID: it must never match a sector that is
    // written later. Its R is the highest one that no sector of the track uses
    // (there are at most 64 of them, so one is always free).
    bool used[256] = {};
    for (int i = 0; i < count; ++i)
        used[descs[i].r] = true;
    int dummyR = 0xFF;
    while (used[dummyR])
        --dummyR;

    int sc = 0;
    for (int i = 0; i < count && sc < kMaxSlots; ++i) {
        const SectorDesc& d = descs[i];
        if (d.status != 0)
            continue;
        putId(cursor, d.c, d.h, d.r, d.n);
        ++sc;
        if (i == count - 1)
            continue;
        // Slots that this sector's data field overruns get dummy IDs.
        for (int room = s - sectorBytes(d.n) - overhead; room < 0 && sc < kMaxSlots; room += s) {
            putId(cursor, d.c, d.h, static_cast<uint8_t>(dummyR), static_cast<uint8_t>(n));
            ++sc;
        }
    }
    head[2] = static_cast<uint8_t>(sc);
}

} // namespace trackplan

namespace
{

void printNote(const trackplan::PlanNote& note)
{
    if (note.kind == trackplan::PlanNote::Uniform)
        console::out(" (N:%d Gap3:%.2xh)", note.n, static_cast<unsigned>(note.gap3));
    if (note.kind != trackplan::PlanNote::Mixed)
        return;
    if (note.tooDifficult)
        console::out("[TOO DIFFICULT!]");
    console::out(" (N:%d Gap3:%.2xh[Mixed])", note.n, static_cast<unsigned>(note.gap3));
}

} // namespace

int DiskClient::buildTrackPayload(uint8_t* out, const SectorDesc* descs, int count)
{
    trackplan::PlanNote note;
    const int length = trackplan::buildPayload(medium, out, descs, count, &note);
    printNote(note);
    return length;
}

void DiskClient::planUniform(uint8_t*& cursor, const SectorDesc* descs, int count, int n)
{
    trackplan::PlanNote note;
    trackplan::planUniform(medium, cursor, descs, count, n, &note);
    printNote(note);
}

bool DiskClient::searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit)
{
    return trackplan::searchGap(descs, count, n, gap3, limit);
}

void DiskClient::planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3)
{
    trackplan::PlanNote note;
    trackplan::planMixed(cursor, descs, count, n, gap3, &note);
    printNote(note);
}
