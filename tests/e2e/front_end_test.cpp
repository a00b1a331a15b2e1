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
    // The whole text, byte for byte: the lines that have always been there,
    // then the new commands and options after them, then the examples and the
    // language rule.
    const std::string kUsage =
        "usage:\n"
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
        "\n"
        "  ferry2 i <disk.d88(;#)> [<disk2.d88(;#)>] [--svg <out.svg>]\n"
        "          ディスクイメージの内容を表示する (2 つ指定すると比較する)\n"
        "  ferry2 r ... [--resume] [--retries N] <disk.d88>\n"
        "  ferry2 w ... [--verify] <disk.d88(;#)>\n"
        "  ferry2 c [--from F] [--to F] [--lossy] [--geometry C,H,S,N] <in(;#)> <out>\n"
        "          ディスクイメージの形式を変換する (F: d88 hfe imd raw)\n"
        "\n"
        "long option:\n"
        "    --verify     書き込んだディスクを読み返して照合する\n"
        "    --resume     中断した読み込みを続きから再開する\n"
        "    --retries N  エラーのあったトラックを N 回まで読み直す (0-9)\n"
        "    --svg FILE   ディスクイメージの図を SVG で書き出す\n"
        "    --help       この説明を表示する\n"
        "    --version    バージョンを表示する\n"
        "    --from F     入力の形式を拡張子によらず指定する\n"
        "    --to F       出力の形式を拡張子によらず指定する\n"
        "    --lossy      出力の形式に入らないトラックを除いて変換する\n"
        "    --geometry C,H,S,N  ベタイメージのシリンダ, ヘッド, セクタ数, N を指定する\n"
        "    --image N    ファイルの N 番目のイメージを使う (w, i, c)\n"
        "    -p/dev/ttyUSB0  デバイスのパスで通信ポートを指定 (-p に空白なしで続ける)\n"
        "\n"
        "example:\n"
        "  ferry2 w -p1 -d1 'disk.d88;2'\n"
        "  ferry2 w -p1 -d1 --image 2 disk.d88\n"
        "          ; はシェルでコマンドの区切りになるため, file;N は ' ' で囲む\n"
        "\n"
        "language:\n"
        "    LANGUAGE, LC_ALL, LC_MESSAGES, LANG のうち最初に設定されているものが ja で\n"
        "    始まるか C, POSIX なら日本語, それ以外なら英語で表示する\n"
        "    (Windows でどれも設定されていなければ, 表示言語に従う)\n";
    EXPECT_EQ(r.out.substr(usage), kUsage);
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

// A letter that is no command still connects (x -v checks a connection), and
// the usage exit then says that the letter is not a command.
TEST(FrontEnd, UnknownLetterSaysItIsNoCommand)
{
    e2e::TempDir dir;
    e2e::Sim sim({}, dir.path());
    auto r = runFerry2({"x", sim.portArg()}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "x はコマンドではありません. コマンドは b, s, r, w, i のどれかです.\n");
    EXPECT_NE(r.out.find("usage:\n"), std::string::npos) << r.out;
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

// Nothing to send is not a loader sent, and it is found before the user is
// asked to prepare the PC-8801: status 1, the file named on standard error, no
// prompt, nothing on the line.
TEST(Upload, MissingOrEmptyLoaderFailsBeforeThePrompt)
{
    for (bool create : {false, true}) {
        SCOPED_TRACE(create ? "empty" : "missing");
        e2e::TempDir dir;
        if (create)
            e2e::writeFile(dir.file("ferry2.bas"), {});
        e2e::Pty pty;
        auto r = runFerry2({"b", "-p" + pty.slavePath()}, dir.path(), "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(create ? "ferry2.bas が空です" : "ferry2.bas を読めません"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("BASIC のローダー"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("よろしいですか"), std::string::npos) << r.out;
        EXPECT_TRUE(pty.received().empty());
    }
}

// r into a folder that does not exist names the folder as missing, not as a
// permission problem.
TEST(FrontEnd, MissingFolderIsNamed)
{
    e2e::TempDir dir;
    e2e::Sim sim({}, dir.path());
    auto r = runFerry2({"r", sim.portArg(), "nodir/out.d88"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ディスクイメージ nodir/out.d88 を作れません: フォルダ nodir がありません."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("権限"), std::string::npos) << r.err;
}

// A usage exit names the argument and what is wrong with it, in one line on
// standard error, before the usage text on standard output.
TEST(FrontEnd, UsageErrorsSayWhatIsWrong)
{
    const struct {
        std::vector<std::string> args;
        const char* err;
    } rows[] = {
        {{"r", "--retries", "12", "a.d88"},
         "--retries 12: 読み直す回数は 0 から 9 で指定してください.\n"},
        {{"r", "--bogus", "a.d88"}, "--bogus: そのようなオプションはありません.\n"},
        {{"--bogus"}, "--bogus: 最初の引数にはコマンド (b, s, r, w, i) を指定してください.\n"},
        {{"w", "-d3", "a.d88"}, "-d3: ドライブ番号は 1 か 2 です.\n"},
        {{"r", "-m3", "a.d88"}, "-m3: メディアは 0 (2D), 1 (2DD), 2 (2HD) のどれかです.\n"},
        {{"s", "-q"}, "-q: そのようなオプションはありません.\n"},
        {{"s", "-19q"}, "-19q (q): そのようなオプションはありません.\n"},
        {{"r", "a.d88", "-t"}, "-t: タイトルがありません (-t \"title\").\n"},
        {{"i", "a.d88", "b.d88", "--svg", "x.svg"},
         "--svg: 図は 1 つのイメージについてだけ書き出せます (比較とは一緒に使えません).\n"},
        {{"s", "-p", "/dev/ttyUSB0"},
         "-p /dev/ttyUSB0: デバイスのパスは -p に空白を入れずに続けてください (-p/dev/ttyUSB0).\n"},
        {{"w", "--image", "2", "a.d88;2"},
         "a.d88;2: --image と ;N は一緒に使えません. どちらか一方で指定してください.\n"},
        {{"w", "--image", "0", "a.d88"}, "--image 0: イメージの番号は 1 以上の数で指定してください.\n"},
        {{"r", "--image", "2", "a.d88"}, "--image は w, i と c だけのオプションです.\n"},
        {{"r", "--verify", "a.d88"}, "--verify は w だけのオプションです.\n"},
        {{"w", "--verify=1", "a.d88"}, "--verify=1: このオプションに値は付けられません.\n"},
        {{"r", "a.d88", "--retries"}, "--retries: 値がありません.\n"},
        {{"w"}, "w: ディスクイメージのファイルを指定してください.\n"},
        {{"w", "a.d88", "b.d88"}, "b.d88: ファイルは 1 つだけ指定してください.\n"},
    };
    e2e::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + (row.args.size() > 1 ? row.args[1] : ""));
        auto r = runFerry2(row.args, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, row.err);
        EXPECT_NE(r.out.find("usage:\n"), std::string::npos);
        EXPECT_EQ(r.out.find("bps で接続します"), std::string::npos);
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
