#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/console.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "sim/d88_builder.h"
#include "sim/floppy.h"
#include "transfer/commands.h"
#include "image/image_check.h"
#include "transfer/sector_desc.h"
#include "tests/support/hex_dump.h"
#include "tests/support/temp_dir.h"

using testsupport::hexDump;

namespace
{

using Bytes = std::vector<uint8_t>;

// The header of the first image of a file, to damage and encode back.
d88::D88Header headerOf(const Bytes& image)
{
    return d88::D88Header::decode(image.data());
}

void setHeader(Bytes* image, const d88::D88Header& header)
{
    header.encode(image->data());
}

// A 2D disk titled TEST DISK with no track formatted.
sim::D88Builder blankDisk()
{
    sim::D88Builder disk(d88::kMedia2D);
    disk.setTitle("TEST DISK");
    return disk;
}

// Tracks 0 and 1 of sixteen 256-byte sectors, track 5 of five 1024-byte ones.
sim::D88Builder sampleDisk()
{
    sim::D88Builder disk = blankDisk();
    disk.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).addRegularTrack(5, 5, 3);
    return disk;
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
    const testsupport::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes image = sampleDisk().build();
        d88::D88Header header = headerOf(image);
        row.damage(&image, &header);
        const ImageCheck check = checkFile(dir.write("check.d88", image));
        EXPECT_EQ(static_cast<int>(check.state), static_cast<int>(row.state));
        EXPECT_EQ(check.track, row.track);
    }
}

TEST(ImageCheck, SixtyFourRecordsPassAndSixtyFiveDoNot)
{
    const testsupport::TempDir dir;
    for (int count : {64, 65}) {
        const Bytes image = blankDisk().addRegularTrack(2, count, 0).build();
        const ImageCheck check = checkFile(dir.write("records.d88", image));
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
    Bytes file = sampleDisk().build();
    const Bytes image2 = sampleDisk().addRegularTrack(3, 8, 2).build();
    const d88::D88Header header2 = headerOf(image2);
    const size_t secondStart = file.size();
    file.insert(file.end(), image2.begin(), image2.end());
    // Cut the second image inside its track 5: the first image stays sound.
    file.resize(secondStart + header2.trackOffsets[5] + 20);
    const testsupport::TempDir dir;
    const std::string path = dir.write("multi.d88", file);

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
    const testsupport::TempDir dir;
    const std::string path = dir.write("load.d88", file);
    ImageFile image;
    EXPECT_TRUE(image.open(path.c_str(), ImageFile::ReadOnly));
    const uint32_t offset = readLe32(file.data() + d88::kTrackTable + 4 * t);
    l.ok = loadTrack(image, offset, l.descs.data(), l.data.data(), &l.count);
    return l;
}

TEST(LoadTrack, MapsDensityStatusAndDeletedMark)
{
    sim::D88Builder disk = blankDisk();
    std::vector<sim::D88Record>& recs = disk.addRegularTrack(4, 4, 1).track(4);
    recs[1].density = d88::kDensityFm;
    recs[2].status = 0x10; // deleted data read cleanly, as some tools record it
    recs[3].status = d88::kStatusDataCrc;
    recs[3].deleted = d88::kDeletedMark;
    const Loaded l = loadFrom(disk.build(), 4);
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
        EXPECT_EQ(Bytes(l.descs[i].data, l.descs[i].data + 256), recs[i].data);
    }
}

TEST(LoadTrack, BudgetCutsTheCrossingSectorAndEmptiesTheRest)
{
    // 15 records of 1000 bytes: 12 fit, the 13th keeps 288, the last two keep none.
    sim::D88Builder disk = blankDisk();
    std::vector<sim::D88Record>& recs =
        disk.setMediaType(d88::kMedia2HD).addRegularTrack(6, 15, 3).track(6);
    for (sim::D88Record& r : recs)
        r.data.resize(1000);
    const Bytes file = disk.build();
    const Loaded l = loadFrom(file, 6);
    ASSERT_TRUE(l.ok);
    ASSERT_EQ(l.count, 15);
    for (int i = 0; i < 15; ++i) {
        SCOPED_TRACE(i);
        const uint32_t want = i < 12 ? 1000 : i == 12 ? 288 : 0;
        EXPECT_EQ(l.descs[i].length, want);
        EXPECT_EQ(l.descs[i].r, i + 1); // later records are still found at their place
        const Bytes& full = recs[i].data;
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
        sim::D88Builder disk = blankDisk();
        std::vector<sim::D88Record>& recs = disk.addRegularTrack(0, 3, 1).track(0);
        for (size_t i = 0; i < recs.size(); ++i)
            recs[i].sectorCount = row.counts[i];
        const Loaded l = loadFrom(disk.build(), 0);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.count, row.loaded);
    }
}

