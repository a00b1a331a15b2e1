// PacketLink over a pseudo-terminal: the test plays the agent on the master
// side with its own bit-by-bit codec, so the wire bytes are checked against an
// implementation that shares nothing with the link.
#include "link/packet_link.h"

#include <termios.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/protocol.h"
#include "sim/lz_decoder.h"
#include "tests/support/hex_dump.h"
#include "tests/support/pty_master.h"
#include "tests/support/verbose_scope.h"

using Bytes = std::vector<uint8_t>;

// Reaches the link's private state that the wire alone cannot set up.
class PacketLinkTestAccess
{
public:
    static void setSequence(PacketLink& link, uint16_t s) { link.sequence = s; }
    static int pushback(const PacketLink& link) { return link.pushback; }
    static uint16_t crcOf(PacketLink& link, const Bytes& data)
    {
        link.crc = 0xFFFF;
        for (uint8_t v : data)
            link.crcUpdate(v);
        return link.crc;
    }
};

using testsupport::hexDump;

namespace
{

using Access = PacketLinkTestAccess;
using testsupport::VerboseScope;

constexpr int kShortTimeoutMs = 40; // per failed read; a silent hunt takes three
constexpr int kPeerWaitMs = 1500;   // bound on every wait of the test's agent

Bytes slice(const Bytes& v, size_t from, size_t n)
{
    from = std::min(from, v.size());
    return Bytes(v.begin() + from, v.begin() + std::min(v.size(), from + n));
}

uint16_t referenceCrc(const Bytes& data, uint16_t crc = 0xFFFF)
{
    for (uint8_t v : data) {
        crc ^= static_cast<uint16_t>(v << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Body bytes as one MSB-first bit string, cut into 7-bit groups.
Bytes toChars(const Bytes& body)
{
    std::string bits;
    for (uint8_t v : body)
        for (int i = 7; i >= 0; --i)
            bits += (v >> i) & 1 ? '1' : '0';
    while (bits.size() % 7)
        bits += '0';
    Bytes out;
    for (size_t i = 0; i < bits.size(); i += 7)
        out.push_back(static_cast<uint8_t>(0x40 + std::stoi(bits.substr(i, 7), nullptr, 2)));
    return out;
}

Bytes fromChars(const Bytes& chars, size_t bytes)
{
    std::string bits;
    for (uint8_t c : chars)
        for (int i = 6; i >= 0; --i)
            bits += ((c - 0x40) >> i) & 1 ? '1' : '0';
    Bytes out;
    for (size_t i = 0; i < bytes && i * 8 + 8 <= bits.size(); ++i)
        out.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i * 8, 8), nullptr, 2)));
    return out;
}

size_t charCount(size_t bodyBytes)
{
    return (8 * bodyBytes + 6) / 7;
}

