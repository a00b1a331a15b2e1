// r --resume and r --retries against ferry88sim: a read cut off at track 40
// goes on from there and ends with the image an uninterrupted read makes; a
// different floppy or an image without a progress record is refused; a weak
// sector is read again, interleaved with its neighbour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "tests/e2e/d88_view.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace {

using e2e::runFerry2;
using sim::D88Builder;

// Every track formatted, data that tells tracks and sectors apart.
std::vector<uint8_t> fullDisk(uint8_t mediaType, int tracks, int sectors, int seed = -1)
{
    D88Builder b(mediaType);
    for (int t = 0; t < tracks; ++t)
        b.addRegularTrack(t, sectors, 1, false, seed);
    return b.build();
}

// Tracks the sim delivered, in order.
std::vector<int> delivered(const e2e::Sim& sim)
{
    std::vector<int> tracks;
    for (const auto& line : sim.logLines())
        if (e2e::jsonField(line, "event") == "track")
            tracks.push_back(std::stoi(e2e::jsonField(line, "track")));
    return tracks;
}

e2e::RunResult readInto(const e2e::TempDir& dir, const std::vector<std::string>& simArgs,
                        const std::vector<std::string>& options, std::vector<int>* tracks = nullptr)
{
    e2e::Sim sim(simArgs, dir.path());
    std::vector<std::string> args{"r", sim.portArg()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("out.d88");
    auto r = runFerry2(args, dir.path());
    if (tracks)
        *tracks = delivered(sim);
    return r;
}

TEST(Resume, InterruptedReadGoesOnWhereItStopped)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("disk.d88"), fullDisk(0x20, 164, 26));
    auto reference = readInto(dir, {"--drive1", dir.file("disk.d88")}, {});
    ASSERT_EQ(reference.status, 0) << reference.err;
    const auto expected = e2e::readFile(dir.file("out.d88"));
    std::remove(dir.file("out.d88").c_str());

    auto cut = readInto(dir, {"--drive1", dir.file("disk.d88"), "--hangup-at-track", "40"}, {});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("--resume"), std::string::npos) << cut.err;

    std::vector<int> tracks;
    auto resumed = readInto(dir, {"--drive1", dir.file("disk.d88")}, {"--resume"}, &tracks);
    ASSERT_EQ(resumed.status, 0) << resumed.out << resumed.err;
    EXPECT_NE(resumed.out.find("Track   1- 39: resumed.\n"), std::string::npos) << resumed.out;
    EXPECT_NE(resumed.out.find("中断前から 40 トラック"), std::string::npos) << resumed.out;
    EXPECT_TRUE(e2e::readFile(dir.file("out.d88")) == expected) << "byte for byte";
    std::vector<int> want{0};
    for (int t = 40; t < 164; ++t)
        want.push_back(t);
    EXPECT_EQ(tracks, want);
}

