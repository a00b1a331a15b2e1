#include "sim/floppy.h"

#include <algorithm>
#include <cstdio>

#include "core/bytes.h"
#include "sim/d88_file.h"
#include "sim/track_reply.h"

namespace sim {

namespace {

// Byte sizes of the physical model (one revolution, in bytes at the data rate).
struct TrackGeometry {
    long length;     // bytes per revolution
    long preamble;   // gap 4a, sync, index mark, gap 1
    long overhead;   // per sector besides data and gap 3
};

TrackGeometry geometry(int medium, bool mfm)
{
    const bool hd = (medium & 2) != 0;
    if (mfm)
        return {hd ? 10416L : 6250L, 146L, 62L};
    return {hd ? 5208L : 3125L, 73L, 33L};
}

// N above 8 is no size a controller can format; 8 (32768 bytes) already
// exceeds every track, so the model caps there.
long sectorSize(uint8_t n)
{
    return 128L << std::min<int>(n, 8);
}

struct SectorId {
    uint8_t c, h, r, n;
};

std::string idText(const SectorId& id)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "C%02X H%02X R%02X N%02X", id.c, id.h, id.r, id.n);
    return buf;
}

std::string hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

// A write-track payload taken apart:
//   format record  0 type (0x01 FM, 0x41 MFM)  1 N  2 slot count  3 gap 3  4 filler
//   slot IDs       4 bytes each (C H R N)
//   data records   0 type (0x02 | 0x40 MFM | 0x80 deleted)  1 C  2 H  3 R  4 N
//                  5 length (u16)  7 data
//   end byte       0x00
struct DataRecord {
    uint8_t type;
    SectorId id;
    const uint8_t* data;
    size_t length;
};

struct TrackPayload {
    bool mfm = false;
    uint8_t formatN = 0;
    size_t slotCount = 0;
    long gap3 = 0;
    uint8_t filler = 0;
    // The erase form: one slot announced, no ID bytes, the end byte.
    bool erase = false;
    std::vector<SectorId> slotIds;
    std::vector<DataRecord> records;
};

// The payload is parsed whole before anything is applied, so a malformed one
// leaves the track as it was. False with the reason in *why.
bool parsePayload(const uint8_t* payload, size_t length, TrackPayload* out, std::string* why)
{
    auto malformed = [&](const std::string& reason) {
        *why = reason;
        return false;
    };
    if (!payload || length < 5)
        return malformed("shorter than a format record");
    const uint8_t formatType = payload[0];
    if ((formatType & ~0x40) != 0x01)
        return malformed("first record type " + hex2(formatType) + " is not a format record");
    out->mfm = (formatType & 0x40) != 0;
    out->formatN = payload[1];
    out->slotCount = payload[2];
    out->gap3 = payload[3];
    out->filler = payload[4];
    if (length == 6 && out->slotCount == 1 && payload[5] == 0x00) {
        out->erase = true;
        return true;
    }

    size_t pos = 5;
    if ((length - pos) / 4 < out->slotCount)
        return malformed("slot IDs run past the payload");
    for (size_t i = 0; i < out->slotCount; ++i, pos += 4) {
        const uint8_t* id = payload + pos;
        out->slotIds.push_back({id[0], id[1], id[2], id[3]});
    }
    for (;;) {
        if (pos >= length)
            return malformed("no end byte");
        const uint8_t type = payload[pos];
        if (type == 0x00) {
            ++pos;
            break;
        }
        if ((type & ~0xC0) != 0x02)
            return malformed("record type " + hex2(type) + " at offset " + std::to_string(pos));
        if (length - pos < 7)
            return malformed("data record header at offset " + std::to_string(pos) +
                             " runs past the payload");
        const size_t dataLength = readLe16(payload + pos + 5);
        if (length - pos - 7 < dataLength)
            return malformed("data of the record at offset " + std::to_string(pos) +
                             " runs past the payload");
        const uint8_t* id = payload + pos + 1;
        out->records.push_back(
            DataRecord{type, {id[0], id[1], id[2], id[3]}, payload + pos + 7, dataLength});
        pos += 7 + dataLength;
    }
    if (pos != length)
        return malformed(std::to_string(length - pos) + " bytes after the end byte");
    return true;
}

