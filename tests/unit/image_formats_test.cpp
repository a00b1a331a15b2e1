// The image formats through the in-memory disk: every corpus image and the
// sample disk converted to HFE, IMD and raw and back must keep every usable
// sector as `i A B` compares them, and the readers must refuse damaged files
// with the place named.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/save_disk.h"
#include "image/d88_image.h"
#include "image/hfe.h"
#include "image/image_format.h"
#include "image/imd.h"
#include "image/raw_image.h"
#include "image/track_compare.h"
#include "sim/sample_disk.h"
#include "tests/support/temp_dir.h"

namespace
{

struct Source {
    std::string name;
    DiskImage disk;
};

// The corpus images, and the sample disk as ferry88sim saves it.
const std::vector<Source>& sources()
{
    static std::vector<Source> list = [] {
        std::vector<Source> out;
        std::vector<std::string> paths;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(FERRY2_TESTDATA, ignored)) {
            const std::string path = entry.path().string();
            if (formatFromPath(path) == ImageFormat::D88)
                paths.push_back(path);
        }
        std::sort(paths.begin(), paths.end());
        testsupport::TempDir dir;
        std::string error;
        const std::string sample = dir.file("sample.d88");
        if (sim::makeSampleFloppy().save(sample, &error))
            paths.push_back(sample);
        for (const std::string& path : paths) {
            Source s;
            s.name = std::filesystem::path(path).filename().string();
            if (loadD88Disk(path, 1, &s.disk, &error))
                out.push_back(std::move(s));
            else
                ADD_FAILURE() << error;
        }
        return out;
    }();
    return list;
}

bool isError(uint8_t status)
{
    return status == d88::kStatusIdCrc || status == d88::kStatusDataCrc ||
           status == d88::kStatusNoDataMark;
}

// Differences between a source and its round trip, "" when none: every usable
// sector as `i A B` compares it, the medium, and (keepErrors) the status of
// every error sector the source holds.
std::string differences(const DiskImage& a, const DiskImage& b, bool keepErrors,
                        const std::vector<int>& leftOut = {})
{
    std::string out;
    if (a.medium != b.medium)
        out += "medium " + std::to_string(a.medium) + " -> " + std::to_string(b.medium) + "; ";
    const d88::TrackRecords none;
    const size_t tracks = std::max(a.tracks.size(), b.tracks.size());
    for (size_t t = 0; t < tracks && t < size_t(d88::kTrackCount); ++t) {
        const d88::TrackRecords& source = t < a.tracks.size() ? a.tracks[t] : none;
        const d88::TrackRecords& copy = t < b.tracks.size() ? b.tracks[t] : none;
        if (std::find(leftOut.begin(), leftOut.end(), int(t)) != leftOut.end()) {
            if (!copy.empty())
                out += "track " + std::to_string(t) + " should be left out; ";
            continue;
        }
        const TrackComparison c = compareTrack(source, copy);
        if (!c.matches())
            out += "track " + std::to_string(t) + ": " + describeDifferences(c) + "; ";
        if (!keepErrors)
            continue;
        for (const d88::SectorRecord& s : source) {
            if (!isError(s.status))
                continue;
            const bool kept = std::any_of(copy.begin(), copy.end(), [&](const d88::SectorRecord& k) {
                return k.c == s.c && k.h == s.h && k.r == s.r && k.n == s.n && k.status == s.status;
            });
            if (!kept)
                out += "track " + std::to_string(t) + " R" + std::to_string(s.r) + " status; ";
        }
    }
    return out;
}

// Regular as a raw image needs it, decided here without the writer.
bool isRegular(const DiskImage& disk)
{
    int last = -1;
    for (size_t t = 0; t < disk.tracks.size(); ++t)
        if (!disk.tracks[t].empty())
            last = int(t);
    if (last < 0)
        return false;
    const d88::TrackRecords& first = disk.tracks[0];
    for (int t = 0; t < (last / 2 + 1) * 2; ++t) {
        if (size_t(t) >= disk.tracks.size())
            return false;
        const d88::TrackRecords& track = disk.tracks[size_t(t)];
        if (track.size() != first.size() || track.empty())
            return false;
        std::vector<int> rs;
        for (const d88::SectorRecord& s : track) {
            if (s.n != first[0].n || s.density != d88::kDensityMfm || s.status || s.deleted ||
                s.c != t / 2 || s.h != t % 2 || s.data.size() != size_t(128) << s.n)
                return false;
            rs.push_back(s.r);
        }
        std::sort(rs.begin(), rs.end());
        for (size_t i = 0; i < rs.size(); ++i)
            if (rs[i] != int(i) + 1)
                return false;
    }
    return true;
}

