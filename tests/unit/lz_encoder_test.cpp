#include "link/lz_encoder.h"
#include "sim/lz_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>
#include "tests/support/hex_dump.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;

constexpr int kCapacity = 16384;

size_t headerLength(const Bytes& s)
{
    return s.size() < 2 ? 0 : static_cast<size_t>((s[0] | (s[1] << 8)) & 0x3FFF);
}

Bytes text(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

Bytes randomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = static_cast<uint8_t>(rng());
    return b;
}

Bytes encode(LzEncoder& enc, const Bytes& in, int capacity = kCapacity)
{
    Bytes out(static_cast<size_t>(capacity));
    const int n = enc.encode(in.data(), static_cast<unsigned>(in.size()), out.data(), capacity);
    if (n < 0)
        return {};
    out.resize(static_cast<size_t>(n));
    return out;
}

// Encodes, checks the stream decodes back to the input and uses all of itself.
void expectRoundTrip(LzEncoder& enc, const Bytes& in, const std::string& what)
{
    Bytes out(kCapacity);
    const int n = enc.encode(in.data(), static_cast<unsigned>(in.size()), out.data(), kCapacity);
    ASSERT_GT(n, 0) << what;
    Bytes decoded;
    std::string error;
    size_t consumed = 0;
    ASSERT_TRUE(sim::lzDecode(out.data(), static_cast<size_t>(n), decoded, &error, &consumed))
        << what << ": " << error;
    EXPECT_EQ(consumed, static_cast<size_t>(n)) << what;
    ASSERT_EQ(decoded.size(), in.size()) << what;
    EXPECT_TRUE(decoded == in) << what;
}

// A test-side reading of the stream into items, keeping the raw bits of each
// match's distance and length codes so they can be compared with the tables.
struct Item {
    bool literal = false;
    size_t at = 0;             // output offset where the item starts
    uint8_t lo = 0;
    bool longForm = false;
    std::string distanceBits;  // "b8 1" etc. as '0'/'1'
    std::string lengthBits;
    int lengthByte = -1;       // the data byte after the code for lengths of 17 up
    int distance = 0;
    int length = 0;
};

class ItemReader {
public:
    explicit ItemReader(const Bytes& s) : s(s) {}

