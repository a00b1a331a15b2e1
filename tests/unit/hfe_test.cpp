#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convert/hfe_writer.h"
#include "image/d88.h"
#include "image/hfe.h"
#include "image/image_file.h"
#include "image/image_tracks.h"
#include "image/track_compare.h"
#include "sim/sample_disk.h"

namespace
{

using Bytes = std::vector<uint8_t>;

const std::string kD88Folder = FERRY2_TESTDATA;
const std::string kHfeFolder = kD88Folder + "/../hfe";

bool readFile(const std::string& path, Bytes* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool loadD88(const std::string& path, DiskImage* disk)
{
    ImageFile image;
    if (!image.open(path.c_str(), ImageFile::ReadOnly) || !d88::selectImage(image, 1))
        return false;
    ImageTracks tracks;
    if (!loadImageTracks(image, &tracks))
        return false;
    disk->medium = tracks.medium;
    disk->tracks = tracks.tracks;
    return true;
}

DiskImage sampleDisk()
{
    const sim::Floppy floppy = sim::makeSampleFloppy();
    DiskImage disk;
    disk.medium = floppy.medium();
    for (int t = 0; t < floppy.trackCount(); ++t) {
        d88::TrackRecords track;
        for (const sim::Sector& s : floppy.track(t)) {
            d88::SectorRecord r;
            r.c = s.c;
            r.h = s.h;
            r.r = s.r;
            r.n = s.n;
            r.density = s.fm ? d88::kDensityFm : d88::kDensityMfm;
            r.deleted = s.deleted ? d88::kDeletedMark : 0;
            r.status = s.status;
            r.data = s.data;
            track.push_back(r);
        }
        disk.tracks.push_back(track);
    }
    return disk;
}

d88::SectorRecord sector(int t, int r, int n, bool fm = false, uint8_t status = 0,
                         bool deleted = false)
{
    d88::SectorRecord s;
    s.c = static_cast<uint8_t>(t / 2);
    s.h = static_cast<uint8_t>(t % 2);
    s.r = static_cast<uint8_t>(r);
    s.n = static_cast<uint8_t>(n);
    s.density = fm ? d88::kDensityFm : d88::kDensityMfm;
    s.status = status;
    s.deleted = deleted ? d88::kDeletedMark : 0;
    s.data.resize(size_t{128} << n);
    for (size_t i = 0; i < s.data.size(); ++i)
        s.data[i] = static_cast<uint8_t>(r * 31 + i * 7 + t);
    return s;
}

// Status 0x10 (another tool's deleted-and-good) as status 0 plus the mark.
void normalise(uint8_t* status, bool* deleted)
{
    if (*status == 0x10) {
        *status = 0;
        *deleted = true;
    }
}

// Everything a copy of a disk lost, in one text ("" when it kept it all):
// usable sectors as i A B compares them, every unusable one with its status,
// deleted mark and density, and sectors the source does not have.
std::string lost(const DiskImage& source, const DiskImage& copy)
{
    std::string out;
    for (size_t t = 0; t < source.tracks.size(); ++t) {
        const d88::TrackRecords& a = source.tracks[t];
        const d88::TrackRecords empty;
        const d88::TrackRecords& b = t < copy.tracks.size() ? copy.tracks[t] : empty;
        const TrackComparison c = compareTrack(a, b);
        const std::string where = "track " + std::to_string(t) + ": ";
        if (!c.matches())
            out += where + describeDifferences(c) + (c.unformattedMismatch ? " formatted" : "") + "\n";
        for (uint8_t r : c.extra)
            out += where + "extra R" + std::to_string(r) + "\n";
        for (size_t i = 0; i < a.size(); ++i) {
            uint8_t status = a[i].status;
            bool deleted = a[i].deleted != 0;
            normalise(&status, &deleted);
            if (status == 0)
                continue;
            int k = 0;
            for (size_t j = 0; j < i; ++j)
                k += a[j].c == a[i].c && a[j].h == a[i].h && a[j].r == a[i].r && a[j].n == a[i].n;
            const d88::SectorRecord* match = nullptr;
            for (const d88::SectorRecord& s : b)
                if (s.c == a[i].c && s.h == a[i].h && s.r == a[i].r && s.n == a[i].n && k-- == 0) {
                    match = &s;
                    break;
                }
            const std::string name = where + "R" + std::to_string(a[i].r);
            if (!match) {
                out += name + " missing\n";
                continue;
            }
            uint8_t got = match->status;
            bool gotDeleted = match->deleted != 0;
            normalise(&got, &gotDeleted);
            if (got != status)
                out += name + " status " + std::to_string(got) + " for " + std::to_string(status) + "\n";
            if (status == d88::kStatusDataCrc && gotDeleted != deleted)
                out += name + " deleted mark\n";
            if (match->density != a[i].density)
                out += name + " density\n";
        }
    }
    for (size_t t = source.tracks.size(); t < copy.tracks.size(); ++t)
        if (!copy.tracks[t].empty())
            out += "track " + std::to_string(t) + ": formatted beyond the source\n";
    return out;
}

// D88 -> HFE -> D88: the written file reads back as the source.
std::string roundTrip(const DiskImage& disk, Bytes* file = nullptr)
{
    Bytes hfe;
    std::string error;
    if (!writeHfe(disk, &hfe, &error))
        return "write: " + error;
    DiskImage back;
    if (!readHfe(hfe, &back, &error))
        return "read: " + error;
    if (back.medium != disk.medium)
        return "medium " + std::to_string(back.medium);
    if (file)
        *file = hfe;
    return lost(disk, back);
}

TEST(HfeRoundTrip, KeepsEverySectorOfTheCorpusAndTheSample)
{
    const char* const kImages[] = {"fm77av_demo_2019.d77", "hubasic_2d.d88",
                                   "hxc_2hd26_fm0.d88",    "hxc_dos_2dd.d88",
                                   "hxc_oddities_2d.d88",  "hxc_x68000_2hd.d88",
                                   "x1ndp_sample_2d.d88",  "x1t_crtcv_2d.d88",
                                   "x1t_crtcv_2hd.d88"};
    EXPECT_EQ(roundTrip(sampleDisk()), "") << "sample disk";
    Bytes probe;
    if (!readFile(kD88Folder + "/hubasic_2d.d88", &probe))
        GTEST_SKIP() << "no corpus at " << kD88Folder;
    for (const char* name : kImages) {
        DiskImage disk;
        ASSERT_TRUE(loadD88(kD88Folder + "/" + name, &disk)) << name;
        EXPECT_EQ(roundTrip(disk), "") << name;
    }
}

// A track per kind of sector w cannot write but the file holds.
TEST(HfeRoundTrip, KeepsEveryStatus)
{
    struct Row {
        const char* name;
        int medium;
        d88::TrackRecords track;
    };
    d88::TrackRecords errors;
    for (int r = 1; r <= 10; ++r)
        errors.push_back(sector(4, r, 1));
    errors[2].deleted = d88::kDeletedMark;
    errors[4].status = d88::kStatusDataCrc;
    errors[6].status = d88::kStatusIdCrc;
    errors[6].data.clear();
    errors[7].status = d88::kStatusNoDataMark;
    errors[7].data.clear();
    errors[8].status = d88::kStatusDataCrc;
    errors[8].deleted = d88::kDeletedMark;
    errors[9].status = 0x10; // deleted, as another tool records it

    d88::TrackRecords fmErrors = errors;
    for (d88::SectorRecord& s : fmErrors) {
        s.density = d88::kDensityFm;
        s.n = 0;
        if (!s.data.empty())
            s.data.resize(128);
    }
    // Unusable sectors of a mixed track, which w leaves out.
    d88::TrackRecords mixed = {sector(4, 1, 3), sector(4, 2, 1), sector(4, 3, 2, false, 0xB0),
                               sector(4, 4, 0, false, 0xA0), sector(4, 5, 1, false, 0xF0)};
    // Nothing usable at all.
    d88::TrackRecords allBad = {sector(4, 1, 1, false, 0xB0), sector(4, 2, 1, false, 0xA0),
                                sector(4, 3, 1, false, 0xF0)};
    // Duplicate IDs, one of them bad, and an ID from another place.
    d88::TrackRecords duplicates = {sector(4, 1, 1), sector(4, 1, 1, false, 0xB0), sector(4, 2, 1)};
    duplicates[1].data[0] ^= 0xFF;
    duplicates[2].c = 7;
    duplicates[2].h = 1;

    const Row rows[] = {
        {"MFM errors 2D", d88::kMedium2D, errors},
        {"MFM errors 2HD", d88::kMedium2HD, errors},
        {"FM errors 2D", d88::kMedium2D, fmErrors},
        {"mixed with errors", d88::kMedium2DD, mixed},
        {"no usable sector", d88::kMedium2D, allBad},
        {"duplicates", d88::kMedium2D, duplicates},
    };
    for (const Row& row : rows) {
        DiskImage disk;
        disk.medium = row.medium;
        disk.tracks.resize(static_cast<size_t>(d88::trackCountFor(row.medium)));
        disk.tracks[4] = row.track;
        EXPECT_EQ(roundTrip(disk), "") << row.name;
    }
}

// The cells of side 0 of cylinder 0 delayed by `shift` cells.
void delayTrack0(Bytes* hfe, int shift)
{
    const size_t list = static_cast<size_t>((*hfe)[hfe::kTrackList]) * hfe::kBlockSize;
    const size_t start = static_cast<size_t>((*hfe)[list] | ((*hfe)[list + 1] << 8)) * 512;
    const size_t length = static_cast<size_t>((*hfe)[list + 2] | ((*hfe)[list + 3] << 8)) / 2;
    auto at = [&](size_t i) -> uint8_t& { return (*hfe)[start + i / 256 * 512 + i % 256]; };
    std::vector<uint8_t> cells;
    for (size_t i = 0; i < length; ++i)
        for (int b = 0; b < 8; ++b)
            cells.push_back((at(i) >> b) & 1);
    std::vector<uint8_t> moved(cells.size());
    for (size_t i = 0; i < cells.size(); ++i)
        moved[(i + static_cast<size_t>(shift)) % cells.size()] = cells[i];
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = 0;
        for (int b = 0; b < 8; ++b)
            byte = static_cast<uint8_t>(byte | (moved[i * 8 + b] << b));
        at(i) = byte;
    }
}

TEST(HfeRead, FindsMarksAtEveryBitOffset)
{
    for (bool fm : {false, true}) {
        DiskImage disk;
        disk.medium = d88::kMedium2D;
        disk.tracks.resize(84);
        for (int r = 1; r <= 4; ++r)
            disk.tracks[0].push_back(sector(0, r, fm ? 0 : 1, fm));
        disk.tracks[0][1].status = d88::kStatusDataCrc;
        Bytes hfe;
        std::string error;
        ASSERT_TRUE(writeHfe(disk, &hfe, &error));
        for (int shift = 0; shift < 8; ++shift) {
            Bytes moved = hfe;
            // A whole byte plus the offset, so the marks leave their bytes for sure.
            delayTrack0(&moved, 8 + shift);
            DiskImage back;
            ASSERT_TRUE(readHfe(moved, &back, &error)) << error;
            EXPECT_EQ(lost(disk, back), "") << (fm ? "FM" : "MFM") << " shift " << shift;
        }
    }
}

TEST(HfeRead, Fm0On2hdComesBackFm)
{
    DiskImage disk;
    disk.medium = d88::kMedium2HD;
    disk.tracks.resize(164);
    for (int r = 1; r <= 26; ++r) {
        disk.tracks[0].push_back(sector(0, r, 0, true));
        disk.tracks[1].push_back(sector(1, r, 1));
        disk.tracks[2].push_back(sector(2, r, 1));
    }
    Bytes hfe;
    EXPECT_EQ(roundTrip(disk, &hfe), "");
    ASSERT_GE(hfe.size(), 512u);
    EXPECT_EQ(hfe[hfe::kTrack0Side0Alt], 0x00);
    EXPECT_EQ(hfe[hfe::kTrack0Side0Encoding], hfe::kEncodingFm);
    EXPECT_EQ(hfe[hfe::kTrack0Side1Alt], 0xFF);
    EXPECT_EQ(hfe[hfe::kBitRate], 500 & 0xFF);
    EXPECT_EQ(hfe[hfe::kRpm], 360 & 0xFF);
    EXPECT_EQ(hfe[hfe::kCylinders], 77);
    DiskImage back;
    std::string error;
    ASSERT_TRUE(readHfe(hfe, &back, &error));
    ASSERT_EQ(back.tracks[0].size(), 26u);
    EXPECT_EQ(back.tracks[0][0].density, d88::kDensityFm);
    EXPECT_EQ(back.tracks[1][0].density, d88::kDensityMfm);
}

TEST(HfeWrite, CylindersFromTheMediumAndTheLastFormattedTrack)
{
    struct Row {
        int medium;
        int lastTrack;
        int cylinders;
        int trackLength; // both sides, bytes
    };
    const Row rows[] = {{d88::kMedium2D, 0, 40, 25000},  {d88::kMedium2D, 83, 42, 25000},
                        {d88::kMedium2DD, 3, 80, 25000}, {d88::kMedium2DD, 163, 82, 25000},
                        {d88::kMedium2HD, 1, 77, 41664}, {d88::kMedium2HD, 159, 80, 41664}};
    for (const Row& row : rows) {
        DiskImage disk;
        disk.medium = row.medium;
        disk.tracks.resize(static_cast<size_t>(d88::trackCountFor(row.medium)));
        disk.tracks[static_cast<size_t>(row.lastTrack)].push_back(sector(row.lastTrack, 1, 1));
        Bytes hfe;
        std::string error;
        ASSERT_TRUE(writeHfe(disk, &hfe, &error));
        EXPECT_EQ(hfe[hfe::kCylinders], row.cylinders) << row.lastTrack;
        EXPECT_EQ(hfe[hfe::kSingleStep], 0xFF);
        EXPECT_EQ(hfe[512 + 2] | (hfe[512 + 3] << 8), row.trackLength);
        EXPECT_EQ(roundTrip(disk), "") << row.lastTrack;
    }
}

// Files of a writer that is not ours, against the D88 images they were made from.
TEST(HfeRead, IndependentWritersFilesMatchTheirSources)
{
    struct Row {
        const char* hfe;
        const char* d88;
        int medium;
    };
    const Row rows[] = {
        {"x1ndp_sample_2d.hfe", "x1ndp_sample_2d.d88", d88::kMedium2D},
        {"x1ndp_sample_2d_bitshift3.hfe", "x1ndp_sample_2d.d88", d88::kMedium2D},
        {"hxc_2hd26_fm0.hfe", "hxc_2hd26_fm0.d88", d88::kMedium2HD},
        {"hxc_oddities_2d.hfe", "hxc_oddities_2d.d88", d88::kMedium2D},
    };
    Bytes probe;
    if (!readFile(kHfeFolder + "/" + rows[0].hfe, &probe))
        GTEST_SKIP() << "no HFE corpus at " << kHfeFolder;
    for (const Row& row : rows) {
        Bytes file;
        ASSERT_TRUE(readFile(kHfeFolder + "/" + row.hfe, &file)) << row.hfe;
        DiskImage source, read;
        ASSERT_TRUE(loadD88(kD88Folder + "/" + row.d88, &source)) << row.d88;
        std::string error;
        ASSERT_TRUE(readHfe(file, &read, &error)) << row.hfe << ": " << error;
        EXPECT_EQ(read.medium, row.medium) << row.hfe;
        EXPECT_EQ(lost(source, read), "") << row.hfe;
    }
}

TEST(HfeRead, DamagedFilesGiveAMessage)
{
    Bytes good;
    std::string error;
    ASSERT_TRUE(writeHfe(sampleDisk(), &good, &error));
    struct Row {
        const char* name;
        std::function<void(Bytes*)> damage;
    };
    const Row rows[] = {
        {"empty", [](Bytes* f) { f->clear(); }},
        {"signature only", [](Bytes* f) { f->resize(8); }},
        {"half a header", [](Bytes* f) { f->resize(300); }},
        {"no track list", [](Bytes* f) { f->resize(512); }},
        {"half the tracks", [](Bytes* f) { f->resize(f->size() / 2); }},
        {"last block cut", [](Bytes* f) { f->resize(f->size() - 512); }},
        {"signature", [](Bytes* f) { (*f)[3] ^= 0x01; }},
        {"no cylinders", [](Bytes* f) { (*f)[hfe::kCylinders] = 0; }},
        {"three sides", [](Bytes* f) { (*f)[hfe::kSides] = 3; }},
        {"track list far away", [](Bytes* f) { (*f)[hfe::kTrackList + 1] = 0x40; }},
        {"track far away", [](Bytes* f) { (*f)[512 + 4 * 7 + 1] = 0x70; }},
    };
    for (const Row& row : rows) {
        Bytes file = good;
        row.damage(&file);
        DiskImage disk;
        error.clear();
        EXPECT_FALSE(readHfe(file, &disk, &error)) << row.name;
        EXPECT_FALSE(error.empty()) << row.name;
    }

    // Flipped cells read as whatever they read as, without a crash; flipped
    // header bytes are refused or read.
    std::mt19937 random(18);
    for (int round = 0; round < 60; ++round) {
        Bytes file = good;
        for (int k = 0; k < 64; ++k) {
            const size_t at = round < 30 ? random() % 1024 : random() % file.size();
            file[at] = static_cast<uint8_t>(file[at] ^ (1u << (random() % 8)));
        }
        DiskImage disk;
        error.clear();
        if (!readHfe(file, &disk, &error)) {
            EXPECT_FALSE(error.empty()) << round;
        }
    }
}

} // namespace

