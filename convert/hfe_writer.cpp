#include "convert/hfe_writer.h"

#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "image/flux_track.h"
#include "image/hfe.h"
#include "link/protocol.h"
#include "transfer/sector_desc.h"
#include "transfer/track_plan.h"

namespace
{

// Cylinders every file of a medium has, formatted or not.
int minimumCylinders(int medium)
{
    if (d88::isHighDensity(medium))
        return 77;
    return medium == d88::kMedium2DD ? 80 : 40;
}

// MFM bytes of one revolution, as the planner counts them: 250 kbit/s at
// 300 rpm, 500 kbit/s at 360 rpm. Sixteen cells each.
int revolutionBytes(int medium)
{
    return d88::isHighDensity(medium) ? 10416 : 6250;
}

// Some tools record a deleted-data sector that read cleanly with this status
// rather than 0 plus the deleted mark.
constexpr uint8_t kStatusDeletedOk = 0x10;
// No data mark, as some tools record it.
constexpr uint8_t kStatusNoAddressMark = 0xE0;
// Any non-zero value spoils a CRC.
constexpr uint16_t kBadCrc = 0xFFFF;

bool isFm(const d88::SectorRecord& s)
{
    return s.density == d88::kDensityFm;
}

struct Sector {
    const d88::SectorRecord* record;
    uint8_t status;
    bool deleted;
};

Sector normalise(const d88::SectorRecord& s)
{
    if (s.status == kStatusDeletedOk)
        return {&s, d88::kStatusOk, true};
    return {&s, s.status, s.deleted != 0};
}

// The planner's descriptors, as w's track load makes them; with allUsable,
// every sector gets a slot of its own.
std::vector<SectorDesc> descriptors(const std::vector<Sector>& sectors, bool allUsable)
{
    std::vector<SectorDesc> descs(sectors.size());
    for (size_t i = 0; i < sectors.size(); ++i) {
        const d88::SectorRecord& s = *sectors[i].record;
        SectorDesc& d = descs[i];
        d.c = s.c;
        d.h = s.h;
        d.r = s.r;
        d.n = s.n;
        d.density = isFm(s) ? 0x00 : 0x40;
        d.status = allUsable ? d88::kStatusOk : sectors[i].status;
        d.deleted = sectors[i].deleted ? d88::kDeletedMark : 0;
        d.data = s.data.data();
        d.length = static_cast<uint32_t>(s.data.size());
    }
    return descs;
}

struct Format {
    bool mfm = true;
    int n = 0;
    int gap3 = 0;
    uint8_t filler = 0;
    bool uniform = false;
    std::vector<SectorDesc> ids;
};

Format plan(int medium, const std::vector<SectorDesc>& descs)
{
    std::vector<uint8_t> payload(wire::kTrackPayloadSize);
    trackplan::PlanNote note;
    trackplan::buildPayload(medium, payload.data(), descs.data(), static_cast<int>(descs.size()),
                            &note);
    Format f;
    f.mfm = (payload[0] & 0x40) != 0;
    f.n = payload[1];
    f.gap3 = payload[3];
    f.filler = payload[4];
    f.uniform = note.kind == trackplan::PlanNote::Uniform;
    for (int k = 0; k < payload[2]; ++k) {
        SectorDesc id;
        const uint8_t* p = payload.data() + 5 + 4 * k;
        id.c = p[0];
        id.h = p[1];
        id.r = p[2];
        id.n = p[3];
        f.ids.push_back(id);
    }
    return f;
}

class TrackRenderer {
public:
    TrackRenderer(size_t cells) : w(cells) {}

    size_t gaps(size_t pos, bool mfm, uint8_t byte, int count)
    {
        return mfm ? w.mfmRun(pos, byte, count) : w.fmRun(pos, byte, count);
    }

    // Sync, the mark and its code; returns where the field's bytes begin.
    size_t mark(size_t pos, bool mfm, uint8_t code, uint8_t* markBytes, int* markCount)
    {
        const flux::Layout& layout = flux::layoutFor(mfm);
        pos = gaps(pos, mfm, 0x00, layout.sync);
        *markCount = 0;
        if (mfm) {
            for (int i = 0; i < 3; ++i) {
                pos = w.mfmMark(pos, 0xA1);
                markBytes[(*markCount)++] = 0xA1;
            }
            pos = w.mfm(pos, code);
        } else {
            pos = w.fm(pos, code, 0xC7);
        }
        markBytes[(*markCount)++] = code;
        return pos;
    }

    size_t idField(size_t pos, bool mfm, const SectorDesc& id, uint16_t crcFlip)
    {
        uint8_t marks[4];
        int count = 0;
        pos = mark(pos, mfm, flux::kIdMark, marks, &count);
        const uint8_t bytes[4] = {id.c, id.h, id.r, id.n};
        return w.field(pos, mfm, marks, count, bytes, 4, crcFlip);
    }

