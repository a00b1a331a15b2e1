// What a whole `w` costs per image: the characters that go on the line, the
// ratio of compressed to uncompressed track payloads, and the time to plan and
// compress one track. Images: the D88 corpus (argument, FERRY2_TESTDATA or
// ../shared/testdata/d88) and generated ones that cover every layout.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "link/lz_encoder.h"
#include "sim/d88_builder.h"
#include "sim/d88_file.h"
#include "image/image_check.h"
#include "transfer/sector_desc.h"

namespace {

using Clock = std::chrono::steady_clock;

// Characters on the line for a packet with a body of payload + 6 bytes.
size_t packetChars(size_t payload)
{
    return 1 + ((payload + 6) * 8 + 6) / 7;
}

uint16_t crc16(const uint8_t* data, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

struct Figures {
    int tracks = 0;
    size_t raw = 0;          // uncompressed payload bytes
    size_t sent = 0;         // payload bytes as sent ("$" when shorter, else "#")
    size_t wire = 0;         // characters on the line, both directions
    double maxMicros = 0;    // plan + compress, slowest track
    double sumMicros = 0;
};

// stdout carries the planner's summaries; keep them out of the report.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

bool measure(const std::string& path, Figures* f)
{
    ImageFile image;
    if (!image.open(path.c_str(), ImageFile::ReadOnly) || !d88::selectImage(image, 1))
        return false;
    uint8_t header[d88::kHeaderSize];
    if (image.read(header, d88::kHeaderSize) != d88::kHeaderSize)
        return false;
    d88::repairHeader(header);
    DiskClient client;
    client.medium = d88::mediumFor(header[d88::kMediaType]);
    const int trackCount = d88::trackCountFor(client.medium);
    if (checkImage(image, header, trackCount).state != ImageState::Sound)
        return false;

    std::vector<SectorDesc> descs(DiskClient::kMaxRecords);
    std::vector<uint8_t> data(DiskClient::kTrackDataSize);
    std::vector<uint8_t> payload(DiskClient::kPayloadSize);
    std::vector<uint8_t> packed(16384 + 2);
    LzEncoder encoder;
    // Hello, medium query and end: command, acknowledgement, reply.
    f->wire = 3 * (packetChars(1) + packetChars(1)) + packetChars(5) + packetChars(3) +
              packetChars(1);
    QuietStdout quiet;
    for (int t = 0; t < trackCount; ++t) {
        int count = 0;
        const uint32_t offset = trackDataOffset(header, t);
        if (offset != 0 && !loadTrack(image, offset, descs.data(), data.data(), &count))
            return false;
        const auto start = Clock::now();
        const int length = client.buildTrackPayload(payload.data(), descs.data(), count);
        int compressed = encoder.encode(payload.data(), static_cast<unsigned>(length),
                                        packed.data(), 16384);
        if (compressed != LzEncoder::kOverflow) {
            const uint16_t crc = crc16(payload.data(), static_cast<size_t>(length));
            packed[static_cast<size_t>(compressed)] = static_cast<uint8_t>(crc);
            packed[static_cast<size_t>(compressed) + 1] = static_cast<uint8_t>(crc >> 8);
            compressed += 2;
        }
        const double micros =
            std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        const size_t sent = compressed != LzEncoder::kOverflow && compressed < length
                                ? static_cast<size_t>(compressed)
                                : static_cast<size_t>(length);
        f->tracks++;
        f->raw += static_cast<size_t>(length);
        f->sent += sent;
        // Write-track command and its acknowledgement, the payload, the reply byte.
        f->wire += packetChars(4) + packetChars(1) + packetChars(sent) + packetChars(1);
        f->sumMicros += micros;
        f->maxMicros = std::max(f->maxMicros, micros);
    }
    return true;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> generatedImages()
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> images;
    sim::D88Builder d2(0x00);
    for (int t = 0; t < 80; ++t)
        d2.addRegularTrack(t, 16, 1);
    images.emplace_back("generated 2D 16x256", d2.build());
    sim::D88Builder hd(0x20);
    for (int t = 0; t < 154; ++t)
        hd.addRegularTrack(t, 8, 3);
    images.emplace_back("generated 2HD 8x1024", hd.build());
    sim::D88Builder mixed(0x00);
    for (int t = 0; t < 80; ++t) {
        std::vector<sim::D88Record> records;
        for (int r = 1; r <= 5; ++r) {
            sim::D88Record rec;
            rec.c = static_cast<uint8_t>(t / 2);
            rec.h = static_cast<uint8_t>(t % 2);
            rec.r = static_cast<uint8_t>(r);
            rec.n = r == 5 ? 1 : 3;
            rec.data.assign(static_cast<size_t>(128) << rec.n, static_cast<uint8_t>(t + r));
            records.push_back(rec);
        }
        mixed.setTrack(t, records);
    }
    images.emplace_back("generated 2D mixed 4x1024+256", mixed.build());
    return images;
}

} // namespace

int main(int argc, char** argv)
{
    std::string corpus = "../shared/testdata/d88";
    if (const char* env = std::getenv("FERRY2_TESTDATA"))
        corpus = env;
    if (argc > 1)
        corpus = argv[1];

    std::vector<std::pair<std::string, std::string>> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(corpus, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".d88" || ext == ".d77")
            files.emplace_back(entry.path().filename().string(), entry.path().string());
    }
    std::sort(files.begin(), files.end());
    const std::string scratch = std::filesystem::temp_directory_path().string() + "/write_bench.d88";
    std::vector<std::pair<std::string, std::string>> generated;
    int n = 0;
    for (const auto& [name, bytes] : generatedImages()) {
        std::string path = scratch + std::to_string(n++);
        sim::writeWholeFile(path, bytes);
        files.emplace_back(name, path);
    }

    std::printf("%-30s %6s %10s %10s %6s %10s %9s %9s\n", "image", "tracks", "payload", "sent",
                "ratio", "wire chars", "avg us", "max us");
    for (const auto& [name, path] : files) {
        Figures f;
        if (!measure(path, &f)) {
            std::printf("%-30s (not a sound image)\n", name.c_str());
            continue;
        }
        std::printf("%-30s %6d %10zu %10zu %6.3f %10zu %9.1f %9.1f\n", name.c_str(), f.tracks,
                    f.raw, f.sent, static_cast<double>(f.sent) / static_cast<double>(f.raw),
                    f.wire, f.sumMicros / f.tracks, f.maxMicros);
    }
    for (int i = 0; i < n; ++i)
        std::remove((scratch + std::to_string(i)).c_str());
    return 0;
}
