#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/console.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "sim/floppy.h"
#include "transfer/commands.h"
#include "transfer/image_check.h"
#include "transfer/sector_desc.h"
#include "tests/support/hex_dump.h"

using testsupport::hexDump;

namespace
{

using Bytes = std::vector<uint8_t>;

struct Record {
    uint8_t r = 1, n = 1;
    int sectorCount = -1; // -1: the number of records of the track
    uint8_t density = d88::kDensityMfm;
    uint8_t deleted = 0;
    uint8_t status = 0;
    int dataSize = -1; // -1: 128 << n
};

// A D88 image built from a track list; tracks not named are unformatted.
struct ImageLayout {
    std::string title = "TEST DISK";
    uint8_t mediaType = d88::kMedia2D;
    std::map<int, std::vector<Record>> tracks;
};

Bytes recordData(int t, const Record& rec, int size)
{
    Bytes b(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        b[static_cast<size_t>(i)] = static_cast<uint8_t>(t * 31 + rec.r * 7 + i);
    return b;
}

Bytes buildImage(const ImageLayout& layout, d88::D88Header* headerOut = nullptr)
{
    d88::D88Header header;
    std::memcpy(header.title, layout.title.data(), std::min<size_t>(layout.title.size(), 16));
    header.mediaType = layout.mediaType;
    Bytes body;
    for (const auto& [t, records] : layout.tracks) {
        header.trackOffsets[t] = static_cast<uint32_t>(d88::kHeaderSize + body.size());
        for (const Record& rec : records) {
            d88::D88SectorHeader s;
            s.c = static_cast<uint8_t>(t / 2);
            s.h = static_cast<uint8_t>(t % 2);
            s.r = rec.r;
            s.n = rec.n;
            s.sectorCount = static_cast<uint16_t>(
                rec.sectorCount >= 0 ? rec.sectorCount : static_cast<int>(records.size()));
            s.density = rec.density;
            s.deleted = rec.deleted;
            s.status = rec.status;
            const int size = rec.dataSize >= 0 ? rec.dataSize : (128 << rec.n);
            s.dataSize = static_cast<uint16_t>(size);
            uint8_t raw[d88::kSectorHeaderSize];
            s.encode(raw);
            body.insert(body.end(), raw, raw + sizeof raw);
            const Bytes data = recordData(t, rec, size);
            body.insert(body.end(), data.begin(), data.end());
        }
    }
    header.diskSize = static_cast<uint32_t>(d88::kHeaderSize + body.size());
    Bytes image(d88::kHeaderSize);
    header.encode(image.data());
    image.insert(image.end(), body.begin(), body.end());
    if (headerOut)
        *headerOut = header;
    return image;
}

void setHeader(Bytes* image, const d88::D88Header& header)
{
    header.encode(image->data());
}

// ctest runs the tests of this file side by side: each one gets its own names.
std::string tempPath(const std::string& name)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return testing::TempDir() + "write_disk_test_" + (test ? test->name() : "none") + "_" + name;
}

std::string writeFile(const std::string& name, const Bytes& bytes)
{
    const std::string path = tempPath(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

std::vector<Record> regular(int count, uint8_t n)
{
    std::vector<Record> v;
    for (int r = 1; r <= count; ++r) {
        Record rec;
        rec.r = static_cast<uint8_t>(r);
        rec.n = n;
        v.push_back(rec);
    }
    return v;
}

ImageCheck checkFile(const std::string& path, int trackCount = 84)
{
    ImageFile image;
    EXPECT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
    uint8_t header[d88::kHeaderSize] = {};
    EXPECT_EQ(image.read(header, d88::kHeaderSize), d88::kHeaderSize);
    d88::repairHeader(header);
    return checkImage(image, header, trackCount);
}

ImageLayout sampleSpec()
{
    ImageLayout layout;
    layout.tracks[0] = regular(16, 1);
    layout.tracks[1] = regular(16, 1);
    layout.tracks[5] = regular(5, 3);
    return layout;
}

// ---------------------------------------------------------------------------
// The structure check

TEST(ImageCheck, FindsTheFirstTrackThatCannotBeLoaded)
{
    struct Row {
        const char* name;
        void (*damage)(Bytes* image, d88::D88Header* header);
        ImageState state;
        int track;
    };
    const Row rows[] = {
        {"sound", [](Bytes*, d88::D88Header*) {}, ImageState::Sound, -1},
        {"truncated inside track 5",
         [](Bytes* image, d88::D88Header*) { image->resize(image->size() - 100); },
         ImageState::BadTrack, 5},
        {"truncated file, diskSize kept, between records",
         [](Bytes* image, d88::D88Header* h) { image->resize(h->trackOffsets[5] + 16 + 1024); },
         ImageState::BadTrack, 5},
        {"offset past the end of the file",
         [](Bytes* image, d88::D88Header* h) {
             h->trackOffsets[7] = h->diskSize + 100;
             h->diskSize += 1000;
             setHeader(image, *h);
         },
         ImageState::BadTrack, 7},
        {"offset at the image's end is an empty track",
         [](Bytes* image, d88::D88Header* h) {
             h->trackOffsets[9] = h->diskSize;
             setHeader(image, *h);
         },
         ImageState::Sound, -1},
        {"offset past diskSize is an empty track",
         [](Bytes* image, d88::D88Header* h) {
             h->trackOffsets[9] = h->diskSize + 4096;
             setHeader(image, *h);
         },
         ImageState::Sound, -1},
        {"record crosses diskSize with bytes after it",
         [](Bytes* image, d88::D88Header* h) {
             h->diskSize -= 10;
             setHeader(image, *h);
         },
         ImageState::BadTrack, 5},
        {"in-progress marker",
         [](Bytes* image, d88::D88Header* h) {
             h->diskSize = d88::kInProgress;
             setHeader(image, *h);
         },
         ImageState::BadHeader, -1},
        {"diskSize 0",
         [](Bytes* image, d88::D88Header* h) {
             h->diskSize = 0;
             setHeader(image, *h);
         },
         ImageState::BadHeader, -1},
        {"diskSize above 4 MiB",
         [](Bytes* image, d88::D88Header* h) {
             h->diskSize = d88::kMaxImageSize + 1;
             setHeader(image, *h);
         },
         ImageState::BadHeader, -1},
        {"sector count larger than the records",
         [](Bytes* image, d88::D88Header* h) {
             // The last record of track 5 claims 6 records: a sixth is read past the end.
             const size_t at = h->trackOffsets[5] + 4 * (16 + 1024);
             writeLe16(image->data() + at + d88::kSecCount, 6);
         },
         ImageState::BadTrack, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        d88::D88Header header;
        Bytes image = buildImage(sampleSpec(), &header);
        row.damage(&image, &header);
        const ImageCheck check = checkFile(writeFile("check.d88", image));
        EXPECT_EQ(static_cast<int>(check.state), static_cast<int>(row.state));
        EXPECT_EQ(check.track, row.track);
    }
}

TEST(ImageCheck, SixtyFourRecordsPassAndSixtyFiveDoNot)
{
    for (int count : {64, 65}) {
        ImageLayout layout;
        layout.tracks[2] = regular(count, 0);
        const ImageCheck check = checkFile(writeFile("records.d88", buildImage(layout)));
        if (count == 64) {
            EXPECT_EQ(check.state, ImageState::Sound);
        } else {
            EXPECT_EQ(check.state, ImageState::BadTrack);
            EXPECT_EQ(check.track, 2);
        }
    }
}

TEST(ImageCheck, OffsetsCountFromTheSelectedImage)
{
    Bytes file = buildImage(sampleSpec());
    ImageLayout second = sampleSpec();
    second.tracks[3] = regular(8, 2);
    d88::D88Header header2;
    Bytes image2 = buildImage(second, &header2);
    const size_t secondStart = file.size();
    file.insert(file.end(), image2.begin(), image2.end());
    // Cut the second image inside its track 5: the first image stays sound.
    file.resize(secondStart + header2.trackOffsets[5] + 20);
    const std::string path = writeFile("multi.d88", file);

    for (int index : {1, 2}) {
        ImageFile image;
        ASSERT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
        ASSERT_TRUE(d88::selectImage(image, index));
        uint8_t header[d88::kHeaderSize];
        ASSERT_EQ(image.read(header, d88::kHeaderSize), d88::kHeaderSize);
        const ImageCheck check = checkImage(image, header, 84);
        if (index == 1) {
            EXPECT_EQ(check.state, ImageState::Sound);
        } else {
            EXPECT_EQ(check.state, ImageState::BadTrack);
            EXPECT_EQ(check.track, 5);
        }
    }
}

TEST(ImageCheck, CorpusImagesAreSoundAndPlanIntoTheSimulatedFloppy)
{
    const std::filesystem::path dir = FERRY2_TESTDATA;
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error))
        GTEST_SKIP() << "no test images in " << dir;
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".d88" && ext != ".d77")
            continue;
        ++found;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ImageFile image;
        ASSERT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
        uint8_t header[d88::kHeaderSize];
        ASSERT_EQ(image.read(header, d88::kHeaderSize), d88::kHeaderSize);
        d88::repairHeader(header);
        const int medium = d88::mediumFor(header[d88::kMediaType]);
        const int tracks = d88::trackCountFor(medium);
        const ImageCheck check = checkImage(image, header, tracks);
        EXPECT_EQ(check.state, ImageState::Sound) << "track " << check.track;

        // Every track loads, plans within the payload buffer and writes onto the
        // simulated floppy without losing a sector.
        std::vector<SectorDesc> descs(DiskClient::kMaxRecords);
        Bytes data(DiskClient::kTrackDataSize), payload(DiskClient::kPayloadSize);
        DiskClient client;
        client.medium = medium;
        sim::Floppy floppy;
        floppy.blank(medium);
        for (int t = 0; t < tracks; ++t) {
            const uint32_t offset = trackDataOffset(header, t);
            int count = 0;
            if (offset != 0) {
                ASSERT_TRUE(loadTrack(image, offset, descs.data(), data.data(), &count));
            }
            testing::internal::CaptureStdout();
            const int length = client.buildTrackPayload(payload.data(), descs.data(), count);
            const std::string printed = testing::internal::GetCapturedStdout();
            ASSERT_LE(length, DiskClient::kPayloadSize);
            EXPECT_EQ(printed.find("TOO DIFFICULT"), std::string::npos) << "track " << t;
            std::vector<std::string> violations;
            floppy.writeTrack(t, payload.data(), static_cast<size_t>(length), &violations);
            for (const std::string& v : violations)
                ADD_FAILURE() << v << printed;
        }
    }
    if (found == 0)
        GTEST_SKIP() << "no test images in " << dir;
}