    // Returns false on a malformed stream; the items up to the end marker otherwise.
    bool read(std::vector<Item>& items)
    {
        pos = 2;
        if (!nextFlags())
            return false;
        size_t outPos = 0;
        for (;;) {
            Item it;
            it.at = outPos;
            int b;
            if (!bit(b))
                return false;
            if (b) {
                uint8_t v;
                if (!byte(v))
                    return false;
                it.literal = true;
                items.push_back(it);
                ++outPos;
                continue;
            }
            int form;
            if (!byte(it.lo) || !bit(form))
                return false;
            if (!form) {
                if (it.lo == 0)
                    return true;
                it.distance = 256 - it.lo;
                it.length = 3;
            } else {
                it.longForm = true;
                if (!readDistance(it) || !readLength(it))
                    return false;
            }
            items.push_back(it);
            outPos += static_cast<size_t>(it.length);
        }
    }

private:
    bool nextFlags()
    {
        if (pos >= s.size())
            return false;
        flags = s[pos++];
        left = 8;
        return true;
    }
    bool bit(int& b)
    {
        b = (flags >> 7) & 1;
        flags = static_cast<uint8_t>(flags << 1);
        return --left > 0 || nextFlags();
    }
    bool byte(uint8_t& v)
    {
        if (pos >= s.size())
            return false;
        v = s[pos++];
        return true;
    }
    bool bits(std::string& into, int& b)
    {
        if (!bit(b))
            return false;
        into += char('0' + b);
        return true;
    }
    // Collects the code bits first and interprets them afterwards, the
    // other way round from the simulator's decoder.
    bool readDistance(Item& it)
    {
        int b;
        std::string& d = it.distanceBits;
        // The code ends on a 1 at one of the positions 2, 3, 5, 7; else it is 8 long.
        for (size_t n = 1; n <= 8; ++n) {
            if (!bits(d, b))
                return false;
            if ((n == 2 || n == 3 || n == 5 || n == 7) && b)
                break;
        }
        unsigned v = 0xFF00u | it.lo;
        auto setBits = [&](const std::string& hi, unsigned zeroBit) {
            v &= ~((zeroBit << 1) - 0x100u);  // clear bits 8 .. zeroBit
            for (size_t i = 0; i < hi.size(); ++i)
                v |= unsigned(hi[i] - '0') << (8 + hi.size() - 1 - i);
        };
        const size_t n = d.size();
        if (n == 2)
            setBits(d.substr(0, 1), 0x100);
        else if (n == 3)
            setBits(d.substr(0, 1), 0x200);
        else if (n == 5)
            setBits(std::string{d[0], d[3]}, 0x400);
        else if (n == 7)
            setBits(std::string{d[0], d[3], d[5]}, 0x800);
        else
            setBits(std::string{d[0], d[3], d[5], d[7]}, 0x1000);
        it.distance = static_cast<int>(0x10000u - v);
        return true;
    }
    bool readLength(Item& it)
    {
        int b;
        std::string& l = it.lengthBits;
        int zeros = 0;
        for (;;) {
            if (!bits(l, b))
                return false;
            if (b)
                break;
            if (++zeros == 6)
                break;
        }
        if (zeros < 4) {
            it.length = 3 + zeros;
        } else if (zeros == 4) {
            if (!bits(l, b))
                return false;
            it.length = 7 + b;
        } else if (zeros == 5) {
            uint8_t extra;
            if (!byte(extra))
                return false;
            it.length = 17 + extra;
            it.lengthByte = extra;
        } else {
            int extra = 0;
            for (int i = 0; i < 3; ++i) {
                if (!bits(l, b))
                    return false;
                extra = extra * 2 + b;
            }
            it.length = 9 + extra;
        }
        return true;
    }

    const Bytes& s;
    size_t pos = 0;
    uint8_t flags = 0;
    int left = 0;
};

const Item* matchAt(const std::vector<Item>& items, size_t at)
{
    for (const auto& it : items)
        if (!it.literal && it.at == at)
            return &it;
    return nullptr;
}

// Filler without accidental repeats of three bytes inside the window: a
// pseudo-random walk whose trigrams are checked as it is built.
Bytes uniqueFiller(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<bool> seen(1u << 24);
    Bytes b;
    b.reserve(n);
    while (b.size() < n) {
        const uint8_t v = static_cast<uint8_t>(rng());
        if (b.size() >= 2) {
            const size_t key = (size_t(b[b.size() - 2]) << 16) | (size_t(b.back()) << 8) | v;
            if (seen[key])
                continue;
            seen[key] = true;
        }
        b.push_back(v);
    }
    return b;
}

// An input whose only possible match is a copy of `length` bytes from
// `distance` back, starting at the returned offset.
Bytes inputWithMatch(int distance, int length, size_t& copyAt)
{
    const size_t tail = 24;
    const size_t src = 5;
    Bytes f = uniqueFiller(src + static_cast<size_t>(distance) + 2 * tail, 7);
    copyAt = src + static_cast<size_t>(distance);
    Bytes in(f.begin(), f.begin() + static_cast<long>(copyAt));
    for (int i = 0; i < length; ++i)
        in.push_back(in[src + static_cast<size_t>(i)]);
    // The byte after the copy must break it: take a filler byte unlike the next source byte.
    size_t k = copyAt;
    while (f[k] == in[src + static_cast<size_t>(length)])
        ++k;
    in.insert(in.end(), f.begin() + static_cast<long>(k),
              f.begin() + static_cast<long>(k + tail));
    return in;
}

// Worked examples of the stream format.
struct Golden {
    const char* name;
    Bytes input;
    Bytes stream;
};

