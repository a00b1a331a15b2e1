// The front end as a user meets it: banner, usage exits, the port line, and the
// loader upload over a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using e2e::runFerry2;

const std::string kBanner = "Ferrybox 2.06\n";
const std::string kPrompt = "88 にプログラムを転送します。\n88 で load \"COM:N81X\" というコマンドを"
                            "実行してください。\n\nよろしいですか ?";

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return bytes;
}

TEST(FrontEnd, NoArgumentsShowsBannerAndUsage)
{
    e2e::TempDir dir;
    auto r = runFerry2({}, dir.path());
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.out.rfind(kBanner, 0), 0u) << r.out;
    // Banner, notice line, empty line, then the usage text and nothing else.
    size_t usage = r.out.find("usage:\n");
    ASSERT_NE(usage, std::string::npos);
    // The lines that have always been there, byte for byte; new commands
    // and options come after them.
    const std::string kUsage = "usage:\n"
                               "  ferry2 b [-p#]\n"
                               "          PC-8801 側にプログラムを転送する\n"
                               "  ferry2 s [-p#] [-19s]\n"
                               "          PC-8801 の ROM データを吸い出す\n"
                               "  ferry2 r [-p#] [-d#] [-m#] [-19svw] [-t \"title\"] <disk.d88>\n"
                               "          ディスクからディスクイメージを作成する\n"
                               "  ferry2 w [-p#] [-d#] [-19v] <disk.d88(;#)>\n"
                               "          ディスクイメージをディスクに書き出す\n"
                               "\n"
                               "option:\n"
                               "    -p#   通信ポート番号を指定\n"
                               "    -1/-9 19200/9600 bps で通信\n"
                               "    -d#   読み書きに使用するドライブ番号を指定\n"
                               "    -m#   読み出すディスクのメディアを指定(0:2D 1:2DD 2:2HD)\n"
                               "    -v    詳細出力\n"
                               "    -w    読み込んだイメージにライトプロテクトをかける\n"
                               "    -s    88 -> PC 間で高速転送を行わない (19200 bps 時のみ)\n"
                               "    -t    ディスクイメージのタイトルを指定する\n"
                               "\n";
    EXPECT_EQ(r.out.substr(usage, kUsage.size()), kUsage);
    // Every long option the parser takes is named, and the text ends there.
    for (const char* option : {"--verify", "--resume", "--retries N", "--svg FILE", "--help",
                               "--version"})
        EXPECT_NE(r.out.find(std::string("    ") + option, usage), std::string::npos) << option;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.substr(usage - 2, 2), "\n\n");
    EXPECT_EQ(r.err, "");
}

TEST(FrontEnd, BadOptionsAreUsageExitsBeforeThePortLine)
{
    const std::vector<std::vector<std::string>> rows = {
        {"r", "-m3", "a.d88"}, {"r", "-d0", "a.d88"}, {"r", "a.d88", "-t"}, {"s", "-q"}};
    e2e::TempDir dir;
    for (const auto& args : rows) {
        auto r = runFerry2(args, dir.path());
        EXPECT_EQ(r.status, 1) << args[1];
        EXPECT_NE(r.out.find("usage:\n"), std::string::npos) << args[1];
        EXPECT_EQ(r.out.find("bps で接続します"), std::string::npos) << args[1];
    }
}

TEST(FrontEnd, UnknownLetterPrintsThePortLineAndFailsToConnect)
{
    e2e::TempDir dir;
    auto r = runFerry2({"x", "-p0"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("通信ポート 0, 19200 bps で接続します.\n\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("通信デバイスの初期化に失敗しました(-1).\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("usage:"), std::string::npos);
}

TEST(FrontEnd, DevicePathShowsInThePortLine)
{
    e2e::TempDir dir;
    auto r = runFerry2({"x", "-9", "-p/nonexistent/tty"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("通信ポート /nonexistent/tty, 9600 bps で接続します.\n\n"),
              std::string::npos)
        << r.out;
}

TEST(Upload, PortZeroFailsBeforeThePrompt)
{
    e2e::TempDir dir;
    auto r = runFerry2({"b", "-p0"}, dir.path(), "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("通信デバイスの初期化に失敗しました.\n"), std::string::npos);
    EXPECT_EQ(r.out.find("よろしいですか"), std::string::npos);
}

// Nothing to send is not a loader sent: status 1 and a message on standard
// error, standard output as it was.
TEST(Upload, MissingOrEmptyLoaderFails)
{
    for (bool create : {false, true}) {
        e2e::TempDir dir;
        if (create)
            e2e::writeFile(dir.file("ferry2.bas"), {});
        e2e::Pty pty;
        auto r = runFerry2({"b", "-p" + pty.slavePath()}, dir.path(), "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("ferry2.bas"), std::string::npos) << r.err;
        size_t prompt = r.out.find(kPrompt);
        ASSERT_NE(prompt, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(prompt + kPrompt.size()), "\n") << "create=" << create;
        EXPECT_TRUE(pty.received().empty());
    }
}

// Without standard input the key wait sees end of input and goes on.
TEST(Upload, SendsTheFileByteForByte)
{
    struct Row {
        size_t size;
        std::string progress;
    } rows[] = {
        {512, "転送中 (0%).\r"},
        {513, "転送中 (0%).\r転送中 (99%).\r"},
        {1000, "転送中 (0%).\r転送中 (51%).\r"},
        {5000, "転送中 (0%).\r転送中 (10%).\r転送中 (20%).\r転送中 (30%).\r転送中 (40%).\r"
               "転送中 (51%).\r転送中 (61%).\r転送中 (71%).\r転送中 (81%).\r転送中 (92%).\r"},
    };
    for (const auto& row : rows) {
        e2e::TempDir dir;
        auto loader = pattern(row.size);
        e2e::writeFile(dir.file("ferry2.bas"), loader);
        e2e::Pty pty;
        auto r = runFerry2({"b", "-p" + pty.slavePath()}, dir.path());
        EXPECT_EQ(r.status, 0) << row.size;
        EXPECT_NE(r.out.find(kPrompt + "\n" + row.progress + "完了しました.\n"), std::string::npos)
            << row.size << "\n" << r.out;
        ASSERT_TRUE(pty.waitFor(row.size, 5000)) << row.size;
        EXPECT_EQ(pty.received(), loader) << row.size;
    }
}

} // namespace