// ---------------------------------------------------------------------------
// Loading a track

struct Loaded {
    bool ok = false;
    int count = 0;
    std::vector<SectorDesc> descs = std::vector<SectorDesc>(DiskClient::kMaxRecords);
    Bytes data = Bytes(DiskClient::kTrackDataSize);
};

Loaded loadFrom(const Bytes& file, int t)
{
    Loaded l;
    const std::string path = writeFile("load.d88", file);
    ImageFile image;
    EXPECT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
    const uint32_t offset = readLe32(file.data() + d88::kTrackTable + 4 * t);
    l.ok = loadTrack(image, offset, l.descs.data(), l.data.data(), &l.count);
    return l;
}

TEST(LoadTrack, MapsDensityStatusAndDeletedMark)
{
    ImageLayout layout;
    std::vector<Record> recs(4);
    recs[0].density = d88::kDensityMfm;
    recs[1].density = d88::kDensityFm;
    recs[1].r = 2;
    recs[2].r = 3;
    recs[2].status = 0x10; // deleted data read cleanly, as some tools record it
    recs[3].r = 4;
    recs[3].status = d88::kStatusDataCrc;
    recs[3].deleted = d88::kDeletedMark;
    layout.tracks[4] = recs;
    const Loaded l = loadFrom(buildImage(layout), 4);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.count, 4);
    EXPECT_EQ(l.descs[0].density, 0x40);
    EXPECT_EQ(l.descs[1].density, 0x00);
    EXPECT_EQ(l.descs[2].status, 0);
    EXPECT_EQ(l.descs[2].deleted, d88::kDeletedMark);
    EXPECT_EQ(l.descs[3].status, d88::kStatusDataCrc);
    EXPECT_EQ(l.descs[3].deleted, d88::kDeletedMark);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(l.descs[i].c, 2);
        EXPECT_EQ(l.descs[i].h, 0);
        EXPECT_EQ(l.descs[i].r, i + 1);
        EXPECT_EQ(l.descs[i].length, 256u);
        EXPECT_EQ(Bytes(l.descs[i].data, l.descs[i].data + 256), recordData(4, recs[i], 256));
    }
}

