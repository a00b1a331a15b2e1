// The hello exchange, the fast-receive rule and the connected path, against an
// agent played on the master side of a pseudo-terminal with the simulator's
// own packet code.
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/console.h"
#include "core/run_options.h"
#include "core/verbose.h"
#include "link/connected_path.h"
#include "link/disk_client.h"
#include "sim/agent_packet.h"
#include "tests/support/pty_master.h"

using Bytes = std::vector<uint8_t>;

namespace
{

constexpr int kPeerWaitMs = 1500; // bound on every wait of the test's agent

int64_t nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class VerboseScope
{
public:
    explicit VerboseScope(bool on) : saved(verbose) { verbose = on; }
    ~VerboseScope() { verbose = saved; }

private:
    bool saved;
};

// The master side of a pseudo-terminal and an agent that answers hellos on it.
class FakeAgent : public testsupport::PtyMaster
{
public:
    ~FakeAgent() { join(); }

    // Answers up to `hellos` commands: acknowledges with `ack` and, when it is
    // non-zero, sends the record as the reply.
    void serve(Bytes record, int hellos = 1, uint8_t ack = 0x01)
    {
        thread = std::thread([this, record, hellos, ack] {
            for (int i = 0; i < hellos; ++i) {
                sim::ReceivedPacket p;
                if (!nextPacket(p))
                    return;
                commands.push_back(p);
                send(sim::encodePacket('%', p.sequence, &ack, 1));
                if (ack)
                    send(sim::encodePacket('%', p.sequence, record.data(), record.size()));
            }
        });
    }
    void join()
    {
        if (thread.joinable())
            thread.join();
    }

    std::vector<sim::ReceivedPacket> commands;

private:
    bool nextPacket(sim::ReceivedPacket& out)
    {
        const int64_t deadline = nowMs() + kPeerWaitMs;
        uint8_t c;
        for (;;) {
            const ssize_t n = ::read(master, &c, 1);
            if (n == 1) {
                if (decoder.feed(c) == sim::PacketDecoder::Result::Packet) {
                    out = decoder.packet();
                    return true;
                }
                continue;
            }
            const int64_t left = deadline - nowMs();
            if (left <= 0)
                return false;
            // While the link has the slave closed (between two connects) the
            // master reports a hang-up rather than waiting: poll again shortly.
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0 && !(p.revents & POLLIN))
                poll(nullptr, 0, 2);
        }
    }
    void send(const Bytes& bytes)
    {
        const int64_t deadline = nowMs() + kPeerWaitMs;
        size_t done = 0;
        while (done < bytes.size() && nowMs() < deadline) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                poll(nullptr, 0, 1);
        }
    }

    sim::PacketDecoder decoder;
    std::thread thread;
};

Bytes record(uint8_t major, uint8_t minor, uint8_t hd, uint8_t roms, uint8_t variable)
{
    return {major, minor, hd, roms, variable};
}

// ---------------------------------------------------------------------------
// DiskClient::connect

struct ConnectRow {
    const char* name;
    Bytes record;
    int speed;
    bool allowFast;
    int rc;
    bool fast;
};

const ConnectRow kConnectRows[] = {
    {"2.06, variable rate, 19200", record(2, 6, 1, 0, 1), 19200, true, 0, true},
    {"2.255 accepted", record(2, 255, 1, 0, 1), 19200, true, 0, true},
    {"-s turns fast replies off", record(2, 6, 1, 0, 1), 19200, false, 0, false},
    {"fixed-rate agent", record(2, 6, 1, 0, 0), 19200, true, 0, false},
    {"9600 never doubles", record(2, 6, 1, 0, 1), 9600, true, 0, false},
    // The rule reads the record as it came, whatever the version check said.
    {"2.05 refused", record(2, 5, 1, 0, 1), 19200, true, -3, true},
    {"major 1 refused", record(1, 10, 1, 0, 0), 19200, true, -3, false},
    {"major 3 refused", record(3, 6, 1, 0, 1), 9600, true, -3, false},
    {"short record", Bytes{2, 6, 1, 0}, 19200, true, -4, false},
};

TEST(DiskClientConnect, HelloVersionAndFastRule)
{
    for (const ConnectRow& row : kConnectRows) {
        SCOPED_TRACE(row.name);
        FakeAgent agent;
        ASSERT_TRUE(agent.ok());
        agent.serve(row.record);
        DiskClient client;
        testing::internal::CaptureStderr();
        const int rc = client.connect(0, row.speed, row.allowFast, agent.slave.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        agent.join();

        EXPECT_EQ(rc, row.rc);
        EXPECT_EQ(client.fastReceive, row.fast);
        EXPECT_EQ(client.isConnected(), rc == 0);
        EXPECT_EQ(client.isOpen(), rc == 0);
        EXPECT_EQ(err, rc == -3 ? console::toConsole("88 側のバージョンが一致しません.\n") : "");
        ASSERT_EQ(agent.commands.size(), 1u);
        EXPECT_EQ(agent.commands[0].lead, '!');
        EXPECT_EQ(agent.commands[0].payload, Bytes{0x01});
        if (rc == 0) {
            EXPECT_EQ(client.readTimeoutConstant(), 10000);
            EXPECT_EQ(client.currentSpeed(), static_cast<unsigned>(row.speed));
            EXPECT_EQ(client.capabilities().agentMinor, row.record[1]);
        } else {
            EXPECT_EQ(client.disconnect(), 0); // nothing left to close
            EXPECT_FALSE(client.isOpen());
        }
    }
}

TEST(DiskClientConnect, RefusedHello)
{
    FakeAgent agent;
    ASSERT_TRUE(agent.ok());
    agent.serve({}, 3, 0x00);
    DiskClient client;
    EXPECT_EQ(client.connect(0, 19200, true, agent.slave.c_str()), -4);
    agent.join();
    ASSERT_EQ(agent.commands.size(), 3u);
    EXPECT_EQ(agent.commands[2].sequence, agent.commands[0].sequence + 2);
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.isOpen());
    EXPECT_FALSE(client.fastReceive);
}

