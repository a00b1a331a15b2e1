// Every run says truthfully whether the data made it: faults at each step of
// r, w and s end with status 1, no "終了しました。" and one message that names the
// step; images already in the file stay as they were; a Ctrl-C leaves the
// agent its end command; the port messages say what to do.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "tests/e2e/d88_view.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace {

using e2e::runFerry2;
using sim::D88Builder;

const std::string kDone = "終了しました。\n";

uint32_t le32At(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A complete image that every r row finds in its file first.
std::vector<uint8_t> earlierImage()
{
    D88Builder b(0x00);
    b.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1);
    return b.build();
}

// The image w writes: ten regular 2D tracks.
std::vector<uint8_t> tenTracks()
{
    D88Builder b(0x00);
    for (int t = 0; t < 10; ++t)
        b.addRegularTrack(t, 16, 1);
    return b.build();
}

std::vector<std::string> commandsOf(const e2e::Sim& sim)
{
    return e2e::logPayloads(sim.logLines(), '!');
}

enum class Image { None, Untouched, InProgress };

struct FaultRow {
    const char* label;
    char command;                    // r, w or s
    std::vector<std::string> sim;    // fault options
    std::string step;                // expected in standard error
    std::string cause;               // expected in standard error ("" to skip)
    std::string lastCommand;         // the last command the sim saw (hex prefix; "" hung up)
    Image image;                     // r: what follows the earlier image
    long fileSizeLimit = -1;
};

