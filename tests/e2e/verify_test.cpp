// w --verify against ferry88sim: the floppy is read back in the same
// connection and compared; a track the sim wrote wrong once is written again
// and read back alone; a sector that never reads back is named.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>

#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace {

using e2e::runFerry2;
using sim::D88Builder;
using sim::D88Record;

const std::string kDone = "終了しました。\n";

// 2D: MFM tracks, an FM track (4) and a track of mixed sizes (6).
std::vector<uint8_t> image2d()
{
    D88Builder b(0x00);
    for (int t = 0; t < 10; ++t)
        b.addRegularTrack(t, 16, 1);
    b.addRegularTrack(4, 16, 0, true);
    b.setTrack(6, {e2e::testRecord(6, 1, 3), e2e::testRecord(6, 2, 1), e2e::testRecord(6, 3, 1),
                   e2e::testRecord(6, 4, 1), e2e::testRecord(6, 5, 1)});
    return b.build();
}

std::vector<uint8_t> image2hd()
{
    D88Builder b(0x20);
    for (int t = 0; t < 10; ++t)
        b.addRegularTrack(t, 26, 1);
    b.addRegularTrack(10, 8, 3);
    return b.build();
}

// What each command sequence of the run did, split at its hellos: the tracks
// written and the tracks the agent delivered.
struct Sequence {
    std::vector<int> written, read;
};

std::vector<Sequence> sequences(const e2e::Sim& sim)
{
    std::vector<Sequence> result;
    for (const auto& line : sim.logLines()) {
        if (e2e::jsonField(line, "lead") == "!" && e2e::jsonField(line, "payload") == "01") {
            result.emplace_back();
            continue;
        }
        if (result.empty())
            continue;
        const std::string event = e2e::jsonField(line, "event");
        if (event == "write-track")
            result.back().written.push_back(std::stoi(e2e::jsonField(line, "track")));
        else if (event == "track")
            result.back().read.push_back(std::stoi(e2e::jsonField(line, "track")));
    }
    return result;
}

std::vector<int> range(int n)
{
    std::vector<int> tracks;
    for (int t = 0; t < n; ++t)
        tracks.push_back(t);
    return tracks;
}

struct Medium {
    const char* name;
    std::vector<uint8_t> image;
    const char* blank;
    int tracks;
};

