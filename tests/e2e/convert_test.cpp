// `c` as a user runs it, and `w` and `i` of the formats it writes: the real
// ferry2 on images built here, on the corpus when it is there, against
// ferry88sim, and against MAME's floptool when it is installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "sim/sample_disk.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace
{

using e2e::runFerry2;
using sim::D88Builder;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The folder's file names, sorted.
std::vector<std::string> listing(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A 2D disk with what HFE and IMD both hold: an FM track, deleted marks, a
// data CRC error, IDs that are not the track's own.
std::vector<uint8_t> holdableDisk()
{
    D88Builder b(0x00);
    b.setTitle("FORMATS");
    b.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).addRegularTrack(2, 5, 3);
    b.addRegularTrack(3, 16, 0, true);
    b.track(3)[5].deleted = 0x10;
    b.addRegularTrack(5, 9, 2);
    b.track(5)[2].status = 0xB0;
    b.track(5)[4].deleted = 0x10;
    b.track(5)[6].c = 0x22;
    return b.build();
}

// The sample disk as ferry88sim saves it, in dir.
std::string sampleDisk(const e2e::TempDir& dir)
{
    std::string error;
    const std::string path = dir.file("sample.d88");
    EXPECT_TRUE(sim::makeSampleFloppy().save(path, &error)) << error;
    return path;
}

TEST(Convert, ConvertsAndSaysWhat)
{
    e2e::TempDir dir;
    dir.write("a.d88", holdableDisk());
    auto r = runFerry2({"c", "a.d88", "a.imd"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "a.imd を IMD に変換しました: 2D, フォーマット済みトラック 5, "
                                "セクタ 62, すべて入りました.\n"))
        << r.out;
    EXPECT_EQ(r.err, "");
    // --from / --to over the extension; the result compares equal with i.
    r = runFerry2({"c", "--from", "imd", "--to=d88", "a.imd", "b.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = runFerry2({"i", "a.d88", "a.imd"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "一致しました.")) << r.out;
    r = runFerry2({"i", "a.imd"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "[FORMATS] 2D")) << r.out;
    EXPECT_TRUE(contains(r.out, "16 x 128 FM")) << r.out;
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"a.d88", "a.imd", "b.bin"}));

    // IN;N extracts one image of a multi-image file into a new file.
    D88Builder second(0x00);
    second.setTitle("SECOND").addRegularTrack(0, 8, 2);
    dir.write("two.d88", sim::concatImages({holdableDisk(), second.build()}));
    dir.write("out.d88", std::vector<uint8_t>(5000, 0xAA));
    r = runFerry2({"c", "two.d88;2", "out.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = runFerry2({"i", "out.d88"}, dir.path());
    EXPECT_TRUE(contains(r.out, "ディスクイメージ 1 個: すべて正常です.")) << r.out;
    EXPECT_TRUE(contains(r.out, "[SECOND]")) << r.out;

    // The sample disk's track 11 mixes sizes: IMD refuses it, or with --lossy
    // leaves it out and says so.
    sampleDisk(dir);
    r = runFerry2({"c", "sample.d88", "sample.imd"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "トラック 11 ")) << r.err;
    EXPECT_FALSE(e2e::fileExists(dir.file("sample.imd")));
    r = runFerry2({"c", "--lossy", "sample.d88", "sample.imd"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "セクタ 197, 入らなかったもの: 大きさか記録密度の混在するトラック 1 "
                                "(11).\n"))
        << r.out;
    // Raw refuses it at its first irregular track, the FM track 10.
    r = runFerry2({"c", "sample.d88", "sample.2d"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "トラック 10: ")) << r.err;

    // The usage: c wants IN and OUT, and only its own options.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"c", "a.d88"}, {"c", "--to", "xyz", "a.d88", "x.imd"},
          {"c", "--geometry", "1,2", "a.d88", "x.imd"}, {"r", "--lossy", "a.d88"}}) {
        r = runFerry2(args, dir.path());
        EXPECT_EQ(r.status, 1) << args[1];
        EXPECT_TRUE(contains(r.out, "usage:")) << args[1];
    }
}