TEST(LoadTrack, BudgetCutsTheCrossingSectorAndEmptiesTheRest)
{
    // 15 records of 1000 bytes: 12 fit, the 13th keeps 288, the last two keep none.
    ImageLayout layout;
    layout.mediaType = d88::kMedia2HD;
    std::vector<Record> recs = regular(15, 3);
    for (Record& r : recs)
        r.dataSize = 1000;
    layout.tracks[6] = recs;
    const Bytes file = buildImage(layout);
    const Loaded l = loadFrom(file, 6);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.count, 15);
    for (int i = 0; i < 15; ++i) {
        SCOPED_TRACE(i);
        const uint32_t want = i < 12 ? 1000 : i == 12 ? 288 : 0;
        EXPECT_EQ(l.descs[i].length, want);
        EXPECT_EQ(l.descs[i].r, i + 1); // later records are still found at their place
        const Bytes full = recordData(6, recs[i], 1000);
        EXPECT_EQ(Bytes(l.descs[i].data, l.descs[i].data + want),
                  Bytes(full.begin(), full.begin() + want));
    }

    // The planner writes the empty ones as bare seven-byte records.
    DiskClient client;
    client.medium = 3;
    Bytes payload(DiskClient::kPayloadSize);
    testing::internal::CaptureStdout();
    const int length = client.buildTrackPayload(payload.data(), l.descs.data(), l.count);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(length, 5 + 15 * 4 + 15 * 7 + 12288 + 1);
    const size_t last = static_cast<size_t>(length) - 1 - 7;
    const Bytes tail(payload.begin() + static_cast<long>(last), payload.begin() + length);
    const Bytes want = {0x42, 3, 0, 15, 3, 0, 0, 0x00};
    EXPECT_EQ(tail, want) << "expected " << hexDump(want) << "\nactual   " << hexDump(tail);
}

