#include "sim/floppy.h"

#include <algorithm>
#include <cstdio>

#include "core/bytes.h"
#include "sim/d88_file.h"

namespace sim {

namespace {

// Track reply: n, then n 12-byte reports, then the data area.
//  report  0 R  1 length (u16)  3 offset (u16)  5 C  6 H  7 N  8 mode  9 ST0  10 ST1  11 ST2
constexpr size_t kReplyLimit = 16384;
constexpr size_t kReportSize = 12;
constexpr int kMaxReportedSectors = 255;   // n is one byte

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

std::string idText(uint8_t c, uint8_t h, uint8_t r, uint8_t n)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "C%02X H%02X R%02X N%02X", c, h, r, n);
    return buf;
}

std::string hex2(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
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
    std::vector<uint8_t> reply(1, 0);
    if (t < 0 || t >= kTracks)
        return reply;
    const std::vector<Sector>& track = tracks[t];
    const size_t n = std::min<size_t>(track.size(), kMaxReportedSectors);
    reply[0] = static_cast<uint8_t>(n);
    reply.resize(1 + kReportSize * n);
    // A real track never holds more than the reply can carry; an image can
    // (big sectors, too many of them). Then the data is cut where the reply is
    // full and the reports carry the shorter lengths, so the client stores what
    // arrived and nothing past its buffer.
    size_t room = kReplyLimit - reply.size();

    ReportFields prev;
    prev.c = static_cast<uint8_t>(t >> 1);
    prev.h = static_cast<uint8_t>(t & 1);
    for (size_t i = 0; i < n; ++i) {
        const Sector& s = track[i];
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
    // The payload is parsed whole before anything is applied, so a malformed
    // one leaves the track as it was.
    auto malformed = [&](const std::string& why) {
        violations->push_back(where + "malformed payload: " + why);
        return kWriteMalformed;
    };
    if (!payload || length < 5)
        return malformed("shorter than a format record");
    const uint8_t formatType = payload[0];
    if ((formatType & ~0x40) != 0x01)
        return malformed("first record type " + hex2(formatType) + " is not a format record");
    const bool mfm = (formatType & 0x40) != 0;
    const uint8_t formatN = payload[1];
    const size_t slotCount = payload[2];
    const long gap3 = payload[3];
    const uint8_t filler = payload[4];
    const TrackGeometry g = geometry(mediumCode, mfm);
    const long slotSize = sectorSize(formatN) + g.overhead + gap3;

    // The erase form: one slot announced, no ID bytes, the end byte. Its slot
    // is longer than the track, so nothing readable is left.
    if (length == 6 && slotCount == 1 && payload[5] == 0x00) {
        tracks[t].clear();
        if (slotSize <= g.length) {
            violations->push_back(where + "unformatted payload with N " + hex2(formatN) +
                                  ", whose slot fits the track");
            return kWriteLost;
        }
        return kWriteOk;
    }

    struct Slot {
        uint8_t c, h, r, n;
        long start;
        int record = -1;
        bool destroyed = false;
    };
    struct Record {
        uint8_t type, c, h, r, n;
        const uint8_t* data;
        size_t length;
    };
    size_t pos = 5;
    if ((length - pos) / 4 < slotCount)
        return malformed("slot IDs run past the payload");
    std::vector<Slot> slots;
    for (size_t i = 0; i < slotCount; ++i, pos += 4) {
        Slot s{payload[pos], payload[pos + 1], payload[pos + 2], payload[pos + 3],
               g.preamble + static_cast<long>(i) * slotSize};
        slots.push_back(s);
    }
    std::vector<Record> records;
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
        records.push_back(Record{type, payload[pos + 1], payload[pos + 2], payload[pos + 3],
                                 payload[pos + 4], payload + pos + 7, dataLength});
        pos += 7 + dataLength;
    }
    if (pos != length)
        return malformed(std::to_string(length - pos) + " bytes after the end byte");

    bool lost = false;
    // Each record finds the first slot still free with its ID: a track may
    // repeat an ID, and the repeats fill their slots in order.
    for (size_t k = 0; k < records.size(); ++k) {
        const Record& rec = records[k];
        auto it = std::find_if(slots.begin(), slots.end(), [&](const Slot& s) {
            return s.record < 0 && s.c == rec.c && s.h == rec.h && s.r == rec.r && s.n == rec.n;
        });
        if (it == slots.end()) {
            violations->push_back(where + "data record " + idText(rec.c, rec.h, rec.r, rec.n) +
                                  " has no free slot with its ID");
            lost = true;
            continue;
        }
        it->record = static_cast<int>(k);
    }

    // A format longer than one revolution runs on past the index over the
    // first slots' IDs.
    const long formatEnd = g.preamble + static_cast<long>(slotCount) * slotSize;
    if (static_cast<long>(slotCount) * slotSize > g.length) {
        violations->push_back(where + "layout does not fit the track: " +
                              std::to_string(slotCount) + " slots of " +
                              std::to_string(slotSize) + " bytes exceed " +
                              std::to_string(g.length));
        lost = true;
        for (Slot& s : slots) {
            if (s.start + g.length < formatEnd) {
                s.destroyed = true;
                if (s.record >= 0)
                    violations->push_back(where + "sector " + idText(s.c, s.h, s.r, s.n) +
                                          " lost: the format ran over its ID");
            }
        }
    }

    // The records are written in slot order; a data field longer than its
    // slot runs over the IDs of the slots after it (a planned dummy slot is
    // meant to go that way; a real sector must not), and past the index over
    // the first ones. A record whose ID is gone by then cannot be written.
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].destroyed || slots[i].record < 0)
            continue;
        const Record& rec = records[slots[i].record];
        const long end = slots[i].start + g.overhead + sectorSize(rec.n);
        for (size_t j = 0; j < slots.size(); ++j) {
            Slot& s = slots[j];
            const bool overrun = (j > i && s.start < end) || s.start + g.length < end;
            if (!overrun || s.destroyed)
                continue;
            s.destroyed = true;
            if (s.record >= 0) {
                violations->push_back(where + "sector " + idText(s.c, s.h, s.r, s.n) +
                                      " lost: its ID was overwritten by the data field of " +
                                      idText(slots[i].c, slots[i].h, slots[i].r, slots[i].n));
                lost = true;
            }
        }
    }

    std::vector<Sector> result;
    for (const Slot& s : slots) {
        if (s.destroyed)
            continue;
        Sector sec;
        sec.c = s.c;
        sec.h = s.h;
        sec.r = s.r;
        sec.n = s.n;
        sec.fm = !mfm;
        // A slot without a record reads back as its ID's size of filler.
        sec.data.assign(static_cast<size_t>(sectorSize(s.n)), filler);
        if (s.record >= 0) {
            const Record& rec = records[s.record];
            sec.fm = (rec.type & 0x40) == 0;
            sec.deleted = (rec.type & 0x80) != 0;
            // The controller writes a whole sector: a short record (cut by the
            // client's track budget) is padded with the filler, a long one cut.
            std::copy(rec.data, rec.data + std::min(rec.length, sec.data.size()),
                      sec.data.begin());
        }
        result.push_back(std::move(sec));
    }
    tracks[t] = std::move(result);
    return lost ? kWriteLost : kWriteOk;
}

