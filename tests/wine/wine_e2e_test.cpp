// The Windows build end to end: ferry2.exe under Wine, its COM port a link in
// the Wine prefix to the pseudo-terminal of a native ferry88sim (or of a bare
// Pty for the loader upload). What is checked is what a Windows user gets: the
// output in code page 932, the files written, and on the wire the double-speed
// switch of the Win32 port as the simulator saw it.
//
// Run by scripts/wine-test, which prepares WINEPREFIX and keeps the Wine
// server running; ferry2 runs through the ferry2-wine wrapper (FERRY2_BIN).
#include <gtest/gtest.h>

#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/usage.h"
#include "sim/d88_builder.h"
#include "sim/rom_banks.h"
#include "tests/e2e/d88_view.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace {

using sim::D88Builder;
using sim::D88Record;

const std::string kBanner = "Ferrybox 2.06\n";

// A run of ferry2.exe with its output decoded from code page 932 and the
// "\r\n" of the Windows C runtime's text mode made "\n" again (a lone "\r",
// the end of a progress line, stays).
struct WinRun {
    int status = -1;
    bool timedOut = false;
    std::string out, err;           // UTF-8, "\n" line ends
    std::string rawOut;             // as ferry2.exe wrote it
};

std::string hexOf(const std::string& bytes, size_t limit = 64)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(cell, sizeof cell, "%02x ", static_cast<unsigned char>(bytes[i]));
        text += cell;
    }
    return text;
}

// Code page 932 to UTF-8; a byte that does not decode shows as "\ufffd".
std::string fromCp932(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no CP932 in iconv>";
    std::string result;
    std::vector<char> in(bytes.begin(), bytes.end());
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        result.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            result += "\xEF\xBF\xBD";
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    return result;
}

std::string crlfToLf(const std::string& text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        result += text[i];
    }
    return result;
}

WinRun runWin(const std::vector<std::string>& args, const std::string& cwd,
              const std::string& stdinText = "", int timeoutMs = 90000,
              const std::vector<std::string>& environment = {})
{
    e2e::RunHooks hooks;
    hooks.environment = environment;   // see e2e::RunHooks
    e2e::RunResult raw = e2e::runFerry2(args, cwd, stdinText, timeoutMs, hooks);
    WinRun run;
    run.status = raw.status;
    run.timedOut = raw.timedOut;
    run.rawOut = raw.out;
    run.out = crlfToLf(fromCp932(raw.out));
    run.err = crlfToLf(fromCp932(raw.err));
    return run;
}

std::string describe(const WinRun& r)
{
    return "status " + std::to_string(r.status) + (r.timedOut ? " (timed out)" : "") +
           "\n--- stdout\n" + r.out + "\n--- stderr\n" + r.err;
}

// COMn of the Wine prefix as a link to a pseudo-terminal's slave, for the life
// of the object. Numbers start above 4: Wine itself maps COM1 to /dev/ttyS0
// and may map the next ones. Each use takes a new number, so that no open
// handle or cached name of an earlier test can stand in for this one.
class WineComPort {
public:
    explicit WineComPort(const std::string& slave)
    {
        static int next = 5;
        number = next++;
        const char* prefix = std::getenv("WINEPREFIX");
        if (!prefix || !*prefix)
            return;
        link = std::string(prefix) + "/dosdevices/com" + std::to_string(number);
        unlink(link.c_str());
        if (symlink(slave.c_str(), link.c_str()) != 0)
            link.clear();
    }
    ~WineComPort()
    {
        if (!link.empty())
            unlink(link.c_str());
    }
    bool ready() const { return !link.empty(); }
    std::string arg() const { return "-p" + std::to_string(number); }
    std::string portLine() const
    {
        return "通信ポート " + std::to_string(number) + ", 19200 bps で接続します.\n\n";
    }

private:
    int number = 0;
    std::string link;
};