std::vector<Golden> goldenRows()
{
    return {
        {"abcabcabc", text("abcabcabc"), {0x09, 0x80, 0xEE, 0x61, 0x62, 0x63, 0xFD, 0x20, 0x00}},
        {"abcXabcY", text("abcXabcY"),
         {0x08, 0x80, 0xF2, 0x61, 0x62, 0x63, 0x58, 0xFC, 0x59, 0x00, 0x00}},
        {"empty", {}, {0x00, 0x80, 0x00, 0x00}},
        {"ab", text("ab"), {0x02, 0x80, 0xC0, 0x61, 0x62, 0x00}},
        {"twenty a", Bytes(20, 'a'), {0x14, 0x80, 0xB8, 0x61, 0xFF, 0x20, 0x02, 0x00}},
        // One and three bytes: all literals, no hash of bytes past the end.
        {"a", text("a"), {0x01, 0x80, 0x80, 0x61, 0x00}},
        {"abc", text("abc"), {0x03, 0x80, 0xE0, 0x61, 0x62, 0x63, 0x00}},
        // The end marker's last bit is the eighth: the flag byte it reserves is sent.
        {"abcdef", text("abcdef"),
         {0x06, 0x80, 0xFC, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x00, 0x00}},
    };
}

TEST(LzEncoder, GoldenStreams)
{
    LzEncoder enc;
    for (const auto& row : goldenRows()) {
        const Bytes got = encode(enc, row.input);
        EXPECT_TRUE(got == row.stream) << row.name << "\nexpected:\n"
                                       << hexDump(row.stream) << "\nactual:\n"
                                       << hexDump(got);
        Bytes decoded;
        std::string error;
        size_t consumed = 0;
        EXPECT_TRUE(sim::lzDecode(row.stream.data(), row.stream.size(), decoded, &error,
                                  &consumed))
            << row.name << ": " << error;
        EXPECT_EQ(consumed, row.stream.size()) << row.name;
        EXPECT_TRUE(decoded == row.input) << row.name << "\ndecoded:\n" << hexDump(decoded);
    }
}

TEST(LzEncoder, ShortInputsAreLiterals)
{
    LzEncoder enc;
    for (size_t n = 0; n <= 3; ++n) {
        const Bytes in(n, 'z');
        std::vector<Item> items;
        const Bytes s = encode(enc, in);
        ASSERT_TRUE(ItemReader(s).read(items)) << n << "\n" << hexDump(s);
        EXPECT_EQ(items.size(), n);
        for (const auto& it : items)
            EXPECT_TRUE(it.literal) << n;
        expectRoundTrip(enc, in, "short " + std::to_string(n));
    }
}

struct DistanceRow {
    int distance;
    const char* bits;  // distance code as sent, b8..b11 taken from 65536 - d
    uint8_t lo;
};

TEST(LzEncoder, DistanceCodes)
{
    const DistanceRow rows[] = {
        {1, "11", 0xFF},          {255, "11", 0x01},        {256, "11", 0x00},
        {512, "01", 0x00},        {513, "101", 0xFF},       {1024, "001", 0x00},
        {1025, "10011", 0xFF},    {2048, "00001", 0x00},    {2049, "1001011", 0xFF},
        {4096, "0000001", 0x00},  {4097, "10010101", 0xFF}, {8191, "00000000", 0x01},
    };
    LzEncoder enc;
    for (const auto& row : rows) {
        // Length 5 keeps every row in the long form; distance 1 becomes a run.
        size_t copyAt = 0;
        Bytes in;
        if (row.distance == 1) {
            in = text("xyz");
            in.insert(in.end(), 6, 'q');
            in.insert(in.end(), {'1', '2', '3'});
            copyAt = 4;
        } else {
            in = inputWithMatch(row.distance, 5, copyAt);
        }
        const Bytes s = encode(enc, in);
        std::vector<Item> items;
        ASSERT_TRUE(ItemReader(s).read(items)) << row.distance << "\n" << hexDump(s);
        const Item* m = matchAt(items, copyAt);
        ASSERT_NE(m, nullptr) << "no match at " << copyAt << " for distance " << row.distance;
        EXPECT_TRUE(m->longForm) << row.distance;
        EXPECT_EQ(m->lo, row.lo) << row.distance;
        EXPECT_EQ(m->distanceBits, row.bits) << row.distance;
        EXPECT_EQ(m->distance, row.distance);
        EXPECT_EQ(m->length, 5) << row.distance;
        expectRoundTrip(enc, in, "distance " + std::to_string(row.distance));
    }
}