namespace {

Sector makeSector(int t, int r, int n, bool fm = false)
{
    Sector s;
    s.c = static_cast<uint8_t>(t >> 1);
    s.h = static_cast<uint8_t>(t & 1);
    s.r = static_cast<uint8_t>(r);
    s.n = static_cast<uint8_t>(n);
    s.fm = fm;
    s.data.assign(static_cast<size_t>(128) << n, 0xFF);
    return s;
}

void putText(Sector* s, size_t at, const std::string& text)
{
    for (size_t i = 0; i < text.size() && at + i < s->data.size(); ++i)
        s->data[at + i] = static_cast<uint8_t>(text[i]);
}

std::vector<Sector> regularTrack(int t, int count, int n, bool fm = false)
{
    std::vector<Sector> track;
    for (int r = 1; r <= count; ++r)
        track.push_back(makeSector(t, r, n, fm));
    return track;
}

} // namespace

Floppy makeSampleFloppy()
{
    Floppy f;
    f.blank(0);
    for (int t = 0; t < 10; ++t)
        f.track(t) = regularTrack(t, 16, 1);

    // Track 0: a boot sector anyone can recognise in a dump.
    putText(&f.track(0)[0], 0,
            "FERRY2 SAMPLE DISK\r\n"
            "Made by ferry88sim for tests and the first steps of the README.\r\n"
            "It holds a small text file, a directory-like area, an FM track,\r\n"
            "a track of mixed sector sizes and a track with a deleted sector\r\n"
            "and a data CRC error.\r\n\x1A");

    // Track 1: directory-like entries of 16 bytes (name, extension, attribute,
    // first track); 0xFF marks the unused ones.
    struct Entry {
        const char* name;
        const char* ext;
        uint8_t attr;
        uint8_t track;
    };
    const Entry entries[] = {{"README", "TXT", 0x80, 2},
                             {"COUNT ", "BIN", 0x01, 3},
                             {"NOISE ", "BIN", 0x01, 6},
                             {"FMTRK ", "DAT", 0x01, 10}};
    Sector& dir = f.track(1)[0];
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
        putText(&dir, i * 16, std::string(entries[i].name) + entries[i].ext);
        dir.data[i * 16 + 9] = entries[i].attr;
        dir.data[i * 16 + 10] = entries[i].track;
    }

    // Track 2: a text file filling the track.
    std::string text = "FERRY2 SAMPLE TEXT FILE\r\n";
    for (int line = 1; text.size() < 16 * 256; ++line) {
        char buf[96];
        std::snprintf(buf, sizeof buf,
                      "Line %03d: ferry2 moves disks between a PC and a PC-8801.\r\n", line);
        text += buf;
    }
    for (int r = 0; r < 16; ++r)
        putText(&f.track(2)[r], 0, text.substr(static_cast<size_t>(r) * 256, 256));

    // Tracks 3-5: counting bytes (compressible by LZ, not by runs); tracks
    // 6-9: a fixed pseudo-random stream (compressible by neither).
    for (int t = 3; t < 6; ++t)
        for (Sector& s : f.track(t))
            for (size_t i = 0; i < s.data.size(); ++i)
                s.data[i] = static_cast<uint8_t>(i + s.r + t);
    uint32_t seed = 0x88018801u;
    for (int t = 6; t < 10; ++t)
        for (Sector& s : f.track(t))
            for (uint8_t& b : s.data) {
                seed = seed * 1103515245u + 12345u;
                b = static_cast<uint8_t>(seed >> 24);
            }

    // Track 10: single density, 16 x 128.
    f.track(10) = regularTrack(10, 16, 0, true);
    for (Sector& s : f.track(10))
        putText(&s, 0, "FM TRACK, SECTOR " + std::to_string(s.r) + "\r\n");

    // Track 11: one 1024-byte sector, then four of 256.
    std::vector<Sector> mixed;
    mixed.push_back(makeSector(11, 1, 3));
    for (int r = 2; r <= 5; ++r)
        mixed.push_back(makeSector(11, r, 1));
    for (Sector& s : mixed)
        putText(&s, 0, "MIXED TRACK, SECTOR " + std::to_string(s.r) + "\r\n");
    f.track(11) = mixed;

    // Track 12: R3 has a deleted-data mark, R5 a data CRC error (data kept).
    f.track(12) = regularTrack(12, 16, 1);
    for (Sector& s : f.track(12))
        putText(&s, 0, "SECTOR " + std::to_string(s.r) + "\r\n");
    f.track(12)[2].deleted = true;
    putText(&f.track(12)[2], 0, "DELETED SECTOR 3\r\n");
    f.track(12)[4].status = d88::kStatusDataCrc;
    putText(&f.track(12)[4], 0, "BAD CRC SECTOR 5\r\n");
    return f;
}

