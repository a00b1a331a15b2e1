// Disk reading against a scripted agent on a pseudo-terminal: the test answers
// each command with bytes of its own choosing, so broken replies, refusals and
// the image bytes that result can be checked exactly.
#include "link/disk_client.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/bytes.h"
#include "core/run_options.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "sim/agent_packet.h"
#include "sim/pty_port.h"
#include "transfer/commands.h"
#include "tests/support/hex_dump.h"
#include "tests/support/temp_dir.h"
#include "tests/support/temp_file.h"
#include "tests/support/verbose_scope.h"

namespace {

using testsupport::hexDump;

using Bytes = std::vector<uint8_t>;

// Answers every "!" packet with an acceptance and then, when the script gives
// one, a reply payload. Records the command payloads it saw.
class ScriptedAgent {
public:
    using Script = std::function<bool(const Bytes& command, Bytes* reply)>;

    ScriptedAgent(uint8_t hasHdDrive, Script script) : hasHd(hasHdDrive), answer(std::move(script))
    {
        std::string error;
        ok = port.open(&error);
        port.setStopFlag(&stopFlag);
        if (ok)
            worker = std::thread([this] { run(); });
    }
    ~ScriptedAgent()
    {
        stopFlag = 1;
        if (worker.joinable())
            worker.join();
    }

    bool opened() const { return ok; }
    const std::string& path() const { return port.slavePath(); }
    std::vector<Bytes> commands()
    {
        std::lock_guard<std::mutex> hold(lock);
        return seen;
    }

private:
    void send(uint16_t sequence, const Bytes& payload)
    {
        const Bytes wire = sim::encodePacket(sim::kLeadReply, sequence, payload.data(),
                                             payload.size());
        port.write(wire.data(), wire.size(), 2000);
    }

    void run()
    {
        sim::PacketDecoder decoder;
        while (!stopFlag) {
            const int c = port.readByte(20);
            if (c < 0)
                continue;
            if (decoder.feed(static_cast<uint8_t>(c)) != sim::PacketDecoder::Result::Packet)
                continue;
            const sim::ReceivedPacket& p = decoder.packet();
            if (p.lead != sim::kLeadCommand || p.payload.empty())
                continue;
            const Bytes command = p.payload;
            {
                std::lock_guard<std::mutex> hold(lock);
                seen.push_back(command);
            }
            send(p.sequence, {1});
            Bytes reply;
            if (command[0] == 0x01) {
                send(p.sequence, {2, 6, hasHd, 0, 0});   // fixed-rate: no fast replies
            } else if (answer(command, &reply)) {
                send(p.sequence, reply);
            }
        }
    }

