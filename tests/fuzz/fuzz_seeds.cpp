// Writes the seed corpus of every fuzz target, in each target's input layout:
//
//   fuzz_seeds OUT [D88_DIR]
//
// OUT/<target>/ gets images made with the simulator's image builder and its
// sample floppy, and, when D88_DIR exists, the D88 files there and the tracks
// they hold. Seeds are starting points only: libFuzzer grows the corpus.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/hfe_writer.h"
#include "image/hfe.h"
#include "image/d88_image.h"
#include "image/imd.h"
#include "image/raw_image.h"
#include "link/disk_client.h"
#include "sim/agent_packet.h"
#include "sim/d88_builder.h"
#include "sim/d88_file.h"
#include "sim/floppy.h"
#include "sim/rle_encoder.h"
#include "sim/sample_disk.h"
#include "tests/fuzz/fuzz_input.h"
#include "transfer/sector_desc.h"

namespace
{

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kTrackBuffer = DiskClient::kTrackBufferSize;
// Tracks taken from one image for the track-level targets: enough to cover
// its layouts without a corpus of thousands of near copies.
constexpr int kTracksPerImage = 12;

std::string outRoot;
int written = 0;

void put(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string dir = outRoot + "/" + target;
    mkdir(dir.c_str(), 0777);
    if (!sim::writeWholeFile(dir + "/" + name, bytes, nullptr))
        std::fprintf(stderr, "fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    ++written;
}

Bytes generatedImage(int which)
{
    using sim::D88Builder;
    switch (which) {
    case 0: { // 2D: regular, FM, mixed sizes, an error and a deleted sector
        D88Builder b(0x00);
        b.setTitle("SEED 2D");
        for (int t = 0; t < 4; ++t)
            b.addRegularTrack(t, 16, 1);
        b.addRegularTrack(4, 16, 0, true);
        b.addRegularTrack(5, 1, 3);
        for (int r = 2; r <= 5; ++r) {
            sim::D88Record rec;
            rec.c = 2;
            rec.h = 1;
            rec.r = static_cast<uint8_t>(r);
            rec.data.assign(256, static_cast<uint8_t>(r));
            b.track(5).push_back(rec);
        }
        b.addRegularTrack(6, 16, 1);
        b.track(6)[3].status = 0xB0;
        b.track(6)[5].deleted = 0x10;
        b.track(6)[7].status = 0xA0;
        b.track(6)[7].data.clear();
        return b.build();
    }
    case 1: { // 2HD, 8 x 1024 and 26 x 256
        D88Builder b(0x20);
        b.addRegularTrack(0, 26, 0, true);
        b.addRegularTrack(1, 26, 1);
        b.addRegularTrack(2, 8, 3);
        return b.build();
    }
    case 2: { // other tools' quirks: short header, padding, offsets at the end
        D88Builder b(0x10);
        b.addRegularTrack(0, 16, 1);
        b.addRegularTrack(3, 9, 2);
        b.setHeaderSize(672).setTrackPadding(16).setUnformattedAtEnd(true);
        return b.build();
    }
    case 3: { // two images, then one left by an interrupted read
        D88Builder a(0x00), b(0x00), c(0x00);
        a.addRegularTrack(0, 16, 1);
        b.addRegularTrack(1, 5, 3);
        c.addRegularTrack(0, 16, 1);
        c.setDiskSize(0xDEADD13C);
        return sim::concatImages({a.build(), b.build(), c.build()});
    }
    default:
        return {};
    }
}

// The sector list of a track in the track planner target's layout.
Bytes planInput(int medium, const std::vector<sim::Sector>& sectors)
{
    fuzz::FuzzWriter w;
    const size_t count = std::min<size_t>(sectors.size(), DiskClient::kMaxRecords);
    w.u8(static_cast<uint8_t>(medium)).u8(static_cast<uint8_t>(count));
    Bytes area;
    for (size_t i = 0; i < count; ++i) {
        const sim::Sector& s = sectors[i];
        const size_t offset = std::min<size_t>(area.size(), DiskClient::kTrackDataSize);
        w.u8(s.c).u8(s.h).u8(s.r).u8(s.n).u8(s.fm ? 0x00 : 0x01).u8(s.status);
        w.u8(s.deleted ? 0x10 : 0x00).u16(static_cast<uint16_t>(offset));
        w.u16(static_cast<uint16_t>(s.data.size())).u8(0);
        area.insert(area.end(), s.data.begin(), s.data.end());
    }
    area.resize(std::min<size_t>(area.size(), DiskClient::kTrackDataSize));
    return w.append(area).bytes;
}

// The planner's payload for a track, as writeDisk sends it.
Bytes payloadOf(int medium, const std::vector<sim::Sector>& sectors)
{
    static DiskClient client;
    client.medium = medium;
    std::vector<SectorDesc> descs;
    Bytes area(DiskClient::kTrackDataSize);
    size_t used = 0;
    for (const sim::Sector& s : sectors) {
        if (descs.size() == DiskClient::kMaxRecords)
            break;
        SectorDesc d;
        d.c = s.c;
        d.h = s.h;
        d.r = s.r;
        d.n = s.n;
        d.density = s.fm ? 0x00 : 0x40;
        d.status = s.status;
        d.deleted = s.deleted ? 1 : 0;
        const size_t length = std::min(s.data.size(), area.size() - used);
        std::copy(s.data.begin(), s.data.begin() + static_cast<long>(length),
                  area.begin() + static_cast<long>(used));
        d.data = area.data() + used;
        d.length = static_cast<uint32_t>(length);
        used += length;
        descs.push_back(d);
    }
    Bytes payload(DiskClient::kPayloadSize);
    const int n =
        client.buildTrackPayload(payload.data(), descs.data(), static_cast<int>(descs.size()));
    payload.resize(static_cast<size_t>(n));
    return payload;
}

void trackSeeds(const std::string& name, const sim::Floppy& floppy)
{
    int taken = 0;
    for (int t = 0; t < floppy.trackCount() && taken < kTracksPerImage; ++t) {
        const std::vector<sim::Sector>& sectors = floppy.track(t);
        if (sectors.empty() && t > 0)
            continue;
        ++taken;
        const std::string id = name + "-t" + std::to_string(t);
        const int medium = floppy.medium();
        put("track_plan", id, planInput(medium, sectors));

        const Bytes payload = payloadOf(medium, sectors);
        put("sim_write_track", id,
            fuzz::FuzzWriter()
                .u8(static_cast<uint8_t>(medium))
                .u8(static_cast<uint8_t>(t))
                .append(payload)
                .bytes);
        put("lz", id, fuzz::FuzzWriter().u16(0x4000).append(payload).bytes);

        const Bytes reply = floppy.trackReply(t);
        const Bytes rle = sim::rleEncode(reply.data(), reply.size());
        put("reply", id,
            fuzz::FuzzWriter().u16(kTrackBuffer).u8(static_cast<uint8_t>(t)).append(rle).bytes);
        const uint16_t seq = static_cast<uint16_t>(t * 2 + 1);
        put("receive", id + "-rle",
            fuzz::FuzzWriter()
                .u8(1)
                .u16(kTrackBuffer)
                .u16(seq)
                .append(sim::encodePacket(sim::kLeadCompressed, seq, rle.data(), rle.size()))
                .bytes);
        put("receive", id + "-stored",
            fuzz::FuzzWriter()
                .u8(0)
                .u16(kTrackBuffer)
                .u16(seq)
                .append(sim::encodePacket(sim::kLeadReply, seq, reply.data(), reply.size()))
                .bytes);
    }
}

// The disk of a D88 file as IMD.
void formatSeeds(const std::string& name, const std::string& path)
{
    DiskImage disk;
    std::string error;
    if (!loadD88Disk(path, 1, &disk, &error))
        return;
    Bytes bytes;
    ImdLoss loss;
    if (writeImd(disk, true, &bytes, &loss, &error))
        put("imd", name + ".imd", bytes);
}

void imageSeeds(const std::string& name, const Bytes& file)
{
    put("image", name, file);
    put("sim_d88", name, file);
    size_t start = 0;
    if (!sim::locateD88Image(file, 1, &start, nullptr))
        return;
    // The loader of the simulator turns the file into tracks of sectors.
    const std::string scratch = outRoot + "/.seed.d88";
    sim::writeWholeFile(scratch, file, nullptr);
    sim::Floppy floppy;
    if (floppy.load(scratch, nullptr))
        trackSeeds(name, floppy);
    formatSeeds(name, scratch);
    std::remove(scratch.c_str());
}

// The sample floppy as HFE, cut to its first cylinder so that a seed stays
// small, in both revisions.
void hfeSeeds(const sim::Floppy& floppy)
{
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
    Bytes file;
    std::string error;
    if (!writeHfe(disk, &file, &error) || file.size() < 2 * hfe::kBlockSize)
        return;
    const size_t list = hfe::kBlockSize;
    const size_t blocks = file[list + 4] - file[list]; // blocks of one cylinder
    for (int c : {0, 5}) {
        Bytes cut(file.begin(), file.begin() + 2 * hfe::kBlockSize);
        cut[hfe::kCylinders] = 1;
        const size_t from = (file[list + 4 * c] | (file[list + 4 * c + 1] << 8)) * hfe::kBlockSize;
        cut.insert(cut.end(), file.begin() + static_cast<long>(from),
                   file.begin() + static_cast<long>(from + blocks * hfe::kBlockSize));
        cut[list] = 2;
        cut[list + 1] = 0;
        put("hfe", "sample-cyl" + std::to_string(c) + ".hfe", cut);
        std::copy(hfe::kSignatureV3, hfe::kSignatureV3 + 8, cut.begin());
        put("hfe", "sample-cyl" + std::to_string(c) + "-v3.hfe", cut);
    }
}

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUT [D88_DIR]\n");
        return 2;
    }
    outRoot = argv[1];
    mkdir(outRoot.c_str(), 0777);

