// The agent's run-length encoder against hand-made streams, and round trips
// through a decoder written from the item format.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/rle_encoder.h"
#include "tests/support/expand_reply.h"
#include "tests/support/hex_dump.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;

Bytes repeat(uint8_t v, size_t n)
{
    return Bytes(n, v);
}

Bytes counting(size_t n, uint8_t from = 0)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(from + i);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Decodes method-1 data as the PC does, refusing to read past the input.
bool rleDecode(const Bytes& in, Bytes* out)
{
    size_t used = 0;
    return in.size() >= 2 && (in[1] >> 6) == 1 && testsupport::expandReply(in, out, &used) &&
           used == in.size();
}

struct Row {
    const char* name;
    Bytes input;
    Bytes expected;
};

TEST(SimRle, GoldenStreams)
{
    const Row rows[] = {
        {"empty", {}, {0x00, 0x40}},
        {"one byte", {0x05}, {0x01, 0x40, 0x00, 0x05}},
        {"two equal bytes stay literal", {7, 7}, {0x02, 0x40, 0x01, 7, 7}},
        {"three equal bytes are a run", {7, 7, 7}, {0x03, 0x40, 0x80, 7}},
        {"run of 130", repeat(0xE5, 130), {130, 0x40, 0xFF, 0xE5}},
        {"run of 131 splits 130 + literal 1", repeat(0xE5, 131),
         {131, 0x40, 0xFF, 0xE5, 0x00, 0xE5}},
        {"run of 133 splits 130 + run 3", repeat(0, 133), {133, 0x40, 0xFF, 0, 0x80, 0}},
        {"literal, run, literal", {1, 2, 9, 9, 9, 9, 3},
         {7, 0x40, 0x01, 1, 2, 0x81, 9, 0x00, 3}},
    };
    for (const Row& row : rows) {
        Bytes got = sim::rleEncode(row.input.data(), row.input.size());
        EXPECT_EQ(got, row.expected) << row.name << "\nexpected:\n"
                                     << hexDump(row.expected) << "\nactual:\n"
                                     << hexDump(got);
        Bytes back;
        EXPECT_TRUE(rleDecode(got, &back)) << row.name;
        EXPECT_EQ(back, row.input) << row.name;
    }
}

TEST(SimRle, LiteralsSplitAt128)
{
    Bytes input = counting(129);
    Bytes expected = concat({{129, 0x40, 0x7F}, counting(128), {0x00, 128}});
    Bytes got = sim::rleEncode(input.data(), input.size());
    EXPECT_EQ(got, expected) << "expected:\n" << hexDump(expected) << "\nactual:\n" << hexDump(got);
}

// The four boundary control bytes, decoded: 0x00 copies 1 byte, 0x7F copies
// 128, 0x80 repeats 3 times, 0xFF repeats 130 times.
TEST(SimRle, ControlByteBoundariesDecode)
{
    struct Case {
        Bytes stream;
        Bytes output;
    } cases[] = {
        {{0x01, 0x40, 0x00, 0xAA}, {0xAA}},
        {concat({{0x80, 0x40, 0x7F}, counting(128, 1)}), counting(128, 1)},
        {{0x03, 0x40, 0x80, 0x11}, repeat(0x11, 3)},
        {{0x82, 0x40, 0xFF, 0x13}, repeat(0x13, 130)},
    };
    for (const Case& c : cases) {
        Bytes got;
        ASSERT_TRUE(rleDecode(c.stream, &got)) << hexDump(c.stream);
        EXPECT_EQ(got, c.output) << hexDump(c.stream);
        // Our encoder makes the same stream from that output.
        Bytes again = sim::rleEncode(c.output.data(), c.output.size());
        EXPECT_EQ(again, c.stream) << "expected:\n" << hexDump(c.stream) << "\nactual:\n"
                                   << hexDump(again);
    }
}

TEST(SimRle, RoundTripOfATrackLikePayload)
{
    // Sector reports of zeros, then sectors of fill bytes with a few changes,
    // the shape of a freshly formatted track.
    Bytes input = concat({{16}, repeat(0, 16 * 12)});
    for (int s = 0; s < 16; ++s) {
        Bytes sector = repeat(0xE5, 256);
        sector[s * 7] = uint8_t(s);
        sector[255] = 0x41;
        input.insert(input.end(), sector.begin(), sector.end());
    }
    Bytes coded = sim::rleEncode(input.data(), input.size());
    Bytes back;
    ASSERT_TRUE(rleDecode(coded, &back));
    EXPECT_EQ(back, input);
    EXPECT_LT(coded.size(), input.size() / 10);
}

TEST(SimRle, LongestPayloadAndBeyond)
{
    Bytes input = counting(0x3FFF);
    Bytes coded = sim::rleEncode(input.data(), input.size());
    Bytes back;
    ASSERT_TRUE(rleDecode(coded, &back));
    EXPECT_EQ(back, input);
    // 16384 does not fit the 14-bit count: no stream at all.
    Bytes big(0x4000, 0);
    EXPECT_TRUE(sim::rleEncode(big.data(), big.size()).empty());
}

} // namespace