    sim::PtyPort port;
    volatile std::sig_atomic_t stopFlag = 0;
    bool ok = false;
    uint8_t hasHd;
    Script answer;
    std::mutex lock;
    std::vector<Bytes> seen;
    std::thread worker;
};

// A track reply of sixteen regular 256-byte sectors: all-zero reports and the
// data bytes filled with the track number and the sector index.
Bytes regularTrack(int t)
{
    Bytes reply(1 + 16 * 12, 0);
    reply[0] = 16;
    for (int s = 0; s < 16; ++s)
        reply.insert(reply.end(), 256, static_cast<uint8_t>(t * 16 + s));
    return reply;
}

// A small 2D disk: tracks 0 and 1 regular, everything else unformatted. The
// reply to a read-track command carries the track named by the command before.
ScriptedAgent::Script smallDisk()
{
    auto nextTrack = std::make_shared<int>(0);
    return [nextTrack](const Bytes& command, Bytes* reply) {
        switch (command[0]) {
        case 0x02: *reply = {0}; return true;
        case 0x03: *reply = {1}; *nextTrack = command[1]; return true;
        case 0x04:
        case 0x05: {
            const int t = *nextTrack;
            *nextTrack = command[0] == 0x05 ? command[1] : 0;
            *reply = t < 2 ? regularTrack(t) : Bytes{0};
            return true;
        }
        default: return false;
        }
    };
}

// The expected image of smallDisk, title and protect byte as the r flow stamps them.
Bytes smallDiskImage(const char* title, uint8_t protect)
{
    Bytes tracks;
    for (int t = 0; t < 2; ++t) {
        const Bytes reply = regularTrack(t);
        for (int s = 0; s < 16; ++s) {
            d88::D88SectorHeader sector;
            sector.h = static_cast<uint8_t>(t);
            sector.r = static_cast<uint8_t>(s + 1);
            sector.n = 1;
            sector.sectorCount = 16;
            sector.dataSize = 256;
            uint8_t record[16];
            sector.encode(record);
            tracks.insert(tracks.end(), record, record + 16);
            tracks.insert(tracks.end(), 256, static_cast<uint8_t>(t * 16 + s));
        }
    }
    d88::D88Header header;
    std::memcpy(header.title, title, 16);
    header.writeProtect = protect;
    header.diskSize = static_cast<uint32_t>(688 + tracks.size());
    header.trackOffsets[0] = 688;
    header.trackOffsets[1] = 688 + 16 * (16 + 256);
    Bytes image(688);
    header.encode(image.data());
    image.insert(image.end(), tracks.begin(), tracks.end());
    return image;
}

RunOptions readOptions(const std::string& file)
{
    RunOptions options;
    options.command = 'r';
    options.fileArg = file;
    options.hasFileArg = true;
    return options;
}

TEST(ReadDisk, SmallDiskGivesExactImageAndCommandSequence)
{
    ScriptedAgent agent(1, smallDisk());
    ASSERT_TRUE(agent.opened());
    DiskClient client;
    ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
    testsupport::TempFile file("image.d88");
    RunOptions options = readOptions(file.path);
    std::memcpy(options.title, "floppy\0\0\0\0\0\0\0\0\0\0", 16);
    options.protect = true;
    options.drive = 2;

    testing::internal::CaptureStdout();
    const Outcome outcome = readCommand(client, options);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.read.formattedTracks, 2);
    EXPECT_EQ(outcome.read.unformattedTracks, 82);
    EXPECT_EQ(outcome.read.sectors, 32);
    EXPECT_EQ(outcome.read.imageIndex, 1);
    EXPECT_NE(out.find("Track   0: 16 sectors.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Track   2: unformatted.\n"), std::string::npos) << out;

    const Bytes expected = smallDiskImage("floppy\0\0\0\0\0\0\0\0\0\0", 0x10);
    const Bytes actual = file.contents();
    const size_t shown = std::min<size_t>(64, actual.size());
    EXPECT_EQ(actual, expected) << "expected header\n"
                                << hexDump(Bytes(expected.begin(), expected.begin() + 64))
                                << "\nactual header\n"
                                << hexDump(Bytes(actual.begin(), actual.begin() + shown));

    const std::vector<Bytes> commands = agent.commands();
    ASSERT_EQ(commands.size(), 1u + 1 + 1 + 84 + 1);
    EXPECT_EQ(commands[1], (Bytes{0x02, 0x01, 0xFF}));
    EXPECT_EQ(commands[2], (Bytes{0x03, 0x00}));
    for (int t = 0; t < 83; ++t)
        EXPECT_EQ(commands[3 + t], (Bytes{0x05, static_cast<uint8_t>(t + 1), 0x00})) << t;
    EXPECT_EQ(commands[86], (Bytes{0x04, 0x00, 0x00}));
    EXPECT_EQ(commands[87], (Bytes{0x00}));
}

