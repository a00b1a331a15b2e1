// The agent's packet coder against the golden bytes of the wire format, and
// the agent itself over a real pseudo-terminal, driven by a tiny scripted
// client in the test.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/lz_encoder.h"
#include "sim/agent.h"
#include "sim/agent_packet.h"
#include "sim/floppy.h"
#include "sim/pty_port.h"
#include "sim/rom_banks.h"
#include "sim/sample_disk.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"
#include "tests/support/expand_reply.h"
#include "tests/support/hex_dump.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

#define EXPECT_BYTES(expected, actual)                                                        \
    EXPECT_EQ(expected, actual) << "expected:\n"                                               \
                                << hexDump(expected) << "\nactual:\n"                          \
                                << hexDump(actual)

// ---- packet coder ----

TEST(SimPacket, CrcCheckValue)
{
    const char* digits = "123456789";
    EXPECT_EQ(sim::crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0x29B1);
}

TEST(SimPacket, CharacterCodeBothWays)
{
    struct Row {
        Bytes body;
        Bytes chars;
    } rows[] = {
        {{0x61, 0x62, 0x63}, {0x70, 0x98, 0x8C, 0x70}},
        {{0x01, 0x00, 0x01, 0x00, 0x01, 0x4C, 0x9C},
         {0x40, 0x80, 0x40, 0x50, 0x40, 0x45, 0x59, 0x5C}},
        {{0xFF}, {0xBF, 0x80}},
        {{}, {}},
    };
    for (const Row& row : rows) {
        Bytes chars = sim::encodeCharacters(row.body.data(), row.body.size());
        EXPECT_BYTES(row.chars, chars);
        Bytes body;
        EXPECT_TRUE(sim::decodeCharacters(row.chars.data(), row.chars.size(), &body));
        EXPECT_BYTES(row.body, body);
    }
    // One character more than a whole group fits no body length.
    Bytes nine(9, 0x40);
    Bytes body;
    EXPECT_FALSE(sim::decodeCharacters(nine.data(), nine.size(), &body));
}

TEST(SimPacket, GoldenHelloAndAcknowledgement)
{
    const Bytes one{0x01};
    Bytes hello{0x21, 0x40, 0x80, 0x40, 0x50, 0x40, 0x45, 0x59, 0x5C};
    Bytes ack{0x25, 0x40, 0x80, 0x40, 0x50, 0x40, 0x45, 0x59, 0x5C};
    EXPECT_BYTES(hello, sim::encodePacket('!', 1, one.data(), 1));
    EXPECT_BYTES(ack, sim::encodePacket('%', 1, one.data(), 1));

    // And back: the decoder takes the hello off the line.
    sim::PacketDecoder decoder;
    sim::PacketDecoder::Result last = sim::PacketDecoder::Result::None;
    for (uint8_t c : hello)
        last = decoder.feed(c);
    ASSERT_EQ(last, sim::PacketDecoder::Result::Packet);
    EXPECT_EQ(decoder.packet().lead, '!');
    EXPECT_EQ(decoder.packet().sequence, 1);
    EXPECT_TRUE(decoder.packet().crcOk());
    EXPECT_BYTES(one, decoder.packet().payload);
}

TEST(SimPacket, BodySizes)
{
    // 6-byte body: 7 characters; 7-byte body: exactly 8, no fill character.
    EXPECT_EQ(sim::encodePacket('%', 0, nullptr, 0).size(), 1u + 7u);
    const Bytes one{0};
    EXPECT_EQ(sim::encodePacket('%', 0, one.data(), 1).size(), 1u + 8u);
}

TEST(SimPacket, DecoderSkipsJunkAndRestartsOnALeadInsideABody)
{
    const Bytes payload{0x02, 0x00, 0xFF};
    Bytes good = sim::encodePacket('!', 7, payload.data(), payload.size());
    // Junk, half a packet cut by a new lead character, then the whole packet.
    Bytes line{0x00, 0x13, 0xFF};
    line.insert(line.end(), good.begin(), good.begin() + 4);
    line.insert(line.end(), good.begin(), good.end());

    sim::PacketDecoder decoder;
    int packets = 0, broken = 0;
    for (uint8_t c : line) {
        auto r = decoder.feed(c);
        packets += r == sim::PacketDecoder::Result::Packet;
        broken += r == sim::PacketDecoder::Result::Broken;
    }
    EXPECT_EQ(packets, 1);
    EXPECT_EQ(broken, 1);
    EXPECT_EQ(decoder.packet().sequence, 7);
    EXPECT_BYTES(payload, decoder.packet().payload);
}

TEST(SimPacket, DecoderFlagsABadCrc)
{
    const Bytes payload{0x00};
    sim::PacketFault fault;
    fault.badCrc = true;
    Bytes bad = sim::encodePacket('!', 3, payload.data(), 1, fault);
    sim::PacketDecoder decoder;
    sim::PacketDecoder::Result last = sim::PacketDecoder::Result::None;
    for (uint8_t c : bad)
        last = decoder.feed(c);
    ASSERT_EQ(last, sim::PacketDecoder::Result::Packet);
    EXPECT_FALSE(decoder.packet().crcOk());
}