namespace
{

// One cylinder, one side, of the given cells.
Bytes oneTrackFile(const char* signature, const Bytes& side)
{
    Bytes file(1024, 0xFF);
    std::copy(signature, signature + 8, file.begin());
    file[hfe::kRevision] = 0;
    file[hfe::kCylinders] = 1;
    file[hfe::kSides] = 1;
    file[hfe::kBitRate] = 250;
    file[hfe::kBitRate + 1] = 0;
    file[hfe::kRpm] = 300 & 0xFF;
    file[hfe::kRpm + 1] = 300 >> 8;
    file[hfe::kTrackList] = 1;
    file[hfe::kTrackList + 1] = 0;
    file[512] = 2;
    file[513] = 0;
    const size_t length = side.size() * 2;
    file[514] = static_cast<uint8_t>(length);
    file[515] = static_cast<uint8_t>(length >> 8);
    for (size_t i = 0; i < side.size(); ++i) {
        const size_t at = 1024 + i / 256 * 512 + i % 256;
        if (file.size() < at / 512 * 512 + 512)
            file.resize(at / 512 * 512 + 512, 0);
        file[at] = side[i];
    }
    return file;
}

// The cells of one MFM track holding R1 and R2, as the writer renders them.
Bytes twoSectorCells(size_t* r2Byte)
{
    DiskImage disk;
    disk.medium = d88::kMedium2D;
    disk.tracks.resize(84);
    disk.tracks[0] = {sector(0, 1, 1), sector(0, 2, 1)};
    Bytes hfe;
    std::string error;
    EXPECT_TRUE(writeHfe(disk, &hfe, &error));
    Bytes side(12500);
    for (size_t i = 0; i < side.size(); ++i)
        side[i] = hfe[1024 + i / 256 * 512 + i % 256];
    // Gap 3 after R1: past the index preamble, R1's slot (62 + 256 bytes) and a little.
    *r2Byte = (146 + 62 + 256 + 8) * 2;
    return side;
}

} // namespace