// Each bad input: status 1, a message naming the file and the format, and
// neither OUT nor a temporary file left behind.
TEST(Convert, BadInputLeavesNothing)
{
    e2e::TempDir dir;
    const std::vector<uint8_t> source = holdableDisk();
    dir.write("a.d88", source);
    ASSERT_EQ(runFerry2({"c", "a.d88", "good.imd"}, dir.path()).status, 0);
    const std::vector<uint8_t> imd = e2e::readFile(dir.file("good.imd"));
    std::filesystem::remove(dir.file("good.imd"));
    // The HFE rows need the HFE writer.
    const auto hfeRun = runFerry2({"c", "a.d88", "good.hfe"}, dir.path());
    EXPECT_EQ(hfeRun.status, 0) << hfeRun.err;
    const std::vector<uint8_t> hfe = e2e::readFile(dir.file("good.hfe"));
    std::filesystem::remove(dir.file("good.hfe"));
    D88Builder fm(0x00);
    fm.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 0, true);

    auto cut = [](std::vector<uint8_t> b, size_t n) {
        b.resize(std::min(n, b.size()));
        return b;
    };
    auto flip = [](std::vector<uint8_t> b, size_t at, uint8_t mask) {
        if (at < b.size())
            b[at] ^= mask;
        return b;
    };
    const size_t imdTrack0 =
        size_t(std::find(imd.begin(), imd.end(), 0x1A) - imd.begin()) + 1;
    struct Row {
        const char* in;
        std::vector<uint8_t> bytes;
        const char* out;
        std::vector<std::string> named;   // in the message
    };
    const std::vector<Row> rows = {
        {"cut.imd", cut(imd, imd.size() - 100), "x.d88", {"cut.imd", "IMD", "トラック 5"}},
        {"flip.imd", flip(imd, imdTrack0, 0x80), "x.d88", {"flip.imd", "IMD", "トラック 0"}},
        {"sig.imd", flip(imd, 0, 0x01), "x.d88", {"sig.imd", "IMD", "オフセット 0"}},
        {"cut.hfe", cut(hfe, hfe.size() / 2), "x.d88", {"cut.hfe", "HFE", "シリンダ"}},
        {"head.hfe", cut(hfe, 300), "x.d88", {"head.hfe", "HFE"}},
        {"flip.hfe", flip(hfe, 0, 0x01), "x.d88", {"flip.hfe", "HFE"}},
        {"cut.2d", std::vector<uint8_t>(327680 - 256, 0xE5), "x.d88", {"cut.2d", "raw", "327680"}},
        {"odd.img", std::vector<uint8_t>(1000, 0), "x.imd", {"odd.img", "raw", "1228800"}},
        {"fm.d88", fm.build(), "x.2d", {"x.2d", "raw", "トラック 1"}},
        {"a.d88", source, "x.dsk", {"x.dsk", "raw", "トラック 2"}},
        {"a.d88", source, "x.unknown", {"x.unknown", "--to"}},
        {"a.d88", source, "nofolder/x.d88", {"nofolder/x.d88"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.in) + " -> " + row.out);
        e2e::TempDir work;
        work.write(row.in, row.bytes);
        auto r = runFerry2({"c", row.in, row.out}, work.path());
        EXPECT_EQ(r.status, 1) << r.out;
        for (const std::string& part : row.named)
            EXPECT_TRUE(contains(r.err, part)) << part << " in: " << r.err;
        EXPECT_EQ(listing(work.path()), std::vector<std::string>{row.in});
    }
}

// w of an HFE or IMD file leaves the floppy that w of its source leaves: a
// disk both formats hold, and the sample disk (whose track of mixed sizes
// only HFE holds).
TEST(Convert, WriteOfOtherFormatsMatchesTheSource)
{
    e2e::TempDir dir;
    dir.write("holdable.d88", holdableDisk());
    sampleDisk(dir);
    auto saved = [&](const std::string& file) {
        const std::string out = dir.file("saved-" + file + ".d88");
        e2e::Sim sim({"--blank1", "2D", "--save", out}, dir.path());
        EXPECT_TRUE(sim.started());
        auto w = runFerry2({"w", sim.portArg(), file}, dir.path(), "\n");
        EXPECT_EQ(w.status, 0) << file << "\n" << w.out << w.err;
        EXPECT_TRUE(sim.waitExit(10000)) << file;
        return e2e::readFile(out);
    };
    const struct {
        const char* source;
        std::vector<std::string> copies;
    } rows[] = {{"holdable", {"imd", "hfe"}}, {"sample", {"hfe"}}};
    for (const auto& row : rows) {
        const std::vector<uint8_t> want = saved(std::string(row.source) + ".d88");
        ASSERT_FALSE(want.empty()) << row.source;
        for (const std::string& format : row.copies) {
            const std::string file = std::string(row.source) + "." + format;
            auto c = runFerry2({"c", std::string(row.source) + ".d88", file}, dir.path());
            ASSERT_EQ(c.status, 0) << c.err;
            EXPECT_TRUE(saved(file) == want) << file;
        }
    }
}