// Packets the sim receives for r of its 84-track sample: 1 hello, 2 medium,
// 3 begin, 4 + t the read command that delivers track t, 88 end. Packets it
// sends: 1-2 hello, 3-4 medium, 5-6 begin, 7 + 2t and 8 + 2t track t's
// acknowledgement and reply. For w of ten tracks: commands 1 hello, 2 medium,
// 3 + t write-track t; packets received 3 + 2t the command, 4 + 2t its data;
// packets sent 5 + 2t and 6 + 2t. For s: packet 1 + k the k-th bank request
// (bank 0x48, n80.rom's first, is the 9th), sent 2k + 1 and 2k + 2.
const FaultRow kRows[] = {
    // Connection.
    {"hello refused", 'r', {"--refuse", "1", "--refuse-count", "3"}, "88 との接続",
     "コマンドが拒否されました", "01", Image::Untouched},
    {"hello hang-up", 'r', {"--hangup-after", "0"}, "88 との接続", "回線が切断されました", "",
     Image::Untouched},
    {"hello reply bad CRC", 'r', {"--bad-crc", "2"}, "88 との接続", "データが壊れています",
     "01", Image::Untouched},
    {"hello reply bad sequence", 'r', {"--bad-seq", "2"}, "88 との接続",
     "応答の順序が食い違っています", "01", Image::Untouched},
    // Medium query.
    {"medium refused", 'r', {"--refuse", "2", "--refuse-count", "3"}, "ディスクの確認",
     "コマンドが拒否されました", "02", Image::Untouched},
    {"medium hang-up", 'r', {"--hangup-after", "1"}, "ディスクの確認", "回線が切断されました", "",
     Image::Untouched},
    {"medium acks bad CRC", 'r', {"--bad-crc", "3", "--bad-crc-count", "3"}, "ディスクの確認",
     "データが壊れています", "02", Image::Untouched},
    {"medium reply bad sequence", 'r', {"--bad-seq", "4"}, "ディスクの確認",
     "応答の順序が食い違っています", "02", Image::Untouched},
    {"medium 255", 'r', {"--unknown-medium"}, "ディスクの確認", "-m でメディアを指定して",
     "02", Image::Untouched},
    {"medium other", 'r', {"--disk-error", "7"}, "ディスクの確認",
     "ディスクとドライブを確認してください (応答 7)", "02", Image::Untouched},
    {"medium 254, no key", 'r', {"--no-disk-until", "100"}, "ディスクの確認",
     "ドライブにディスクを入れてから実行してください", "02", Image::Untouched},
    // Begin.
    {"begin refused", 'r', {"--refuse", "3", "--refuse-count", "3"}, "読み込みの開始",
     "コマンドが拒否されました", "03", Image::InProgress},
    {"begin hang-up", 'r', {"--hangup-after", "2"}, "読み込みの開始", "回線が切断されました", "",
     Image::InProgress},
    {"begin reply bad CRC", 'r', {"--bad-crc", "6"}, "読み込みの開始", "データが壊れています",
     "03", Image::InProgress},
    // A middle track.
    {"track 5 refused", 'r', {"--refuse", "9", "--refuse-count", "3"}, "トラック 5 の読み込み",
     "コマンドが拒否されました", "0506", Image::InProgress},
    {"track 5 hang-up", 'r', {"--hangup-after", "8"}, "トラック 5 の読み込み",
     "回線が切断されました", "", Image::InProgress},
    {"track 5 acks bad CRC", 'r', {"--bad-crc", "17", "--bad-crc-count", "3"},
     "トラック 5 の読み込み", "データが壊れています", "0506", Image::InProgress},
    {"track 5 reply bad CRC", 'r', {"--bad-crc", "18"}, "トラック 5 の読み込み",
     "データが壊れています", "0506", Image::InProgress},
    {"track 5 reply bad sequence", 'r', {"--bad-seq", "18"}, "トラック 5 の読み込み",
     "応答の順序が食い違っています", "0506", Image::InProgress},
    {"track 3 image write", 'r', {}, "ディスクイメージ out.d88 に書き込めません", "File too large",
     "0504", Image::InProgress, 0},   // limit set below: earlier image + header + 3 tracks
    // The last track.
    {"track 83 refused", 'r', {"--refuse", "87", "--refuse-count", "3"}, "トラック 83 の読み込み",
     "コマンドが拒否されました", "04", Image::InProgress},
    {"track 83 hang-up", 'r', {"--hangup-after", "86"}, "トラック 83 の読み込み",
     "回線が切断されました", "", Image::InProgress},
    {"track 83 reply bad CRC", 'r', {"--bad-crc", "174"}, "トラック 83 の読み込み",
     "データが壊れています", "04", Image::InProgress},
    // A ROM bank.
    {"bank 48 refused", 's', {"--refuse", "10", "--refuse-count", "3"}, "ROM バンク 48 (n80.rom)",
     "コマンドが拒否されました", "0748", Image::None},
    {"bank 48 hang-up", 's', {"--hangup-after", "9"}, "ROM バンク 48 (n80.rom)",
     "回線が切断されました", "", Image::None},
    {"bank 48 reply bad CRC", 's', {"--bad-crc", "20"}, "ROM バンク 48 (n80.rom)",
     "データが壊れています", "0748", Image::None},
    {"bank 48 reply bad sequence", 's', {"--bad-seq", "20"}, "ROM バンク 48 (n80.rom)",
     "応答の順序が食い違っています", "0748", Image::None},
    {"ROM file write", 's', {}, "ROM ファイル n88.rom に書き込めません", "File too large", "0742",
     Image::None, 10000},
    // A write track.
    {"write track 5 refused", 'w', {"--refuse", "8", "--refuse-count", "3"},
     "トラック 5 の書き込み", "コマンドが拒否されました", "0905", Image::None},
    {"write track 5 hang-up", 'w', {"--hangup-after", "12"}, "トラック 5 の書き込み",
     "回線が切断されました", "", Image::None},
    {"write track 5 reply bad CRC", 'w', {"--bad-crc", "16"}, "トラック 5 の書き込み",
     "データが壊れています", "0905", Image::None},
    {"write track 5 reply bad sequence", 'w', {"--bad-seq", "16"}, "トラック 5 の書き込み",
     "応答の順序が食い違っています", "0905", Image::None},
    {"write-protected", 'w', {"--write-protect"}, "ディスクの確認",
     "プロテクトを外してから実行してください", "02", Image::None},
    {"write medium 255", 'w', {"--unknown-medium"}, "ディスクの確認",
     "ディスクとドライブを確認してください (応答 255)", "02", Image::None},
    {"write medium 254, no key", 'w', {"--no-disk-until", "100"}, "ディスクの確認",
     "ドライブにディスクを入れてから実行してください", "02", Image::None},
};