struct LengthRow {
    int length;
    const char* bits;
    int extraByte;  // the data byte after the code, or -1
};

TEST(LzEncoder, LengthCodes)
{
    const LengthRow rows[] = {
        {3, "1", -1},           {4, "01", -1},          {5, "001", -1},
        {6, "0001", -1},        {7, "000010", -1},      {8, "000011", -1},
        {9, "000000000", -1},   {16, "000000111", -1},  {17, "000001", 0x00},
        {18, "000001", 0x01},   {272, "000001", 0xFF},
    };
    LzEncoder enc;
    for (const auto& row : rows) {
        // Distance 300 forces the long form even for length 3.
        size_t copyAt = 0;
        const Bytes in = inputWithMatch(300, row.length, copyAt);
        const Bytes s = encode(enc, in);
        std::vector<Item> items;
        ASSERT_TRUE(ItemReader(s).read(items)) << row.length;
        const Item* m = matchAt(items, copyAt);
        ASSERT_NE(m, nullptr) << "no match for length " << row.length;
        EXPECT_TRUE(m->longForm);
        EXPECT_EQ(m->distance, 300);
        EXPECT_EQ(m->lengthBits, row.bits) << row.length;
        EXPECT_EQ(m->length, row.length);
        EXPECT_EQ(m->lengthByte, row.extraByte) << row.length;
        expectRoundTrip(enc, in, "length " + std::to_string(row.length));
    }
}

TEST(LzEncoder, ShortFormUpTo255LongFormFrom256)
{
    LzEncoder enc;
    for (int d : {3, 100, 254, 255, 256, 257}) {
        size_t copyAt = 0;
        const Bytes in = inputWithMatch(d, 3, copyAt);
        const Bytes s = encode(enc, in);
        std::vector<Item> items;
        ASSERT_TRUE(ItemReader(s).read(items)) << d;
        const Item* m = matchAt(items, copyAt);
        ASSERT_NE(m, nullptr) << d;
        EXPECT_EQ(m->longForm, d >= 256) << d;
        EXPECT_EQ(m->distance, d);
        EXPECT_EQ(m->lo, static_cast<uint8_t>(0x10000 - d)) << d;
        if (d == 256) {
            // Low byte 00 in the long form is not the end marker.
            EXPECT_EQ(m->distanceBits, "11");
            EXPECT_EQ(m->lengthBits, "1");
        }
        expectRoundTrip(enc, in, "form " + std::to_string(d));
    }
}

TEST(LzEncoder, ByteAfterMatchIsLiteral)
{
    // The "bcd" after the match of "abcd" could itself match 3 bytes back, but the
    // byte after a match is always a literal.
    const Bytes in = text("abcdabcdbcdZZ");
    LzEncoder enc;
    const Bytes s = encode(enc, in);
    std::vector<Item> items;
    ASSERT_TRUE(ItemReader(s).read(items)) << hexDump(s);
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        if (!items[i].literal) {
            EXPECT_TRUE(items[i + 1].literal) << "item " << i + 1 << " at " << items[i + 1].at;
        }
    }
    expectRoundTrip(enc, in, "literal after match");
}

TEST(LzEncoder, EqualLengthsTakeNearest)
{
    const Bytes in = text("wxyz1wxyz2wxyz3");
    LzEncoder enc;
    const Bytes s = encode(enc, in);
    std::vector<Item> items;
    ASSERT_TRUE(ItemReader(s).read(items)) << hexDump(s);
    const Item* m = matchAt(items, 10);
    ASSERT_NE(m, nullptr) << hexDump(s);
    EXPECT_EQ(m->distance, 5);
    EXPECT_EQ(m->length, 4);
}

