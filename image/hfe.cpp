#include "image/hfe.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "core/console.h"
#include "core/text_format.h"
#include "core/i18n.h"
#include "image/flux_track.h"

namespace
{

// Revision 3 opcodes, as the value of a byte read first cell first (the file
// byte bit-reversed). Data cells never hold four flux changes in a row, so
// no data byte looks like one.
constexpr uint8_t kOpNop = 0xF0;
constexpr uint8_t kOpIndex = 0xF1;
constexpr uint8_t kOpBitRate = 0xF2;
constexpr uint8_t kOpSkipBits = 0xF3;
constexpr uint8_t kOpRandom = 0xF4;

// A 2D disk has 40 cylinders and a few spare; more are a 2DD disk's.
constexpr int kMaxCylinders2D = 42;
// Data bits per revolution above this are high density: 2D and 2DD carry
// 50,000 (250 kbit/s at 300 rpm), 2HD 83,333 (500 kbit/s at 360 rpm).
constexpr long kHighDensityBits = 70000;
constexpr int kDefaultRpm = 300;

uint8_t reversed(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// The bytes of one side of a track, out of its interleaved blocks.
std::vector<uint8_t> sideBytes(const std::vector<uint8_t>& file, size_t start, size_t length,
                               int side)
{
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i)
        out[i] = file[start + (i / hfe::kSideChunk) * hfe::kBlockSize +
                      static_cast<size_t>(side) * hfe::kSideChunk + i % hfe::kSideChunk];
    return out;
}

// Cells packed as HFE packs them, appended one at a time where opcodes leave
// a byte's worth out of step.
class CellAppender {
public:
    explicit CellAppender(size_t reserve) { bytes.reserve(reserve); }

    void byte(uint8_t value, int from = 0)
    {
        if (from == 0 && (count & 7) == 0) {
            bytes.push_back(value);
            count += 8;
            return;
        }
        for (int b = from; b < 8; ++b) {
            if ((count & 7) == 0)
                bytes.push_back(0);
            bytes.back() = static_cast<uint8_t>(bytes.back() | (((value >> b) & 1) << (count & 7)));
            ++count;
        }
    }

    std::vector<uint8_t> bytes;
    size_t count = 0;
};

// Revision 3: cells with opcodes among them. The index opcode's place is where
// the revolution starts.
std::vector<uint8_t> cellsV3(const std::vector<uint8_t>& bytes, size_t* cells)
{
    CellAppender out(bytes.size());
    size_t index = 0;
    uint32_t noise = 0x2545F491;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t value = reversed(bytes[i]);
        if ((value & 0xF0) != 0xF0) {
            out.byte(bytes[i]);
            continue;
        }
        switch (value) {
        case kOpIndex:
            index = out.count;
            break;
        case kOpBitRate:
            ++i; // the new rate; cells stay cells
            break;
        case kOpSkipBits:
            // A count of cells to leave out of the next byte, then that byte.
            if (i + 2 < bytes.size()) {
                const int skip = (bytes[i + 1] <= 7 ? bytes[i + 1] : reversed(bytes[i + 1])) & 7;
                out.byte(bytes[i + 2], skip);
            }
            i += 2;
            break;
        case kOpRandom:
            // Weak cells: a byte's worth that reads differently every time.
            noise = noise * 1103515245U + 12345U;
            out.byte(static_cast<uint8_t>(noise >> 16));
            break;
        case kOpNop:
        default:
            break;
        }
    }
    *cells = out.count;
    if (index == 0 || index >= out.count)
        return std::move(out.bytes);
    CellAppender rotated(out.bytes.size());
    for (size_t k = 0; k < out.count; ++k) {
        const size_t p = (index + k) % out.count;
        rotated.byte(static_cast<uint8_t>(((out.bytes[p >> 3] >> (p & 7)) & 1) << 7), 7);
    }
    return std::move(rotated.bytes);
}

