#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/d88.h"
#include "image/image_file.h"
#include "sim/d88_builder.h"
#include "tests/support/hex_dump.h"
#include "tests/support/temp_file.h"
#include "image/image_tracks.h"

using testsupport::hexDump;

namespace
{

using sim::D88Builder;
using sim::D88Record;

// What a loaded track should hold: the builder's records as they went in.
void expectTrack(const d88::TrackRecords& got, const std::vector<D88Record>& want, int t)
{
    ASSERT_EQ(got.size(), want.size()) << "track " << t;
    for (size_t i = 0; i < want.size(); ++i) {
        const d88::SectorRecord& g = got[i];
        const D88Record& w = want[i];
        SCOPED_TRACE("track " + std::to_string(t) + " record " + std::to_string(i));
        EXPECT_EQ(g.c, w.c);
        EXPECT_EQ(g.h, w.h);
        EXPECT_EQ(g.r, w.r);
        EXPECT_EQ(g.n, w.n);
        EXPECT_EQ(g.density, w.density);
        EXPECT_EQ(g.deleted, w.deleted);
        EXPECT_EQ(g.status, w.status);
        EXPECT_EQ(hexDump(g.data), hexDump(w.data));
    }
}

// The outcome in one line: w's verdict, the tracks left out as damaged and
// the tracks that loaded with records.
std::string summary(bool loads, const ImageTracks& image)
{
    if (!loads)
        return "no header";
    static const char* const kStates[] = {"sound", "bad header", "bad track"};
    std::string s = kStates[static_cast<int>(image.check.state)];
    if (image.check.state == ImageState::BadTrack)
        s += " " + std::to_string(image.check.track);
    for (int t : image.damaged)
        s += "; damaged " + std::to_string(t);
    s += "; tracks";
    for (size_t t = 0; t < image.tracks.size(); ++t)
        if (!image.tracks[t].empty())
            s += " " + std::to_string(t);
    return s + "; of " + std::to_string(image.trackCount);
}

struct Case {
    const char* name;
    std::function<void(D88Builder&)> build;
    const char* outcome;
    size_t cutTo = 0; // the file's length when not the image's
};

TEST(ImageTracks, LoadsAsWReadsIt)
{
    const Case cases[] = {
        {"regular 2D tracks",
         [](D88Builder& b) { b.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1); },
         "sound; tracks 0 1; of 84"},
        {"a track over w's 12,288-byte budget loads whole",
         [](D88Builder& b) { b.addRegularTrack(0, 8, 4); }, "sound; tracks 0; of 84"},
        {"statuses and marks as stored, 0x10 included",
         [](D88Builder& b) {
             b.addRegularTrack(2, 5, 1);
             b.track(2)[1].status = 0x10;
             b.track(2)[1].deleted = 0x10;
             b.track(2)[2].status = 0xB0;
             b.track(2)[3].status = 0xA0;
             b.track(2)[3].data.clear();
             b.track(2)[4].density = 0x40;
         },
         "sound; tracks 2; of 84"},
        {"unformatted tracks pointing at the image's end",
         [](D88Builder& b) {
             b.addRegularTrack(0, 4, 1).addRegularTrack(3, 4, 1).setUnformattedAtEnd(true, true);
         },
         "sound; tracks 0 3; of 84"},
        {"a short header of another tool is repaired",
         [](D88Builder& b) {
             b.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).setHeaderSize(672);
         },
         "sound; tracks 0 1; of 84"},
        {"a 2DD image has 164 tracks",
         [](D88Builder& b) {
             b.setMediaType(d88::kMedia2DD).addRegularTrack(0, 9, 2).addRegularTrack(163, 9, 2);
         },
         "sound; tracks 0 163; of 164"},
        {"a record past the image's end: its track named, the others loaded",
         [](D88Builder& b) {
             b.addRegularTrack(0, 4, 1).addRegularTrack(1, 4, 1).addRegularTrack(2, 4, 1);
             b.track(1)[3].dataSize = 60000;
         },
         "bad track 1; damaged 1; tracks 0 2; of 84"},
        {"more than 64 records on a track", [](D88Builder& b) { b.addRegularTrack(5, 65, 0); },
         "bad track 5; damaged 5; tracks; of 84"},
        {"an interrupted read",
         [](D88Builder& b) { b.addRegularTrack(0, 4, 1).setDiskSize(d88::kInProgress); },
         "bad header; tracks; of 84"},
        {"a size below the header's",
         [](D88Builder& b) { b.addRegularTrack(0, 4, 1).setDiskSize(100); },
         "bad header; tracks; of 84"},
        {"a file that ends inside the header", [](D88Builder& b) { b.addRegularTrack(0, 4, 1); },
         "no header", 600},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        D88Builder builder;
        k.build(builder);
        std::vector<uint8_t> bytes = builder.build();
        if (k.cutTo)
            bytes.resize(k.cutTo);
        testsupport::TempFile file("image.d88", bytes);
        ImageFile image;
        ASSERT_TRUE(image.open(file.path.c_str(), ImageFile::ReadOnly));
        ImageTracks loaded;
        const bool loads = loadImageTracks(image, &loaded);
        EXPECT_EQ(summary(loads, loaded), k.outcome);
        for (size_t t = 0; t < loaded.tracks.size(); ++t)
            if (!loaded.tracks[t].empty())
                expectTrack(loaded.tracks[t], builder.track(static_cast<int>(t)),
                            static_cast<int>(t));
    }
}

// The loader stands on the image the selection chose in a multi-image file.
TEST(ImageTracks, LoadsTheSelectedImage)
{
    D88Builder first, second;
    first.addRegularTrack(0, 16, 1);
    second.addRegularTrack(0, 5, 2).addRegularTrack(1, 5, 2);
    testsupport::TempFile file("two.d88", sim::concatImages({first.build(), second.build()}));
    ImageFile image;
    ASSERT_TRUE(image.open(file.path.c_str(), ImageFile::ReadOnly));
    ASSERT_TRUE(d88::selectImage(image, 2));
    ImageTracks loaded;
    ASSERT_TRUE(loadImageTracks(image, &loaded));
    EXPECT_EQ(loaded.check.state, ImageState::Sound);
    expectTrack(loaded.tracks[0], second.track(0), 0);
    expectTrack(loaded.tracks[1], second.track(1), 1);
}

} // namespace