// One packet as the agent would send it. lengthField < 0: the payload size.
Bytes packet(uint8_t lead, uint16_t seq, const Bytes& payload, int lengthField = -1,
             uint16_t crcXor = 0)
{
    const int n = lengthField < 0 ? static_cast<int>(payload.size()) : lengthField;
    Bytes body = {static_cast<uint8_t>(seq), static_cast<uint8_t>(seq >> 8),
                  static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    body.insert(body.end(), payload.begin(), payload.end());
    const uint16_t crc = referenceCrc(body) ^ crcXor;
    body.push_back(static_cast<uint8_t>(crc));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    Bytes out = {lead};
    const Bytes chars = toChars(body);
    out.insert(out.end(), chars.begin(), chars.end());
    return out;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A packet the link sent, as the agent side sees it.
struct Sent {
    Bytes raw; // lead and characters
    uint8_t lead = 0;
    uint16_t seq = 0;
    Bytes payload;
    bool crcOk = false;
};

// The master side of a pseudo-terminal; the link opens the slave.
class Pty : public testsupport::PtyMaster
{
public:
    // One packet of the link's: hunts for its lead, then reads as many
    // characters as the length field asks for.
    bool readPacket(Sent& sent) const
    {
        const Clock::time_point deadline = deadlineIn(kPeerWaitMs);
        sent = Sent();
        for (;;) {
            const Bytes c = receive(1, deadline);
            if (c.empty())
                return false;
            if (c[0] == '!' || c[0] == '#' || c[0] == '$') {
                sent.lead = c[0];
                break;
            }
        }
        Bytes chars = receive(charCount(4), deadline);
        if (chars.size() != charCount(4))
            return false;
        const Bytes head = fromChars(chars, 4);
        const size_t n = head[2] | (head[3] << 8);
        const size_t total = charCount(n + 6);
        chars = concat(chars, receive(total - chars.size(), deadline));
        if (chars.size() != total)
            return false;
        const Bytes body = fromChars(chars, n + 6);
        sent.raw = concat({sent.lead}, chars);
        sent.seq = static_cast<uint16_t>(body[0] | (body[1] << 8));
        sent.payload = slice(body, 4, n);
        sent.crcOk = referenceCrc(slice(body, 0, n + 4)) == (body[n + 4] | (body[n + 5] << 8));
        return true;
    }

    // The rate the slave runs at (the master reports the slave's settings).
    speed_t slaveSpeed() const
    {
        termios t = {};
        tcgetattr(master, &t);
        return cfgetospeed(&t);
    }

    bool waitForSpeed(speed_t speed) const
    {
        const Clock::time_point deadline = deadlineIn(kPeerWaitMs);
        while (slaveSpeed() != speed) {
            if (Clock::now() >= deadline)
                return false;
            pause();
        }
        return true;
    }
};

// The agent's side, run on its own thread for the length of one exchange.
class Peer
{
public:
    explicit Peer(std::function<void()> script) : thread(std::move(script)) {}
    ~Peer() { join(); }
    void join()
    {
        if (thread.joinable())
            thread.join();
    }

private:
    std::thread thread;
};

class PacketLinkWire : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        ASSERT_EQ(link.open(0, 19200, pty.slave.c_str()), 0);
        link.setReadTimeout(kShortTimeoutMs);
    }

    // Receives one reply that the agent has already put on the line.
    int receive(const Bytes& wire, int capacity, Bytes& out, int* received = nullptr,
                bool fast = false)
    {
        EXPECT_TRUE(pty.send(wire));
        out.assign(static_cast<size_t>(capacity) + 8, 0xEE);
        return link.receivePacket(out.data(), capacity, fast, received);
    }

    Pty pty;
    PacketLink link;
};

// ---------------------------------------------------------------------------
// CRC

TEST(PacketLinkCrc, TableAndCheckValue)
{
    PacketLink link;
    EXPECT_EQ(PacketLink::crcTable[0], 0); // built: the marker is gone
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(PacketLink::crcTable[i], referenceCrc({static_cast<uint8_t>(i)}, 0))
            << "entry " << i;
    const std::string digits = "123456789";
    EXPECT_EQ(Access::crcOf(link, Bytes(digits.begin(), digits.end())), 0x29B1);
    EXPECT_EQ(Access::crcOf(link, {0x01, 0x00, 0x01, 0x00, 0x01}), 0x9C4C);
}

// ---------------------------------------------------------------------------
// Golden packets, both directions

struct GoldenRow {
    const char* name;
    bool command; // "!" with acknowledgement, else "#" data packet
    uint16_t seq; // sequence number on the wire
    Bytes payload;
    Bytes body; // the characters after the lead
};

const GoldenRow kGolden[] = {
    {"hello", true, 1, {0x01}, {0x40, 0x80, 0x40, 0x50, 0x40, 0x45, 0x59, 0x5C}},
    {"empty payload: 7 characters", false, 0, {}, {0x40, 0x40, 0x40, 0x40, 0x46, 0x42, 0x48}},
    {"one byte: 8 characters, no fill",
     false,
     0,
     {0x5A},
     {0x40, 0x40, 0x40, 0x50, 0x42, 0xAA, 0x47, 0x9D}},
    // abc starts a 7-byte group at body offset 7: 70 98 8C 70 at characters 8 to 11.
    {"abc on a group boundary",
     false,
     0,
     {0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00},
     {0x40, 0x40, 0x40, 0xB0, 0x40, 0x40, 0x40, 0x40, 0x70, 0x98, 0x8C, 0x70, 0x45, 0x83, 0x82}},
};

TEST_F(PacketLinkWire, GoldenSend)
{
    for (const GoldenRow& row : kGolden) {
        SCOPED_TRACE(row.name);
        Access::setSequence(link, row.command ? row.seq - 1 : row.seq);
        Sent sent;
        bool got = false;
        Peer peer([&] {
            got = pty.readPacket(sent);
            if (got && row.command)
                pty.send(packet('%', sent.seq, {0x01}));
        });
        const int rc = link.sendPacket(row.payload.data(), static_cast<int>(row.payload.size()),
                                       row.command, false);
        peer.join();
        EXPECT_EQ(rc, 0);
        ASSERT_TRUE(got);
        const Bytes expected = concat({uint8_t(row.command ? '!' : '#')}, row.body);
        EXPECT_EQ(sent.raw, expected)
            << "expected " << hexDump(expected) << "\n  actual " << hexDump(sent.raw);
        EXPECT_EQ(link.currentSequence(), row.seq);
    }
}

