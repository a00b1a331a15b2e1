// `w` against ferry88sim's physical floppy model: what lands on the floppy is
// saved by the sim (--save) and compared with the image it came from. Usable
// sectors must come back exactly; unusable ones as the planner lays them out.
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

const char* blankFor(uint8_t mediaType)
{
    return mediaType == 0x20 ? "2HD" : mediaType == 0x10 ? "2DD" : "2D";
}

// What writing source onto a floppy leaves there. A sector is usable when its
// status is 0 (0x10, another tool's "deleted data read fine", counts as 0
// with the deleted mark). A track whose usable sectors share one size keeps
// every ID; an unusable sector's slot is formatted but gets no data, so it
// reads back as filler 0x00 without a deleted mark. A track of mixed sizes
// gives unusable sectors no slot at all.
e2e::ImageView asWritten(const e2e::ImageView& source)
{
    e2e::ImageView written = e2e::asRead(source);
    for (auto& sectors : written.tracks) {
        for (auto& s : sectors) {
            if (s.status == 0x10) {
                s.status = 0;
                s.deleted = 0x10;
            }
        }
        bool mixed = false;
        int common = -1;
        for (const auto& s : sectors) {
            if (s.status != 0)
                continue;
            if (common < 0)
                common = s.n;
            else if (s.n != common)
                mixed = true;
        }
        const uint8_t trackDensity = sectors.empty() ? 0 : sectors[0].density;
        std::vector<e2e::SectorView> kept;
        for (auto s : sectors) {
            if (s.status != 0) {
                if (mixed)
                    continue;
                s.status = 0;
                s.deleted = 0;
                s.density = trackDensity;
                s.data.assign(static_cast<size_t>(128) << s.n, 0x00);
            }
            kept.push_back(s);
        }
        for (auto& s : kept)
            s.sectorCount = static_cast<uint16_t>(kept.size());
        sectors = kept;
    }
    return written;
}

e2e::ImageView parseOne(const std::vector<uint8_t>& bytes, size_t index = 0)
{
    std::vector<e2e::ImageView> images;
    std::string error;
    EXPECT_TRUE(e2e::parseImages(bytes, &images, &error)) << error;
    if (images.size() <= index) {
        ADD_FAILURE() << "no image " << index;
        return e2e::ImageView{};
    }
    return images[index];
}

void expectNoViolations(const e2e::Sim& sim, const std::string& label)
{
    for (const auto& line : sim.logLines()) {
        EXPECT_EQ(line.find("violation"), std::string::npos) << label << ": " << line;
        EXPECT_EQ(line.find("mismatch"), std::string::npos) << label << ": " << line;
    }
}

// Writes image `index` of the source onto a blank floppy of its medium, then
// reads it back in a second session; both the saved floppy and the read image
// must equal asWritten(source).
void expectWriteBack(const std::vector<uint8_t>& file, const std::string& label, int index = 1)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), file);
    e2e::ImageView source = parseOne(file, static_cast<size_t>(index - 1));
    e2e::ImageView expected = asWritten(source);
    {
        e2e::Sim sim({"--blank1", blankFor(expected.mediaType), "--sessions", "2", "--save",
                      dir.file("saved.d88")},
                     dir.path());
        ASSERT_TRUE(sim.started());
        std::string arg = "src.d88";
        if (index != 1)
            arg += ";" + std::to_string(index);
        auto w = runFerry2({"w", sim.portArg(), arg}, dir.path(), "\n");
        ASSERT_EQ(w.status, 0) << label << "\n" << w.out << w.err;
        EXPECT_NE(w.out.find("を書き戻します.\n"), std::string::npos) << label;
        EXPECT_EQ(w.out.find("[TOO DIFFICULT!]"), std::string::npos) << label;
        auto r = runFerry2({"r", sim.portArg(), "back.d88"}, dir.path());
        ASSERT_EQ(r.status, 0) << label << "\n" << r.out;
        ASSERT_TRUE(sim.waitExit(10000)) << label;

        size_t compressed = 0;
        for (const auto& line : sim.logLines())
            compressed += e2e::jsonField(line, "lead") == "$";
        EXPECT_GT(compressed, 0u) << label;
        expectNoViolations(sim, label);
    }
    e2e::ImageView saved = parseOne(e2e::readFile(dir.file("saved.d88")));
    EXPECT_EQ(e2e::compareSectors(expected, saved), "") << label << " (saved floppy)";
    e2e::ImageView back = parseOne(e2e::readFile(dir.file("back.d88")));
    EXPECT_EQ(e2e::compareSectors(expected, back), "") << label << " (read back)";
}