TEST(SimPacket, DecoderRefusesAHugeLengthField)
{
    Bytes body{0x01, 0x00, 0xFF, 0xFF};
    Bytes line{'#'};
    Bytes chars = sim::encodeCharacters(body.data(), body.size());
    line.insert(line.end(), chars.begin(), chars.end());
    sim::PacketDecoder decoder;
    bool broken = false;
    for (uint8_t c : line)
        broken = broken || decoder.feed(c) == sim::PacketDecoder::Result::Broken;
    EXPECT_TRUE(broken);
    EXPECT_FALSE(decoder.inPacket());
}

// ---- the agent over a pseudo-terminal ----

speed_t speedCode(unsigned bps)
{
    return bps == 9600 ? B9600 : bps == 38400 ? B38400 : B19200;
}

struct Reply {
    uint8_t lead = 0;
    uint16_t sequence = 0;
    Bytes payload;      // expanded
    bool crcOk = false;
};

// The client's side, just enough of it: raw port, packets, speed switches.
class TestClient {
public:
    ~TestClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(const std::string& path, unsigned bps)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tio = t;
        setSpeed(bps);
        return true;
    }
    // What ferry2 does when it opens or closes its port: drop unread input.
    void purge() { tcflush(fd, TCIFLUSH); }
    // As the client does: input purged, then the new rate.
    void setSpeed(unsigned bps)
    {
        tcflush(fd, TCIFLUSH);
        cfsetispeed(&tio, speedCode(bps));
        cfsetospeed(&tio, speedCode(bps));
        tcsetattr(fd, TCSANOW, &tio);
    }
    void sendRaw(const Bytes& bytes)
    {
        size_t done = 0;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && Clock::now() < deadline) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += size_t(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void send(uint8_t lead, uint16_t seq, const Bytes& payload)
    {
        sendRaw(sim::encodePacket(lead, seq, payload.data(), payload.size()));
    }
    int readByte(Clock::time_point deadline)
    {
        for (;;) {
            uint8_t c;
            if (::read(fd, &c, 1) == 1)
                return c;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              Clock::now());
            if (left.count() <= 0)
                return -1;
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, int(left.count() < 50 ? left.count() : 50));
        }
    }
    // One agent packet; the bytes skipped before its lead go to skipped.
    bool receive(Reply* r, int timeoutMs = 5000)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int c;
        for (;;) {
            c = readByte(deadline);
            if (c < 0)
                return false;
            if (c == '%' || c == '#' || c == '$')
                break;
            skipped.push_back(uint8_t(c));
        }
        r->lead = uint8_t(c);
        Bytes chars;
        size_t need = 5;   // enough for sequence and length
        while (chars.size() < need) {
            int k = readByte(deadline);
            if (k < 0)
                return false;
            chars.push_back(uint8_t(k));
            if (chars.size() == 5) {
                Bytes head;
                Bytes first(chars.begin(), chars.begin() + 5);
                // Five characters hold 35 bits: decode them through a padded group.
                first.insert(first.end(), 3, 0x40);
                if (!sim::decodeCharacters(first.data(), 8, &head))
                    return false;
                size_t n = size_t(head[2] | (head[3] << 8)) & 0x3FFF;
                need = (8 * (6 + n) + 6) / 7;
            }
        }
        Bytes body;
        if (!sim::decodeCharacters(chars.data(), chars.size(), &body))
            return false;
        size_t n = body.size() - 6;
        r->sequence = uint16_t(body[0] | (body[1] << 8));
        r->crcOk = sim::crc16(body.data(), 4 + n) == uint16_t(body[4 + n] | (body[5 + n] << 8));
        Bytes payload(body.begin() + 4, body.begin() + 4 + long(n));
        if (r->lead == '$')
            return testsupport::expandReply(payload, &r->payload);
        r->payload = payload;
        return true;
    }
    // A command and its acknowledgement byte (-1 when none came).
    int command(uint16_t seq, const Bytes& payload, int timeoutMs = 5000)
    {
        send('!', seq, payload);
        Reply ack;
        if (!receive(&ack, timeoutMs) || !ack.crcOk || ack.sequence != seq || ack.payload.empty())
            return -1;
        return ack.payload[0];
    }

    Bytes skipped;

private:
    int fd = -1;
    termios tio{};
};

// The agent on its own thread, with a time limit as a backstop.
class AgentRun {
public:
    explicit AgentRun(sim::SimOptions o, bool sample = true, int blankMedium = -1)
        : options(std::move(o))
    {
        logPath = dir.file("agent.log");
        options.logPath = logPath;
        if (options.maxMs == 0)
            options.maxMs = 20000;
        if (sample)
            disk.reset(new sim::Floppy(sim::makeSampleFloppy()));
        else if (blankMedium >= 0) {
            disk.reset(new sim::Floppy);
            disk->blank(blankMedium);
        }
        std::string error;
        opened = port.open(&error) && log.open(logPath, &error);
        port.setStopFlag(&stop);
        if (opened)
            thread = std::thread([this] {
                sim::Agent agent(options, port, log, disk.get(), nullptr, roms);
                outcome = agent.serve();
                sessions = agent.sessionsCompleted();
            });
    }
    ~AgentRun() { finish(); }
    // Lets the agent end by itself within timeoutMs, then stops it.
    void finish(int timeoutMs = 0)
    {
        if (!thread.joinable())
            return;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!ended() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = 1;
        thread.join();
    }
    bool ended() const { return sessions >= 0; }
    std::vector<std::string> logLines() const { return testsupport::readLines(logPath); }
    int countLines(const std::string& needle) const
    {
        int n = 0;
        for (const auto& line : logLines())
            n += line.find(needle) != std::string::npos;
        return n;
    }
    std::string violations() const
    {
        std::string all;
        for (const auto& line : logLines()) {
            if (line.find("\"violation\"") != std::string::npos)
                all += line + "\n";
        }
        return all;
    }