// A ferry88sim whose port is linked into the prefix. It serves one session
// more than the test needs: a simulator that exits right after acknowledging
// the end command hangs up the pseudo-terminal, and Linux then drops the
// acknowledgement before the (slower, emulated) client has read it.
struct SimOnCom {
    SimOnCom(std::vector<std::string> args, const std::string& dir)
        : sim(args, dir), com(sim.port())
    {
    }
    e2e::Sim sim;
    WineComPort com;
};

// The simulator's log after a run: no broken rule, and (when fastExpected)
// every fast reply was sent only after the client had purged its input and
// its port read 38400, while each command came at the line speed.
void expectCleanLog(const std::vector<std::string>& lines, bool fastExpected,
                    const std::string& label)
{
    int fast = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("violation"), std::string::npos) << label << ": " << line;
        if (line.find("\"fast-wait\"") != std::string::npos) {
            ++fast;
            EXPECT_EQ(e2e::jsonField(line, "purge"), "true") << label << ": " << line;
            EXPECT_EQ(e2e::jsonField(line, "speed"), "38400") << label << ": " << line;
        }
        if (!e2e::jsonField(line, "lead").empty()) {
            EXPECT_EQ(e2e::jsonField(line, "speed"), "19200") << label << ": " << line;
        }
    }
    if (fastExpected) {
        EXPECT_GT(fast, 0) << label << ": no double-speed reply was asked for";
    }
}

void prepare()
{
    static bool checked = false;
    if (!checked) {
        checked = true;
        const char* prefix = std::getenv("WINEPREFIX");
        ASSERT_TRUE(prefix && *prefix) << "WINEPREFIX is not set: run scripts/wine-test";
    }
}

// ---- front end -------------------------------------------------------------------

TEST(WineFrontEnd, NoArgumentsIsTheUsageExit)
{
    prepare();
    e2e::TempDir dir;
    auto r = runWin({}, dir.path());
    EXPECT_EQ(r.status, 1) << describe(r);
    ASSERT_EQ(r.out.rfind(kBanner, 0), 0u) << describe(r);
    size_t usage = r.out.find("usage:\n");
    ASSERT_NE(usage, std::string::npos) << describe(r);
    EXPECT_EQ(r.out.substr(usage), usageText());
    EXPECT_EQ(r.err, "");
    // Text mode: every line end on the wire of the console is "\r\n".
    EXPECT_EQ(r.rawOut.find("\n"), r.rawOut.find("\r\n") + 1) << hexOf(r.rawOut);
    EXPECT_EQ(r.rawOut.find("\r\r"), std::string::npos);
}