TEST_F(PacketLinkWire, GoldenReceive)
{
    for (const GoldenRow& row : kGolden) {
        for (uint8_t lead : {uint8_t('%'), uint8_t('#')}) {
            SCOPED_TRACE(std::string(row.name) + " lead " + char(lead));
            Access::setSequence(link, row.seq);
            Bytes out;
            int received = -1;
            const int cap = static_cast<int>(row.payload.size());
            EXPECT_EQ(receive(concat({lead}, row.body), cap, out, &received), 0);
            EXPECT_EQ(received, cap);
            const Bytes got = slice(out, 0, row.payload.size());
            EXPECT_EQ(got, row.payload)
                << "expected " << hexDump(row.payload) << "\n  actual " << hexDump(got);
            // The reference codec agrees with the table.
            EXPECT_EQ(packet(lead, row.seq, row.payload), concat({lead}, row.body));
        }
    }
}

// ---------------------------------------------------------------------------
// Replies

Bytes patternBytes(size_t n, uint8_t seed)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

Bytes header(int count, int method)
{
    return {static_cast<uint8_t>(count), static_cast<uint8_t>((count >> 8) | (method << 6))};
}

Bytes repeat(size_t n, uint8_t v)
{
    return Bytes(n, v);
}

struct ReplyRow {
    const char* name;
    Bytes wire;
    int capacity;
    int rc;
    Bytes expected; // the first bytes of the buffer on success
};

std::vector<ReplyRow> replyRows()
{
    const Bytes lit128 = patternBytes(128, 3);
    // 0x00: one literal; 0x7F: 128 literals; 0x80: run of 3; 0xFF: run of 130.
    const Bytes rle = concat(concat(concat(header(262, 1), {0x00, 0x11, 0x7F}), lit128),
                             {0x80, 0x22, 0xFF, 0x33});
    const Bytes rleOut = concat(concat(concat({0x11}, lit128), repeat(3, 0x22)), repeat(130, 0x33));
    const Bytes long300 = patternBytes(300, 9);

    return {
        {"stored reply", packet('%', 0, {1, 2, 3}), 3, 0, {1, 2, 3}},
        {"skips bytes before the lead",
         concat({0x00, 0x41, 0xFF, 0x7E, 0xBF}, packet('%', 0, {9})),
         1,
         0,
         {9}},
        {"longer than capacity: cut, CRC over all", packet('%', 0, long300), 100, 0,
         slice(long300, 0, 100)},
        {"longer than capacity with a bad CRC", packet('%', 0, long300, -1, 0x0100), 100, -5, {}},
        {"length bit 14 ignored", packet('%', 0, {4, 5, 6}, 0x4003), 3, 0, {4, 5, 6}},
        {"length bit 15 ignored", packet('%', 0, {4, 5, 6}, 0x8003), 3, 0, {4, 5, 6}},
        {"length bits 14 and 15 ignored", packet('%', 0, {4, 5, 6}, 0xC003), 3, 0, {4, 5, 6}},
        {"bad CRC", packet('%', 0, {1, 2, 3}, -1, 0x0001), 3, -5, {}},
        {"wrong sequence", packet('%', 1, {1, 2, 3}), 3, -4, {}},
        {"$ stored", packet('$', 0, concat(header(4, 0), {7, 8, 9, 10})), 4, 0, {7, 8, 9, 10}},
        {"$ run-length 0x00 0x7F 0x80 0xFF", packet('$', 0, rle), 262, 0, rleOut},
        {"$ run-length count above capacity", packet('$', 0, rle), 200, 0, slice(rleOut, 0, 200)},
        {"$ run cut at the header count", packet('$', 0, concat(header(5, 1), {0xFF, 0x44})), 5, 0,
         repeat(5, 0x44)},
        {"$ stored count above capacity",
         packet('$', 0, concat(header(4, 0), {7, 8, 9, 10})),
         2,
         0,
         {7, 8}},
        {"$ method 2", packet('$', 0, concat(header(3, 2), {1, 2, 3})), 3, -6, {}},
        {"$ method 3", packet('$', 0, concat(header(3, 3), {1, 2, 3})), 3, -6, {}},
        {"$ run-length literal short of bytes",
         packet('$', 0, concat(header(10, 1), {0x09, 1, 2})),
         10,
         -6,
         {}},
        {"$ run-length run without its byte",
         packet('$', 0, concat(header(10, 1), {0x85})),
         10,
         -6,
         {}},
        {"$ run-length items end early",
         packet('$', 0, concat(header(10, 1), {0x80, 1})),
         10,
         -6,
         {}},
        {"$ stored short of bytes", packet('$', 0, concat(header(10, 0), {1, 2})), 10, -6, {}},
        {"$ without a header", packet('$', 0, {0x05}), 10, -6, {}},
    };
}