int mediumOf(const uint8_t* header, int cylinders)
{
    const long bitRate = readLe16(header + hfe::kBitRate);
    long rpm = readLe16(header + hfe::kRpm);
    if (rpm <= 0)
        rpm = kDefaultRpm;
    if (bitRate * 1000 * 60 / rpm > kHighDensityBits)
        return d88::kMedium2HD;
    return cylinders > kMaxCylinders2D ? d88::kMedium2DD : d88::kMedium2D;
}

} // namespace

bool readHfe(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error)
{
    const bool v1 = file.size() >= 8 && std::memcmp(file.data(), hfe::kSignatureV1, 8) == 0;
    const bool v3 = file.size() >= 8 && std::memcmp(file.data(), hfe::kSignatureV3, 8) == 0;
    if (!v1 && !v3) {
        *error = tr("HFE ファイルではありません (先頭が HXCPICFE でも HXCHFEV3 でもありません). "
                "ファイルの形式を確かめてください.");
        return false;
    }
    if (file.size() < static_cast<size_t>(hfe::kBlockSize)) {
        *error = textFormat(tr("HFE ファイルが途中で切れています (ヘッダが %lu バイトしかありません). "
                           "ファイルを取り直してください."),
                        static_cast<unsigned long>(file.size()));
        return false;
    }
    const uint8_t* header = file.data();
    const int cylinders = header[hfe::kCylinders];
    const int sides = header[hfe::kSides];
    if (cylinders == 0 || sides < 1 || sides > 2) {
        *error = textFormat(tr("HFE ファイルのヘッダが壊れています (シリンダ数 %d, 面数 %d)."),
                        cylinders, sides);
        return false;
    }
    const size_t list = static_cast<size_t>(readLe16(header + hfe::kTrackList)) * hfe::kBlockSize;
    if (list + static_cast<size_t>(cylinders) * hfe::kTrackEntrySize > file.size()) {
        *error = textFormat(tr("HFE ファイルが途中で切れています (トラック表のオフセット %lu が"
                           "ファイルの外です). ファイルを取り直してください."),
                        static_cast<unsigned long>(list));
        return false;
    }

    DiskImage out;
    out.medium = mediumOf(header, cylinders);
    out.writeProtected = header[hfe::kWriteAllowed] == hfe::kNo;
    out.tracks.assign(static_cast<size_t>(d88::trackCountFor(out.medium)), d88::TrackRecords());
    for (int c = 0; c < cylinders; ++c) {
        const uint8_t* entry = file.data() + list + static_cast<size_t>(c) * hfe::kTrackEntrySize;
        const size_t start = static_cast<size_t>(readLe16(entry)) * hfe::kBlockSize;
        const size_t length = readLe16(entry + 2) / 2; // per side
        if (length == 0)
            continue;
        // The last byte of side (sides - 1), in the last block the track uses.
        const size_t last = start + (length - 1) / hfe::kSideChunk * hfe::kBlockSize +
                            static_cast<size_t>(sides - 1) * hfe::kSideChunk +
                            (length - 1) % hfe::kSideChunk;
        if (last >= file.size()) {
            *error = textFormat(tr("HFE ファイルが途中で切れています (シリンダ %d のデータ, オフセット %lu "
                               "から %lu バイトがファイルの終わりを越えます). "
                               "ファイルを取り直してください."),
                            c, static_cast<unsigned long>(start),
                            static_cast<unsigned long>(length * 2));
            return false;
        }
        for (int h = 0; h < sides; ++h) {
            const size_t t = static_cast<size_t>(c) * 2 + static_cast<size_t>(h);
            if (t >= out.tracks.size())
                break;
            // Revision 1 packs the cells as the decoder takes them.
            std::vector<uint8_t> bytes = sideBytes(file, start, length, h);
            size_t cells = bytes.size() * 8;
            if (v3)
                bytes = cellsV3(bytes, &cells);
            out.tracks[t] = flux::decodeTrack(bytes, cells);
        }
    }
    *disk = std::move(out);
    return true;
}