// ---- MAME's floptool, an implementation no one here wrote ----

bool haveFloptool()
{
    return std::system("command -v floptool >/dev/null 2>&1") == 0;
}

// Runs floptool in dir; its output and status.
e2e::RunResult floptool(const std::string& dir, const std::string& args)
{
    e2e::RunResult result;
    const std::string outPath = dir + "/floptool.out";
    result.status =
        std::system(("cd '" + dir + "' && floptool " + args + " >'" + outPath + "' 2>&1").c_str());
    result.out = [&] {
        const auto bytes = e2e::readFile(outPath);
        return std::string(bytes.begin(), bytes.end());
    }();
    std::filesystem::remove(outPath);
    return result;
}

std::vector<std::string> sourceImages(const e2e::TempDir& dir)
{
    std::vector<std::string> paths = e2e::corpusFiles();
    paths.push_back(sampleDisk(dir));
    dir.write("holdable.d88", holdableDisk());
    paths.push_back(dir.file("holdable.d88"));
    return paths;
}

TEST(Convert, FloptoolIdentifiesWhatCWrites)
{
    if (!haveFloptool())
        GTEST_SKIP() << "floptool (Debian package mame-tools) is not installed";
    e2e::TempDir dir;
    for (const std::string& path : sourceImages(dir)) {
        SCOPED_TRACE(path);
        const std::string base = std::filesystem::path(path).stem().string();
        for (const char* format : {"imd", "hfe"}) {
            const std::string out = base + "." + format;
            auto c = runFerry2({"c", "--lossy", path, out}, dir.path());
            EXPECT_EQ(c.status, 0) << c.err;
            if (c.status != 0)
                continue;
            auto id = floptool(dir.path(), "identify " + out);
            EXPECT_TRUE(contains(id.out, std::string("- ") + format + " ")) << id.out;
        }
        // floptool's HFE reader refuses 40-cylinder files (double stepping):
        // 2DD and 2HD only.
        const auto bytes = e2e::readFile(path);
        if (bytes.size() > 0x1B && bytes[0x1B] != 0x00) {
            auto mfi = floptool(dir.path(), "flopconvert hfe mfi " + base + ".hfe " + base + ".mfi");
            EXPECT_EQ(mfi.status, 0) << mfi.out;
            EXPECT_TRUE(std::filesystem::exists(dir.file(base + ".mfi")));
        }
    }
}

TEST(Convert, RawMatchesFloptoolFor2D)
{
    if (!haveFloptool())
        GTEST_SKIP() << "floptool (Debian package mame-tools) is not installed";
    e2e::TempDir dir;
    int compared = 0;
    D88Builder regular(0x00);
    regular.setTitle("REGULAR");
    for (int t = 0; t < 80; ++t)
        regular.addRegularTrack(t, 16, 1);
    dir.write("regular.d88", regular.build());
    std::vector<std::string> paths = e2e::corpusFiles();
    paths.push_back(dir.file("regular.d88"));
    for (const std::string& path : paths) {
        const auto bytes = e2e::readFile(path);
        auto c = runFerry2({"c", path, "x.2d"}, dir.path());
        if (c.status != 0 || bytes[0x1B] != 0x00 || e2e::readFile(dir.file("x.2d")).size() != 327680)
            continue;   // not a regular 2D disk of 40 cylinders
        SCOPED_TRACE(path);
        auto f = floptool(dir.path(), "flopconvert d88 2d '" + path + "' ref.2d");
        ASSERT_EQ(f.status, 0) << f.out;
        EXPECT_TRUE(e2e::readFile(dir.file("x.2d")) == e2e::readFile(dir.file("ref.2d")));
        // Our IMD file through floptool's IMD reader gives the same sectors.
        ASSERT_EQ(runFerry2({"c", path, "x.imd"}, dir.path()).status, 0);
        std::filesystem::remove(dir.file("imd.2d"));
        f = floptool(dir.path(), "flopconvert imd 2d x.imd imd.2d");
        ASSERT_EQ(f.status, 0) << f.out;
        EXPECT_TRUE(e2e::readFile(dir.file("x.2d")) == e2e::readFile(dir.file("imd.2d")));
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

} // namespace
