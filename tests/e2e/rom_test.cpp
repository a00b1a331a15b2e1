// `s` against ferry88sim: which ROM files are written, their sizes and
// contents, the bank requests and their fast flags.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace {

TEST(RomDump, BitmapSelectsTheFiles)
{
    struct Row {
        std::vector<std::string> simArgs;
        std::vector<const char*> files;
        int total;
        bool shortDiskRom;
    } rows[] = {
        {{"--roms", "0"},
         {"n88.rom", "n80.rom", "n88_0.rom", "n88_1.rom", "n88_2.rom", "n88_3.rom", "disk.rom"},
         26, false},
        {{"--roms", "0x0F"},
         {"kanji1.rom", "kanji2.rom", "n88.rom", "n80.rom", "n88_0.rom", "n88_1.rom",
          "n88_2.rom", "n88_3.rom", "disk.rom", "cdbios.rom", "jisyo.rom"},
         234, false},
        {{"--roms", "4"},
         {"n88.rom", "n80.rom", "n88_0.rom", "n88_1.rom", "n88_2.rom", "n88_3.rom", "disk.rom",
          "jisyo.rom"},
         154, false},
        {{"--roms", "0", "--no-hd"},
         {"n88.rom", "n80.rom", "n88_0.rom", "n88_1.rom", "n88_2.rom", "n88_3.rom", "disk.rom"},
         26, true},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        e2e::Sim sim(row.simArgs, dir.path());
        auto r = e2e::runFerry2({"s", sim.portArg()}, dir.path());
        std::string label = row.simArgs[1] + (row.shortDiskRom ? " no-hd" : "");
        ASSERT_EQ(r.status, 0) << label << r.out;
        int last = row.shortDiskRom ? row.total - 1 : row.total;
        std::string progress = "ROM データを受信中 (" + std::to_string(last) + "/" +
                               std::to_string(row.total) + ")\r\n\n終了しました。\n";
        EXPECT_NE(r.out.find(progress), std::string::npos) << label << r.out;

        // Requested banks, in table order, all with the fast flag.
        std::vector<std::string> expectedRequests;
        for (const e2e::RomRow& rom : e2e::kRomTable) {
            bool selected = false;
            for (const char* name : row.files)
                selected |= std::string(name) == rom.name;
            const bool exists = e2e::fileExists(dir.file(rom.name));
            EXPECT_EQ(exists, selected) << label << " " << rom.name;
            if (!selected)
                continue;
            int banks = rom.banks;
            if (row.shortDiskRom && std::string(rom.name) == "disk.rom")
                banks = 1;
            size_t size = std::string(rom.name) == "disk.rom" && row.shortDiskRom
                              ? 2048
                              : static_cast<size_t>(rom.banks) * 4096;
            auto bytes = e2e::readFile(dir.file(rom.name));
            EXPECT_EQ(bytes.size(), size) << label << " " << rom.name;
            EXPECT_TRUE(bytes == e2e::expectedRomContents(rom, size)) << label << " " << rom.name;
            for (int j = 0; j < banks; ++j) {
                char payload[8];
                snprintf(payload, sizeof payload, "07%02x01", rom.firstBank + j);
                expectedRequests.push_back(payload);
            }
        }
        std::vector<std::string> requests;
        for (const auto& p : e2e::logPayloads(sim.logLines(), '!'))
            if (p.rfind("07", 0) == 0)
                requests.push_back(p);
        EXPECT_EQ(requests, expectedRequests) << label;
        for (const auto& line : sim.logLines())
            EXPECT_EQ(line.find("violation"), std::string::npos) << label << ": " << line;
    }
}

TEST(RomDump, ExistingFilesAreReplaced)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("n88.rom"), std::vector<uint8_t>(100000, 0xAA));
    e2e::Sim sim({}, dir.path());
    auto r = e2e::runFerry2({"s", "-9", sim.portArg()}, dir.path());
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(e2e::readFile(dir.file("n88.rom")), e2e::expectedRomContents(e2e::kRomTable[2], 32768));
}

TEST(RomDump, FailedBankReceiveStops)
{
    e2e::TempDir dir;
    // Packets: hello, then n88.rom's first bank request: its reply (the 4th
    // reply sent) comes with a bad CRC.
    e2e::Sim sim({"--bad-crc", "4"}, dir.path());
    auto r = e2e::runFerry2({"s", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nError2: -5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ROM バンク 40 (n88.rom) の受信: データが壊れています"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("\n\n終了しました。"), std::string::npos);
    EXPECT_FALSE(e2e::fileExists(dir.file("n88.rom")));
    EXPECT_FALSE(e2e::fileExists(dir.file("n88.rom.part")));
}

// Ctrl-C in the middle of a ROM: the complete file of an earlier run stays as
// it was, and no temporary file is left beside it.
TEST(RomDump, InterruptKeepsTheEarlierFile)
{
    e2e::TempDir dir;
    const std::vector<uint8_t> earlier(131072, 0xA5);
    e2e::writeFile(dir.file("kanji1.rom"), earlier);
    // Paced, so that kanji1.rom's 32 banks are still coming when the signal does.
    e2e::Sim sim({"--roms", "0x0F", "--baud", "19200"}, dir.path());
    bool sent = false;
    e2e::RunHooks hooks;
    hooks.whileRunning = [&](pid_t pid) {
        if (sent)
            return;
        for (const auto& p : e2e::logPayloads(sim.logLines(), '!'))
            if (p.rfind("0704", 0) == 0) {
                kill(pid, SIGINT);
                sent = true;
                return;
            }
    };
    auto r = e2e::runFerry2({"s", sim.portArg()}, dir.path(), "", 60000, hooks);
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("すぐに止めるには, もう一度 Ctrl-C を押してください."), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kanji1.rom は保存していません."), std::string::npos) << r.err;
    EXPECT_TRUE(e2e::readFile(dir.file("kanji1.rom")) == earlier);
    EXPECT_FALSE(e2e::fileExists(dir.file("kanji1.rom.part")));
}

} // namespace