TEST(Verify, HealthyFlakyAndBad)
{
    const Medium media[] = {{"2D", image2d(), "2D", 84}, {"2HD", image2hd(), "2HD", 164}};
    for (const Medium& m : media) {
        SCOPED_TRACE(m.name);
        e2e::TempDir dir;
        e2e::writeFile(dir.file("img.d88"), m.image);
        {
            SCOPED_TRACE("healthy");
            e2e::Sim sim({"--blank1", m.blank}, dir.path());
            auto r = runFerry2({"w", "--verify", sim.portArg(), "img.d88"}, dir.path(), "\n");
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_NE(r.out.find(", 照合しました (" + std::to_string(m.tracks) + " トラック)\n" +
                                 kDone),
                      std::string::npos)
                << r.out;
            std::vector<std::string> kinds;
            for (const auto& line : sim.logLines())
                if (e2e::jsonField(line, "event") == "sequence-end")
                    kinds.push_back(e2e::jsonField(line, "kind"));
            EXPECT_EQ(kinds, (std::vector<std::string>{"write", "read"}));
            const auto seq = sequences(sim);
            ASSERT_EQ(seq.size(), 2u);
            EXPECT_EQ(seq[0].written, range(m.tracks));
            EXPECT_TRUE(seq[0].read.empty());
            EXPECT_TRUE(seq[1].written.empty());
            EXPECT_EQ(seq[1].read, range(m.tracks));
        }
        {
            SCOPED_TRACE("flaky write of track 5");
            e2e::Sim sim({"--blank1", m.blank, "--flaky-write", "5"}, dir.path());
            auto r = runFerry2({"w", "--verify", sim.portArg(), "img.d88"}, dir.path(), "\n");
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_NE(r.out.find("書き直し 1 トラック"), std::string::npos) << r.out;
            const auto seq = sequences(sim);
            ASSERT_EQ(seq.size(), 4u);
            EXPECT_EQ(seq[2].written, std::vector<int>{5});
            // Begin always delivers track 0 first.
            EXPECT_EQ(seq[3].read, (std::vector<int>{0, 5}));
        }
        {
            SCOPED_TRACE("bad sector 7:3");
            e2e::Sim sim({"--blank1", m.blank, "--bad-sector", "7:3"}, dir.path());
            auto r = runFerry2({"w", "--verify", sim.portArg(), "img.d88"}, dir.path(), "\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out.find(kDone), std::string::npos);
            EXPECT_NE(r.err.find("トラック 7: R3"), std::string::npos) << r.err;
            const auto seq = sequences(sim);
            ASSERT_EQ(seq.size(), 4u);
            EXPECT_EQ(seq[2].written, std::vector<int>{7});
        }
    }
}

// What w promises is compared, no more: error sectors of the source are not
// written back as errors, deleted ones keep their mark.
TEST(Verify, ErrorAndDeletedSectorsFollowTheRule)
{
    e2e::TempDir dir;
    D88Builder b(0x00);
    b.addRegularTrack(0, 16, 1);
    std::vector<D88Record> odd;
    for (int r = 1; r <= 8; ++r)
        odd.push_back(e2e::testRecord(1, r, 1));
    odd[1].status = 0xB0;
    odd[2].status = 0xA0;
    odd[2].data.clear();
    odd[3].status = 0xF0;
    odd[3].data.clear();
    odd[4].deleted = 0x10;
    odd[5].deleted = 0x10;
    odd[5].status = 0xB0;
    odd[6].status = 0x10;   // another tool's "deleted, read fine"
    odd[6].deleted = 0x10;
    b.setTrack(1, odd);
    // A track without any usable sector cannot be read back: it is said, not failed.
    std::vector<D88Record> none{e2e::testRecord(2, 1, 1)};
    none[0].status = 0xB0;
    b.setTrack(2, none);
    e2e::writeFile(dir.file("img.d88"), b.build());
    e2e::Sim sim({"--blank1", "2D"}, dir.path());
    auto r = runFerry2({"w", "--verify", sim.portArg(), "img.d88"}, dir.path(), "\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("照合しました (83 トラック, 読み返せないトラック 1)"), std::string::npos)
        << r.out;
}


// A verified write that fails after the write: the message names the phase
// (照合 for the read-back, 書き直し for the rewrite), says that every track was
// written, and how far the phase got. Packets the sim receives for w --verify
// of a 2D image whose every track is written wrong once: 1 hello, 2 medium,
// 3 + 2t and 4 + 2t write-track t and its data, 171 end; the read-back 172
// hello, 173 medium, 174 begin, 175 + t the command delivering track t, 259
// end; the rewrite 260 hello, 261 medium, 262 and 263 write-track 0 and its data.
// Each of the 84 tracks holds one 128-byte sector, and each phase has all of
// them to do: a Ctrl-C lands well inside the phase it is sent in.
std::vector<uint8_t> smallImage()
{
    D88Builder b(0x00);
    for (int t = 0; t < 84; ++t)
        b.setTrack(t, {e2e::testRecord(t, 1, 0)});
    return b.build();
}
struct PhaseRow {
    const char* label;
    std::vector<std::string> sim;
    int sequence;       // SIGINT once the sim's sequence (0 write, 1 read-back,
    int track;          // 2 rewrite; -1 no signal) has dealt with this track
                        // (-1: as soon as the sequence starts)
    std::string err;    // expected in standard error
};

void runPhaseRows(const std::vector<PhaseRow>& rows)
{
    for (const PhaseRow& row : rows) {
        SCOPED_TRACE(row.label);
        e2e::TempDir dir;
        e2e::writeFile(dir.file("img.d88"), smallImage());
        std::vector<std::string> simArgs{"--blank1", "2D"};
        for (int t = 0; t < 84; ++t)
            simArgs.insert(simArgs.end(), {"--flaky-write", std::to_string(t)});
        simArgs.insert(simArgs.end(), row.sim.begin(), row.sim.end());
        e2e::Sim sim(simArgs, dir.path());
        ASSERT_TRUE(sim.started());
        bool sent = false;
        e2e::RunHooks hooks;
        hooks.whileRunning = [&](pid_t pid) {
            if (sent || row.sequence < 0)
                return;
            const auto seq = sequences(sim);
            if (seq.size() <= size_t(row.sequence))
                return;
            const Sequence& s = seq[size_t(row.sequence)];
            const std::vector<int>& tracks = row.sequence == 1 ? s.read : s.written;
            if (row.track < 0 || std::find(tracks.begin(), tracks.end(), row.track) != tracks.end()) {
                kill(pid, SIGINT);
                sent = true;
            }
        };
        auto r = runFerry2({"w", "--verify", sim.portArg(), "img.d88"}, dir.path(), "\n", 120000,
                           hooks);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out.find(kDone), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(row.sequence >= 0, sent);
    }
}

TEST(VerifyPhases, HangUpAndCtrlC)
{
    runPhaseRows({
        {"read-back hang-up", {"--hangup-at-track", "7"}, -1, -1,
         "トラック 7 の照合: 回線が切断されました. ケーブルと USB 変換器の接続, 88 の電源を確認"
         "してください.\n84 トラックすべて書き込み済みです. トラック 6 まで照合しました.\n"},
        {"rewrite hang-up", {"--hangup-after", "261"}, -1, -1,
         "トラック 0 の書き直し: 回線が切断されました. ケーブルと USB 変換器の接続, 88 の電源を"
         "確認してください.\n84 トラックすべて書き込み済みです.\n"},
        {"read-back Ctrl-C", {"--baud", "19200"}, 1, 0,
         "の照合: 中断しました. 84 トラックすべて書き込み済みです. トラック "},
        {"rewrite Ctrl-C", {"--baud", "19200"}, 2, 0,
         "の書き直し: 中断しました. 84 トラックすべて書き込み済みです. トラック "},
    });
}

// Silence costs the reply's time-outs: 3 x 10 s each.
TEST(VerifyPhases, Silence)
{
    runPhaseRows({
        {"read-back silence", {"--silent-at-track", "7"}, -1, -1,
         "トラック 7 の照合: 応答がありません. 88 側のプログラムが動いているか, ケーブルが"
         "つながっているか確認してください.\n84 トラックすべて書き込み済みです. トラック 6 まで"
         "照合しました.\n"},
        {"rewrite silence", {"--mute-after", "261"}, -1, -1,
         "トラック 0 の書き直し: 応答がありません. 88 側のプログラムが動いているか, ケーブルが"
         "つながっているか確認してください.\n84 トラックすべて書き込み済みです.\n"},
    });
}

} // namespace