TEST(Resume, RefusesWhatItCannotContinue)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("disk.d88"), fullDisk(0x00, 84, 16));
    e2e::writeFile(dir.file("other.d88"), fullDisk(0x00, 84, 16, 0x5A));
    auto cut = readInto(dir, {"--drive1", dir.file("disk.d88"), "--hangup-at-track", "10"}, {});
    ASSERT_EQ(cut.status, 1);
    const auto interrupted = e2e::readFile(dir.file("out.d88"));

    auto other = readInto(dir, {"--drive1", dir.file("other.d88")}, {"--resume"});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("別のディスクです"), std::string::npos) << other.err;
    EXPECT_NE(other.err.find("--resume を付けずに"), std::string::npos) << other.err;
    EXPECT_TRUE(e2e::readFile(dir.file("out.d88")) == interrupted) << "file untouched";

    D88Builder two(0x20);
    two.addRegularTrack(0, 26, 1);
    e2e::writeFile(dir.file("2hd.d88"), two.build());
    auto medium = readInto(dir, {"--drive1", dir.file("2hd.d88")}, {"--resume"});
    EXPECT_EQ(medium.status, 1);
    EXPECT_NE(medium.err.find("メディアが違います"), std::string::npos) << medium.err;
    EXPECT_TRUE(e2e::readFile(dir.file("out.d88")) == interrupted) << "file untouched";

    // Another tool's (or an older version's) interrupted image: no progress record.
    std::vector<uint8_t> foreign(688 + 1000, 0);
    foreign[28] = 0x3C, foreign[29] = 0xD1, foreign[30] = 0xAD, foreign[31] = 0xDE;
    e2e::writeFile(dir.file("out.d88"), foreign);
    auto norecord = readInto(dir, {"--drive1", dir.file("disk.d88")}, {"--resume"});
    EXPECT_EQ(norecord.status, 1);
    EXPECT_NE(norecord.err.find("続きを読むための記録がありません"), std::string::npos)
        << norecord.err;
    EXPECT_TRUE(e2e::readFile(dir.file("out.d88")) == foreign) << "file untouched";

    // Nothing interrupted: a new image, and it says so.
    std::remove(dir.file("out.d88").c_str());
    auto fresh = readInto(dir, {"--drive1", dir.file("disk.d88")}, {"--resume"});
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_NE(fresh.out.find("中断した読み込みはありません. 新しく読み込みます.\n"),
              std::string::npos);
}

// A weak sector: its track is named again right after the neighbour already
// named, so a recovered read costs one extra reply.
TEST(Retries, WeakSectorsAreReadAgain)
{
    const struct {
        const char* label;
        std::vector<std::string> sim;
        int retries;
        int track, r;          // the weak sector
        int extraReplies;
        uint8_t status;        // stored for it
    } rows[] = {
        {"recovered", {"--weak-sector", "12:5:1"}, 2, 12, 5, 1, 0x00},
        {"never recovered", {"--weak-sector", "12:5:5"}, 2, 12, 5, 2, 0xB0},
        {"last track", {"--weak-sector", "83:1:1"}, 1, 83, 1, 2, 0x00},
        {"track 0", {"--weak-sector", "0:16:1"}, 1, 0, 16, 1, 0x00},
        {"no retries asked", {"--weak-sector", "12:5:1"}, 0, 12, 5, 0, 0xB0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        e2e::TempDir dir;
        const auto source = fullDisk(0x00, 84, 16);
        e2e::writeFile(dir.file("disk.d88"), source);
        std::vector<std::string> simArgs{"--drive1", dir.file("disk.d88")};
        simArgs.insert(simArgs.end(), row.sim.begin(), row.sim.end());
        std::vector<int> tracks;
        auto r = readInto(dir, simArgs, {"--retries", std::to_string(row.retries)}, &tracks);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(tracks.size(), 84u + size_t(row.extraReplies));

        std::vector<e2e::ImageView> read, wanted;
        std::string error;
        ASSERT_TRUE(e2e::parseImages(e2e::readFile(dir.file("out.d88")), &read, &error)) << error;
        ASSERT_TRUE(e2e::parseImages(source, &wanted, &error)) << error;
        ASSERT_EQ(read.size(), 1u);
        // Every other sector, the neighbours included, is the source's.
        for (int t = 0; t < 84; ++t) {
            const auto& got = read[0].tracks[size_t(t)];
            const auto& want = wanted[0].tracks[size_t(t)];
            ASSERT_EQ(got.size(), want.size()) << "track " << t;
            for (size_t i = 0; i < got.size(); ++i) {
                if (t == row.track && got[i].r == row.r) {
                    EXPECT_EQ(got[i].status, row.status);
                    if (row.status == 0) {
                        EXPECT_EQ(got[i].data, want[i].data);
                    }
                    continue;
                }
                EXPECT_EQ(got[i].status, 0) << "track " << t << " R" << int(got[i].r);
                EXPECT_EQ(got[i].data, want[i].data) << "track " << t << " R" << int(got[i].r);
            }
        }
        if (row.retries > 0) {
            EXPECT_NE(r.out.find("読み直し 1 トラック"), std::string::npos) << r.out;
        }
    }
}

} // namespace