    testsupport::TempDir dir; // first: removed after the log is closed
    sim::SimOptions options;
    sim::PtyPort port;
    sim::SimLog log;
    std::unique_ptr<sim::Floppy> disk;
    sim::RomBanks roms;
    std::string logPath;
    bool opened = false;
    volatile std::sig_atomic_t stop = 0;
    std::atomic<int> sessions{-1};
    sim::Agent::Outcome outcome = sim::Agent::Outcome::Stopped;
    std::thread thread;
};

Bytes patternBank(int bank)
{
    Bytes b(sim::kBankSize);
    for (int k = 0; k < sim::kBankSize; ++k)
        b[k] = sim::romPattern(bank, k);
    return b;
}

// With pacing on, a byte from the client is handed over only once it would
// have arrived at the client's port speed: 96 bytes at 9600 bit/s take 100 ms
// of line time, however fast the pseudo-terminal carries them. (A lower bound
// only: the line model, not a performance figure.)
TEST(SimPtyPort, PacingHoldsInputForItsLineTime)
{
    sim::PtyPort port;
    std::string error;
    ASSERT_TRUE(port.open(&error)) << error;
    port.setPacing(9600);
    TestClient client;
    ASSERT_TRUE(client.open(port.slavePath(), 9600));
    const Bytes bytes(96, 0x41);
    const auto start = Clock::now();
    client.sendRaw(bytes);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(port.readByte(2000), 0x41) << i;
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST(SimAgent, ReadSessionAtDoubleSpeed)
{
    sim::SimOptions o;
    o.romBitmap = 0x0B;
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));

    Reply r;
    ASSERT_EQ(client.command(1, {0x01}), 1);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_TRUE(r.crcOk);
    EXPECT_EQ(r.sequence, 1);
    EXPECT_BYTES((Bytes{2, 6, 1, 0x0B, 1}), r.payload);

    ASSERT_EQ(client.command(2, {0x02, 0x00, 0xFF}), 1);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_BYTES(Bytes{uint8_t(run.disk->medium())}, r.payload);

    ASSERT_EQ(client.command(3, {0x03, 0x00}), 1);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(r.payload.size(), 1u);

    // Track 0 at double speed; the command already names track 1.
    ASSERT_EQ(client.command(4, {0x05, 0x01, 0x01}), 1);
    client.setSpeed(38400);
    ASSERT_TRUE(client.receive(&r));
    client.setSpeed(19200);
    EXPECT_TRUE(r.crcOk);
    EXPECT_EQ(r.sequence, 4);
    EXPECT_BYTES(run.disk->trackReply(0), r.payload);

    ASSERT_EQ(client.command(5, {0x04, 0x00, 0x00}), 1);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_BYTES(run.disk->trackReply(1), r.payload);

    ASSERT_EQ(client.command(6, {0x07, 0x40, 0x01}), 1);
    client.setSpeed(38400);
    ASSERT_TRUE(client.receive(&r));
    client.setSpeed(19200);
    EXPECT_BYTES(patternBank(0x40), r.payload);

    ASSERT_EQ(client.command(7, {0x00}), 1);
    client.purge();
    run.finish(5000);
    EXPECT_EQ(run.outcome, sim::Agent::Outcome::Sessions);
    EXPECT_EQ(run.sessions, 1);
    EXPECT_EQ(run.violations(), "");
    EXPECT_EQ(run.countLines("{\"lead\":\"!\",\"seq\":1,\"payload\":\"01\",\"speed\":19200}"), 1);
    for (const char* what : {"track", "rom"}) {
        EXPECT_EQ(run.countLines("\"event\":\"fast-wait\",\"for\":\"" + std::string(what) +
                                 "\",\"purge\":true,\"speed\":38400"),
                  1)
            << what;
    }
    EXPECT_EQ(run.countLines("\"event\":\"session-end\",\"reason\":\"end\""), 1);
}

TEST(SimAgent, FastReplyWithoutTheClientsSwitchIsAViolation)
{
    AgentRun run(sim::SimOptions{});
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    Reply r;
    ASSERT_EQ(client.command(1, {0x01}), 1);
    ASSERT_TRUE(client.receive(&r));
    // Asks for a fast bank but stays at 19200 and never purges.
    ASSERT_EQ(client.command(2, {0x07, 0x41, 0x01}), 1);
    ASSERT_TRUE(client.receive(&r, 5000));
    EXPECT_BYTES(patternBank(0x41), r.payload);
    EXPECT_NE(run.violations().find("did not purge"), std::string::npos) << run.violations();

    // Switched for the next one, but never back: the command after it is at the
    // wrong rate.
    ASSERT_EQ(client.command(3, {0x07, 0x42, 0x01}), 1);
    client.setSpeed(38400);
    ASSERT_TRUE(client.receive(&r));
    ASSERT_EQ(client.command(4, {0x00}), 1);
    client.purge();
    run.finish(5000);
    EXPECT_NE(run.violations().find("the line runs at 19200"), std::string::npos)
        << run.violations();
}