TEST(Outcome, FaultMatrix)
{
    const std::vector<uint8_t> earlier = earlierImage();
    for (const FaultRow& row : kRows) {
        SCOPED_TRACE(row.label);
        e2e::TempDir dir;
        std::vector<std::string> simArgs = row.sim;
        std::vector<std::string> args{std::string(1, row.command)};
        e2e::RunHooks hooks;
        hooks.fileSizeLimit = row.fileSizeLimit;
        if (row.command == 'r') {
            simArgs.push_back("--sample");
            e2e::writeFile(dir.file("out.d88"), earlier);
            if (row.fileSizeLimit == 0)   // three tracks of 16 x 256 and not a fourth
                hooks.fileSizeLimit = long(earlier.size() + 688 + 3 * 16 * 272 + 100);
        } else if (row.command == 'w') {
            e2e::writeFile(dir.file("img.d88"), tenTracks());
            simArgs.insert(simArgs.end(), {"--blank1", "2D"});
        }
        e2e::Sim sim(simArgs, dir.path());
        if (!sim.started()) {
            ADD_FAILURE() << "the sim did not start";
            continue;
        }
        args.push_back(sim.portArg());
        if (row.command == 'r')
            args.push_back("out.d88");
        if (row.command == 'w')
            args.push_back("img.d88");
        auto r = runFerry2(args, dir.path(), row.command == 'w' ? "\n" : "", 60000, hooks);

        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out.find(kDone), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(row.step), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(row.cause), std::string::npos) << r.err;

        // Nothing after the failing command but its own retries.
        const auto commands = commandsOf(sim);
        if (!row.lastCommand.empty()) {
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(commands.back().rfind(row.lastCommand, 0), 0u) << commands.back();
        }
        if (row.command != 'r')
            continue;
        const auto bytes = e2e::readFile(dir.file("out.d88"));
        ASSERT_GE(bytes.size(), earlier.size());
        EXPECT_TRUE(std::equal(earlier.begin(), earlier.end(), bytes.begin()));
        if (row.image == Image::Untouched) {
            EXPECT_EQ(bytes.size(), earlier.size());
        } else {
            ASSERT_GE(bytes.size(), earlier.size() + 688);
            EXPECT_EQ(le32At(bytes, earlier.size() + 28), 0xDEADD13Cu);
        }
    }
}

// An agent that falls silent in the middle of a read costs a reply's 3 x 10 s
// (one that never answers is Connect.SilentAgent).
TEST(Outcome, AgentMutedMidRead)
{
    const struct {
        std::vector<std::string> sim;
        std::string err;
    } rows[] = {
        {{"--mute-after", "8"}, "トラック 5 の読み込み: 応答がありません"},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        std::vector<std::string> simArgs = row.sim;
        simArgs.push_back("--sample");
        e2e::Sim sim(simArgs, dir.path());
        auto r = runFerry2({"r", sim.portArg(), "out.d88"}, dir.path(), "", 90000);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find(kDone), std::string::npos);
    }
}

