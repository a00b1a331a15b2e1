#include "sim/rle_encoder.h"

#include "core/bytes.h"

namespace sim {

namespace {
constexpr size_t kMinRun = 3;
constexpr size_t kMaxRun = 130;
constexpr size_t kMaxLiteral = 128;
constexpr uint16_t kMethodRunLength = 0x4000;
constexpr size_t kMaxLength = 0x3FFF;

void flushLiteral(std::vector<uint8_t>& out, const uint8_t* start, size_t count)
{
    if (count == 0)
        return;
    out.push_back(static_cast<uint8_t>(count - 1));
    out.insert(out.end(), start, start + count);
}
} // namespace

std::vector<uint8_t> rleEncode(const uint8_t* data, size_t n)
{
    // The header's 14 bits cannot say 16384 or more; the caller sends such a
    // payload stored.
    if (n > kMaxLength)
        return {};
    std::vector<uint8_t> out(2);
    writeLe16(out.data(), static_cast<uint16_t>(n | kMethodRunLength));

    size_t literalStart = 0;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < kMaxRun && data[i + run] == data[i])
            ++run;
        if (run >= kMinRun) {
            flushLiteral(out, data + literalStart, i - literalStart);
            out.push_back(static_cast<uint8_t>(0x80 | (run - kMinRun)));
            out.push_back(data[i]);
            i += run;
            literalStart = i;
            continue;
        }
        ++i;
        if (i - literalStart == kMaxLiteral) {
            flushLiteral(out, data + literalStart, kMaxLiteral);
            literalStart = i;
        }
    }
    flushLiteral(out, data + literalStart, i - literalStart);
    return out;
}

} // namespace sim