TEST(WineFrontEnd, LoaderArrivesByteForByte)
{
    prepare();
    e2e::TempDir dir;
    std::vector<uint8_t> loader(5000);
    for (size_t i = 0; i < loader.size(); ++i)
        loader[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    // Bytes a text-mode or XON/XOFF-filtering path would change.
    loader[0] = 0x0A;
    loader[1] = 0x0D;
    loader[2] = 0x1A;
    loader[3] = 0x11;
    loader[4] = 0x13;
    loader[5] = 0x00;
    e2e::writeFile(dir.file("ferry2.bas"), loader);
    e2e::Pty pty;
    WineComPort com(pty.slavePath());
    ASSERT_TRUE(com.ready());

    // No standard input: the key wait sees end of input and goes on.
    auto r = runWin({"b", com.arg()}, dir.path());
    EXPECT_EQ(r.status, 0) << describe(r);
    const std::string expected =
        com.portLine() +
        "88 にプログラムを転送します。\n"
        "88 で load \"COM:N81X\" というコマンドを実行してください。\n"
        "\nよろしいですか ?\n"
        "転送中 (0%).\r転送中 (10%).\r転送中 (20%).\r転送中 (30%).\r転送中 (40%).\r"
        "転送中 (51%).\r転送中 (61%).\r転送中 (71%).\r転送中 (81%).\r転送中 (92%).\r"
        "完了しました.\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << describe(r);
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(pty.waitFor(loader.size(), 10000)) << pty.received().size() << " bytes";
    EXPECT_TRUE(pty.received() == loader) << pty.received().size() << " bytes";
}

// ---- connection --------------------------------------------------------------------

TEST(WineConnect, VerboseShowsTheFourCapabilityLines)
{
    prepare();
    e2e::TempDir dir;
    SimOnCom s({"--roms", "0x0B", "--sessions", "2"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready());
    auto r = runWin({"x", "-v", s.com.arg()}, dir.path());
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_NE(r.out.find(s.com.portLine() +
                         "ferry88: version is 2.06\n"
                         "pc88 has 2HD drive(s).\n"
                         "rom bitmap is 0b (漢字1:1, 漢字2:1, 辞書:0, CD:1)\n"
                         "pc88 has valiable-rate serial port.\n"
                         "usage:\n"),
              std::string::npos)
        << describe(r);
    EXPECT_EQ(r.out.find("sio::"), std::string::npos) << describe(r);
    EXPECT_EQ(r.err, "");
}

TEST(WineConnect, HelloRefusedThreeTimes)
{
    prepare();
    e2e::TempDir dir;
    SimOnCom s({"--refuse", "1", "--refuse-count", "3", "--sessions", "2"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready());
    auto r = runWin({"s", s.com.arg()}, dir.path());
    EXPECT_EQ(r.status, 1) << describe(r);
    const std::string tail = s.com.portLine() + "通信デバイスの初期化に失敗しました(-4).\n";
    ASSERT_GE(r.out.size(), tail.size()) << describe(r);
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << describe(r);
    EXPECT_EQ(r.err.rfind("88 との接続: コマンドが拒否されました.", 0), 0u) << describe(r);
    std::vector<int> sequences;
    for (const auto& line : s.sim.logLines()) {
        if (e2e::jsonField(line, "lead") == "!") {
            sequences.push_back(std::stoi(e2e::jsonField(line, "seq")));
            EXPECT_EQ(e2e::jsonField(line, "payload"), "01") << line;
        }
    }
    ASSERT_EQ(sequences.size(), 3u);
    EXPECT_EQ(sequences[1], static_cast<uint16_t>(sequences[0] + 1));
    EXPECT_EQ(sequences[2], static_cast<uint16_t>(sequences[0] + 2));
}

// ---- ROM dump ------------------------------------------------------------------------

TEST(WineRomDump, BitmapSelectsTheFiles)
{
    prepare();
    struct Row {
        const char* bitmap;
        int optional;       // how many of the optional ROMs (kanji, CD, dictionary)
        int total;
    } rows[] = {{"0", 0, 26}, {"0x0F", 4, 234}};
    for (const auto& row : rows) {
        e2e::TempDir dir;
        SimOnCom s({"--roms", row.bitmap, "--sessions", "2"}, dir.path());
        ASSERT_TRUE(s.sim.started() && s.com.ready());
        auto r = runWin({"s", s.com.arg()}, dir.path());
        ASSERT_EQ(r.status, 0) << row.bitmap << "\n" << describe(r);
        const std::string last = "ROM データを受信中 (" + std::to_string(row.total) + "/" +
                                 std::to_string(row.total) + ")\r\n\n終了しました。\n";
        EXPECT_NE(r.out.find(last), std::string::npos) << row.bitmap << "\n" << describe(r);
        EXPECT_EQ(r.err, "");

        int files = 0;
        for (const e2e::RomRow& rom : e2e::kRomTable) {
            const std::string name = rom.name;
            const bool optional = name == "kanji1.rom" || name == "kanji2.rom" ||
                                  name == "cdbios.rom" || name == "jisyo.rom";
            const bool expected = !optional || row.optional > 0;
            ASSERT_EQ(e2e::fileExists(dir.file(name)), expected) << row.bitmap << " " << name;
            if (!expected)
                continue;
            ++files;
            auto bytes = e2e::readFile(dir.file(name));
            ASSERT_EQ(bytes.size(), static_cast<size_t>(rom.banks) * sim::kBankSize)
                << row.bitmap << " " << name;
            EXPECT_TRUE(bytes == e2e::expectedRomContents(rom, bytes.size()))
                << row.bitmap << " " << name;
        }
        EXPECT_EQ(files, row.optional > 0 ? 11 : 7);
        expectCleanLog(s.sim.logLines(), true, std::string("roms ") + row.bitmap);
    }
}

// ---- disk reading ----------------------------------------------------------------------

// Reads the floppy the simulator serves from source into out.d88 and compares
// the image with the source's sectors.
void expectReadBack(const std::vector<uint8_t>& source, const std::string& label)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), source);
    SimOnCom s({"--drive1", dir.file("src.d88"), "--sessions", "2"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready()) << label;
    auto r = runWin({"r", s.com.arg(), "-t", "WINE", "out.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << label << "\n" << describe(r);
    EXPECT_NE(r.out.find("Track   0:"), std::string::npos) << label << "\n" << describe(r);
    EXPECT_NE(r.out.find("\n終了しました。\n"), std::string::npos)
        << label << "\n" << describe(r);
    EXPECT_EQ(r.err, "") << label;

    std::vector<e2e::ImageView> sources, reads;
    std::string error;
    ASSERT_TRUE(e2e::parseImages(source, &sources, &error)) << label << ": " << error;
    auto bytes = e2e::readFile(dir.file("out.d88"));
    ASSERT_TRUE(e2e::parseImages(bytes, &reads, &error)) << label << ": " << error;
    ASSERT_EQ(reads.size(), 1u) << label;
    EXPECT_EQ(reads[0].diskSize, bytes.size()) << label;
    EXPECT_EQ(std::string(reads[0].title.begin(), reads[0].title.end()),
              std::string("WINE") + std::string(13, '\0'))
        << label;
    EXPECT_EQ(e2e::compareSectors(e2e::asRead(sources[0]), reads[0]), "") << label;
    expectCleanLog(s.sim.logLines(), true, label);
}

TEST(WineRead, TwoDAndTwoHD)
{
    prepare();
    D88Builder d2(0x00);
    d2.addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1).addRegularTrack(3, 16, 1);
    d2.addRegularTrack(83, 16, 1);
    expectReadBack(d2.build(), "2D");

    D88Builder hd(0x20);
    hd.addRegularTrack(0, 26, 0, true).addRegularTrack(1, 26, 1).addRegularTrack(2, 8, 3);
    hd.addRegularTrack(153, 8, 3);
    expectReadBack(hd.build(), "2HD");
}

// ---- disk writing, then reading back ------------------------------------------------

std::vector<uint8_t> patternData(size_t n, int seed)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 5));
    return data;
}