TEST(SimAgent, RefusesAHelloThreeTimes)
{
    sim::SimOptions o;
    o.refuse = 1;
    o.refuseCount = 3;
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    EXPECT_EQ(client.command(1, {0x01}), 0);
    EXPECT_EQ(client.command(2, {0x01}), 0);
    EXPECT_EQ(client.command(3, {0x01}), 0);
    ASSERT_EQ(client.command(4, {0x01}), 1);
    Reply r;
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(r.sequence, 4);
    EXPECT_EQ(r.payload.size(), 5u);
    EXPECT_EQ(run.countLines("\"event\":\"refused\""), 3);
    // Retries of one hello are one session.
    EXPECT_EQ(run.countLines("\"event\":\"session-start\""), 1);
}

TEST(SimAgent, IgnoresABadCrcAndMalformedCommands)
{
    AgentRun run(sim::SimOptions{});
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    const Bytes hello{0x01};
    sim::PacketFault fault;
    fault.badCrc = true;
    client.sendRaw(sim::encodePacket('!', 1, hello.data(), 1, fault));
    // A short medium query and an unknown command are refused.
    EXPECT_EQ(client.command(2, {0x02, 0x00}), 0);
    EXPECT_EQ(client.command(3, {0x66}), 0);
    ASSERT_EQ(client.command(4, {0x01}), 1);
    Reply r;
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(r.sequence, 4);
    EXPECT_EQ(run.countLines("\"event\":\"bad-crc\""), 1);
}

TEST(SimAgent, InjectedReplyFaults)
{
    sim::SimOptions o;
    o.badCrc = 2;     // the capability record
    o.badSeq = 3;     // the acknowledgement of the next command
    o.noise = true;
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    ASSERT_EQ(client.command(1, {0x01}), 1);
    Reply r;
    ASSERT_TRUE(client.receive(&r));
    EXPECT_FALSE(r.crcOk);
    client.send('!', 2, {0x01});
    ASSERT_TRUE(client.receive(&r));
    EXPECT_TRUE(r.crcOk);
    EXPECT_EQ(r.sequence, 3);
    ASSERT_FALSE(client.skipped.empty());
    for (uint8_t c : client.skipped) {
        EXPECT_TRUE(c < 0x40 || c > 0xBF) << int(c);
        EXPECT_TRUE(c != '!' && c != '#' && c != '$' && c != '%' && c != 0x11 && c != 0x13)
            << int(c);
    }
}

TEST(SimAgent, SilentAfterAFewPackets)
{
    sim::SimOptions o;
    o.silentAfter = 1;
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    ASSERT_EQ(client.command(1, {0x01}), 1);
    Reply r;
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(client.command(2, {0x01}, 700), -1);
}

TEST(SimAgent, MediumAnswers)
{
    sim::SimOptions o;
    o.noDiskUntil = 1;
    o.writeProtect = true;
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    Reply r;
    ASSERT_EQ(client.command(1, {0x01}), 1);
    ASSERT_TRUE(client.receive(&r));
    struct Query {
        Bytes payload;
        uint8_t answer;
    } queries[] = {
        {{0x02, 0x00, 0xFF}, 254},                            // the first K: no disk
        {{0x02, 0xFE, 0xFF}, uint8_t(run.disk->medium())},    // no drive named: drive 1
        {{0x02, 0x00, 0x80}, 249},                            // for writing: protected
        {{0x02, 0x01, 0xFF}, 254},                            // drive 2 is empty
    };
    uint16_t seq = 2;
    for (const Query& q : queries) {
        ASSERT_EQ(client.command(seq, q.payload), 1);
        ASSERT_TRUE(client.receive(&r));
        EXPECT_BYTES(Bytes{q.answer}, r.payload);
        ++seq;
    }
}

TEST(SimAgent, WriteTrackChecksLengthAndCrc)
{
    AgentRun run(sim::SimOptions{}, false, 0);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    Reply r;
    ASSERT_EQ(client.command(1, {0x01}), 1);
    ASSERT_TRUE(client.receive(&r));
    ASSERT_EQ(client.command(2, {0x02, 0x00, 0x80}), 1);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_BYTES(Bytes{0}, r.payload);

    // The command says 10 bytes, the packet brings 5.
    ASSERT_EQ(client.command(3, {0x09, 0x00, 10, 0}), 1);
    client.send('#', 3, {1, 2, 3, 4, 5});
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(r.sequence, 3);
    EXPECT_BYTES(Bytes{0xE2}, r.payload);

    // An LZ packet whose trailing CRC is wrong.
    Bytes track(300, 0x4E);
    for (size_t i = 0; i < track.size(); i += 7)
        track[i] = uint8_t(i);
    LzEncoder encoder;
    Bytes lz(16384 + 2);
    int n = encoder.encode(track.data(), unsigned(track.size()), lz.data(), 16384);
    ASSERT_GT(n, 0);
    lz.resize(size_t(n) + 2);
    uint16_t crc = sim::crc16(track.data(), track.size());
    lz[size_t(n)] = uint8_t(crc ^ 1);
    lz[size_t(n) + 1] = uint8_t(crc >> 8);
    const Bytes writeOne = {0x09, 0x01, uint8_t(track.size()), uint8_t(track.size() >> 8)};
    ASSERT_EQ(client.command(4, writeOne), 1);
    client.send('$', 4, lz);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_BYTES(Bytes{0xE1}, r.payload);
    EXPECT_EQ(run.countLines("\"event\":\"data-crc-mismatch\""), 1);

    // The same with the right CRC gets through to the floppy (which has its own
    // opinion of a payload that is no real track layout).
    lz[size_t(n)] = uint8_t(crc);
    ASSERT_EQ(client.command(5, writeOne), 1);
    client.send('$', 5, lz);
    ASSERT_TRUE(client.receive(&r));
    EXPECT_EQ(
        run.countLines("\"event\":\"write-track\",\"track\":1,\"length\":300,\"compressed\":true"),
        2);
    EXPECT_EQ(run.countLines("\"event\":\"data-crc-mismatch\""), 1);

    // A data packet with no write-track command before it is not answered.
    client.send('#', 5, {1});
    EXPECT_FALSE(client.receive(&r, 500));
    EXPECT_NE(run.violations().find("data packet without a write-track"), std::string::npos);
}