TEST_F(PacketLinkWire, Replies)
{
    for (const ReplyRow& row : replyRows()) {
        SCOPED_TRACE(row.name);
        Bytes out;
        int received = -1;
        testing::internal::CaptureStdout(); // the method 2 and 3 rows print
        EXPECT_EQ(receive(row.wire, row.capacity, out, &received), row.rc);
        testing::internal::GetCapturedStdout();
        // Nothing past capacity is ever written.
        EXPECT_EQ(slice(out, row.capacity, 8), repeat(8, 0xEE));
        if (row.rc != 0) {
            EXPECT_EQ(received, 0);
            continue;
        }
        EXPECT_EQ(received, static_cast<int>(row.expected.size()));
        const Bytes got = slice(out, 0, row.expected.size());
        EXPECT_EQ(got, row.expected)
            << "expected " << hexDump(row.expected) << "\n  actual " << hexDump(got);
    }
}

TEST_F(PacketLinkWire, UnsupportedMethodIsReportedInEveryMode)
{
    for (bool mode : {false, true}) {
        VerboseScope scope(mode);
        Bytes out;
        testing::internal::CaptureStdout();
        const int rc = receive(packet('$', 0, concat(header(3, 2), {1, 2, 3})), 3, out);
        const std::string text = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, -6);
        EXPECT_EQ(text, "unsupported-compression method\n");
    }
}

// A truncated run-length reply must fail even when the bytes behind it in the
// holding buffer would let a careless decoder finish.
TEST_F(PacketLinkWire, TruncatedRunLengthDoesNotReadStaleBytes)
{
    Bytes out;
    const Bytes stale = concat(header(200, 0), repeat(200, 0x7F));
    ASSERT_EQ(receive(packet('$', 0, stale), 200, out), 0);
    EXPECT_EQ(receive(packet('$', 0, concat(header(200, 1), {0x00, 0x7F})), 200, out), -6);
}

TEST_F(PacketLinkWire, ForeignCharacterStartsTheNextHunt)
{
    const Bytes good = packet('%', 0, {0x42, 0x43});
    // The broken packet stops after its sequence number, where the next lead turns up.
    const Bytes broken = slice(good, 0, 4);
    Bytes out;
    EXPECT_EQ(receive(concat(broken, good), 2, out), -4);
    EXPECT_EQ(Access::pushback(link), '%');
    int received = 0;
    // Without the kept "%" the hunt would skip the body and time out.
    ASSERT_EQ(link.receivePacket(out.data(), 2, false, &received), 0);
    EXPECT_EQ(slice(out, 0, 2), (Bytes{0x42, 0x43}));
    EXPECT_EQ(Access::pushback(link), -1);
}

TEST_F(PacketLinkWire, SilentLineGivesUpAfterThreeFailedReads)
{
    Bytes out;
    EXPECT_EQ(receive({}, 4, out), -2);
    // Skipped bytes give no allowance back.
    EXPECT_EQ(receive({0x00, 0x41, 0x42, 0xC0, 0xFF, 0x20}, 4, out), -2);
}

TEST_F(PacketLinkWire, TimeOutInsideBody)
{
    Bytes out;
    EXPECT_EQ(receive(slice(packet('%', 0, {1, 2, 3}), 0, 6), 3, out), -2);
}

// ---------------------------------------------------------------------------
// Double-speed receives

struct FastRow {
    const char* name;
    Bytes wire; // sent once the link has switched; empty: silence
    int rc;
};