DiskImage readBack(ImageFormat format, const std::vector<uint8_t>& bytes)
{
    DiskImage disk;
    std::string error;
    bool ok = false;
    switch (format) {
    case ImageFormat::Hfe: ok = readHfe(bytes, &disk, &error); break;
    case ImageFormat::Imd: ok = readImd(bytes, &disk, &error); break;
    case ImageFormat::Raw: ok = readRaw(bytes, nullptr, &disk, &error); break;
    default: break;
    }
    EXPECT_TRUE(ok) << error;
    return disk;
}

TEST(ImageFormats, SourcesFound)
{
    // The sample disk at least, with the corpus when it is there.
    EXPECT_FALSE(sources().empty());
}

// Needs the HFE reader and writer (image/hfe.cpp, convert/hfe_writer.cpp).
TEST(ImageFormats, HfeRoundTrip)
{
    for (const Source& s : sources()) {
        SCOPED_TRACE(s.name);
        std::vector<uint8_t> bytes;
        SaveReport report;
        std::string error;
        ASSERT_TRUE(saveDisk(s.disk, ImageFormat::Hfe, false, &bytes, &report, &error)) << error;
        EXPECT_EQ(differences(s.disk, readBack(ImageFormat::Hfe, bytes), true), "");
    }
}

TEST(ImageFormats, ImdRoundTripCountsWhatItCannotHold)
{
    for (const Source& s : sources()) {
        SCOPED_TRACE(s.name);
        // What IMD cannot hold, counted from the source.
        ImdLoss want;
        for (size_t t = 0; t < s.disk.tracks.size(); ++t) {
            std::vector<const d88::SectorRecord*> kept;
            for (const d88::SectorRecord& r : s.disk.tracks[t]) {
                want.idCrc += r.status == d88::kStatusIdCrc;
                want.noDataMark += r.status == d88::kStatusNoDataMark;
                if (r.status != d88::kStatusIdCrc && r.status != d88::kStatusNoDataMark)
                    kept.push_back(&r);
            }
            const bool mixed = std::any_of(kept.begin(), kept.end(), [&](auto* r) {
                return r->n != kept[0]->n || r->density != kept[0]->density;
            });
            if (mixed)
                want.mixed.push_back(int(t));
        }
        std::vector<uint8_t> bytes;
        SaveReport report;
        std::string error;
        const bool strict = saveDisk(s.disk, ImageFormat::Imd, false, &bytes, &report, &error);
        EXPECT_EQ(strict, want.mixed.empty()) << error;
        if (!strict) {
            EXPECT_NE(error.find("トラック " + std::to_string(want.mixed[0]) + " "),
                      std::string::npos)
                << error;
        }
        ASSERT_TRUE(saveDisk(s.disk, ImageFormat::Imd, true, &bytes, &report, &error)) << error;
        EXPECT_EQ(report.imd.idCrc, want.idCrc);
        EXPECT_EQ(report.imd.noDataMark, want.noDataMark);
        EXPECT_EQ(report.imd.mixed, want.mixed);
        EXPECT_EQ(report.imd.resized, 0);
        const DiskImage back = readBack(ImageFormat::Imd, bytes);
        EXPECT_EQ(differences(s.disk, back, false, want.mixed), "");
        // Data CRC errors are held with their status.
        for (size_t t = 0; t < s.disk.tracks.size(); ++t) {
            if (std::count(want.mixed.begin(), want.mixed.end(), int(t)))
                continue;
            int dataCrc = 0, backCrc = 0;
            for (const auto& r : s.disk.tracks[t])
                dataCrc += r.status == d88::kStatusDataCrc;
            if (t < back.tracks.size())
                for (const auto& r : back.tracks[t])
                    backCrc += r.status == d88::kStatusDataCrc;
            EXPECT_EQ(dataCrc, backCrc) << "track " << t;
        }
    }
}

TEST(ImageFormats, RawRoundTripOfRegularDisks)
{
    int regular = 0;
    for (const Source& s : sources()) {
        SCOPED_TRACE(s.name);
        std::vector<uint8_t> bytes;
        SaveReport report;
        std::string error;
        const bool saved = saveDisk(s.disk, ImageFormat::Raw, false, &bytes, &report, &error);
        ASSERT_EQ(saved, isRegular(s.disk)) << error;
        if (!saved) {
            EXPECT_NE(error.find("トラック "), std::string::npos) << error;
            continue;
        }
        ++regular;
        // The size alone must give the geometry back, else --geometry names it.
        DiskImage back;
        if (!readRaw(bytes, nullptr, &back, &error)) {
            const d88::TrackRecords& t0 = s.disk.tracks[0];
            RawGeometry g{int(bytes.size() / (2 * t0.size() * (size_t(128) << t0[0].n))), 2,
                          int(t0.size()), t0[0].n};
            ASSERT_TRUE(readRaw(bytes, &g, &back, &error)) << error;
            back.medium = s.disk.medium;
        }
        EXPECT_EQ(differences(s.disk, back, false), "");
    }
    if (std::filesystem::exists(FERRY2_TESTDATA)) {
        EXPECT_GT(regular, 0);
    }
}