// One formatted slot of the track: its ID, where its ID field starts in the
// revolution, the data record it takes, and whether its ID survived.
struct Slot {
    SectorId id;
    long start;
    int record = -1;
    bool destroyed = false;
};

bool sameId(const SectorId& a, const SectorId& b)
{
    return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n;
}

// Each record finds the first slot still free with its ID: a track may repeat
// an ID, and the repeats fill their slots in order. True when a record found
// no slot.
bool assignRecords(const std::vector<DataRecord>& records, std::vector<Slot>* slots,
                   const std::string& where, std::vector<std::string>* violations)
{
    bool lost = false;
    for (size_t k = 0; k < records.size(); ++k) {
        const DataRecord& rec = records[k];
        auto it = std::find_if(slots->begin(), slots->end(), [&](const Slot& s) {
            return s.record < 0 && sameId(s.id, rec.id);
        });
        if (it == slots->end()) {
            violations->push_back(where + "data record " + idText(rec.id) +
                                  " has no free slot with its ID");
            lost = true;
            continue;
        }
        it->record = static_cast<int>(k);
    }
    return lost;
}

// A format longer than one revolution runs on past the index over the first
// slots' IDs. True when the layout does not fit.
bool formatOverrun(const TrackGeometry& g, long slotSize, std::vector<Slot>* slots,
                   const std::string& where, std::vector<std::string>* violations)
{
    const long slotCount = static_cast<long>(slots->size());
    if (slotCount * slotSize <= g.length)
        return false;
    violations->push_back(where + "layout does not fit the track: " +
                          std::to_string(slotCount) + " slots of " + std::to_string(slotSize) +
                          " bytes exceed " + std::to_string(g.length));
    const long formatEnd = g.preamble + slotCount * slotSize;
    for (Slot& s : *slots) {
        if (s.start + g.length < formatEnd) {
            s.destroyed = true;
            if (s.record >= 0)
                violations->push_back(where + "sector " + idText(s.id) +
                                      " lost: the format ran over its ID");
        }
    }
    return true;
}

// The records are written in slot order; a data field longer than its slot
// runs over the IDs of the slots after it (a planned dummy slot is meant to go
// that way; a real sector must not), and past the index over the first ones.
// A record whose ID is gone by then cannot be written. True when a sector
// with a record was lost.
bool dataOverruns(const TrackGeometry& g, const std::vector<DataRecord>& records,
                  std::vector<Slot>* slots, const std::string& where,
                  std::vector<std::string>* violations)
{
    bool lost = false;
    for (size_t i = 0; i < slots->size(); ++i) {
        const Slot& writer = (*slots)[i];
        if (writer.destroyed || writer.record < 0)
            continue;
        const long end = writer.start + g.overhead + sectorSize(records[writer.record].id.n);
        for (size_t j = 0; j < slots->size(); ++j) {
            Slot& s = (*slots)[j];
            const bool overrun = (j > i && s.start < end) || s.start + g.length < end;
            if (!overrun || s.destroyed)
                continue;
            s.destroyed = true;
            if (s.record >= 0) {
                violations->push_back(where + "sector " + idText(s.id) +
                                      " lost: its ID was overwritten by the data field of " +
                                      idText(writer.id));
                lost = true;
            }
        }
    }
    return lost;
}

