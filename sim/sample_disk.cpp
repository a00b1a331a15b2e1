#include "sim/sample_disk.h"

#include <cstdio>
#include <string>

#include "sim/d88_file.h"

namespace sim {

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

// Track 1: directory-like entries of 16 bytes (name, extension, attribute,
// first track); 0xFF marks the unused ones.
void fillDirectory(Sector* dir)
{
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
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
        putText(dir, i * 16, std::string(entries[i].name) + entries[i].ext);
        dir->data[i * 16 + 9] = entries[i].attr;
        dir->data[i * 16 + 10] = entries[i].track;
    }
}

// Track 2: a text file filling the track.
void fillTextTrack(std::vector<Sector>* track)
{
    std::string text = "FERRY2 SAMPLE TEXT FILE\r\n";
    for (int line = 1; text.size() < 16 * 256; ++line) {
        char buf[96];
        std::snprintf(buf, sizeof buf,
                      "Line %03d: ferry2 moves disks between a PC and a PC-8801.\r\n", line);
        text += buf;
    }
    for (int r = 0; r < 16; ++r)
        putText(&(*track)[r], 0, text.substr(static_cast<size_t>(r) * 256, 256));
}

// Tracks 3-5: counting bytes (compressible by LZ, not by runs); tracks 6-9: a
// fixed pseudo-random stream (compressible by neither).
void fillDataTracks(Floppy* f)
{
    for (int t = 3; t < 6; ++t)
        for (Sector& s : f->track(t))
            for (size_t i = 0; i < s.data.size(); ++i)
                s.data[i] = static_cast<uint8_t>(i + s.r + t);
    uint32_t seed = 0x88018801u;
    for (int t = 6; t < 10; ++t)
        for (Sector& s : f->track(t))
            for (uint8_t& b : s.data) {
                seed = seed * 1103515245u + 12345u;
                b = static_cast<uint8_t>(seed >> 24);
            }
}

// Tracks 10-12: an FM track, mixed sector sizes, a deleted sector and a data
// CRC error.
void addOddTracks(Floppy* f)
{
    // Track 10: single density, 16 x 128.
    f->track(10) = regularTrack(10, 16, 0, true);
    for (Sector& s : f->track(10))
        putText(&s, 0, "FM TRACK, SECTOR " + std::to_string(s.r) + "\r\n");

    // Track 11: one 1024-byte sector, then four of 256.
    std::vector<Sector> mixed;
    mixed.push_back(makeSector(11, 1, 3));
    for (int r = 2; r <= 5; ++r)
        mixed.push_back(makeSector(11, r, 1));
    for (Sector& s : mixed)
        putText(&s, 0, "MIXED TRACK, SECTOR " + std::to_string(s.r) + "\r\n");
    f->track(11) = mixed;

    // Track 12: R3 has a deleted-data mark, R5 a data CRC error (data kept).
    f->track(12) = regularTrack(12, 16, 1);
    for (Sector& s : f->track(12))
        putText(&s, 0, "SECTOR " + std::to_string(s.r) + "\r\n");
    f->track(12)[2].deleted = true;
    putText(&f->track(12)[2], 0, "DELETED SECTOR 3\r\n");
    f->track(12)[4].status = d88::kStatusDataCrc;
    putText(&f->track(12)[4], 0, "BAD CRC SECTOR 5\r\n");
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
    fillDirectory(&f.track(1)[0]);
    fillTextTrack(&f.track(2));
    fillDataTracks(&f);
    addOddTracks(&f);
    return f;
}

} // namespace sim
