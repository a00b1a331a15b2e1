// `r` against ferry88sim: every read image must hold exactly the sectors of the
// floppy it came from, multi-image files keep their earlier images, and the
// medium answers produce their messages.
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
using sim::D88Record;

std::string hexOf(const std::vector<uint8_t>& bytes, size_t from, size_t count)
{
    std::string text;
    char digits[4];
    for (size_t i = from; i < from + count && i < bytes.size(); ++i) {
        snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

uint32_t le32At(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Reads the floppy the sim serves from source into dir/out.d88 and checks the
// image against the source's sectors.
void expectRoundTrip(const std::vector<uint8_t>& source, const std::string& label,
                     int sourceIndex = 1)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), source);
    std::string drive = dir.file("src.d88");
    if (sourceIndex != 1)
        drive += ";" + std::to_string(sourceIndex);
    e2e::Sim sim({"--drive1", drive}, dir.path());
    ASSERT_TRUE(sim.started()) << label;
    auto r = runFerry2({"r", sim.portArg(), "-t", "ROUNDTRIP", "out.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << label << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("終了しました。\n"), std::string::npos) << label;

    std::vector<e2e::ImageView> sources, reads;
    std::string error;
    ASSERT_TRUE(e2e::parseImages(source, &sources, &error)) << label << ": " << error;
    auto bytes = e2e::readFile(dir.file("out.d88"));
    ASSERT_TRUE(e2e::parseImages(bytes, &reads, &error)) << label << ": " << error;
    ASSERT_EQ(reads.size(), 1u) << label;
    const auto& image = reads[0];
    EXPECT_EQ(image.diskSize, bytes.size()) << label;
    EXPECT_EQ(std::string(image.title.begin(), image.title.end()),
              std::string("ROUNDTRIP") + std::string(8, '\0'))
        << label;
    EXPECT_EQ(image.writeProtect, 0) << label;
    for (uint32_t offset : image.trackOffsets) {
        if (offset != 0) {
            EXPECT_EQ(offset, 688u) << label << ": first track right after the header";
            break;
        }
    }
    std::string diff =
        e2e::compareSectors(e2e::asRead(sources[static_cast<size_t>(sourceIndex - 1)]), image);
    EXPECT_EQ(diff, "") << label;
    for (const auto& line : sim.logLines())
        EXPECT_EQ(line.find("violation"), std::string::npos) << label << ": " << line;
}

TEST(Read, GeneratedMedia)
{
    // 2D: a few regular tracks with an unformatted one between them.
    D88Builder d2(0x00);
    d2.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).addRegularTrack(3, 16, 1);
    d2.addRegularTrack(83, 16, 1);
    expectRoundTrip(d2.build(), "2D");

    // 2DD: 164 tracks; the last one formatted.
    D88Builder dd(0x10);
    dd.addRegularTrack(0, 16, 1).addRegularTrack(2, 9, 2).addRegularTrack(163, 16, 1);
    expectRoundTrip(dd.build(), "2DD");

    // 2HD: 26 x 256, 8 x 1024 and an FM track of 26 x 128.
    D88Builder hd(0x20);
    hd.addRegularTrack(0, 26, 0, true).addRegularTrack(1, 26, 1).addRegularTrack(2, 8, 3);
    hd.addRegularTrack(153, 8, 3);
    expectRoundTrip(hd.build(), "2HD");
}

TEST(Read, OddTracks)
{
    D88Builder b(0x00);
    b.addRegularTrack(0, 16, 1);
    // Mixed sizes on one track, 256 to 2048 bytes, out of order.
    b.setTrack(1, {e2e::testRecord(1, 1, 1), e2e::testRecord(1, 2, 2), e2e::testRecord(1, 3, 3), e2e::testRecord(1, 4, 0),
                   e2e::testRecord(1, 5, 4)});
    // Error sectors and deleted marks.
    std::vector<D88Record> errors;
    for (int r = 1; r <= 10; ++r)
        errors.push_back(e2e::testRecord(2, r, 1));
    errors[2].deleted = 0x10;
    errors[4].status = 0xB0;
    errors[6].status = 0xA0;
    errors[7].status = 0xF0;
    errors[8].deleted = 0x10;
    errors[8].status = 0xB0;
    errors[9].status = 0x10;   // another tool's way of recording a deleted sector
    errors[9].deleted = 0x10;
    b.setTrack(2, errors);
    // FM track.
    b.addRegularTrack(3, 16, 0, true);
    // Duplicate R, an ID from elsewhere, R 244; track 5 unformatted.
    std::vector<D88Record> odd{e2e::testRecord(4, 1, 1), e2e::testRecord(4, 1, 1), e2e::testRecord(4, 244, 1)};
    odd[1].c = 7;
    odd[1].h = 1;
    odd[1].data = e2e::patternData(256, 9);
    b.setTrack(4, odd);
    b.addRegularTrack(6, 3, 1);
    // Size code 7 and a zero-length record.
    D88Record big = e2e::testRecord(8, 1, 1);
    big.n = 7;
    b.setTrack(8, {big});
    expectRoundTrip(b.build(), "oddities");
}

TEST(Read, SecondImageOfAMultiImageSource)
{
    D88Builder a(0x00), b(0x00);
    a.addRegularTrack(0, 16, 1);
    b.addRegularTrack(0, 8, 2).addRegularTrack(1, 8, 2);
    expectRoundTrip(sim::concatImages({a.build(), b.build()}), "image 2", 2);
}

TEST(Read, CorpusImages)
{
    const auto paths = e2e::corpusFiles();
    if (paths.empty())
        GTEST_SKIP() << "no corpus at " << FERRY2_TESTDATA;
    for (const auto& path : paths)
        expectRoundTrip(e2e::readFile(path), path.substr(path.rfind('/') + 1));
}

// A run that appends: the earlier image stays byte for byte, the new one
// follows it; write-protect is stamped.
TEST(Read, AppendsToAMultiImageFile)
{
    e2e::TempDir dir;
    D88Builder first(0x00);
    first.setTitle("FIRST").addRegularTrack(0, 16, 1);
    auto firstBytes = first.build();
    e2e::writeFile(dir.file("multi.d88"), firstBytes);

    D88Builder floppy(0x00);
    floppy.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1);
    e2e::writeFile(dir.file("floppy.d88"), floppy.build());
    e2e::Sim sim({"--drive1", dir.file("floppy.d88")}, dir.path());
    auto r = runFerry2({"r", "-w", sim.portArg(), "multi.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    auto bytes = e2e::readFile(dir.file("multi.d88"));
    ASSERT_GT(bytes.size(), firstBytes.size());
    EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.end(), bytes.begin()));
    std::vector<e2e::ImageView> images;
    std::string error;
    ASSERT_TRUE(e2e::parseImages(bytes, &images, &error)) << error;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].writeProtect, 0x10);
    EXPECT_EQ(std::string(images[1].title.begin(), images[1].title.end()),
              std::string(16, ' ') + std::string(1, '\0'));
}