// The summary tells at a glance how many sectors came with errors.
TEST(Outcome, SummaryCountsTheSectors)
{
    e2e::TempDir dir;
    D88Builder b(0x00);
    b.addRegularTrack(0, 16, 1);
    std::vector<sim::D88Record> bad;
    for (int r = 1; r <= 6; ++r)
        bad.push_back(e2e::testRecord(2, r, 1));
    bad[1].status = 0xB0;
    bad[2].status = 0xA0;
    bad[3].status = 0xF0;
    bad[4].deleted = 0x10;
    bad[5].deleted = 0x10;
    bad[5].status = 0xB0;
    b.setTrack(2, bad);
    e2e::writeFile(dir.file("src.d88"), b.build());
    e2e::writeFile(dir.file("out.d88"), earlierImage());
    e2e::Sim sim({"--drive1", dir.file("src.d88")}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "out.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = e2e::readFile(dir.file("out.d88"));
    const size_t size = bytes.size() - earlierImage().size();
    EXPECT_NE(r.out.find("結果: 84 トラック (未フォーマット 82), 22 セクタ (ID CRC エラー 1, "
                         "データ CRC エラー 2, アドレスマークなし 1, 削除マーク 2), " +
                         std::to_string(size) + " バイト -> out.d88;2\n" + kDone),
              std::string::npos)
        << r.out;
}

TEST(Outcome, WriteSummaryCountsTracksAndWireBytes)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("img.d88"), tenTracks());
    e2e::Sim sim({"--blank1", "2D"}, dir.path());
    auto r = runFerry2({"w", sim.portArg(), "img.d88"}, dir.path(), "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // The bytes on the line, from what the sim received: every packet is its
    // lead character and its body (sequence, length, payload as sent, CRC:
    // payload + 6 bytes) in characters of seven bits each.
    uint64_t wire = 0;
    for (const auto& line : sim.logLines()) {
        const std::string lead = e2e::jsonField(line, "lead");
        if (lead.empty())
            continue;
        const uint64_t body = e2e::jsonField(line, "payload").size() / 2 + 6;
        wire += 1 + (body * 8 + 6) / 7;
    }
    EXPECT_NE(r.out.find("結果: 84 トラック書き込み, 送信 " + std::to_string(wire) + " バイト\n"),
              std::string::npos)
        << r.out;
}

// Ctrl-C: the track in flight finishes, the agent gets its end command, the
// image keeps its marker, and the next plain r replaces it.
TEST(Outcome, InterruptSendsTheEndCommand)
{
    for (char command : {'r', 'w'}) {
        SCOPED_TRACE(std::string(1, command));
        e2e::TempDir dir;
        e2e::writeFile(dir.file("img.d88"), tenTracks());
        e2e::writeFile(dir.file("out.d88"), earlierImage());
        // Paced, so that the run is still at its first tracks when the signal comes.
        std::vector<std::string> simArgs{"--baud", "19200"};
        if (command == 'r')
            simArgs.insert(simArgs.end(), {"--drive1", dir.file("img.d88")});
        else
            simArgs.insert(simArgs.end(), {"--blank1", "2D"});
        e2e::Sim sim(simArgs, dir.path());
        bool sent = false;
        e2e::RunHooks hooks;
        hooks.whileRunning = [&](pid_t pid) {
            if (sent)
                return;
            for (const auto& line : sim.logLines()) {
                const std::string event = e2e::jsonField(line, "event");
                if ((event == "track" || event == "write-track") &&
                    e2e::jsonField(line, "track") == "2") {
                    kill(pid, SIGINT);
                    sent = true;
                    return;
                }
            }
        };
        std::vector<std::string> args{std::string(1, command), sim.portArg(),
                                      command == 'r' ? "out.d88" : "img.d88"};
        auto r = runFerry2(args, dir.path(), "\n", 60000, hooks);
        ASSERT_TRUE(sent);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("中断しました."), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find(kDone), std::string::npos);
        const auto commands = commandsOf(sim);
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), "00") << "the end command comes last";
        if (command != 'r')
            continue;
        const auto earlier = earlierImage();
        auto bytes = e2e::readFile(dir.file("out.d88"));
        ASSERT_GT(bytes.size(), earlier.size() + 688);
        EXPECT_EQ(le32At(bytes, earlier.size() + 28), 0xDEADD13Cu);

        e2e::Sim again({"--drive1", dir.file("img.d88")}, dir.path());
        auto next = runFerry2({"r", again.portArg(), "out.d88"}, dir.path());
        ASSERT_EQ(next.status, 0) << next.err;
        std::vector<e2e::ImageView> images;
        std::string error;
        ASSERT_TRUE(e2e::parseImages(e2e::readFile(dir.file("out.d88")), &images, &error)) << error;
        EXPECT_EQ(images.size(), 2u);
    }
}