TEST(ImageFormats, RawSizesAndGeometry)
{
    struct Row {
        size_t bytes;
        int medium, cylinders, sectors, n;
    };
    // The sizes a raw image is known by: C x 2 x S x (128 << N).
    const Row rows[] = {
        {327680, d88::kMedium2D, 40, 16, 1},   {655360, d88::kMedium2DD, 80, 16, 1},
        {737280, d88::kMedium2DD, 80, 9, 2},   {1025024, d88::kMedium2HD, 77, 26, 1},
        {1261568, d88::kMedium2HD, 77, 8, 3},  {1228800, d88::kMedium2HD, 80, 15, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes);
        std::vector<uint8_t> bytes(row.bytes);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i / (size_t(128) << row.n));
        DiskImage disk;
        std::string error;
        ASSERT_TRUE(readRaw(bytes, nullptr, &disk, &error)) << error;
        EXPECT_EQ(disk.medium, row.medium);
        ASSERT_EQ(disk.tracks.size(), size_t(row.cylinders * 2));
        const d88::TrackRecords& last = disk.tracks.back();
        ASSERT_EQ(last.size(), size_t(row.sectors));
        EXPECT_EQ(last.back().c, row.cylinders - 1);
        EXPECT_EQ(last.back().h, 1);
        EXPECT_EQ(last.back().r, row.sectors);
        EXPECT_EQ(last.back().n, row.n);
        EXPECT_EQ(last.back().data.front(), uint8_t(row.bytes / (size_t(128) << row.n) - 1));
        std::vector<uint8_t> again;
        ASSERT_TRUE(writeRaw(disk, &again, &error)) << error;
        EXPECT_TRUE(again == bytes);
    }
    DiskImage disk;
    std::string error;
    EXPECT_FALSE(readRaw(std::vector<uint8_t>(327681), nullptr, &disk, &error));
    EXPECT_NE(error.find("327680"), std::string::npos) << error;
    EXPECT_NE(error.find("1228800"), std::string::npos) << error;
    RawGeometry g;
    EXPECT_TRUE(parseGeometry("35,2,16,1", &g));
    EXPECT_TRUE(readRaw(std::vector<uint8_t>(35 * 2 * 16 * 256), &g, &disk, &error)) << error;
    EXPECT_EQ(disk.medium, d88::kMedium2D);
    for (const char* bad : {"", "35,2,16", "35,2,16,1,", "35,3,16,1", "0,2,16,1", "35,2,16,7",
                            "35;2;16;1", "-1,2,16,1", "100,1,16,1"})
        EXPECT_FALSE(parseGeometry(bad, &g)) << bad;
}

// A small IMD file whose every field the corruptions below can name.
std::vector<uint8_t> smallImd()
{
    DiskImage disk;
    disk.medium = d88::kMedium2D;
    disk.tracks.resize(2);
    for (int r = 1; r <= 4; ++r) {
        d88::SectorRecord s;
        s.c = 0;
        s.h = 0;
        s.r = uint8_t(r);
        s.n = 1;
        s.data.assign(256, uint8_t(r));
        s.data[7] = 0x55;   // not compressible
        disk.tracks[0].push_back(s);
        s.h = 1;
        s.c = 9;            // a cylinder map and a head map
        disk.tracks[1].push_back(s);
    }
    std::vector<uint8_t> bytes;
    ImdLoss loss;
    std::string error;
    EXPECT_TRUE(writeImd(disk, false, &bytes, &loss, &error)) << error;
    return bytes;
}