// An interrupted read leaves the in-progress marker; the next read into the
// same file takes its place, and the file ends where the new image ends.
TEST(Read, InterruptedReadIsReplaced)
{
    e2e::TempDir dir;
    D88Builder first(0x00);
    first.addRegularTrack(0, 16, 1);
    auto firstBytes = first.build();
    e2e::writeFile(dir.file("multi.d88"), firstBytes);

    D88Builder big(0x00);
    for (int t = 0; t < 20; ++t)
        big.addRegularTrack(t, 16, 1);
    e2e::writeFile(dir.file("big.d88"), big.build());
    {
        // Hello (1), medium (2), begin (3), then ten tracks: the line goes after packet 13.
        e2e::Sim sim({"--drive1", dir.file("big.d88"), "--hangup-after", "13"}, dir.path());
        auto r = runFerry2({"r", sim.portArg(), "multi.d88"}, dir.path());
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.out.find(" ms.\n"), std::string::npos) << "no elapsed time after a failure";
    }
    auto bytes = e2e::readFile(dir.file("multi.d88"));
    ASSERT_GT(bytes.size(), firstBytes.size() + 688 + 5 * (16 * 272));
    EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.end(), bytes.begin()));
    EXPECT_EQ(le32At(bytes, firstBytes.size() + 28), 0xDEADD13Cu);
    // The ten tracks read are in the table (a later --resume goes on from
    // them); the rest of it is still zero.
    EXPECT_EQ(le32At(bytes, firstBytes.size() + 32), 688u);
    EXPECT_EQ(hexOf(bytes, firstBytes.size() + 32 + 4 * 10, 656 - 40), std::string(1232, '0'));

    D88Builder small(0x00);
    small.addRegularTrack(0, 16, 1);
    e2e::writeFile(dir.file("small.d88"), small.build());
    e2e::Sim sim({"--drive1", dir.file("small.d88")}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "multi.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    bytes = e2e::readFile(dir.file("multi.d88"));
    EXPECT_TRUE(std::equal(firstBytes.begin(), firstBytes.end(), bytes.begin()));
    std::vector<e2e::ImageView> images;
    std::string error;
    ASSERT_TRUE(e2e::parseImages(bytes, &images, &error)) << error;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].offset + images[1].diskSize, bytes.size());
    std::vector<e2e::ImageView> expected;
    ASSERT_TRUE(e2e::parseImages(small.build(), &expected, &error));
    EXPECT_EQ(e2e::compareSectors(e2e::asRead(expected[0]), images[1]), "");
}