// ---- command sequences and sessions ----

// One step of a scripted client: a command (its acknowledgement byte, -1 for
// none, then its replies), a data packet for the last command, or a purge of
// the client's input as ferry2 makes when it opens or closes its port.
struct Step {
    char what;      // '!' command, '#' data, 'p' purge
    Bytes payload;
    int ack = 1;    // commands: the acknowledgement byte expected, -1: none comes
    int replies = 0;
};

constexpr int kNoReply = -1;   // replies: nothing more comes
constexpr int kQuietMs = 300;  // how long "nothing comes" is waited for

Step cmd(Bytes payload, int replies = 0, int ack = 1)
{
    return {'!', std::move(payload), ack, replies};
}

const Step kPurge = {'p', {}, 0, 0};

// A one-sector track 0 for the write-track command: format MFM N 1, one slot,
// its data record of 256 bytes, the end byte.
Bytes oneSectorTrack()
{
    Bytes p = {0x41, 0x01, 0x01, 0x36, 0xE5, 0, 0, 1, 1, 0x42, 0, 0, 1, 1, 0x00, 0x01};
    p.insert(p.end(), 256, 0x5A);
    p.push_back(0x00);
    return p;
}

// The write-track command and its data packet for oneSectorTrack.
std::vector<Step> writeTrackZero()
{
    const Bytes track = oneSectorTrack();
    return {cmd({0x09, 0x00, uint8_t(track.size()), uint8_t(track.size() >> 8)}),
            {'#', track, 0, 1}};
}

std::vector<Step> concat(std::initializer_list<std::vector<Step>> parts)
{
    std::vector<Step> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Plays the steps; every expectation is checked on the way.
void play(TestClient& client, const std::vector<Step>& steps)
{
    uint16_t seq = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + " " + step.what + " " + hexDump(step.payload));
        Reply r;
        if (step.what == 'p') {
            client.purge();
            continue;
        }
        if (step.what == '!')
            EXPECT_EQ(client.command(++seq, step.payload, step.ack < 0 ? kQuietMs : 5000),
                      step.ack);
        else
            client.send('#', seq, step.payload);
        if (step.replies == kNoReply) {
            EXPECT_FALSE(client.receive(&r, kQuietMs));
        }
        for (int k = 0; k < step.replies; ++k)
            EXPECT_TRUE(client.receive(&r));
    }
}

// The sequence-end lines of the log, from "kind" on: "kind":"read","tracks":[0,1],...
std::vector<std::string> sequenceEnds(const AgentRun& run)
{
    std::vector<std::string> ends;
    for (const auto& line : run.logLines()) {
        if (line.find("\"event\":\"sequence-end\"") != std::string::npos)
            ends.push_back(line.substr(line.find("\"reason\"")));
    }
    return ends;
}

const Bytes kHello = {0x01};
const Bytes kEnd = {0x00};
const Bytes kMediumRead = {0x02, 0x00, 0xFF};
const Bytes kMediumWrite = {0x02, 0x00, 0x80};
const Bytes kBegin = {0x03, 0x00};

Bytes readTrack(uint8_t next)
{
    return {0x05, next, 0x00};
}

const Bytes kReadLast = {0x04, 0x00, 0x00};