TEST(Write, GeneratedMedia)
{
    D88Builder d2(0x00);
    d2.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).addRegularTrack(3, 16, 1);
    d2.addRegularTrack(4, 16, 0, true);   // FM
    expectWriteBack(d2.build(), "2D");

    D88Builder dd(0x10);
    dd.addRegularTrack(0, 16, 1).addRegularTrack(2, 9, 2).addRegularTrack(163, 5, 3);
    expectWriteBack(dd.build(), "2DD");

    D88Builder hd(0x20);
    hd.addRegularTrack(0, 26, 0, true).addRegularTrack(1, 26, 1).addRegularTrack(2, 8, 3);
    expectWriteBack(hd.build(), "2HD");
}

TEST(Write, MixedSizesErrorsAndDeletedMarks)
{
    D88Builder b(0x00);
    b.addRegularTrack(0, 16, 1);
    // The planner's worked layouts.
    b.setTrack(1, {e2e::testRecord(1, 1, 3), e2e::testRecord(1, 2, 1), e2e::testRecord(1, 3, 1), e2e::testRecord(1, 4, 1),
                   e2e::testRecord(1, 5, 1)});
    b.setTrack(2, {e2e::testRecord(2, 1, 3), e2e::testRecord(2, 2, 3), e2e::testRecord(2, 3, 3), e2e::testRecord(2, 4, 3),
                   e2e::testRecord(2, 5, 3), e2e::testRecord(2, 6, 1)});
    // Five sizes on one track.
    b.setTrack(3, {e2e::testRecord(3, 1, 1), e2e::testRecord(3, 2, 2), e2e::testRecord(3, 3, 3), e2e::testRecord(3, 4, 0),
                   e2e::testRecord(3, 5, 4)});
    // Uniform track with error sectors and deleted marks.
    std::vector<D88Record> errors;
    for (int r = 1; r <= 10; ++r)
        errors.push_back(e2e::testRecord(4, r, 1));
    errors[2].deleted = 0x10;
    errors[4].status = 0xB0;
    errors[6].status = 0xA0;
    errors[6].data.clear();
    errors[8].status = 0x10;
    errors[8].deleted = 0x10;
    b.setTrack(4, errors);
    // Mixed track with an unusable sector: it loses its slot.
    std::vector<D88Record> mixedErrors{e2e::testRecord(6, 1, 2), e2e::testRecord(6, 2, 1), e2e::testRecord(6, 3, 1),
                                       e2e::testRecord(6, 4, 1)};
    mixedErrors[1].status = 0xB0;
    b.setTrack(6, mixedErrors);
    // A track whose only sector of another size is unusable is uniform.
    std::vector<D88Record> oneOdd{e2e::testRecord(7, 1, 1), e2e::testRecord(7, 2, 2), e2e::testRecord(7, 3, 1)};
    oneOdd[1].status = 0xF0;
    oneOdd[1].data.clear();
    b.setTrack(7, oneOdd);
    // FM track with a deleted sector; track 5 stays unformatted.
    b.addRegularTrack(8, 16, 0, true);
    b.track(8)[3].deleted = 0x10;
    expectWriteBack(b.build(), "mixed");
}

TEST(Write, SecondImageOfAMultiImageFile)
{
    D88Builder a(0x00), b(0x00);
    a.setTitle("FIRST").addRegularTrack(0, 16, 1);
    b.setTitle("SECOND").addRegularTrack(0, 8, 2).addRegularTrack(1, 8, 2);
    auto file = sim::concatImages({a.build(), b.build()});
    expectWriteBack(file, "image 2", 2);
}

TEST(Write, CorpusImages)
{
    const auto paths = e2e::corpusFiles();
    if (paths.empty())
        GTEST_SKIP() << "no corpus at " << FERRY2_TESTDATA;
    for (const auto& path : paths)
        expectWriteBack(e2e::readFile(path), path.substr(path.rfind('/') + 1));
}

struct Refusal {
    std::string label;
    std::vector<uint8_t> image;
    std::string arg;                 // file argument
    std::vector<std::string> simArgs;
    int status;
    std::string out;                 // expected in standard output ("" for none)
    std::string err;                 // expected in standard error ("" for none)
    bool queries;                    // the medium query goes out
};