// An agent that stops answering mid-read: each command is tried three times,
// each attempt given up after three read time-outs of 10 s, so this takes 90 s.
TEST(Read, SilentAgentLeavesTheMarker)
{
    e2e::TempDir dir;
    D88Builder floppy(0x00);
    for (int t = 0; t < 6; ++t)
        floppy.addRegularTrack(t, 16, 1);
    e2e::writeFile(dir.file("floppy.d88"), floppy.build());
    e2e::Sim sim({"--drive1", dir.file("floppy.d88"), "--silent-after", "6"}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "out.d88"}, dir.path(), "", 150000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("トラック 3 の読み込み: 応答がありません"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Track   2:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Track   3:  16 sectors"), std::string::npos) << r.out;
    auto bytes = e2e::readFile(dir.file("out.d88"));
    ASSERT_GE(bytes.size(), 688u + 3 * 16 * 272);
    EXPECT_EQ(le32At(bytes, 28), 0xDEADD13Cu);
    // Tracks 0 to 2 were stored after the provisional header.
    EXPECT_EQ(bytes.size(), 688u + 3 * 16 * 272);
}

TEST(Read, BrokenImageFileIsLeftAlone)
{
    e2e::TempDir dir;
    std::vector<uint8_t> broken(700, 0);   // diskSize 0
    e2e::writeFile(dir.file("broken.d88"), broken);
    e2e::Sim sim({"--sample"}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "broken.d88"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(e2e::readFile(dir.file("broken.d88")), broken);
}

struct MediumRow {
    std::vector<std::string> simArgs;
    std::vector<std::string> ferryArgs;
    std::string stdinText;
    std::string message;         // expected in standard output
    std::vector<std::string> queries;   // medium query payloads, in order
    bool imageWritten;                  // and the read completed
};

TEST(Read, MediumAnswers)
{
    const std::string insert1 = "PC88 のドライブ 1 にディスクを入れてキーを押してください.\n";
    const std::string insertNone = "PC88 のドライブ -1 にディスクを入れてキーを押してください.\n";
    const MediumRow rows[] = {
        {{"--no-hd"}, {"-m1"}, "", "この 88 は 2D 専用機です.\n", {}, false},
        {{"--no-hd"}, {"-m2"}, "", "この 88 は 2D 専用機です.\n", {}, false},
        {{"--no-hd"}, {"-d1"}, "", "ディスクの種類は 2D です.\n", {"020000"}, true},
        {{}, {"-d1"}, "", "ディスクの種類は 2D です.\n", {"0200ff"}, true},
        {{"--no-disk-until", "1"}, {"-d1", "-m0"}, "\n", insert1, {"020000", "0200ff"}, true},
        {{"--no-disk-until", "2"}, {}, "\n\n", insertNone, {"02feff", "02feff", "02feff"}, true},
        {{"--unknown-medium"}, {"-d1"}, "", "ディスクの種類が特定できません.\n", {"0200ff"},
         false},
        // Without standard input an empty drive is asked about twice, not forever.
        {{"--no-disk-until", "100"}, {"-d1"}, "", insert1 + "キー入力がないため中止しました.\n",
         {"0200ff", "0200ff"}, false},
        {{"--disk-error", "4"}, {"-d1"}, "", "ディスク操作に関するエラーが生じました.\n",
         {"0200ff"}, false},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        std::vector<std::string> simArgs{"--sample"};
        simArgs.insert(simArgs.end(), row.simArgs.begin(), row.simArgs.end());
        e2e::Sim sim(simArgs, dir.path());
        std::vector<std::string> args{"r", "-v", sim.portArg()};
        args.insert(args.end(), row.ferryArgs.begin(), row.ferryArgs.end());
        args.push_back("out.d88");
        auto r = runFerry2(args, dir.path(), row.stdinText);
        std::string label = row.message;
        EXPECT_EQ(r.status, row.imageWritten ? 0 : 1) << label << r.out;
        EXPECT_NE(r.out.find(row.message), std::string::npos) << label << r.out;
        EXPECT_EQ(r.out.find("終了しました。\n") != std::string::npos, row.imageWritten) << label;
        if (!row.imageWritten) {
            EXPECT_NE(r.err.find("ディスクの確認: "), std::string::npos) << label << r.err;
        }
        std::vector<std::string> queries;
        for (const auto& p : e2e::logPayloads(sim.logLines(), '!'))
            if (p.rfind("02", 0) == 0)
                queries.push_back(p);
        EXPECT_EQ(queries, row.queries) << label;
        auto bytes = e2e::readFile(dir.file("out.d88"));
        if (row.imageWritten) {
            std::vector<e2e::ImageView> images;
            std::string error;
            EXPECT_TRUE(e2e::parseImages(bytes, &images, &error)) << label << error;
        } else {
            EXPECT_TRUE(bytes.empty()) << label << ": nothing stamped without a header";
        }
    }
}

} // namespace