TEST(ImageFormats, ImdBadInput)
{
    const std::vector<uint8_t> good = smallImd();
    DiskImage disk;
    std::string error;
    ASSERT_TRUE(readImd(good, &disk, &error)) << error;
    ASSERT_EQ(disk.tracks.size(), 2u);
    EXPECT_EQ(disk.tracks[1][3].c, 9);
    EXPECT_EQ(disk.tracks[1][3].h, 1);
    const size_t track0 = size_t(std::find(good.begin(), good.end(), 0x1A) - good.begin()) + 1;
    const size_t track1 = track0 + 5 + 4 + 4 * 257;
    ASSERT_EQ(good[track1 + 2], 0x01 | 0x80 | 0x40);

    struct Row {
        const char* what;
        size_t at;        // byte to change, or the length to cut to
        int value;        // new value; -1: cut the file at `at`
        const char* named; // in the message
    };
    const Row rows[] = {
        {"no signature", 0, 'X', "オフセット 0"},
        {"comment without end", track0 - 1, 0x0D, "オフセット"},
        {"cut inside a track header", track0 + 3, -1, "オフセット"},
        {"bad mode", track0, 9, "トラック 0 (オフセット"},
        {"bad head", track0 + 2, 0x02, "トラック 2"},
        {"bad size code", track0 + 4, 7, "トラック 0"},
        {"bad sector type", track0 + 9, 9, "セクタの種類 9"},
        {"cut inside sector data", track0 + 100, -1, "トラック 0"},
        {"cut inside the maps", track1 + 8, -1, "トラック 1"},
        {"cut inside the last sector", good.size() - 1, -1, "トラック 1"},
        {"track twice", track1 + 2, 0xC0, "トラック 0"},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> bad = good;
        if (row.value < 0)
            bad.resize(row.at);
        else
            bad[row.at] = uint8_t(row.value);
        error.clear();
        EXPECT_FALSE(readImd(bad, &disk, &error)) << row.what;
        EXPECT_NE(error.find(row.named), std::string::npos) << row.what << ": " << error;
    }
    // Every cut inside a track fails; none crashes.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        const bool atBoundary = n == track0 || n == track1;
        EXPECT_EQ(readImd(cut, &disk, &error), atBoundary) << n;
    }
}

TEST(ImageFormats, ImdHoldsModesMapsAndFlags)
{
    // One track per kind: an FM track, a 2HD track, deleted and data error
    // flags, a compressed sector, IDs that are not the track's own.
    DiskImage disk;
    disk.medium = d88::kMedium2HD;
    disk.tracks.resize(4);
    auto sector = [](int c, int h, int r, int n, uint8_t density, uint8_t deleted, uint8_t status,
                     uint8_t fill) {
        d88::SectorRecord s;
        s.c = uint8_t(c), s.h = uint8_t(h), s.r = uint8_t(r), s.n = uint8_t(n);
        s.density = density, s.deleted = deleted, s.status = status;
        s.data.assign(size_t(128) << n, fill);
        return s;
    };
    disk.tracks[0] = {sector(0, 0, 1, 0, d88::kDensityFm, 0, 0, 0xE5),
                      sector(0, 0, 2, 0, d88::kDensityFm, d88::kDeletedMark, 0, 0x11)};
    disk.tracks[1] = {sector(0, 1, 1, 1, 0, 0, d88::kStatusDataCrc, 0x22),
                      sector(0, 1, 2, 1, 0, d88::kDeletedMark, d88::kStatusDataCrc, 0x33)};
    disk.tracks[3] = {sector(7, 0, 0xF1, 3, 0, 0, 0, 0x44), sector(1, 1, 1, 3, 0, 0, 0, 0x45)};
    disk.tracks[3][1].data[1] = 0;
    std::vector<uint8_t> bytes;
    ImdLoss loss;
    std::string error;
    ASSERT_TRUE(writeImd(disk, false, &bytes, &loss, &error)) << error;
    EXPECT_FALSE(loss.any());
    DiskImage back;
    ASSERT_TRUE(readImd(bytes, &back, &error)) << error;
    EXPECT_EQ(back.medium, d88::kMedium2HD);
    ASSERT_EQ(back.tracks.size(), disk.tracks.size());
    for (size_t t = 0; t < disk.tracks.size(); ++t) {
        ASSERT_EQ(back.tracks[t].size(), disk.tracks[t].size()) << t;
        for (size_t i = 0; i < disk.tracks[t].size(); ++i) {
            const d88::SectorRecord& a = disk.tracks[t][i];
            const d88::SectorRecord& b = back.tracks[t][i];
            EXPECT_TRUE(a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n &&
                        a.density == b.density && a.deleted == b.deleted &&
                        a.status == b.status && a.data == b.data)
                << "track " << t << " sector " << i;
        }
    }
    // Modes: track 0 FM at 500 kbit/s (0), track 1 MFM at 500 (3).
    const size_t track0 = size_t(std::find(bytes.begin(), bytes.end(), 0x1A) - bytes.begin()) + 1;
    EXPECT_EQ(bytes[track0], 0);
    // The head bytes of the tracks: a cylinder map always comes with a head map.
    std::vector<int> heads;
    for (size_t at = track0; at + 5 <= bytes.size();) {
        const int head = bytes[at + 2], count = bytes[at + 3], size = 128 << bytes[at + 4];
        heads.push_back(head);
        at += 5 + size_t(count) * (1 + !!(head & 0x80) + !!(head & 0x40));
        for (int i = 0; i < count; ++i)
            at += 1 + ((bytes[at] - 1) % 2 ? 1 : size_t(size));
    }
    EXPECT_EQ(heads, (std::vector<int>{0x00, 0x01, 0x01 | 0x80 | 0x40}));
}

} // namespace