TEST(LoadTrack, SectorCountOfTheLastRecordDecides)
{
    const struct {
        const char* name;
        std::vector<int> counts; // sectorCount of each record on file
        int loaded;
    } rows[] = {
        {"first says 0", {0, 0, 0}, 1},
        {"first says 1", {1, 3, 3}, 1},
        {"second says 2", {3, 2, 3}, 2},
        {"all agree", {3, 3, 3}, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ImageLayout layout;
        std::vector<Record> recs = regular(3, 1);
        for (size_t i = 0; i < recs.size(); ++i)
            recs[i].sectorCount = row.counts[i];
        layout.tracks[0] = recs;
        const Loaded l = loadFrom(buildImage(layout), 0);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.count, row.loaded);
    }
}

TEST(LoadTrack, ShortReadAndTooManyRecordsFail)
{
    ImageLayout layout;
    layout.tracks[0] = regular(4, 1);
    Bytes file = buildImage(layout);
    file.resize(file.size() - 1);
    EXPECT_FALSE(loadFrom(file, 0).ok);

    layout.tracks[0] = regular(65, 0);
    EXPECT_FALSE(loadFrom(buildImage(layout), 0).ok);
}

// ---------------------------------------------------------------------------
// writeDisk up to the first packet

struct WriteRun {
    bool result = false;
    Outcome outcome;
    std::string out, err;
    uint16_t sequence = 0;
};

WriteRun writeFrom(const std::string& path)
{
    WriteRun run;
    DiskClient client; // not connected: its capability record says "no 2HD drive"
    ImageFile image;
    EXPECT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.outcome = client.writeDisk(0, image);
    run.result = run.outcome.completed;
    run.err = testing::internal::GetCapturedStderr();
    run.out = testing::internal::GetCapturedStdout();
    run.sequence = client.currentSequence();
    return run;
}

std::string c(const char* utf8)
{
    return console::toConsole(utf8);
}

TEST(WriteDisk, RefusesAnyMediumButTwoDWithoutTwoHdDrive)
{
    const struct {
        uint8_t mediaType;
        const char* name;
    } rows[] = {{d88::kMedia2HD, "2HD"}, {d88::kMedia2DD, "2DD"}};
    for (const auto& row : rows) {
        ImageLayout layout = sampleSpec();
        layout.mediaType = row.mediaType;
        layout.title = "ABCDEFGHIJKLMNOP";
        d88::D88Header header;
        Bytes file = buildImage(layout, &header);
        header.title[16] = 'Q'; // a title field without its NUL shows 16 characters
        setHeader(&file, header);
        const WriteRun run = writeFrom(writeFile("refuse.d88", file));
        EXPECT_FALSE(run.result);
        const std::string want =
            c((std::string("[ABCDEFGHIJKLMNOP] (") + row.name + ") を書き戻します.\n").c_str()) +
            c((std::string("この機種では ") + row.name +
               " のディスクイメージは書き戻しできません．\n")
                  .c_str());
        EXPECT_EQ(run.out, want);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.outcome.cause, Cause::Not2D);
        EXPECT_EQ(run.sequence, 0);
    }
}