TEST(HfeRead, Revision3Opcodes)
{
    size_t cut = 0;
    const Bytes cells = twoSectorCells(&cut);
    std::string error;
    DiskImage disk;

    // Without opcodes revision 3 reads as revision 1 does.
    ASSERT_TRUE(readHfe(oneTrackFile(hfe::kSignatureV3, cells), &disk, &error)) << error;
    ASSERT_EQ(disk.tracks[0].size(), 2u);
    EXPECT_EQ(disk.tracks[0][0].r, 1);
    EXPECT_EQ(disk.tracks[0][0].status, 0);

    // The opcodes as the file holds them (0xF0 to 0xF4 bit-reversed): a NOP, a
    // bit rate and the index between the sectors; then two gap bytes through
    // the skip opcode, the first whole, the second without its first three
    // cells (the cells after it come three earlier).
    const uint8_t nop = 0x0F, index = 0x8F, bitRate = 0x4F, skip = 0xCF;
    Bytes coded(cells.begin(), cells.begin() + static_cast<long>(cut));
    coded.insert(coded.end(), {nop, bitRate, 72, index});
    coded.insert(coded.end(), {skip, 0, cells[cut], skip, 3, cells[cut + 1]});
    Bytes rest(cells.begin() + static_cast<long>(cut) + 2, cells.end());
    coded.insert(coded.end(), rest.begin(), rest.end());
    ASSERT_TRUE(readHfe(oneTrackFile(hfe::kSignatureV3, coded), &disk, &error)) << error;
    ASSERT_EQ(disk.tracks[0].size(), 2u);
    // The revolution starts at the index: R2 comes first, found off its byte.
    EXPECT_EQ(disk.tracks[0][0].r, 2);
    EXPECT_EQ(disk.tracks[0][1].r, 1);
    EXPECT_EQ(disk.tracks[0][0].status, 0);
    EXPECT_EQ(disk.tracks[0][1].status, 0);
}
