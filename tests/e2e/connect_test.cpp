// Connecting to ferry88sim: the hello, the version check, capability lines,
// link failures and the double-speed rule, as seen in the output and the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using e2e::runFerry2;

const std::string kMismatch = "88 側のバージョンが一致しません.\n";

std::string failure(int code)
{
    return "通信デバイスの初期化に失敗しました(" + std::to_string(code) + ").\n";
}

TEST(Connect, VerbosePrintsTheCapabilitiesThenUsageForAnUnknownLetter)
{
    e2e::TempDir dir;
    e2e::Sim sim({"--roms", "0x0B"}, dir.path());
    ASSERT_TRUE(sim.started());
    auto r = runFerry2({"x", "-v", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ferry88: version is 2.06\n"
                         "pc88 has 2HD drive(s).\n"
                         "rom bitmap is 0b (漢字1:1, 漢字2:1, 辞書:0, CD:1)\n"
                         "pc88 has valiable-rate serial port.\n"
                         "usage:\n"),
              std::string::npos)
        << r.out;
}

TEST(Connect, CapabilityLinesFollowTheRecord)
{
    e2e::TempDir dir;
    e2e::Sim sim({"--no-hd", "--fixed-rate", "--version", "2.255"}, dir.path());
    auto r = runFerry2({"x", "-v", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ferry88: version is 2.255\n"
                         "pc88 has 2D drive(s).\n"
                         "rom bitmap is 00 (漢字1:0, 漢字2:0, 辞書:0, CD:0)\n"
                         "pc88 has fixed-rate serial port.\n"),
              std::string::npos)
        << r.out;
}

TEST(Connect, VersionMismatch)
{
    for (const char* version : {"2.05", "1.06", "3.06"}) {
        e2e::TempDir dir;
        e2e::Sim sim({"--version", version}, dir.path());
        auto r = runFerry2({"x", "-v", sim.portArg()}, dir.path());
        EXPECT_EQ(r.status, 1) << version;
        EXPECT_EQ(r.err.rfind(kMismatch, 0), 0u) << version << r.err;
        EXPECT_NE(r.out.find(failure(-3)), std::string::npos) << version << r.out;
        EXPECT_EQ(r.out.find("ferry88: version"), std::string::npos) << version;
    }
}

TEST(Connect, HelloRefusedThreeTimes)
{
    e2e::TempDir dir;
    e2e::Sim sim({"--refuse", "1", "--refuse-count", "3"}, dir.path());
    auto r = runFerry2({"x", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(failure(-4)), std::string::npos) << r.out;
    auto lines = sim.logLines();
    std::vector<int> sequences;
    for (const auto& line : lines) {
        if (e2e::jsonField(line, "lead") == "!")
            sequences.push_back(std::stoi(e2e::jsonField(line, "seq")));
    }
    ASSERT_EQ(sequences.size(), 3u);
    EXPECT_EQ(sequences[1], static_cast<uint16_t>(sequences[0] + 1));
    EXPECT_EQ(sequences[2], static_cast<uint16_t>(sequences[0] + 2));
}

// An agent that never answers costs the hello's 3 x 3 s: the link's time-out
// code on stdout, and on stderr that the agent is not running.
TEST(Connect, SilentAgent)
{
    e2e::TempDir dir;
    e2e::Sim sim({"--silent-after", "0", "--sample"}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "out.d88"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(failure(-2)), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("88 が応答しません. ferry2 b でプログラムを転送し"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("終了しました。\n"), std::string::npos) << r.out;
}

TEST(Connect, BrokenRepliesGiveTheirLinkCodes)
{
    struct Row {
        std::vector<std::string> args;
        int code;
    } rows[] = {
        // Reply 1 acknowledges the hello, reply 2 carries the capability record.
        {{"--bad-seq", "2"}, -4},
        {{"--bad-crc", "2"}, -5},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        e2e::Sim sim(row.args, dir.path());
        auto r = runFerry2({"x", "-v", sim.portArg()}, dir.path());
        EXPECT_EQ(r.status, 1) << row.args[0];
        EXPECT_NE(r.out.find(failure(row.code)), std::string::npos) << row.args[0] << r.out;
    }
}

TEST(Connect, NoiseBetweenPacketsIsSkipped)
{
    e2e::TempDir dir;
    e2e::Sim sim({"--noise"}, dir.path());
    auto r = runFerry2({"s", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("終了しました。\n"), std::string::npos) << r.out;
    EXPECT_EQ(e2e::readFile(dir.file("n88.rom")).size(), 32768u);
}

// The fast flag of every ROM request tells whether replies come at double speed.
TEST(Connect, FastReceiveRule)
{
    struct Row {
        std::vector<std::string> ferryArgs;
        std::vector<std::string> simArgs;
        char fast;
    } rows[] = {
        {{}, {}, '1'},
        {{"-9"}, {}, '0'},
        {{}, {"--fixed-rate"}, '0'},
        {{"-s"}, {}, '0'},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        e2e::Sim sim(row.simArgs, dir.path());
        std::vector<std::string> args{"s", sim.portArg()};
        args.insert(args.end(), row.ferryArgs.begin(), row.ferryArgs.end());
        auto r = runFerry2(args, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        auto lines = sim.logLines();
        int requests = 0;
        for (const auto& line : lines) {
            std::string payload = e2e::jsonField(line, "payload");
            if (e2e::jsonField(line, "lead") != "!" || payload.rfind("07", 0) != 0)
                continue;
            ++requests;
            ASSERT_EQ(payload.size(), 6u) << line;
            EXPECT_EQ(payload[5], row.fast) << line;
        }
        EXPECT_EQ(requests, 26);
        for (const auto& line : lines)
            EXPECT_EQ(line.find("violation"), std::string::npos) << line;
    }
}

} // namespace