// The sectors the surviving slots leave on the track.
std::vector<Sector> surviving(const TrackPayload& p, const std::vector<Slot>& slots)
{
    std::vector<Sector> result;
    for (const Slot& s : slots) {
        if (s.destroyed)
            continue;
        Sector sec;
        sec.c = s.id.c;
        sec.h = s.id.h;
        sec.r = s.id.r;
        sec.n = s.id.n;
        sec.fm = !p.mfm;
        // A slot without a record reads back as its ID's size of filler.
        sec.data.assign(static_cast<size_t>(sectorSize(s.id.n)), p.filler);
        if (s.record >= 0) {
            const DataRecord& rec = p.records[s.record];
            sec.fm = (rec.type & 0x40) == 0;
            sec.deleted = (rec.type & 0x80) != 0;
            // The controller writes a whole sector: a short record (cut by the
            // client's track budget) is padded with the filler, a long one cut.
            std::copy(rec.data, rec.data + std::min(rec.length, sec.data.size()),
                      sec.data.begin());
        }
        result.push_back(std::move(sec));
    }
    return result;
}

} // namespace

int Floppy::trackCount() const
{
    return trackCountOf(mediumCode);
}

bool Floppy::load(const std::string& path, std::string* error, int index)
{
    std::vector<uint8_t> file;
    if (!readWholeFile(path, &file, error))
        return false;
    size_t start = 0;
    if (!locateD88Image(file, index, &start, error))
        return false;
    D88Image image;
    if (!parseD88Image(file, start, &image, error))
        return false;
    mediumCode = image.medium;
    for (int t = 0; t < kTracks; ++t) {
        if (t < static_cast<int>(image.tracks.size()))
            tracks[t] = std::move(image.tracks[t]);
        else
            tracks[t].clear();
    }
    warnings = std::move(image.warnings);
    return true;
}

void Floppy::blank(int medium)
{
    mediumCode = medium;
    for (auto& track : tracks)
        track.clear();
    warnings.clear();
}

bool Floppy::save(const std::string& path, std::string* error) const
{
    return writeWholeFile(path, buildD88Image("ferry88sim", false, mediumCode, tracks,
                                              trackCount()),
                          error);
}

std::vector<uint8_t> Floppy::trackReply(int t) const
{
    if (t < 0 || t >= kTracks)
        return {0};
    return encodeTrackReply(t, tracks[t]);
}

uint8_t Floppy::writeTrack(int t, const uint8_t* payload, size_t length,
                           std::vector<std::string>* violations)
{
    std::vector<std::string> local;
    if (!violations)
        violations = &local;
    const std::string where = "track " + std::to_string(t) + ": ";
    if (t < 0 || t >= trackCount()) {
        violations->push_back(where + "beyond the " + std::to_string(trackCount()) +
                              " tracks of the medium");
        return kWriteNoTrack;
    }
    TrackPayload p;
    std::string why;
    if (!parsePayload(payload, length, &p, &why)) {
        violations->push_back(where + "malformed payload: " + why);
        return kWriteMalformed;
    }
    const TrackGeometry g = geometry(mediumCode, p.mfm);
    const long slotSize = sectorSize(p.formatN) + g.overhead + p.gap3;

    // The erase form's slot is longer than the track, so nothing readable is left.
    if (p.erase) {
        tracks[t].clear();
        if (slotSize <= g.length) {
            violations->push_back(where + "unformatted payload with N " + hex2(p.formatN) +
                                  ", whose slot fits the track");
            return kWriteLost;
        }
        return kWriteOk;
    }

    std::vector<Slot> slots;
    for (size_t i = 0; i < p.slotIds.size(); ++i)
        slots.push_back(Slot{p.slotIds[i], g.preamble + static_cast<long>(i) * slotSize});
    bool lost = assignRecords(p.records, &slots, where, violations);
    lost = formatOverrun(g, slotSize, &slots, where, violations) || lost;
    lost = dataOverruns(g, p.records, &slots, where, violations) || lost;
    tracks[t] = surviving(p, slots);
    return lost ? kWriteLost : kWriteOk;
}

} // namespace sim