TEST(DiskClientConnect, PortNotAvailable)
{
    DiskClient client;
    EXPECT_EQ(client.connect(0, 19200, true, "/nonexistent/ferry2-tty"), -1);
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.isOpen());
    EXPECT_FALSE(client.fastReceive);
}

// The port is opened exclusively, so a second connect works only when the
// first port was closed.
TEST(DiskClientConnect, ReconnectClosesTheOldPort)
{
    FakeAgent agent;
    ASSERT_TRUE(agent.ok());
    agent.serve(record(2, 6, 0, 0, 1), 2);
    DiskClient client;
    ASSERT_EQ(client.connect(0, 19200, true, agent.slave.c_str()), 0);
    EXPECT_EQ(client.connect(0, 9600, true, agent.slave.c_str()), 0);
    agent.join();
    EXPECT_TRUE(client.isConnected());
    EXPECT_FALSE(client.fastReceive);
    EXPECT_EQ(client.currentSpeed(), 9600u);
}

struct VerboseRow {
    Bytes record;
    const char* text;
};

TEST(DiskClientConnect, VerboseCapabilityLines)
{
    const VerboseRow rows[] = {
        {record(2, 6, 1, 0x0B, 1), "ferry88: version is 2.06\n"
                                   "pc88 has 2HD drive(s).\n"
                                   "rom bitmap is 0b (漢字1:1, 漢字2:1, 辞書:0, CD:1)\n"
                                   "pc88 has valiable-rate serial port.\n"},
        {record(2, 17, 0, 0xF4, 0), "ferry88: version is 2.17\n"
                                    "pc88 has 2D drive(s).\n"
                                    "rom bitmap is f4 (漢字1:0, 漢字2:0, 辞書:1, CD:0)\n"
                                    "pc88 has fixed-rate serial port.\n"},
    };
    for (const VerboseRow& row : rows) {
        VerboseScope scope(true);
        FakeAgent agent;
        ASSERT_TRUE(agent.ok());
        agent.serve(row.record);
        DiskClient client;
        testing::internal::CaptureStdout();
        const int rc = client.connect(0, 19200, true, agent.slave.c_str());
        const std::string out = testing::internal::GetCapturedStdout();
        agent.join();
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out, console::toConsole(row.text));
    }
}

TEST(DiskClientConnect, NoCapabilityLinesOnMismatch)
{
    VerboseScope scope(true);
    FakeAgent agent;
    ASSERT_TRUE(agent.ok());
    agent.serve(record(2, 5, 1, 0x0F, 1));
    DiskClient client;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(client.connect(0, 19200, true, agent.slave.c_str()), -3);
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    agent.join();
    EXPECT_EQ(out.find("version is"), std::string::npos) << out;
}

// ---------------------------------------------------------------------------
// The connected path

struct UsageExit {
};

void throwingUsageExit()
{
    throw UsageExit{};
}

// Succeeds when it was handed a connected client and the options it was given.
Outcome flowChecksItsArguments(DiskClient& client, const RunOptions& options)
{
    if (client.isConnected() && options.drive == 1)
        return Outcome::done();
    return Outcome::failed(Step::MediumQuery, Cause::NoKey);
}

RunOptions optionsFor(const std::string& path, int drive)
{
    RunOptions options;
    options.devicePath = path;
    options.drive = drive;
    return options;
}

TEST(RunConnected, ConnectionFailure)
{
    for (bool mode : {false, true}) {
        VerboseScope scope(mode);
        testing::internal::CaptureStdout();
        const Outcome outcome = runConnected(optionsFor("/nonexistent/ferry2-tty", 1),
                                             flowChecksItsArguments, throwingUsageExit);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(outcome.completed);
        EXPECT_EQ(outcome.step, Step::Port);
        EXPECT_EQ(outcome.cause, Cause::PortUnusable);
        EXPECT_EQ(outcome.file, "/nonexistent/ferry2-tty");
        std::string expected = console::toConsole("通信デバイスの初期化に失敗しました(-1).\n");
        if (mode)
            expected += "connect: port not available\n";
        EXPECT_EQ(out, expected);
    }
}

TEST(RunConnected, FlowOutcome)
{
    for (int drive : {1, 2}) {
        FakeAgent agent;
        ASSERT_TRUE(agent.ok());
        agent.serve(record(2, 6, 1, 0, 1));
        testing::internal::CaptureStdout();
        const Outcome outcome =
            runConnected(optionsFor(agent.slave, drive), flowChecksItsArguments, throwingUsageExit);
        const std::string out = testing::internal::GetCapturedStdout();
        agent.join();
        // The flow's outcome comes back as it was; the closing lines are not printed here.
        EXPECT_EQ(outcome.completed, drive == 1);
        EXPECT_EQ(out, "");
    }
}

TEST(RunConnected, UnknownLetterTakesTheUsageExitAfterConnecting)
{
    FakeAgent agent;
    ASSERT_TRUE(agent.ok());
    agent.serve(record(2, 6, 1, 0, 1));
    EXPECT_THROW(runConnected(optionsFor(agent.slave, 1), nullptr, throwingUsageExit), UsageExit);
    agent.join();
    EXPECT_EQ(agent.commands.size(), 1u); // the hello went out first
}

} // namespace