    for (int i = 0; i < 4; ++i)
        imageSeeds("generated" + std::to_string(i) + ".d88", generatedImage(i));

    const std::string scratch = outRoot + "/.sample.d88";
    const sim::Floppy sample = sim::makeSampleFloppy();
    Bytes sampleFile;
    if (sample.save(scratch, nullptr) && sim::readWholeFile(scratch, &sampleFile, nullptr))
        put("image", "sample.d88", sampleFile), put("sim_d88", "sample.d88", sampleFile);
    std::remove(scratch.c_str());
    trackSeeds("sample", sample);
    hfeSeeds(sample);

    // A raw image of 1 cylinder, 2 heads, 4 sectors of 256 bytes, with its geometry.
    put("raw", "c1h2s4n1", fuzz::FuzzWriter().u8(1).u8(0).u8(1).u8(3).u8(1).append(
                                 Bytes(2048, 0xE5)).bytes);

    // A one-byte acknowledgement and an empty "$" reply.
    const uint8_t ack = 1;
    put("receive", "ack",
        fuzz::FuzzWriter()
            .u8(0)
            .u16(1)
            .u16(7)
            .append(sim::encodePacket(sim::kLeadReply, 7, &ack, 1))
            .bytes);
    put("reply", "empty", fuzz::FuzzWriter().u16(1).u8(0).u16(0x4000).bytes);

    if (argc > 2) {
        if (DIR* dir = opendir(argv[2])) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (!endsWith(name, ".d88") && !endsWith(name, ".d77"))
                    continue;
                Bytes file;
                if (sim::readWholeFile(std::string(argv[2]) + "/" + name, &file, nullptr))
                    imageSeeds(name, file);
            }
            closedir(dir);
        }
    }
    std::printf("fuzz_seeds: %d seeds in %s\n", written, outRoot.c_str());
    return 0;
}