namespace {

const char* mediumName(int medium)
{
    static const char* const names[] = {"2D", "2DD", "???", "2HD"};
    return medium >= 0 && medium <= 3 ? names[medium] : "???";
}

std::string sizeText(uint8_t n)
{
    return n <= 8 ? std::to_string(128 << n) : "N" + hex2(n);
}

std::string trackSummary(const std::vector<Sector>& track)
{
    std::string line;
    // Runs of equal size in record order: "1 x 1024 + 4 x 256".
    int groups = 0;
    for (size_t i = 0; i < track.size();) {
        size_t j = i;
        while (j < track.size() && track[j].n == track[i].n)
            ++j;
        if (groups == 6) {
            line += " + ...";
            break;
        }
        line += (groups ? " + " : "") + std::to_string(j - i) + " x " + sizeText(track[i].n);
        ++groups;
        i = j;
    }
    size_t fm = 0, deleted = 0, idCrc = 0, dataCrc = 0, noMark = 0, other = 0;
    for (const Sector& s : track) {
        fm += s.fm;
        deleted += s.deleted;
        idCrc += s.status == d88::kStatusIdCrc;
        dataCrc += s.status == d88::kStatusDataCrc;
        noMark += s.status == d88::kStatusNoDataMark;
        other += s.status != 0 && s.status != d88::kStatusIdCrc &&
                 s.status != d88::kStatusDataCrc && s.status != d88::kStatusNoDataMark;
    }
    line += fm == 0 ? " MFM" : fm == track.size() ? " FM" : " MFM/FM";
    auto count = [&](size_t k, const char* what, const char* plural) {
        if (k)
            line += ", " + std::to_string(k) + " " + what + (k > 1 ? plural : "");
    };
    count(deleted, "deleted", "");
    count(idCrc, "ID CRC error", "s");
    count(dataCrc, "data CRC error", "s");
    count(noMark, "missing data mark", "s");
    count(other, "other status", "es");
    return line;
}

std::string printable(const std::string& s)
{
    std::string out;
    for (char ch : s)
        out.push_back(ch >= 0x20 && ch < 0x7F ? ch : '.');
    return out;
}

} // namespace