TEST_F(PacketLinkWire, FastReceiveRestoresLineSpeedOnEveryWayOut)
{
    const FastRow rows[] = {
        {"good reply", packet('%', 0, {1, 2}), 0},
        {"good run-length reply", packet('$', 0, concat(header(2, 1), {0x01, 1, 2})), 0},
        {"hunt gave up", {}, -2},
        {"bad CRC", packet('%', 0, {1, 2}, -1, 0x8000), -5},
        {"wrong sequence", packet('%', 7, {1, 2}), -4},
        {"foreign character", concat(slice(packet('%', 0, {1, 2}), 0, 3), {0x20}), -4},
        {"method 2", packet('$', 0, concat(header(2, 2), {1, 2})), -6},
        {"truncated run-length", packet('$', 0, concat(header(2, 1), {0x01, 1})), -6},
    };
    for (const FastRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(link.currentSpeed(), 19200u);
        bool switched = false;
        Peer peer([&] {
            switched = pty.waitForSpeed(B38400);
            if (switched && !row.wire.empty())
                pty.send(row.wire);
        });
        uint8_t out[2] = {};
        testing::internal::CaptureStdout();
        const int rc = link.receivePacket(out, 2, true);
        testing::internal::GetCapturedStdout();
        peer.join();
        EXPECT_TRUE(switched);
        EXPECT_EQ(rc, row.rc);
        EXPECT_EQ(link.currentSpeed(), 19200u);
        EXPECT_EQ(pty.slaveSpeed(), static_cast<speed_t>(B19200));
        if (row.rc == 0) {
            EXPECT_EQ(Bytes(out, out + 2), (Bytes{1, 2}));
        }
    }
}

TEST_F(PacketLinkWire, FastReceiveDropsTheKeptCharacter)
{
    Bytes out;
    const Bytes good = packet('%', 0, {0x42});
    ASSERT_EQ(receive(concat(slice(good, 0, 4), good), 1, out), -4);
    ASSERT_EQ(Access::pushback(link), '%');
    // The switch purges what is on the line, and the kept "%" goes with it.
    EXPECT_EQ(link.receivePacket(out.data(), 1, true), -2);
    EXPECT_EQ(Access::pushback(link), -1);
}

// ---------------------------------------------------------------------------
// Commands and acknowledgements

TEST_F(PacketLinkWire, ThreeRefusalsUseThreeSequenceNumbers)
{
    std::vector<uint16_t> seqs;
    Peer peer([&] {
        Sent sent;
        for (int i = 0; i < 3 && pty.readPacket(sent); ++i) {
            seqs.push_back(sent.seq);
            pty.send(packet('%', sent.seq, {0x00}));
        }
    });
    const uint8_t cmd = 0x02;
    EXPECT_EQ(link.sendPacket(&cmd, 1, true, false), -4);
    peer.join();
    EXPECT_EQ(seqs, (std::vector<uint16_t>{1, 2, 3}));
    EXPECT_EQ(link.currentSequence(), 3);
}

TEST_F(PacketLinkWire, ThreeSilentAttemptsGiveIoError)
{
    std::vector<uint16_t> seqs;
    Peer peer([&] {
        Sent sent;
        for (int i = 0; i < 3 && pty.readPacket(sent); ++i)
            seqs.push_back(sent.seq);
    });
    const uint8_t cmd = 0x00;
    EXPECT_EQ(link.sendPacket(&cmd, 1, true, false), -2);
    peer.join();
    EXPECT_EQ(seqs, (std::vector<uint16_t>{1, 2, 3}));
}