D88Record record(int t, int r, int n)
{
    D88Record rec;
    rec.c = static_cast<uint8_t>(t / 2);
    rec.h = static_cast<uint8_t>(t % 2);
    rec.r = static_cast<uint8_t>(r);
    rec.n = static_cast<uint8_t>(n);
    rec.data = patternData(static_cast<size_t>(128) << n, t * 100 + r);
    return rec;
}

// Every usable sector of expected is on the same track of actual, readable,
// with the same ID and data. (A mixed track read back also shows the dummy
// IDs its grid format needed; those are not compared.)
std::string compareUsableSectors(const e2e::ImageView& expected, const e2e::ImageView& actual)
{
    for (size_t t = 0; t < expected.tracks.size(); ++t) {
        for (const auto& want : expected.tracks[t]) {
            if (want.status != 0)
                continue;
            const e2e::SectorView* found = nullptr;
            if (t < actual.tracks.size()) {
                for (const auto& have : actual.tracks[t]) {
                    if (have.c == want.c && have.h == want.h && have.r == want.r &&
                        have.n == want.n && have.status == 0)
                        found = &have;
                }
            }
            const std::string where = "track " + std::to_string(t) + " R " +
                                      std::to_string(want.r) + " N " + std::to_string(want.n);
            if (!found)
                return where + ": missing or unreadable";
            if (found->data != want.data)
                return where + ": data differs";
            if (found->deleted != want.deleted)
                return where + ": deleted mark differs";
        }
    }
    return "";
}