TEST(SimAgent, CommandSequences)
{
    struct Row {
        const char* name;
        int sessionsOption;
        std::vector<Step> steps;
        int sessions;                      // session-start lines
        std::vector<std::string> ends;     // sequence-end lines from "reason" on, in order
        std::string violation;             // a part of the violations, "" for none
    };
    const Row rows[] = {
        {"w --verify in one connection: write, then read, then the last session's grace",
         1,
         concat({{cmd(kHello, 1), cmd(kMediumWrite, 1)},
                 writeTrackZero(),
                 {cmd(kEnd), cmd(kHello, 1), cmd(kMediumRead, 1), cmd(kBegin, 1),
                  cmd(readTrack(1), 1), cmd(kReadLast, 1), cmd(kEnd)}}),
         1,
         {"\"reason\":\"end\",\"kind\":\"write\",\"tracks\":[0],\"banks\":0}",
          "\"reason\":\"end\",\"kind\":\"read\",\"tracks\":[0,1],\"banks\":0}"},
         ""},
        {"a purge between two sequences: two clients",
         2,
         {cmd(kHello, 1), cmd(kEnd), kPurge, cmd(kHello, 1), cmd({0x07, 0x40, 0x00}, 1),
          cmd(kEnd), kPurge},
         2,
         {"\"reason\":\"end\",\"kind\":\"none\",\"tracks\":[],\"banks\":0}",
          "\"reason\":\"end\",\"kind\":\"rom\",\"tracks\":[],\"banks\":1}"},
         ""},
        {"a hello after work without an end: the same connection starts over",
         1,
         {cmd(kHello, 1), cmd(kMediumRead, 1), cmd(kHello, 1), cmd(kEnd), kPurge},
         1,
         {"\"reason\":\"hello\",\"kind\":\"read\",\"tracks\":[],",
          "\"reason\":\"end\",\"kind\":\"none\","},
         ""},
        {"a begin in the middle of a read makes track 0 the next again",
         1,
         {cmd(kHello, 1), cmd(kMediumRead, 1), cmd(kBegin, 1), cmd(readTrack(1), 1),
          cmd(kBegin, 1), cmd(readTrack(5), 1), cmd(kReadLast, 1), cmd(kEnd), kPurge},
         1,
         {"\"reason\":\"end\",\"kind\":\"read\",\"tracks\":[0,0,5],"},
         ""},
        {"a read after the read-last command needs a begin",
         1,
         {cmd(kHello, 1), cmd(kBegin, 1), cmd(kReadLast, 1), cmd(readTrack(2), 1), cmd(kEnd),
          kPurge},
         1,
         {"\"reason\":\"end\",\"kind\":\"read\",\"tracks\":[0,0],"},
         "read-track command without a begin command"},
        {"reading starts over in each sequence",
         1,
         {cmd(kHello, 1), cmd(kBegin, 1), cmd(readTrack(7), 1), cmd(kEnd), cmd(kHello, 1),
          cmd(kReadLast, 1), cmd(kEnd), kPurge},
         1,
         {"\"reason\":\"end\",\"kind\":\"read\",\"tracks\":[0],",
          "\"reason\":\"end\",\"kind\":\"read\",\"tracks\":[0],"},
         "read-track command without a begin command"},
        {"a command after the end command without a hello",
         1,
         {cmd(kHello, 1), cmd(kEnd), cmd(kMediumRead, 1), cmd(kEnd), kPurge},
         1,
         {"\"reason\":\"end\",\"kind\":\"none\",", "\"reason\":\"end\",\"kind\":\"read\","},
         "a packet other than a hello after the end command"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimOptions o;
        o.sessions = row.sessionsOption;
        AgentRun run(o);
        ASSERT_TRUE(run.opened);
        TestClient client;
        ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
        play(client, row.steps);
        run.finish(5000);
        EXPECT_EQ(run.outcome, sim::Agent::Outcome::Sessions);
        EXPECT_EQ(run.sessions, row.sessionsOption);
        EXPECT_EQ(run.countLines("\"event\":\"session-start\""), row.sessions);
        const std::vector<std::string> ends = sequenceEnds(run);
        ASSERT_EQ(ends.size(), row.ends.size());
        for (size_t i = 0; i < ends.size(); ++i) {
            EXPECT_EQ(ends[i].compare(0, row.ends[i].size(), row.ends[i]), 0)
                << ends[i] << "\nexpected " << row.ends[i];
        }
        if (row.violation.empty()) {
            EXPECT_EQ(run.violations(), "");
        } else {
            EXPECT_NE(run.violations().find(row.violation), std::string::npos)
                << run.violations();
        }
    }
}

// The read of track 2 cut by each fault that can stop an agent at a chosen
// place: hello (1), medium (2), begin (3), tracks 0 and 1 (4, 5); packet 6 is
// the read-track command that would deliver track 2.
TEST(SimAgent, ReadCutAtAChosenTrack)
{
    struct Row {
        const char* name;
        void (*set)(sim::SimOptions*);
        int ack;                  // of packet 6
        sim::Agent::Outcome outcome;
        std::string event;
    };
    const Row rows[] = {
        {"--hangup-at-track 2", [](sim::SimOptions* o) { o->hangupAtTrack = {2}; }, -1,
         sim::Agent::Outcome::HungUp, "{\"event\":\"hangup\",\"packets\":6,\"track\":2}"},
        {"--hangup-after 5", [](sim::SimOptions* o) { o->hangupAfter = 5; }, -1,
         sim::Agent::Outcome::HungUp, "{\"event\":\"hangup\",\"packets\":6}"},
        {"--silent-at-track 2", [](sim::SimOptions* o) { o->silentAtTrack = {9, 2}; }, 1,
         sim::Agent::Outcome::Stopped, "{\"event\":\"silent\",\"packets\":6,\"track\":2}"},
        {"--silent-after 5", [](sim::SimOptions* o) { o->silentAfter = 5; }, -1,
         sim::Agent::Outcome::Stopped, "{\"event\":\"silent\",\"packets\":6}"},
        {"--mute-after 5", [](sim::SimOptions* o) { o->muteAfter = 5; }, 1,
         sim::Agent::Outcome::Stopped, "{\"event\":\"mute\",\"packets\":6,\"ack\":true}"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::SimOptions o;
        row.set(&o);
        AgentRun run(o);
        ASSERT_TRUE(run.opened);
        TestClient client;
        ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
        play(client, {cmd(kHello, 1), cmd(kMediumRead, 1), cmd(kBegin, 1), cmd(readTrack(1), 1),
                      cmd(readTrack(2), 1), cmd(readTrack(3), kNoReply, row.ack),
                      cmd(kEnd, 0, -1)});
        run.finish();
        EXPECT_EQ(run.outcome, row.outcome);
        EXPECT_EQ(run.countLines(row.event), 1) << row.event;
        const std::vector<std::string> ends = sequenceEnds(run);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_NE(ends[0].find("\"kind\":\"read\",\"tracks\":[0,1],"), std::string::npos)
            << ends[0];
    }
}

// The medium faults log an event each time they act.
TEST(SimAgent, MediumFaultsAreLogged)
{
    sim::SimOptions o;
    o.mediumFaults = {{sim::MediumFault::Kind::FlakyWrite, 0, 0, 1},
                      {sim::MediumFault::Kind::BadSector, 0, 1, 1},
                      {sim::MediumFault::Kind::WeakSector, 1, 2, 1}};
    AgentRun run(o);
    ASSERT_TRUE(run.opened);
    TestClient client;
    ASSERT_TRUE(client.open(run.port.slavePath(), 19200));
    play(client, concat({{cmd(kHello, 1), cmd(kMediumWrite, 1)},
                         writeTrackZero(),
                         {cmd(kEnd), cmd(kHello, 1), cmd(kMediumRead, 1), cmd(kBegin, 1),
                          cmd(readTrack(1), 1), cmd(kBegin, 1), cmd(readTrack(1), 1),
                          cmd(kReadLast, 1), cmd(kEnd), kPurge}}));
    run.finish(5000);
    // Track 0 is read twice, track 1 once.
    const struct {
        const char* event;
        int count;
    } expected[] = {
        {"{\"event\":\"flaky-write\",\"track\":0,\"sector\":1,\"write\":1}", 1},
        {"{\"event\":\"bad-sector\",\"track\":0,\"sector\":1}", 2},
        {"{\"event\":\"weak-sector\",\"track\":1,\"sector\":2,\"read\":1}", 1},
    };
    for (const auto& e : expected)
        EXPECT_EQ(run.countLines(e.event), e.count) << e.event;
    EXPECT_EQ(run.violations(), "");
}

TEST(SimOptionsParse, ValuesAndErrors)
{
    const char* good[] = {"ferry88sim", "--version", "2.10", "--roms", "0x0B", "--no-hd",
                          "--fixed-rate", "--drive1", "a.d88;;3", "--blank2", "2HD",
                          "--refuse=2", "--idle", "1.5", "--replies", "rle"};
    sim::SimOptions o;
    std::string error;
    ASSERT_TRUE(sim::parseSimOptions(int(sizeof good / sizeof good[0]), good, &o, &error)) << error;
    EXPECT_EQ(o.agentMajor, 2);
    EXPECT_EQ(o.agentMinor, 10);
    EXPECT_EQ(o.romBitmap, 0x0B);
    EXPECT_FALSE(o.hasHdDrive);
    EXPECT_FALSE(o.variableRate);
    EXPECT_EQ(o.image[0], "a.d88");
    EXPECT_EQ(o.imageIndex[0], 3);
    EXPECT_EQ(o.blank[1], 3);
    EXPECT_EQ(o.refuse, 2);
    EXPECT_EQ(o.idleMs, 1500);
    EXPECT_EQ(o.replies, sim::ReplyMode::RunLength);

    const std::vector<std::vector<const char*>> bad = {
        {"ferry88sim", "--version", "2.6"},   {"ferry88sim", "--roms", "x"},
        {"ferry88sim", "--blank1", "3.5"},    {"ferry88sim", "--refuse"},
        {"ferry88sim", "--whatever"},         {"ferry88sim", "--sample", "--blank1", "2D"},
        {"ferry88sim", "--noise=1"},          {"ferry88sim", "--whatever=1"},
        {"ferry88sim", "--log="},
    };
    for (const auto& args : bad) {
        sim::SimOptions x;
        EXPECT_FALSE(sim::parseSimOptions(int(args.size()), args.data(), &x, &error))
            << args[1];
    }
}

// --help and -h ask for the usage text; --version asks for the program's
// version unless a value follows it, which is the agent's version.
TEST(SimOptionsParse, HelpAndVersion)
{
    struct Row {
        std::vector<const char*> args;
        bool help, showVersion;
        int agentMinor;
    } rows[] = {
        {{"--help"}, true, false, 6},
        {{"-h"}, true, false, 6},
        {{"--sample", "--help", "--blank1", "2D"}, true, false, 6},
        {{"--version"}, false, true, 6},
        {{"--version", "--sample"}, false, true, 6},
        {{"--version", "2.07"}, false, false, 7},
        {{"--version=2.08"}, false, false, 8},
    };
    for (const Row& row : rows) {
        std::vector<const char*> args = {"ferry88sim"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        sim::SimOptions o;
        std::string error;
        ASSERT_TRUE(sim::parseSimOptions(int(args.size()), args.data(), &o, &error))
            << row.args[0] << ": " << error;
        EXPECT_EQ(o.help, row.help) << row.args[0];
        EXPECT_EQ(o.showVersion, row.showVersion) << row.args[0];
        EXPECT_EQ(o.agentMinor, row.agentMinor) << row.args[0];
    }
    const std::vector<const char*> bad = {"ferry88sim", "--version", "two"};
    sim::SimOptions o;
    std::string error;
    EXPECT_FALSE(sim::parseSimOptions(int(bad.size()), bad.data(), &o, &error));
}

// The fault options: each good value as it lands in the options (repeated
// options add up), each bad one refused.
TEST(SimOptionsParse, FaultOptions)
{
    using Kind = sim::MediumFault::Kind;
    auto faultText = [](const sim::SimOptions& o) {
        std::string text;
        for (const sim::MediumFault& f : o.mediumFaults) {
            const char* kind = f.kind == Kind::FlakyWrite  ? "flaky"
                               : f.kind == Kind::BadSector ? "bad"
                                                           : "weak";
            text += std::string(text.empty() ? "" : " ") + kind + " " + std::to_string(f.track);
            if (f.kind != Kind::FlakyWrite)
                text += ":" + std::to_string(f.sector);
            if (f.kind != Kind::BadSector)
                text += "x" + std::to_string(f.count);
        }
        return text;
    };
    struct Good {
        std::vector<const char*> args;
        std::string faults;      // faultText of the result
        std::vector<int> hangupAt, silentAt;
        int muteAfter;
    };
    const Good good[] = {
        {{"--flaky-write", "5"}, "flaky 5x1", {}, {}, -1},
        {{"--flaky-write=163:3"}, "flaky 163x3", {}, {}, -1},
        {{"--bad-sector", "0:1", "--bad-sector", "4:0xF3"}, "bad 0:1 bad 4:243", {}, {}, -1},
        {{"--weak-sector", "7:2"}, "weak 7:2x1", {}, {}, -1},
        {{"--weak-sector", "7:2:4", "--flaky-write", "7:2"}, "weak 7:2x4 flaky 7x2", {}, {}, -1},
        {{"--hangup-at-track", "0", "--hangup-at-track", "163"}, "", {0, 163}, {}, -1},
        {{"--silent-at-track", "12"}, "", {}, {12}, -1},
        {{"--mute-after", "0"}, "", {}, {}, 0},
        {{"--mute-after=40"}, "", {}, {}, 40},
    };
    for (const Good& row : good) {
        std::vector<const char*> args = {"ferry88sim"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        sim::SimOptions o;
        std::string error;
        ASSERT_TRUE(sim::parseSimOptions(int(args.size()), args.data(), &o, &error))
            << row.args[0] << ": " << error;
        EXPECT_EQ(faultText(o), row.faults) << row.args[0];
        EXPECT_EQ(o.hangupAtTrack, row.hangupAt) << row.args[0];
        EXPECT_EQ(o.silentAtTrack, row.silentAt) << row.args[0];
        EXPECT_EQ(o.muteAfter, row.muteAfter) << row.args[0];
    }

    const std::vector<std::vector<const char*>> bad = {
        {"--flaky-write", "164"},      {"--flaky-write", "5:0"},     {"--flaky-write", "5:1:1"},
        {"--flaky-write", "-1"},       {"--flaky-write", "5:"},      {"--flaky-write"},
        {"--bad-sector", "5"},         {"--bad-sector", "5:256"},    {"--bad-sector", "5:1:2"},
        {"--bad-sector", ":1"},        {"--weak-sector", "5"},       {"--weak-sector", "5:1:0"},
        {"--weak-sector", "5:1:2:3"},  {"--weak-sector", "x:1"},     {"--hangup-at-track", "164"},
        {"--hangup-at-track", "2:3"},  {"--silent-at-track", "-1"},  {"--mute-after", "-1"},
        {"--mute-after", "x"},         {"--hangup-at-track="},
    };
    for (const auto& row : bad) {
        std::vector<const char*> args = {"ferry88sim"};
        args.insert(args.end(), row.begin(), row.end());
        sim::SimOptions o;
        std::string error;
        EXPECT_FALSE(sim::parseSimOptions(int(args.size()), args.data(), &o, &error))
            << row[0] << " " << (row.size() > 1 ? row[1] : "");
    }
}

} // namespace

namespace {

// Line garbage of every kind must never take the decoder out of its buffers,
// and a good packet after it must still come through.
TEST(SimPacket, DecoderSurvivesGarbage)
{
    uint32_t state = 12345;
    sim::PacketDecoder decoder;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        uint8_t c = uint8_t(state >> 16);
        // Mostly body characters, so that long bodies get decoded too.
        if ((state >> 28) < 12)
            c = uint8_t(0x40 + (c & 0x7F));
        decoder.feed(c);
    }
    decoder.abandon();
    const Bytes payload{0x07, 0x40, 0x01};
    Bytes good = sim::encodePacket('!', 9, payload.data(), payload.size());
    sim::PacketDecoder::Result last = sim::PacketDecoder::Result::None;
    for (uint8_t c : good)
        last = decoder.feed(c);
    ASSERT_EQ(last, sim::PacketDecoder::Result::Packet);
    EXPECT_TRUE(decoder.packet().crcOk());
    EXPECT_BYTES(payload, decoder.packet().payload);
}

} // namespace