TEST(LzEncoder, LazyMatchPrefersLongerNext)
{
    // At "abcde" a 3-byte match "abc" exists, but the next position starts the
    // longer "bcdefg": the first byte goes out as a literal.
    const Bytes in = text("abcQQbcdefgRRabcdefgSS");
    LzEncoder enc;
    const Bytes s = encode(enc, in);
    std::vector<Item> items;
    ASSERT_TRUE(ItemReader(s).read(items)) << hexDump(s);
    const Item* m = matchAt(items, 14);
    ASSERT_NE(m, nullptr) << hexDump(s);
    EXPECT_EQ(m->length, 6);
    EXPECT_EQ(m->distance, 9);
    EXPECT_EQ(matchAt(items, 13), nullptr);
    expectRoundTrip(enc, in, "lazy");
}

TEST(LzEncoder, RoundTrips)
{
    LzEncoder enc;
    expectRoundTrip(enc, randomBytes(12288, 1), "random 12K");
    expectRoundTrip(enc, randomBytes(1000, 2), "random 1000");
    expectRoundTrip(enc, Bytes(12288, 0), "zeros 12K");
    expectRoundTrip(enc, Bytes(16383, 0xE5), "E5 16383");
    std::string t;
    for (int i = 0; t.size() < 12288; ++i)
        t += "10 PRINT \"HELLO, WORLD\";" + std::to_string(i * 37 % 1000) + ":GOTO 10\r\n";
    expectRoundTrip(enc, Bytes(t.begin(), t.begin() + 12288), "text");
    // Lengths around the edges of the search loop.
    for (size_t n = 0; n < 40; ++n) {
        expectRoundTrip(enc, randomBytes(n, 100 + static_cast<unsigned>(n)),
                        "random " + std::to_string(n));
        Bytes pattern(n);
        for (size_t i = 0; i < n; ++i)
            pattern[i] = static_cast<uint8_t>("abcab"[i % 5]);
        expectRoundTrip(enc, pattern, "pattern " + std::to_string(n));
    }
    // Periods around the window and the match limit; from 8192 on nothing repeats
    // inside the window, and 14000 literals still fit the capacity.
    for (size_t period : {8190u, 8191u, 8192u, 8193u, 271u, 272u, 273u}) {
        Bytes b = randomBytes(period, 9);
        Bytes in;
        while (in.size() < 14000)
            in.insert(in.end(), b.begin(), b.end());
        in.resize(14000);
        expectRoundTrip(enc, in, "period " + std::to_string(period));
    }
}

uint64_t fnv1a(const Bytes& b)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t v : b)
        h = (h ^ v) * 0x100000001B3ull;
    return h;
}

// D88-like sector records: a 16-byte header, then 256 bytes that are fill
// (E5, 00, F6) or code-like bytes, with partly filled sectors in between.
Bytes sectorTrack()
{
    std::mt19937 rng(2);
    Bytes b;
    for (int r = 1; b.size() < 12288; ++r) {
        const uint8_t header[16] = {3, 0, static_cast<uint8_t>(r), 1, 16, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0, 0, 1};
        b.insert(b.end(), header, header + 16);
        const uint8_t fills[] = {0xE5, 0x00, 0xF6, 0xE5};
        const size_t used = (r % 3 == 0) ? rng() % 256 : (r % 3 == 1 ? 0 : 256);
        for (size_t i = 0; i < 256; ++i)
            b.push_back(i < used ? static_cast<uint8_t>(rng() % 24) : fills[r % 4]);
    }
    b.resize(12288);
    return b;
}

Bytes basicListing()
{
    std::string t;
    for (int i = 0; t.size() < 12288; ++i)
        t += std::to_string(1000 + i * 10) + " IF A$(" + std::to_string(i % 17) +
             ")=\"\" THEN PRINT \"DISK ERROR\";ERR:GOTO " + std::to_string(2000 + i % 50) +
             "\r\n";
    return Bytes(t.begin(), t.begin() + 12288);
}