TEST(ReadDisk, ErrorSectorsAndVerboseLines)
{
    // Track 0: a good sector, a data CRC error, an ID CRC error and a missing
    // data mark on a deleted sector, as the agent delta-codes them.
    const Bytes track0 = [] {
        Bytes r = {4};
        const Bytes reports[] = {
            {0, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x00},
            {0, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x40, 0x20, 0x20},
            {0, 0x00, 0xFF, 0x00, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0xE0},
            {0, 0x00, 0xFF, 0x00, 0x01, 0, 0, 0, 0, 0x00, 0xE0, 0x41},
        };
        for (const Bytes& report : reports)
            r.insert(r.end(), report.begin(), report.end());
        r.insert(r.end(), 256, 0x11);
        r.insert(r.end(), 256, 0x22);
        return r;
    }();
    auto trackNext = std::make_shared<int>(0);
    ScriptedAgent agent(1, [&track0, trackNext](const Bytes& c, Bytes* reply) {
        if (c[0] == 0x02 || c[0] == 0x03) {
            *reply = {0};
            return true;
        }
        *reply = (*trackNext)++ == 0 ? track0 : Bytes{0};
        return c[0] == 0x04 || c[0] == 0x05;
    });
    ASSERT_TRUE(agent.opened());
    DiskClient client;
    ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
    testsupport::TempFile file("image.d88");

    std::string out;
    {
        testsupport::VerboseScope on(true);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(readCommand(client, readOptions(file.path)).completed);
        out = testing::internal::GetCapturedStdout();
    }

    const char* const lines[] = {
        "disk index: 1\n",
        "media = 0\n",
        "Track   0:  4 sectors.\n"
        "MFM 00 00 01 01  00 0000 0100\n"
        "MFM 00 00 02 01  40 0100 0100 err:DATA CRC\n"
        "MFM 00 00 03 01  40 0200 0000 err:ID CRC\n"
        "MFM 00 00 04 01  40 0200 0000 err:MAM\n"
        "\n"
        "Track   1: unformatted.\n",
    };
    for (const char* line : lines)
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nnot in\n" << out;

    auto record = [](uint8_t r, uint8_t deleted, uint8_t status, uint16_t size) {
        d88::D88SectorHeader sector;
        sector.r = r;
        sector.n = 1;
        sector.sectorCount = 4;
        sector.deleted = deleted;
        sector.status = status;
        sector.dataSize = size;
        Bytes b(16);
        sector.encode(b.data());
        return b;
    };
    Bytes expected = record(1, 0x00, 0x00, 256);
    expected.insert(expected.end(), 256, 0x11);
    const Bytes second = record(2, 0x00, 0xB0, 256);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), 256, 0x22);
    const Bytes third = record(3, 0x00, 0xA0, 0);
    expected.insert(expected.end(), third.begin(), third.end());
    const Bytes fourth = record(4, 0x10, 0xF0, 0);
    expected.insert(expected.end(), fourth.begin(), fourth.end());

    const Bytes image = file.contents();
    ASSERT_EQ(image.size(), 688 + expected.size());
    EXPECT_EQ(readLe32(&image[28]), 688 + expected.size());
    EXPECT_EQ(readLe32(&image[32]), 688u);
    const Bytes tracks(image.begin() + 688, image.end());
    EXPECT_EQ(tracks, expected) << "expected\n" << hexDump(expected) << "\nactual\n" << hexDump(tracks);
}

struct BrokenRow {
    const char* name;
    Bytes reply;
};