// A failed acknowledgement is retried, and the next one is found behind the
// remains of the broken one.
TEST_F(PacketLinkWire, BrokenAcknowledgementIsRetried)
{
    const struct {
        const char* name;
        Bytes (*first)(uint16_t seq);
    } rows[] = {
        {"wrong sequence", [](uint16_t seq) { return packet('%', seq + 1, {0x01}); }},
        {"bad CRC", [](uint16_t seq) { return packet('%', seq, {0x01}, -1, 0x0100); }},
        {"empty acknowledgement", [](uint16_t seq) { return packet('%', seq, {}); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Access::setSequence(link, 10);
        std::vector<uint16_t> seqs;
        Peer peer([&] {
            Sent sent;
            if (!pty.readPacket(sent))
                return;
            seqs.push_back(sent.seq);
            pty.send(row.first(sent.seq));
            if (!pty.readPacket(sent))
                return;
            seqs.push_back(sent.seq);
            pty.send(packet('%', sent.seq, {0x01}));
        });
        const uint8_t cmd = 0x03;
        EXPECT_EQ(link.sendPacket(&cmd, 1, true, false), 0);
        peer.join();
        EXPECT_EQ(seqs, (std::vector<uint16_t>{11, 12}));
    }
}

TEST_F(PacketLinkWire, SequenceWrapsFrom65535To0)
{
    Access::setSequence(link, 65534);
    std::vector<uint16_t> seqs;
    Peer peer([&] {
        Sent sent;
        for (int i = 0; i < 2 && pty.readPacket(sent); ++i) {
            seqs.push_back(sent.seq);
            pty.send(packet('%', sent.seq, {0x01}));
        }
    });
    const uint8_t cmd = 0x00;
    EXPECT_EQ(link.sendPacket(&cmd, 1, true, false), 0);
    EXPECT_EQ(link.sendPacket(&cmd, 1, true, false), 0);
    peer.join();
    EXPECT_EQ(seqs, (std::vector<uint16_t>{65535, 0}));
    EXPECT_EQ(link.currentSequence(), 0);
}

TEST_F(PacketLinkWire, DataPacketsKeepTheSequence)
{
    Access::setSequence(link, 0x1234);
    Sent sent;
    bool got = false;
    Peer peer([&] { got = pty.readPacket(sent); });
    const Bytes data = {1, 2, 3};
    EXPECT_EQ(link.sendPacket(data.data(), 3, false, false), 0);
    peer.join();
    ASSERT_TRUE(got);
    EXPECT_EQ(sent.lead, '#');
    EXPECT_EQ(sent.seq, 0x1234);
    EXPECT_EQ(link.currentSequence(), 0x1234);
}

// ---------------------------------------------------------------------------
// Compressed sends

Bytes noise(size_t n)
{
    Bytes v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

struct CompressRow {
    const char* name;
    Bytes data;
    bool shrinks;
};

TEST_F(PacketLinkWire, CompressedSend)
{
    Bytes track;
    for (int i = 0; i < 16; ++i)
        track = concat(track, concat(repeat(200, 0xE5), patternBytes(56, uint8_t(i))));
    const CompressRow rows[] = {
        {"track data shrinks: $", track, true},
        {"noise does not: #", noise(200), false},
        {"encoder overflow: #", noise(16383), false},
    };
    for (const CompressRow& row : rows) {
        SCOPED_TRACE(row.name);
        VerboseScope scope(true);
        Sent sent;
        bool got = false;
        Peer peer([&] { got = pty.readPacket(sent); });
        testing::internal::CaptureStdout();
        const int rc =
            link.sendPacket(row.data.data(), static_cast<int>(row.data.size()), false, true);
        const std::string text = testing::internal::GetCapturedStdout();
        peer.join();
        EXPECT_EQ(rc, 0);
        ASSERT_TRUE(got);
        EXPECT_TRUE(sent.crcOk);

        int length = 0, size = 0, percent = 0;
        ASSERT_EQ(std::sscanf(text.c_str(), " (%d -> %d, %d%%)", &length, &size, &percent), 3)
            << text;
        EXPECT_EQ(length, static_cast<int>(row.data.size()));
        EXPECT_EQ(percent, size * 100 / length);
        char expectedText[64];
        std::snprintf(expectedText, sizeof expectedText, " (%4d -> %4d, %3d%%)", length, size,
                      percent);
        EXPECT_EQ(text, expectedText);

        if (!row.shrinks) {
            EXPECT_EQ(sent.lead, '#');
            EXPECT_EQ(sent.payload, row.data);
            EXPECT_GE(size, length);
            continue;
        }
        EXPECT_EQ(sent.lead, '$');
        EXPECT_EQ(static_cast<int>(sent.payload.size()), size);
        ASSERT_GE(sent.payload.size(), 2u);
        Bytes decoded;
        std::string error;
        EXPECT_TRUE(sim::lzDecode(sent.payload.data(), sent.payload.size() - 2, decoded, &error))
            << error;
        EXPECT_EQ(decoded, row.data);
        const size_t n = sent.payload.size();
        EXPECT_EQ(sent.payload[n - 2] | (sent.payload[n - 1] << 8), referenceCrc(row.data));
    }
}

TEST_F(PacketLinkWire, CompressIgnoredForCommands)
{
    Sent sent;
    bool got = false;
    Peer peer([&] {
        got = pty.readPacket(sent);
        if (got)
            pty.send(packet('%', sent.seq, {0x01}));
    });
    const Bytes cmd = concat({0x09}, repeat(40, 0));
    EXPECT_EQ(link.sendPacket(cmd.data(), static_cast<int>(cmd.size()), true, true), 0);
    peer.join();
    ASSERT_TRUE(got);
    EXPECT_EQ(sent.lead, '!');
    EXPECT_EQ(sent.payload, cmd);
}

} // namespace