// Runs of a few byte values, some longer than the match limit or the window.
Bytes mixedRuns()
{
    std::mt19937 rng(3);
    Bytes b;
    while (b.size() < 16000) {
        const uint8_t v = static_cast<uint8_t>(0xE5 ^ (rng() % 3) * 0x20);
        const size_t len = (rng() % 8 == 0) ? rng() % 9000 : rng() % 300;
        b.insert(b.end(), len, v);
        for (size_t i = rng() % 5; i > 0; --i)
            b.push_back(static_cast<uint8_t>(rng()));
    }
    b.resize(16000);
    return b;
}

struct Pinned {
    const char* name;
    Bytes input;
    size_t length;
    uint64_t digest;
};

// Streams pinned from a plain step-by-step chain walk: the search's shortcuts
// (runs settled at once, the switch to a rarer chain) must not change a byte.
TEST(LzEncoder, SearchShortcutsKeepTheStream)
{
    const Pinned rows[] = {
        {"sector track", sectorTrack(), 6325, 0x1A848DBC5FF990D9ull},
        {"BASIC listing", basicListing(), 1867, 0xE8DD5D0F496AA5E4ull},
        {"mixed runs", mixedRuns(), 317, 0x923173E54AC0F940ull},
    };
    LzEncoder enc;
    for (const auto& row : rows) {
        const Bytes s = encode(enc, row.input);
        EXPECT_EQ(s.size(), row.length) << row.name;
        EXPECT_EQ(fnv1a(s), row.digest) << row.name << std::hex << " 0x" << fnv1a(s);
        expectRoundTrip(enc, row.input, row.name);
    }
}

TEST(LzEncoder, RealTrackData)
{
    namespace fs = std::filesystem;
    const fs::path dir = FERRY2_TESTDATA;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        GTEST_SKIP() << "no test data at " << dir;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const auto ext = e.path().extension().string();
        if (ext == ".d88" || ext == ".d77")
            files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    if (files.empty())
        GTEST_SKIP() << "no D88 images in " << dir;
    LzEncoder enc;
    size_t windows = 0;
    for (const auto& path : files) {
        std::ifstream f(path, std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        for (size_t at = 0; at < data.size(); at += 12288 * 4) {
            const size_t end = std::min(data.size(), at + 12288);
            expectRoundTrip(enc, Bytes(data.begin() + static_cast<long>(at),
                                       data.begin() + static_cast<long>(end)),
                            path + " @" + std::to_string(at));
            ++windows;
        }
    }
    EXPECT_GT(windows, 0u);
}

// The guard stops the stream once it nears the capacity and never writes past it.
TEST(LzEncoder, OverflowIsSignalledWithinCapacity)
{
    LzEncoder enc;
    const Bytes in = randomBytes(16383, 3);
    constexpr size_t kGuard = 256;
    Bytes buf(kCapacity + kGuard, 0xA5);
    EXPECT_EQ(enc.encode(in.data(), 16383, buf.data(), kCapacity), LzEncoder::kOverflow);
    for (size_t i = kCapacity; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], 0xA5) << "written at " << i;

    // Small capacities: either a refusal or a complete stream with room for the CRC.
    for (int cap = 0; cap < 200; ++cap) {
        const Bytes small = randomBytes(static_cast<size_t>(cap) % 97, static_cast<unsigned>(cap));
        Bytes out(static_cast<size_t>(cap) + kGuard, 0x5A);
        const int n =
            enc.encode(small.data(), static_cast<unsigned>(small.size()), out.data(), cap);
        for (size_t i = static_cast<size_t>(cap); i < out.size(); ++i)
            ASSERT_EQ(out[i], 0x5A) << "capacity " << cap << " written at " << i;
        if (n == LzEncoder::kOverflow)
            continue;
        ASSERT_GT(n, 0);
        EXPECT_LE(n, cap - 2) << "no room for the CRC at capacity " << cap;
        Bytes decoded;
        std::string error;
        EXPECT_TRUE(sim::lzDecode(out.data(), static_cast<size_t>(n), decoded, &error))
            << cap << ": " << error;
        EXPECT_TRUE(decoded == small) << cap;
    }

    // The encoder is whole again after an overflow.
    const Golden row = goldenRows()[0];
    const Bytes again = encode(enc, row.input);
    EXPECT_TRUE(again == row.stream) << hexDump(again);
}