TEST(ReadDisk, ReplyWithDataOutsideItStopsTheRead)
{
    Bytes beyond = regularTrack(0);
    beyond.pop_back();   // last sector one byte short
    Bytes offsetPast(1 + 12, 0);
    offsetPast[0] = 1;
    offsetPast[3] = 0x00, offsetPast[4] = 0xC0;   // first offset -0xC000 = 0x4000
    offsetPast.insert(offsetPast.end(), 256, 0xAA);
    Bytes reportsCut(1 + 12 * 3, 0);
    reportsCut[0] = 4;   // four reports announced, three arrived
    const BrokenRow rows[] = {
        {"data one byte short", beyond},
        {"offset past the buffer", offsetPast},
        {"reports cut short", reportsCut},
    };
    for (const BrokenRow& row : rows) {
        const Bytes brokenReply = row.reply;
        ScriptedAgent agent(1, [&brokenReply](const Bytes& c, Bytes* reply) {
            if (c[0] == 0x02 || c[0] == 0x03) {
                *reply = {0};
                return true;
            }
            *reply = brokenReply;
            return c[0] == 0x05 || c[0] == 0x04;
        });
        ASSERT_TRUE(agent.opened());
        DiskClient client;
        ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
        testsupport::TempFile file("image.d88");
        testing::internal::CaptureStdout();
        const Outcome outcome = readCommand(client, readOptions(file.path));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(outcome.step, Step::ReadTrack) << row.name;
        EXPECT_EQ(outcome.where, 0) << row.name;
        EXPECT_EQ(outcome.cause, Cause::BadReply) << row.name;

        // The provisional header stays, stamped with the title (-t not given:
        // sixteen spaces): the image still reads as interrupted.
        const Bytes image = file.contents();
        ASSERT_EQ(image.size(), 688u) << row.name;
        EXPECT_EQ(readLe32(&image[28]), 0xDEADD13Cu) << row.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data()), 17),
                  std::string("                \0", 17))
            << row.name;
        const std::vector<Bytes> commands = agent.commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), (Bytes{0x05, 0x01, 0x00})) << row.name << ": no end command";
    }
}

TEST(ReadDisk, NoHeaderMeansNoStamp)
{
    struct Row {
        const char* name;
        uint8_t hasHd;
        int medium;
        uint8_t answer;
        size_t commands;   // hello included
        Cause cause;
    };
    const Row rows[] = {
        {"2D-only refusal", 0, 1, 0, 1, Cause::Not2D},
        {"medium cannot be told", 1, -1, 255, 2, Cause::UnknownMedium},
        {"disk error", 1, 0, 7, 2, Cause::DiskError},
    };
    for (const Row& row : rows) {
        const uint8_t answer = row.answer;
        ScriptedAgent agent(row.hasHd, [answer](const Bytes& c, Bytes* reply) {
            *reply = {answer};
            return c[0] == 0x02;
        });
        ASSERT_TRUE(agent.opened());
        DiskClient client;
        ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
        testsupport::TempFile file("image.d88");
        RunOptions options = readOptions(file.path);
        options.medium = row.medium;
        testing::internal::CaptureStdout();
        const Outcome outcome = readCommand(client, options);
        testing::internal::GetCapturedStdout();
        EXPECT_FALSE(outcome.completed) << row.name;
        EXPECT_EQ(outcome.step, Step::MediumQuery) << row.name;
        EXPECT_EQ(outcome.cause, row.cause) << row.name;
        EXPECT_TRUE(file.contents().empty()) << row.name;
        EXPECT_EQ(agent.commands().size(), row.commands) << row.name;
    }
}

TEST(ReadDisk, BrokenFileIsLeftAlone)
{
    ScriptedAgent agent(1, smallDisk());
    ASSERT_TRUE(agent.opened());
    DiskClient client;
    ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
    const Bytes broken(700, 0);   // diskSize 0
    testsupport::TempFile file("image.d88", broken);
    const Outcome outcome = readCommand(client, readOptions(file.path));
    EXPECT_EQ(outcome.step, Step::ImageOpen);
    EXPECT_EQ(outcome.cause, Cause::DamagedImage);
    EXPECT_EQ(file.contents(), broken);
    EXPECT_EQ(agent.commands().size(), 1u);   // the hello only
}