TEST(Outcome, PortMessagesSayWhatToDo)
{
    e2e::TempDir dir;
    auto missing = runFerry2({"r", "-p/dev/ttyUSB97", "x.d88"}, dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("通信デバイスの初期化に失敗しました(-1).\n"), std::string::npos);
    EXPECT_NE(missing.err.find("通信ポート /dev/ttyUSB97 がありません (No such file or directory)."),
              std::string::npos)
        << missing.err;
    EXPECT_TRUE(missing.err.find("使える通信ポート: ") != std::string::npos ||
                missing.err.find("通信ポートが見つかりません") != std::string::npos)
        << missing.err;

    // A port that another program holds (its lock, as a second ferry2 takes it).
    e2e::Pty pty;
    const int held = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    for (const char* command : {"s", "b"}) {
        auto busy = runFerry2({command, "-p" + pty.slavePath()}, dir.path());
        EXPECT_EQ(busy.status, 1);
        EXPECT_NE(busy.err.find("は他のプログラムが使用中です"), std::string::npos) << busy.err;
    }
    close(held);
    EXPECT_TRUE(pty.received().empty());
}

TEST(Outcome, HelpAndVersionTouchNoPort)
{
    e2e::TempDir dir;
    e2e::Pty pty;
    for (const char* first : {"--help", "-h", "help"}) {
        auto r = runFerry2({first, "-p" + pty.slavePath()}, dir.path());
        EXPECT_EQ(r.status, 0) << first;
        EXPECT_NE(r.out.find("usage:\n"), std::string::npos) << first;
        EXPECT_EQ(r.out.find("で接続します"), std::string::npos) << first;
    }
    auto v = runFerry2({"--version"}, dir.path());
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "Ferrybox 2.06\n");
    usleep(100000);
    EXPECT_TRUE(pty.received().empty()) << "no byte reached the port";
}

// D88 titles are CP932: -t typed in a UTF-8 locale is stored as CP932, and w
// prints it back correctly.
TEST(Outcome, TitlesTravelAsCp932)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), tenTracks());
    const std::string title = "ﾃﾞﾐｰ漢字ﾎｱ";
    {
        e2e::Sim sim({"--drive1", dir.file("src.d88")}, dir.path());
        auto r = runFerry2({"r", sim.portArg(), "-t", title, "out.d88"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const auto bytes = e2e::readFile(dir.file("out.d88"));
    const std::vector<uint8_t> cp932{0xC3, 0xDE, 0xD0, 0xB0, 0x8A, 0xBF, 0x8E, 0x9A, 0xCE, 0xB1};
    ASSERT_GE(bytes.size(), 17u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10), cp932);
    EXPECT_EQ(bytes[10], 0);

    e2e::Sim sim({"--blank1", "2D"}, dir.path());
    auto w = runFerry2({"w", sim.portArg(), "out.d88"}, dir.path(), "\n");
    EXPECT_NE(w.out.find("[" + title + "] (2D) を書き戻します.\n"), std::string::npos) << w.out;
}

// Where ferry2 did not convert the argument (a C locale and bytes that are not
// UTF-8), -t keeps its first 16 bytes as they came, a last byte that looks
// like the lead byte of a double-byte character included.
TEST(Outcome, UnconvertedTitleKeepsItsFirst16Bytes)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), tenTracks());
    e2e::Sim sim({"--drive1", dir.file("src.d88")}, dir.path());
    e2e::RunHooks hooks;
    hooks.locale = "C";
    auto r = runFerry2({"r", sim.portArg(), "-t", "ABCDEFGHIJKLMNO\x82\x40", "out.d88"},
                       dir.path(), "", 60000, hooks);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = e2e::readFile(dir.file("out.d88"));
    ASSERT_GE(bytes.size(), 17u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 17), std::string("ABCDEFGHIJKLMNO\x82\0", 17));
}

} // namespace