TEST(LzEncoder, IncompressibleDataJustFits)
{
    // Random data grows by one flag byte per eight literals; 14000 bytes still fit.
    LzEncoder enc;
    const Bytes in = randomBytes(14000, 4);
    Bytes buf(kCapacity);
    const int n = enc.encode(in.data(), 14000, buf.data(), kCapacity);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, kCapacity - 2);
    expectRoundTrip(enc, in, "14000 random");
}

TEST(LzEncoder, RefusesLengthsBeyondHeader)
{
    LzEncoder enc;
    const Bytes in(16384, 0);
    Bytes buf(kCapacity);
    EXPECT_EQ(enc.encode(in.data(), 16384, buf.data(), kCapacity), LzEncoder::kOverflow);
}

// The decoder refuses broken streams without reading or writing out of bounds.
TEST(LzDecoder, RefusesTruncatedStreams)
{
    LzEncoder enc;
    std::string t;
    while (t.size() < 3000)
        t += "The quick brown fox jumps over the lazy dog. ";
    const Bytes s = encode(enc, Bytes(t.begin(), t.end()));
    ASSERT_FALSE(s.empty());
    for (size_t len = 0; len < s.size(); ++len) {
        // Copy to an exactly sized buffer so a sanitizer sees any over-read.
        Bytes cut(s.begin(), s.begin() + static_cast<long>(len));
        Bytes out;
        std::string error;
        EXPECT_FALSE(sim::lzDecode(cut.data(), cut.size(), out, &error)) << len;
        EXPECT_FALSE(error.empty()) << len;
    }
}

struct BadStream {
    const char* name;
    Bytes stream;
};

TEST(LzDecoder, RefusesMalformedStreams)
{
    const BadStream rows[] = {
        {"empty", {}},
        {"header only", {0x03, 0x80}},
        {"stored method", {0x00, 0x00, 0x00, 0x00}},
        {"run-length method", {0x00, 0x40, 0x00, 0x00}},
        // A short match at distance 1 before any output.
        {"distance before start", {0x03, 0x80, 0x00, 0xFF, 0x00, 0x00}},
        // One literal, then a long match at distance 256.
        {"long distance before start", {0x04, 0x80, 0xBC, 0x61, 0x00}},
        // Header says two bytes, the stream carries three literals.
        {"literal past length", {0x02, 0x80, 0xE0, 0x61, 0x62, 0x63, 0x00}},
        // Literal a, then a match of 6 at distance 1 when the header says 4.
        {"match past length", {0x04, 0x80, 0xB8, 0x61, 0xFF, 0x80}},
        // End marker after one of three bytes.
        {"early end", {0x03, 0x80, 0x80, 0x61, 0x00, 0x00}},
        // "abcdef" without the flag byte reserved by the end marker's last bit.
        {"missing reserved flag",
         {0x06, 0x80, 0xFC, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x00}},
    };
    for (const auto& row : rows) {
        Bytes out;
        std::string error;
        EXPECT_FALSE(sim::lzDecode(row.stream.data(), row.stream.size(), out, &error))
            << row.name;
        EXPECT_FALSE(error.empty()) << row.name;
        EXPECT_LE(out.size(), headerLength(row.stream)) << row.name;
    }
}

TEST(LzDecoder, SurvivesGarbage)
{
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        Bytes s = randomBytes(rng() % 64, static_cast<unsigned>(i));
        if (s.size() >= 2)
            s[1] = static_cast<uint8_t>((s[1] & 0x3F) | 0x80);
        Bytes out;
        std::string error;
        if (!sim::lzDecode(s.data(), s.size(), out, &error)) {
            EXPECT_FALSE(error.empty());
        }
        EXPECT_LE(out.size(), headerLength(s));
    }
}

} // namespace