TEST(ReadDisk, ReplacingAnInterruptedImageCutsItsTail)
{
    const Bytes fresh = smallDiskImage("                ", 0x00);
    Bytes first = fresh;   // a complete image before the interrupted one
    Bytes interrupted(fresh.size() + 5000, 0x77);
    std::memset(interrupted.data(), 0, 688);
    writeLe32(&interrupted[28], 0xDEADD13C);

    struct Row {
        const char* name;
        Bytes before;
        Bytes after;
    };
    Bytes twoImages = first;
    twoImages.insert(twoImages.end(), fresh.begin(), fresh.end());
    Bytes withInterrupted = first;
    withInterrupted.insert(withInterrupted.end(), interrupted.begin(), interrupted.end());
    const Row rows[] = {
        {"longer interrupted image", withInterrupted, twoImages},
        {"appended at the end", first, twoImages},
    };
    for (const Row& row : rows) {
        ScriptedAgent agent(1, smallDisk());
        ASSERT_TRUE(agent.opened());
        DiskClient client;
        ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
        testsupport::TempFile file("image.d88", row.before);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(readCommand(client, readOptions(file.path)).completed);
        testing::internal::GetCapturedStdout();
        const Bytes actual = file.contents();
        EXPECT_EQ(actual.size(), row.after.size()) << row.name;
        EXPECT_TRUE(actual == row.after) << row.name;
    }
}

TEST(ReadDisk, FailedImageWriteStops)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    ScriptedAgent agent(1, smallDisk());
    ASSERT_TRUE(agent.opened());
    DiskClient client;
    ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);
    ImageFile image;
    ASSERT_TRUE(image.open("/dev/full", ImageFile::OpenAlways));
    testing::internal::CaptureStdout();
    const Outcome outcome = client.readDisk(0, -1, image);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome.step, Step::ImageWrite);
    EXPECT_EQ(outcome.cause, Cause::FileError);
    EXPECT_EQ(outcome.systemError, ENOSPC);
    // Nothing after the medium query: no begin, no end command.
    const std::vector<Bytes> commands = agent.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands.back()[0], 0x02);
}

TEST(DumpRoms, TwoDOnlyDiskRomAndShortBanks)
{
    ScriptedAgent agent(0, [](const Bytes& c, Bytes* reply) {
        if (c[0] != 0x07)
            return false;
        // Bank 0x51 comes short: the rest of it must read as zeros.
        const size_t length = c[1] == 0x51 ? 100 : 4096;
        *reply = Bytes(length, static_cast<uint8_t>(c[1]));
        return true;
    });
    ASSERT_TRUE(agent.opened());
    DiskClient client;
    ASSERT_EQ(client.connect(1, 19200, true, agent.path().c_str()), 0);

    // The dump writes its files into the working folder.
    testsupport::TempDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    testing::internal::CaptureStdout();
    const bool ok = client.dumpRoms().completed;
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(previous), 0);
    const Bytes diskRom = testsupport::readFile(dir.file("disk.rom"));
    const Bytes n88zero = testsupport::readFile(dir.file("n88_0.rom"));
    const Bytes n88 = testsupport::readFile(dir.file("n88.rom"));

    EXPECT_TRUE(ok);
    EXPECT_NE(out.find("(25/26)\r\n\n"), std::string::npos) << out;
    EXPECT_EQ(diskRom, Bytes(2048, 0x58));
    ASSERT_EQ(n88.size(), 32768u);
    EXPECT_EQ(n88[4096 * 7], 0x47);
    Bytes expected(4096, 0x50);
    Bytes shortBank(4096, 0);
    std::fill(shortBank.begin(), shortBank.begin() + 100, 0x51);
    expected.insert(expected.end(), shortBank.begin(), shortBank.end());
    EXPECT_TRUE(n88zero == expected) << "n88_0.rom: " << n88zero.size() << " bytes";

    std::vector<Bytes> banks;
    for (const Bytes& c : agent.commands())
        if (c[0] == 0x07)
            banks.push_back(c);
    ASSERT_EQ(banks.size(), 25u);
    EXPECT_EQ(banks.back(), (Bytes{0x07, 0x58, 0x00}));
    EXPECT_EQ(agent.commands().back(), (Bytes{0x00}));
}

} // namespace