    size_t dataField(size_t pos, bool mfm, bool deleted, const std::vector<uint8_t>& data,
                     uint16_t crcFlip)
    {
        uint8_t marks[4];
        int count = 0;
        pos = mark(pos, mfm, deleted ? flux::kDeletedDataMark : flux::kDataMark, marks, &count);
        return w.field(pos, mfm, marks, count, data.data(), data.size(), crcFlip);
    }

    flux::TrackWriter w;
};

// The records as the planner takes them, at most as many as it can plan.
std::vector<Sector> trackSectors(const d88::TrackRecords& records, int* notHeld)
{
    std::vector<Sector> sectors;
    for (const d88::SectorRecord& s : records)
        sectors.push_back(normalise(s));
    if (sectors.size() > static_cast<size_t>(wire::kMaxRecords)) {
        *notHeld += static_cast<int>(sectors.size()) - wire::kMaxRecords;
        sectors.resize(wire::kMaxRecords);
    }
    return sectors;
}

// w's layout, as long as it gives every sector a slot: it leaves the
// unusable sectors of a mixed track out, and a track of nothing but
// unusable sectors has no size to format with. The file can hold them, so
// such a track is laid out as if every sector were usable (*allUsable).
Format trackFormat(int medium, const std::vector<Sector>& sectors, bool* allUsable)
{
    const bool anyError = std::any_of(sectors.begin(), sectors.end(),
                                      [](const Sector& s) { return s.status != d88::kStatusOk; });
    Format f = plan(medium, descriptors(sectors, false));
    const bool everySlot = f.uniform && f.n <= 8 && f.ids.size() == sectors.size();
    *allUsable = anyError && !everySlot;
    if (*allUsable)
        f = plan(medium, descriptors(sectors, true));
    return f;
}

// The format: gap 4a, sync, index mark, gap 1, the slots, gap 4b to the
// index. Returns where each slot begins.
std::vector<size_t> formatTrack(TrackRenderer& r, const Format& f)
{
    const flux::Layout& layout = flux::layoutFor(f.mfm);
    const size_t byteCells = static_cast<size_t>(layout.byteCells);
    const size_t cells = r.w.size();
    size_t pos = r.gaps(0, f.mfm, layout.gap, layout.gap4a);
    pos = r.gaps(pos, f.mfm, 0x00, layout.sync);
    if (f.mfm) {
        for (int i = 0; i < 3; ++i)
            pos = r.w.mfmMark(pos, 0xC2);
        pos = r.w.mfm(pos, flux::kIndexMark);
    } else {
        pos = r.w.fm(pos, flux::kIndexMark, 0xD7);
    }
    pos = r.gaps(pos, f.mfm, layout.gap, layout.gap1);
    const std::vector<uint8_t> formatData(static_cast<size_t>(flux::sectorBytes(f.n)), f.filler);
    std::vector<size_t> slotStart;
    for (const SectorDesc& id : f.ids) {
        slotStart.push_back(pos);
        pos = r.idField(pos, f.mfm, id, 0);
        pos = r.gaps(pos, f.mfm, layout.gap, layout.gap2);
        pos = r.dataField(pos, f.mfm, false, formatData, 0);
        pos = r.gaps(pos, f.mfm, layout.gap, f.gap3);
    }
    if (pos < cells)
        r.gaps(pos, f.mfm, layout.gap, static_cast<int>((cells - pos) / byteCells));
    return slotStart;
}

// Each sector finds the first slot still free with its ID, as the
// controller finds it; in a uniform layout the slots are the sectors in turn.
// -1: no slot holds the sector.
std::vector<int> assignSlots(const std::vector<Sector>& sectors, const Format& f, bool allUsable)
{
    std::vector<int> slotOf(sectors.size(), -1);
    std::vector<bool> taken(f.ids.size(), false);
    for (size_t i = 0; i < sectors.size(); ++i) {
        if (f.uniform && f.ids.size() == sectors.size()) {
            slotOf[i] = static_cast<int>(i);
            continue;
        }
        if (!allUsable && sectors[i].status != d88::kStatusOk)
            continue;
        const d88::SectorRecord& s = *sectors[i].record;
        for (size_t k = 0; k < f.ids.size(); ++k) {
            const SectorDesc& id = f.ids[k];
            if (!taken[k] && id.c == s.c && id.h == s.h && id.r == s.r && id.n == s.n) {
                taken[k] = true;
                slotOf[i] = static_cast<int>(k);
                break;
            }
        }
    }
    return slotOf;
}

// A sector's data written into its slot, with the fault it read with put back:
// a spoilt data or ID CRC, or the data field gone.
void writeSector(TrackRenderer& r, const Format& f, const Sector& sector, size_t slot,
                 const SectorDesc& id)
{
    const d88::SectorRecord& s = *sector.record;
    const bool mfm = !isFm(s);
    const flux::Layout& layout = flux::layoutFor(f.mfm);
    const size_t byteCells = static_cast<size_t>(layout.byteCells);
    const size_t dataStart = slot + static_cast<size_t>(layout.dataFieldOffset()) * byteCells;
    // The slot's size in a uniform layout (a bad sector's ID may claim
    // another), the sector's own where the grid was made for it.
    const int n = f.uniform ? f.n : s.n;
    std::vector<uint8_t> data(static_cast<size_t>(flux::sectorBytes(n)), f.filler);
    const size_t kept = std::min(s.data.size(), data.size());
    std::copy(s.data.begin(), s.data.begin() + static_cast<long>(kept), data.begin());
    const bool dataCrc = sector.status != d88::kStatusOk && sector.status != d88::kStatusIdCrc &&
                         sector.status != d88::kStatusNoDataMark &&
                         sector.status != kStatusNoAddressMark;
    const size_t end = r.dataField(dataStart, mfm, sector.deleted, data, dataCrc ? kBadCrc : 0);
    if (sector.status == d88::kStatusIdCrc)
        r.idField(slot, f.mfm, id, kBadCrc);
    if (sector.status == d88::kStatusNoDataMark || sector.status == kStatusNoAddressMark) {
        // Gap bytes where the data field was written: the ID stays alone.
        const flux::Layout& own = flux::layoutFor(mfm);
        r.gaps(dataStart, mfm, own.gap,
               static_cast<int>((end - dataStart) / static_cast<size_t>(own.byteCells)));
    }
}

// A revolution as w leaves it: formatted to the planner's layout, then every
// sector's data written into its slot. What w cannot write (a sector that read
// with an error) is put in as the disk had it, so the file keeps it.
std::vector<uint8_t> renderTrack(int medium, const d88::TrackRecords& records, bool* fm,
                                 int* notHeld)
{
    const size_t cells = static_cast<size_t>(revolutionBytes(medium)) * 16;
    TrackRenderer r(cells);
    *fm = false;
    if (records.empty()) {
        // w formats an unformatted track with one slot longer than the
        // revolution: its data field of 4E runs past the index over the ID
        // and the marks, so the track holds gap bytes all round and nothing a
        // controller can sync on. That is what a blank floppy reads as too (no
        // ID found), and it is a steady cell stream a drive emulator plays well.
        r.gaps(0, true, 0x4E, revolutionBytes(medium));
        return r.w.bytes();
    }
    const std::vector<Sector> sectors = trackSectors(records, notHeld);
    bool allUsable = false;
    const Format f = trackFormat(medium, sectors, &allUsable);
    *fm = !f.mfm;
    const std::vector<size_t> slotStart = formatTrack(r, f);
    const std::vector<int> slotOf = assignSlots(sectors, f, allUsable);
    for (size_t i = 0; i < sectors.size(); ++i) {
        if (slotOf[i] < 0) {
            ++*notHeld;
            continue;
        }
        const size_t k = static_cast<size_t>(slotOf[i]);
        writeSector(r, f, sectors[i], slotStart[k], f.ids[k]);
    }
    return r.w.bytes();
}

// Tracks of the disk that can be cylinders of the file.
int trackSlots(const DiskImage& disk)
{
    return std::min<int>(static_cast<int>(disk.tracks.size()), d88::kTrackCount);
}

// Cylinders the file holds: the medium's, or more where the disk has tracks past them.
int cylinderCount(const DiskImage& disk)
{
    int cylinders = minimumCylinders(disk.medium);
    for (int t = 0; t < trackSlots(disk); ++t) {
        if (!disk.tracks[static_cast<size_t>(t)].empty())
            cylinders = std::max(cylinders, t / 2 + 1);
    }
    return cylinders;
}

// Cells of one side, eight to a byte, and the blocks a cylinder takes; the
// tracks begin after the header's and the track list's blocks.
size_t sideLength(int medium)
{
    return static_cast<size_t>(revolutionBytes(medium)) * 2;
}

size_t blocksPerCylinder(int medium)
{
    return (sideLength(medium) + hfe::kSideChunk - 1) / hfe::kSideChunk;
}

constexpr size_t kFirstTrackBlock = 2;

// What the header says of the tracks' encodings.
struct Encodings {
    bool side0Fm = false;
    bool side1Fm = false;
    bool anyMfm = false;
    bool anyFormatted = false;
};

// The 256-byte halves of each block take the sides in turn; the renderer
// packs the cells as HFE does, the first in time in bit 0.
void placeSide(const std::vector<uint8_t>& cells, size_t start, int h, size_t length,
               std::vector<uint8_t>* out)
{
    for (size_t i = 0; i < length; i += hfe::kSideChunk) {
        const size_t chunk = std::min<size_t>(hfe::kSideChunk, length - i);
        std::copy(cells.begin() + static_cast<long>(i),
                  cells.begin() + static_cast<long>(i + chunk),
                  out->begin() + static_cast<long>(start + i / hfe::kSideChunk * hfe::kBlockSize +
                                                   static_cast<size_t>(h) * hfe::kSideChunk));
    }
}

// Every cylinder's entry in the track list and both its sides, rendered.
void writeTracks(const DiskImage& disk, int cylinders, std::vector<uint8_t>* out,
                 Encodings* encodings, int* notHeld)
{
    const int medium = disk.medium;
    const int slots = trackSlots(disk);
    const size_t length = sideLength(medium);
    const d88::TrackRecords unformatted;
    for (int c = 0; c < cylinders; ++c) {
        const size_t start =
            (kFirstTrackBlock + static_cast<size_t>(c) * blocksPerCylinder(medium)) *
            hfe::kBlockSize;
        uint8_t* entry =
            out->data() + hfe::kBlockSize + static_cast<size_t>(c) * hfe::kTrackEntrySize;
        writeLe16(entry, static_cast<uint16_t>(start / hfe::kBlockSize));
        writeLe16(entry + 2, static_cast<uint16_t>(length * 2));
        for (int h = 0; h < 2; ++h) {
            const int t = c * 2 + h;
            const d88::TrackRecords& records =
                t < slots ? disk.tracks[static_cast<size_t>(t)] : unformatted;
            bool fm = false;
            const std::vector<uint8_t> cells = renderTrack(medium, records, &fm, notHeld);
            if (!records.empty()) {
                encodings->anyFormatted = true;
                encodings->anyMfm = encodings->anyMfm || !fm;
                encodings->side0Fm = encodings->side0Fm || (t == 0 && fm);
                encodings->side1Fm = encodings->side1Fm || (t == 1 && fm);
            }
            placeSide(cells, start, h, length, out);
        }
    }
}

void writeHeader(const DiskImage& disk, int cylinders, const Encodings& encodings,
                 uint8_t* header)
{
    std::memcpy(header + hfe::kSignature, hfe::kSignatureV1, 8);
    header[hfe::kRevision] = 0;
    header[hfe::kCylinders] = static_cast<uint8_t>(cylinders);
    header[hfe::kSides] = 2;
    header[hfe::kEncoding] =
        encodings.anyFormatted && !encodings.anyMfm ? hfe::kEncodingFm : hfe::kEncodingMfm;
    const bool hd = d88::isHighDensity(disk.medium);
    writeLe16(header + hfe::kBitRate, hd ? 500 : 250);
    writeLe16(header + hfe::kRpm, hd ? 360 : 300);
    header[hfe::kInterfaceMode] = hfe::kInterfaceShugart;
    header[hfe::kUnused] = 0;
    writeLe16(header + hfe::kTrackList, 1);
    header[hfe::kWriteAllowed] = disk.writeProtected ? hfe::kNo : hfe::kYes;
    header[hfe::kSingleStep] = hfe::kYes;
    // A drive emulator takes the header's encoding for every track it writes
    // back; an FM track 0 on an MFM disk is named here.
    if (encodings.side0Fm) {
        header[hfe::kTrack0Side0Alt] = hfe::kAltEncodingUsed;
        header[hfe::kTrack0Side0Encoding] = hfe::kEncodingFm;
    }
    if (encodings.side1Fm) {
        header[hfe::kTrack0Side1Alt] = hfe::kAltEncodingUsed;
        header[hfe::kTrack0Side1Encoding] = hfe::kEncodingFm;
    }
}

} // namespace

bool writeHfe(const DiskImage& disk, std::vector<uint8_t>* file, std::string* error,
              HfeWriteReport* report)
{
    // Every track can be rendered, whatever it holds: *error stays for a refusal.
    (void)error;
    HfeWriteReport local;
    if (!report)
        report = &local;
    *report = HfeWriteReport();

    const int cylinders = cylinderCount(disk);
    std::vector<uint8_t> out(
        (kFirstTrackBlock + static_cast<size_t>(cylinders) * blocksPerCylinder(disk.medium)) *
            hfe::kBlockSize,
        0x00);
    std::fill(out.begin(), out.begin() + kFirstTrackBlock * hfe::kBlockSize, 0xFF);
    Encodings encodings;
    writeTracks(disk, cylinders, &out, &encodings, &report->sectorsNotHeld);
    writeHeader(disk, cylinders, encodings, out.data());
    *file = std::move(out);
    return true;
}