TEST(Write, SelectionAndRefusals)
{
    D88Builder ok2d(0x00);
    ok2d.addRegularTrack(0, 16, 1);
    D88Builder ok2dd(0x10);
    ok2dd.addRegularTrack(0, 16, 1);

    auto truncated = ok2d.build();
    truncated.resize(truncated.size() - 100);
    D88Builder pastEnd(0x00);
    // diskSize claims more than the file holds; track 1 lies in the missing part.
    pastEnd.addRegularTrack(0, 16, 1).setDiskSize(0x101000).setTrackOffset(1, 0x100000);
    // Other tools mark unformatted tracks with offsets at or past the image's end.
    D88Builder atEnd(0x00);
    atEnd.addRegularTrack(0, 16, 1).setTrackOffset(1, 0x100000);
    D88Builder tooMany(0x00);
    std::vector<D88Record> many;
    for (int r = 0; r < 65; ++r)
        many.push_back(e2e::testRecord(2, r, 0));
    tooMany.setTrack(2, many);

    const std::string damaged2 = "ディスクイメージ img.d88 が壊れています (トラック 2).";
    const std::vector<Refusal> rows = {
        {"index past the end", ok2d.build(), "img.d88;2", {}, 1, "",
         "指定されたディスクがありません.\n", false},
        {"2DD on a 2D-only machine", ok2dd.build(), "img.d88", {"--no-hd"}, 1,
         "この機種では 2DD のディスクイメージは書き戻しできません．\n", "", false},
        {"write-protected", ok2d.build(), "img.d88", {"--write-protect"}, 1,
         "ディスクはライトプロテクトされています.\n", "", true},
        {"type undetermined", ok2d.build(), "img.d88", {"--unknown-medium"}, 1,
         "ディスク操作に関するエラーが生じました.\n", "", true},
        {"truncated", truncated, "img.d88", {}, 1, "", "ディスクイメージ img.d88 が壊れています", false},
        {"offset past the end", pastEnd.build(), "img.d88", {}, 1, "",
         "ディスクイメージ img.d88 が壊れています (トラック 1).", false},
        {"65 records", tooMany.build(), "img.d88", {}, 1, "", damaged2, false},
        {"offset past diskSize", atEnd.build(), "img.d88", {"--unknown-medium"}, 1,
         "ディスク操作に関するエラーが生じました.\n", "", true},
        {"missing file", {}, "none.d88", {}, 1, "", "ファイルを開けません.\n", false},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        if (row.arg != "none.d88")
            e2e::writeFile(dir.file("img.d88"), row.image);
        std::vector<std::string> simArgs{"--blank1", "2D"};
        simArgs.insert(simArgs.end(), row.simArgs.begin(), row.simArgs.end());
        e2e::Sim sim(simArgs, dir.path());
        auto r = runFerry2({"w", "-d1", sim.portArg(), row.arg}, dir.path(), "\n");
        EXPECT_EQ(r.status, row.status) << row.label << "\n" << r.out << r.err;
        if (!row.out.empty()) {
            EXPECT_NE(r.out.find(row.out), std::string::npos) << row.label << "\n" << r.out;
        }
        if (!row.err.empty()) {
            EXPECT_NE(r.err.find(row.err), std::string::npos) << row.label << "\n" << r.err;
        }
        // After the hello nothing goes out but, where the run gets that far,
        // the medium query.
        auto commands = e2e::logPayloads(sim.logLines(), '!');
        ASSERT_FALSE(commands.empty()) << row.label;
        EXPECT_EQ(commands[0], "01") << row.label;
        std::vector<std::string> expected{"01"};
        if (row.queries)
            expected.push_back("020080");
        EXPECT_EQ(commands, expected) << row.label;
        EXPECT_TRUE(e2e::logPayloads(sim.logLines(), '$').empty()) << row.label;
        EXPECT_TRUE(e2e::logPayloads(sim.logLines(), '#').empty()) << row.label;
    }
}

TEST(Write, NoDiskAsksAgain)
{
    e2e::TempDir dir;
    D88Builder img(0x00);
    img.addRegularTrack(0, 16, 1);
    e2e::writeFile(dir.file("img.d88"), img.build());
    e2e::Sim sim({"--blank1", "2D", "--no-disk-until", "2"}, dir.path());
    auto r = runFerry2({"w", sim.portArg(), "img.d88"}, dir.path(), "\n\n\n");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string prompt = "PC88 のドライブ -1 に新しいディスクを入れてキーを押してください.\n";
    size_t count = 0;
    for (size_t at = r.out.find(prompt); at != std::string::npos; at = r.out.find(prompt, at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
    std::vector<std::string> queries;
    for (const auto& p : e2e::logPayloads(sim.logLines(), '!'))
        if (p.rfind("02", 0) == 0)
            queries.push_back(p);
    EXPECT_EQ(queries, (std::vector<std::string>{"02fe80", "02fe80", "02fe80"}));
    EXPECT_NE(r.out.find("Track  83: unformatted.\n"), std::string::npos);
}

} // namespace