TEST(WriteDisk, DamagedImageStopsBeforeThePrompt)
{
    d88::D88Header header;
    Bytes file = buildImage(sampleSpec(), &header);
    file.resize(header.trackOffsets[5] + 8);
    const WriteRun run = writeFrom(writeFile("damaged.d88", file));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.out, c("[TEST DISK] (2D) を書き戻します.\n"));
    EXPECT_EQ(run.outcome.step, Step::ImageRead);
    EXPECT_EQ(run.outcome.cause, Cause::DamagedImage);
    EXPECT_EQ(run.outcome.where, 5);
    EXPECT_EQ(run.sequence, 0);
}

TEST(WriteDisk, MissingHeaderIsNoDisk)
{
    const WriteRun run = writeFrom(writeFile("short.d88", Bytes(100, 0)));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c("指定されたディスクがありません.\n"));
}

// ---------------------------------------------------------------------------
// The w command up to writeDisk

TEST(WriteCommand, SplitsNameAndIndexAsStrtokCuts)
{
    const struct {
        const char* arg;
        const char* name;
        int index;
    } rows[] = {
        {"disk.d88", "disk.d88", 1},
        {"disk.d88;3", "disk.d88", 3},
        {"disk.d88;;2", "disk.d88", 2},
        {"disk.d88;", "disk.d88", 1},
        {"disk.d88;0", "disk.d88", 0},
        {"disk.d88;2;5", "disk.d88", 2},
        {"disk.d88;x", "disk.d88", 0},
        {";disk.d88;4", "disk.d88", 4},
        {"", "", 1},
    };
    for (const auto& row : rows) {
        std::string name = "?";
        int index = -99;
        splitImageArgument(row.arg, &name, &index);
        EXPECT_EQ(name, row.name) << row.arg;
        EXPECT_EQ(index, row.index) << row.arg;
    }
}

struct CommandRun {
    bool result = false;
    Outcome outcome;
    std::string out, err;
};

CommandRun command(const std::string& fileArg)
{
    DiskClient client;
    RunOptions options;
    options.command = 'w';
    options.hasFileArg = true;
    options.fileArg = fileArg;
    CommandRun run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.outcome = writeCommand(client, options);
    run.result = run.outcome.completed;
    run.err = testing::internal::GetCapturedStderr();
    run.out = testing::internal::GetCapturedStdout();
    return run;
}

// Three 2HD images titled ONE, TWO, THREE: writing stops at the refusal, so the
// title line shows which image was selected without a packet being sent.
std::string threeImages()
{
    Bytes file;
    for (const char* title : {"ONE", "TWO", "THREE"}) {
        ImageLayout layout = sampleSpec();
        layout.title = title;
        layout.mediaType = d88::kMedia2HD;
        const Bytes image = buildImage(layout);
        file.insert(file.end(), image.begin(), image.end());
    }
    return writeFile("three.d88", file);
}

TEST(WriteCommand, SelectsTheImageNamedAfterTheSemicolon)
{
    const std::string path = threeImages();
    const struct {
        const char* suffix;
        const char* title;
    } rows[] = {{"", "ONE"}, {";0", "ONE"}, {";2", "TWO"}, {";;3", "THREE"}, {";", "ONE"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.suffix);
        const CommandRun run = command(path + row.suffix);
        EXPECT_EQ(run.outcome.cause, Cause::Not2D);
        EXPECT_EQ(run.out.rfind(c((std::string("[") + row.title + "] (2HD)").c_str()), 0), 0u)
            << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST(WriteCommand, NoImageThereIsNoDisk)
{
    d88::D88Header header;
    Bytes one = buildImage(sampleSpec(), &header);
    Bytes marker = one;
    header.diskSize = d88::kInProgress;
    setHeader(&marker, header);
    Bytes cutSecond = one;
    cutSecond.insert(cutSecond.end(), one.begin(), one.begin() + 100);
    Bytes zeroSize = one;
    zeroSize.insert(zeroSize.end(), 688, 0);

    const struct {
        const char* name;
        std::string arg;
    } rows[] = {
        {"past the last image", writeFile("one.d88", one) + ";2"},
        {"far past the last image", writeFile("one.d88", one) + ";9"},
        {"empty file", writeFile("empty.d88", {})},
        {"interrupted read", writeFile("marker.d88", marker)},
        {"file ends inside the second header", writeFile("cut.d88", cutSecond) + ";2"},
        {"size field of 0 on the way", writeFile("zero.d88", zeroSize) + ";3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const CommandRun run = command(row.arg);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.outcome.cause, Cause::NoImage);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c("指定されたディスクがありません.\n"));
    }
}

TEST(WriteCommand, MissingFileCannotBeOpened)
{
    const CommandRun run = command(tempPath("does_not_exist.d88") + ";2");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c("ファイルを開けません.\n"));
}

} // namespace