TEST(WineWrite, MixedSizesWrittenThenReadBack)
{
    prepare();
    D88Builder image(0x00);
    image.addRegularTrack(0, 16, 1);
    image.addRegularTrack(1, 8, 2);
    image.addRegularTrack(2, 5, 3);
    // Mixed tracks: one 1024-byte sector then four of 256, and five of 1024
    // then one of 256.
    image.setTrack(3, {record(3, 1, 3), record(3, 2, 1), record(3, 3, 1), record(3, 4, 1),
                       record(3, 5, 1)});
    image.setTrack(4, {record(4, 1, 3), record(4, 2, 3), record(4, 3, 3), record(4, 4, 3),
                       record(4, 5, 3), record(4, 6, 1)});
    image.addRegularTrack(5, 16, 0, true);
    image.addRegularTrack(83, 16, 1);
    const auto source = image.build();

    e2e::TempDir dir;
    e2e::writeFile(dir.file("src.d88"), source);
    // Two sessions (w, r) and one to spare; see SimOnCom.
    SimOnCom s({"--blank1", "2D", "--sessions", "3"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready());

    auto w = runWin({"w", s.com.arg(), "src.d88"}, dir.path());
    ASSERT_EQ(w.status, 0) << describe(w);
    EXPECT_NE(w.out.find("\n終了しました。\n"), std::string::npos) << describe(w);
    EXPECT_EQ(w.err, "");
    auto lines = s.sim.logLines();
    int writes = 0;
    for (const auto& line : lines) {
        if (line.find("\"write-track\"") != std::string::npos) {
            ++writes;
            EXPECT_EQ(e2e::jsonField(line, "result"), "0") << line;
        }
    }
    EXPECT_GE(writes, 7) << "write-track events";
    expectCleanLog(lines, false, "w");
    EXPECT_TRUE(e2e::readFile(dir.file("src.d88")) == source)
        << "the image written from is left alone";

    auto r = runWin({"r", s.com.arg(), "back.d88"}, dir.path());
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_NE(r.out.find("\n終了しました。\n"), std::string::npos) << describe(r);
    std::vector<e2e::ImageView> sources, reads;
    std::string error;
    ASSERT_TRUE(e2e::parseImages(source, &sources, &error)) << error;
    ASSERT_TRUE(e2e::parseImages(e2e::readFile(dir.file("back.d88")), &reads, &error)) << error;
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(compareUsableSectors(sources[0], reads[0]), "");
    expectCleanLog(s.sim.logLines(), true, "w then r");
}

// ---- outcomes ------------------------------------------------------------------------

// The Windows build says the same truths: a missing port with the COM ports
// there are, a cut-off read with its track, and a verified write (its title
// in CP932 on the console) that fixes a flaky track by itself.
TEST(WineOutcome, FailuresAndVerifiedWrites)
{
    prepare();
    e2e::TempDir dir;
    auto missing = runWin({"s", "-p97"}, dir.path());
    EXPECT_EQ(missing.status, 1) << describe(missing);
    EXPECT_NE(missing.err.find("通信ポート COM97 がありません"), std::string::npos)
        << describe(missing);
    EXPECT_NE(missing.err.find("使える通信ポート: "), std::string::npos) << describe(missing);

    sim::D88Builder image(0x00);
    for (int t = 0; t < 8; ++t)
        image.addRegularTrack(t, 16, 1);
    image.setTitleBytes({0xC3, 0xDE, 0xD0, 0xB0, 0x8A, 0xBF, 0x8E, 0x9A});   // ﾃﾞﾐｰ漢字
    e2e::writeFile(dir.file("src.d88"), image.build());
    {
        SimOnCom s({"--drive1", dir.file("src.d88"), "--hangup-at-track", "5"}, dir.path());
        ASSERT_TRUE(s.sim.started() && s.com.ready());
        auto r = runWin({"r", s.com.arg(), "cut.d88"}, dir.path());
        EXPECT_EQ(r.status, 1) << describe(r);
        EXPECT_NE(r.err.find("トラック 5 の読み込み: "), std::string::npos) << describe(r);
        EXPECT_EQ(r.out.find("終了しました。"), std::string::npos) << describe(r);
    }
    SimOnCom s({"--blank1", "2D", "--flaky-write", "5"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready());
    auto w = runWin({"w", "--verify", s.com.arg(), "src.d88"}, dir.path());
    EXPECT_EQ(w.status, 0) << describe(w);
    EXPECT_NE(w.out.find("[ﾃﾞﾐｰ漢字] (2D) を書き戻します.\n"), std::string::npos) << describe(w);
    EXPECT_NE(w.out.find("照合しました (84 トラック, 書き直し 1 トラック)"), std::string::npos)
        << describe(w);
    expectCleanLog(s.sim.logLines(), true, "w --verify");
}

// ---- message language ------------------------------------------------------------

// Bytes of 0x80 and above outside "[...]", where a title shows.
std::string nonAsciiOutsideTitles(const std::string& text)
{
    std::string found;
    bool inTitle = false;
    for (unsigned char c : text) {
        if (c == '[' || c == ']')
            inTitle = c == '[';
        else if (c == '\n')
            inTitle = false;
        else if (c >= 0x80 && !inTitle)
            found += static_cast<char>(c);
    }
    return found;
}

const std::vector<std::string> kNoLocale = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

// LANG reaches the Windows program through Wine's environment, as it would
// from a Windows user's own setting: English, with the title still in CP932.
TEST(WineLanguage, EnglishLocaleGetsEnglish)
{
    prepare();
    e2e::TempDir dir;
    sim::D88Builder image(0x00);
    for (int t = 0; t < 8; ++t)
        image.addRegularTrack(t, 16, 1);
    image.setTitleBytes({0xC3, 0xDE, 0xD0, 0xB0, 0x8A, 0xBF, 0x8E, 0x9A});   // ﾃﾞﾐｰ漢字
    e2e::writeFile(dir.file("src.d88"), image.build());
    SimOnCom s({"--blank1", "2D"}, dir.path());
    ASSERT_TRUE(s.sim.started() && s.com.ready());
    std::vector<std::string> english = kNoLocale;
    english.push_back("LANG=en_US.UTF-8");
    auto w = runWin({"w", "--verify", s.com.arg(), "src.d88"}, dir.path(), "", 90000, english);
    EXPECT_EQ(w.status, 0) << describe(w);
    EXPECT_NE(w.out.find("Writing back [ﾃﾞﾐｰ漢字] (2D).\n"), std::string::npos) << describe(w);
    EXPECT_NE(w.out.find(", verified (84 tracks)\nDone.\n"), std::string::npos) << describe(w);
    EXPECT_EQ(nonAsciiOutsideTitles(w.rawOut), "") << hexOf(w.rawOut, 4096);
}

// With no locale variable the UI language decides. Wine reports the one of
// its own locale, which without LANG and LC_* is US English.
TEST(WineLanguage, NoLocaleVariableFollowsTheUiLanguage)
{
    prepare();
    e2e::TempDir dir;
    auto r = runWin({"--help"}, dir.path(), "", 90000, kNoLocale);
    EXPECT_EQ(r.status, 0) << describe(r);
    EXPECT_NE(r.out.find("          sends the program to the PC-8801\n"), std::string::npos)
        << "expected English (Wine's UI language is en-US without a locale)\n" << describe(r);
    EXPECT_EQ(nonAsciiOutsideTitles(r.rawOut), "") << describe(r);
}

} // namespace