bool describeD88(const std::string& path, std::string* text)
{
    text->clear();
    std::vector<uint8_t> file;
    std::string error;
    if (!readWholeFile(path, &file, &error)) {
        *text = error + "\n";
        return false;
    }
    constexpr int kMaxImages = 64;
    constexpr size_t kMaxWarnings = 16;
    size_t start = 0;
    int index = 1;
    for (; index <= kMaxImages && start < file.size(); ++index) {
        D88Image image;
        if (!parseD88Image(file, start, &image, &error)) {
            *text += "image " + std::to_string(index) + " at " + std::to_string(start) + ": " +
                     error + "\n";
            return index > 1;
        }
        int formatted = 0;
        for (const auto& track : image.tracks)
            formatted += !track.empty();
        char head[200];
        std::snprintf(head, sizeof head,
                      "image %d at %zu: \"%s\" %s, %s, diskSize %lu, %d formatted tracks\n",
                      index, start, printable(image.title).c_str(), mediumName(image.medium),
                      image.writeProtect ? "write-protected" : "not write-protected",
                      static_cast<unsigned long>(image.diskSize), formatted);
        *text += head;
        for (size_t t = 0; t < image.tracks.size(); ++t) {
            if (image.tracks[t].empty())
                continue;
            char num[32];
            std::snprintf(num, sizeof num, "  t %02zu: ", t);
            *text += num + trackSummary(image.tracks[t]) + "\n";
        }
        for (size_t i = 0; i < image.warnings.size() && i < kMaxWarnings; ++i)
            *text += "  warning: " + image.warnings[i] + "\n";
        if (image.warnings.size() > kMaxWarnings)
            *text += "  (" + std::to_string(image.warnings.size() - kMaxWarnings) +
                     " more warnings)\n";
        const uint32_t size = image.diskSize;
        if (size == d88::kInProgress || size < d88::kHeaderSize || size > d88::kMaxImageSize)
            return true;   // the image took the rest of the file
        start += size;
    }
    if (index > kMaxImages && start < file.size())
        *text += "(more images not shown)\n";
    return true;
}

} // namespace sim
