// Track format planning: one write-track payload per track, holding the format
// record that the agent hands to the disk controller and the data of every
// sector to be written into the freshly formatted track.
//
//  format record  0 type (0x01 | density)  1 N  2 SC  3 gap-3  4 filler  5 IDs[SC] (C H R N)
//  data record    0 type (0x02 | density | 0x80 deleted)  1 C H R N  5 length (u16)  7 data
//  end            0x00
#include <algorithm>
#include <cstdint>

#include "core/bytes.h"
#include "core/console.h"
#include "link/disk_client.h"
#include "transfer/sector_desc.h"

namespace
{

constexpr uint8_t kFormatRecord = 0x01;
constexpr uint8_t kDataRecord = 0x02;
constexpr uint8_t kDeletedRecord = 0x80;
constexpr uint8_t kMfmBit = 0x40;
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

bool isMfm(uint8_t density)
{
    return density != 0;
}

bool hd(int medium)
{
    return (medium & 2) != 0;
}

// Bytes of one revolution: 250 kbit/s at 300 rpm, 500 kbit/s at 360 rpm; FM half.
int trackLength(bool mfm, int medium)
{
    if (hd(medium))
        return mfm ? 10416 : 5208;
    return mfm ? 6250 : 3125;
}

// What the slots of a mixed layout must stay below: 50 (FM 25) bytes short of a
// revolution, so the write splice never lands on the first ID.
int mixedLimit(bool mfm, int medium)
{
    if (hd(medium))
        return mfm ? 10366 : 5183;
    return mfm ? 6200 : 3100;
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

} // namespace

int DiskClient::buildTrackPayload(uint8_t* out, const SectorDesc* descs, int count)
{
    count = std::clamp(count, 0, kMaxRecords);
    uint8_t* cursor = out;

    if (count == 0) {
        // One MFM slot longer than the whole track: the controller writes gap and
        // filler all round, which leaves the track without a single ID.
        const uint8_t unformatted[6] = {kFormatRecord | kMfmBit,
                                        static_cast<uint8_t>(hd(medium) ? 7 : 6),
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
        planUniform(cursor, descs, count, common);
    } else {
        const int limit = mixedLimit(isMfm(descs[0].density), medium);
        // searchGap leaves these alone when no grid fits the track. Slots of the
        // largest sector's size then give every sector one slot and no dummies,
        // so the slot count stays within the descriptor count; the track is
        // written as well as it goes.
        int n = std::min(largest, kMaxSizeCode);
        int gap3 = kFallbackGap3;
        if (!searchGap(descs, count, n, gap3, limit))
            console::out("[TOO DIFFICULT!]");
        planMixed(cursor, descs, count, n, gap3);
    }

    // The data area of disk writing holds 12288 bytes for the whole track; the
    // same budget here keeps the payload inside its buffer whatever the
    // descriptors claim (format record at most 5 + 4 x 255, 64 record heads).
    uint32_t budget = kTrackDataSize;
    for (int i = 0; i < count; ++i) {
        const SectorDesc& d = descs[i];
        if (d.status != 0)
            continue;
        uint32_t length = d.data != nullptr ? std::min(d.length, budget) : 0;
        budget -= length;
        *cursor++ =
            static_cast<uint8_t>(kDataRecord | d.density | (d.deleted != 0 ? kDeletedRecord : 0));
        putId(cursor, d.c, d.h, d.r, d.n);
        writeLe16(cursor, static_cast<uint16_t>(length));
        cursor += 2;
        std::copy(d.data, d.data + length, cursor);
        cursor += length;
    }
    *cursor++ = kEndRecord;
    return static_cast<int>(cursor - out);
}

void DiskClient::planUniform(uint8_t*& cursor, const SectorDesc* descs, int count, int n)
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
    int gap3;
    if (mfm) {
        const int rest = t - count * (z + 62);
        gap3 = (rest - 274) / slots;
        if (gap3 < 24)
            gap3 = (rest - 146) / slots;
        if (gap3 < 16)
            gap3 = (rest - 64) / slots;
    } else {
        const int rest = t - count * (z + 32);
        gap3 = (rest - 137) / slots;
        if (gap3 < 12)
            gap3 = (rest - 73) / slots;
        if (gap3 < 8)
            gap3 = (rest - 32) / slots;
    }

    *cursor++ = static_cast<uint8_t>(kFormatRecord | descs[0].density);
    *cursor++ = static_cast<uint8_t>(n);
    *cursor++ = static_cast<uint8_t>(count);
    *cursor++ = static_cast<uint8_t>(gap3);
    *cursor++ = kFillerUniform;
    // Unusable sectors keep their slot, so the track keeps its ID sequence.
    for (int i = 0; i < count; ++i)
        putId(cursor, descs[i].c, descs[i].h, descs[i].r, descs[i].n);

    console::out(" (N:%d Gap3:%.2xh)", n, static_cast<unsigned>(gap3));
}

bool DiskClient::searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit)
{
    count = std::clamp(count, 0, kMaxRecords);
    const int c = isMfm(descs[0].density) ? 62 : 33;
    int best = 0;
    for (int sn = 0; sn <= 3; ++sn) {
        for (int g = 2; g <= 255; ++g) {
            const int s = (128 << sn) + c + g;
            int total = 0;
            int slots = 0;
            int margin = 9999;
            for (int i = 0; i < count; ++i) {
                if (descs[i].status != 0)
                    continue;
                // ID field, data field and two spare bytes from the first slot's start.
                const int need = sectorBytes(descs[i].n) + c + 2;
                const int k = std::max(1, (need + s - 1) / s);
                slots += k;
                total += k * s;
                margin = std::min(margin, k * s - need);
            }
            // Only a strictly larger margin wins: ties keep the smaller slot and gap.
            if (total < limit && slots < 64 && margin > best) {
                best = margin;
                n = sn;
                gap3 = g;
            }
        }
    }
    return best > 0;
}

void DiskClient::planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3)
{
    count = std::clamp(count, 0, kMaxRecords);
    const bool mfm = isMfm(descs[0].density);

    uint8_t* head = cursor;
    *cursor++ = static_cast<uint8_t>(kFormatRecord | descs[0].density);
    *cursor++ = static_cast<uint8_t>(n);
    *cursor++ = 0; // SC, known once the dummies are counted
    *cursor++ = static_cast<uint8_t>(gap3);
    *cursor++ = kFillerMixed;
    console::out(" (N:%d Gap3:%.2xh[Mixed])", n, static_cast<unsigned>(gap3));

    // The agent formats every slot with 62 bytes of overhead, FM tracks too.
    const int s = sectorBytes(n) + gap3 + 62;
    const int overhead = mfm ? 64 : 34;

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