TEST(LoadTrack, ShortReadAndTooManyRecordsFail)
{
    Bytes file = blankDisk().addRegularTrack(0, 4, 1).build();
    file.resize(file.size() - 1);
    EXPECT_FALSE(loadFrom(file, 0).ok);

    EXPECT_FALSE(loadFrom(blankDisk().addRegularTrack(0, 65, 0).build(), 0).ok);
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
    const testsupport::TempDir dir;
    for (const auto& row : rows) {
        // A title field without its NUL shows 16 characters.
        const std::string title = "ABCDEFGHIJKLMNOPQ";
        const Bytes file = sampleDisk()
                               .setMediaType(row.mediaType)
                               .setTitleBytes(Bytes(title.begin(), title.end()))
                               .build();
        const WriteRun run = writeFrom(dir.write("refuse.d88", file));
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
    Bytes file = sampleDisk().build();
    file.resize(headerOf(file).trackOffsets[5] + 8);
    const testsupport::TempDir dir;
    const WriteRun run = writeFrom(dir.write("damaged.d88", file));
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.out, c("[TEST DISK] (2D) を書き戻します.\n"));
    EXPECT_EQ(run.outcome.step, Step::ImageRead);
    EXPECT_EQ(run.outcome.cause, Cause::DamagedImage);
    EXPECT_EQ(run.outcome.where, 5);
    EXPECT_EQ(run.sequence, 0);
}

TEST(WriteDisk, MissingHeaderIsNoDisk)
{
    const testsupport::TempDir dir;
    const WriteRun run = writeFrom(dir.write("short.d88", Bytes(100, 0)));
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

CommandRun command(const std::string& fileArg, int imageIndex = 0)
{
    DiskClient client;
    RunOptions options;
    options.command = 'w';
    options.hasFileArg = true;
    options.fileArg = fileArg;
    options.imageIndex = imageIndex;
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
std::string threeImages(const testsupport::TempDir& dir)
{
    std::vector<Bytes> images;
    for (const char* title : {"ONE", "TWO", "THREE"})
        images.push_back(sampleDisk().setTitle(title).setMediaType(d88::kMedia2HD).build());
    return dir.write("three.d88", sim::concatImages(images));
}

TEST(WriteCommand, SelectsTheImageNamedAfterTheSemicolon)
{
    const testsupport::TempDir dir;
    const std::string path = threeImages(dir);
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
    // --image N picks the image the way ;N does.
    const CommandRun byOption = command(path, 3);
    EXPECT_EQ(byOption.outcome.cause, Cause::Not2D);
    EXPECT_EQ(byOption.out.rfind(c("[THREE] (2HD)"), 0), 0u) << byOption.out;
}

TEST(WriteCommand, NoImageThereIsNoDisk)
{
    const Bytes one = sampleDisk().build();
    d88::D88Header header = headerOf(one);
    Bytes marker = one;
    header.diskSize = d88::kInProgress;
    setHeader(&marker, header);
    Bytes cutSecond = one;
    cutSecond.insert(cutSecond.end(), one.begin(), one.begin() + 100);
    Bytes zeroSize = one;
    zeroSize.insert(zeroSize.end(), 688, 0);
    const testsupport::TempDir dir;

    const struct {
        const char* name;
        std::string arg;
    } rows[] = {
        {"past the last image", dir.write("one.d88", one) + ";2"},
        {"far past the last image", dir.write("one.d88", one) + ";9"},
        {"empty file", dir.write("empty.d88", {})},
        {"interrupted read", dir.write("marker.d88", marker)},
        {"file ends inside the second header", dir.write("cut.d88", cutSecond) + ";2"},
        {"size field of 0 on the way", dir.write("zero.d88", zeroSize) + ";3"},
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
    const testsupport::TempDir dir;
    const CommandRun run = command(dir.file("does_not_exist.d88") + ";2");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c("ファイルを開けません.\n"));
}

} // namespace
