// `i` as a user runs it: the real ferry2 on D88 files built here, on the corpus
// when it is there, and on floppies read from ferry88sim.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/d88_builder.h"
#include "tests/e2e/d88_view.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/test_images.h"

namespace
{

using e2e::runFerry2;
using sim::D88Builder;
using sim::D88Record;

// Everything after the banner and its empty line.
std::string afterBanner(const std::string& out)
{
    const size_t end = out.find("\n\n");
    return end == std::string::npos ? out : out.substr(end + 2);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// ---- a small XML reader, enough to hold the picture to the rules of XML ----

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    int depth = 0;
};

// Every element of a document, in document order. False with a reason when the
// text is not well-formed XML: tags that do not nest, unquoted or repeated
// attributes, a stray "<" or "&", more than one root, text outside the root.
bool parseXml(const std::string& text, std::vector<XmlElement>* elements, std::string* why)
{
    auto nameChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
               c == '.' || static_cast<unsigned char>(c) >= 0x80;
    };
    auto entityAt = [&](size_t pos) {
        static const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
        for (const char* e : kEntities)
            if (text.compare(pos, std::string(e).size(), e) == 0)
                return true;
        const size_t semi = text.find(';', pos);
        return text.compare(pos, 2, "&#") == 0 && semi != std::string::npos && semi - pos < 10;
    };
    std::vector<std::string> open;
    int roots = 0;
    size_t i = 0;
    if (text.compare(0, 5, "<?xml") == 0) {
        i = text.find("?>");
        if (i == std::string::npos)
            return *why = "unfinished declaration", false;
        i += 2;
    }
    while (i < text.size()) {
        const char c = text[i];
        if (c != '<') {
            if (open.empty() && !std::isspace(static_cast<unsigned char>(c)))
                return *why = "text outside the root at " + std::to_string(i), false;
            if (c == '&' && !entityAt(i))
                return *why = "stray & at " + std::to_string(i), false;
            if (c == '>')
                return *why = "stray > at " + std::to_string(i), false;
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0) {
            const size_t end = text.find("-->", i);
            if (end == std::string::npos)
                return *why = "unfinished comment", false;
            i = end + 3;
            continue;
        }
        const bool closing = text.compare(i, 2, "</") == 0;
        size_t p = i + (closing ? 2 : 1);
        const size_t nameStart = p;
        while (p < text.size() && nameChar(text[p]))
            ++p;
        const std::string name = text.substr(nameStart, p - nameStart);
        if (name.empty())
            return *why = "a tag without a name at " + std::to_string(i), false;
        if (closing) {
            while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
                ++p;
            if (p >= text.size() || text[p] != '>')
                return *why = "unfinished end tag " + name, false;
            if (open.empty() || open.back() != name)
                return *why = "</" + name + "> closes " + (open.empty() ? "nothing" : open.back()),
                       false;
            open.pop_back();
            i = p + 1;
            continue;
        }
        if (open.empty() && ++roots > 1)
            return *why = "a second root <" + name + ">", false;
        XmlElement element;
        element.name = name;
        element.depth = static_cast<int>(open.size());
        bool selfClosing = false;
        for (;;) {
            const size_t before = p;
            while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
                ++p;
            if (p >= text.size())
                return *why = "unfinished tag <" + name + ">", false;
            if (text[p] == '>') {
                ++p;
                break;
            }
            if (text.compare(p, 2, "/>") == 0) {
                p += 2;
                selfClosing = true;
                break;
            }
            if (p == before)
                return *why = "no space before an attribute of <" + name + ">", false;
            const size_t attrStart = p;
            while (p < text.size() && nameChar(text[p]))
                ++p;
            const std::string attr = text.substr(attrStart, p - attrStart);
            if (attr.empty() || p + 1 >= text.size() || text[p] != '=' ||
                (text[p + 1] != '"' && text[p + 1] != '\''))
                return *why = "a bad attribute in <" + name + ">", false;
            const char quote = text[p + 1];
            const size_t valueEnd = text.find(quote, p + 2);
            if (valueEnd == std::string::npos)
                return *why = "unfinished attribute " + attr, false;
            const std::string value = text.substr(p + 2, valueEnd - p - 2);
            if (value.find('<') != std::string::npos)
                return *why = "< in attribute " + attr, false;
            for (size_t a = value.find('&'); a != std::string::npos; a = value.find('&', a + 1))
                if (!entityAt(p + 2 + a))
                    return *why = "stray & in attribute " + attr, false;
            if (!element.attributes.emplace(attr, value).second)
                return *why = "attribute " + attr + " twice", false;
            p = valueEnd + 1;
        }
        elements->push_back(element);
        if (!selfClosing)
            open.push_back(name);
        i = p;
    }
    if (!open.empty())
        return *why = "<" + open.back() + "> is never closed", false;
    if (roots != 1)
        return *why = "no root element", false;
    return true;
}

TEST(Inspect, XmlReaderRefusesWhatIsNotXml)
{
    const struct {
        const char* text;
        bool ok;
    } rows[] = {
        {"<?xml version=\"1.0\"?>\n<svg a=\"1\"><g><path d='M0 0'/></g><text>a &amp; "
         "b</text></svg>\n",
         true},
        {"<svg><g></svg>", false},
        {"<svg a=1/>", false},
        {"<svg a=\"1\" a=\"2\"/>", false},
        {"<svg>a & b</svg>", false},
        {"<svg/><svg/>", false},
        {"<svg>", false},
        {"x<svg/>", false},
    };
    for (const auto& row : rows) {
        std::vector<XmlElement> elements;
        std::string why;
        EXPECT_EQ(parseXml(row.text, &elements, &why), row.ok) << row.text << ": " << why;
    }
}

// ---- images ----

D88Record record(int t, int r, int n, uint8_t status = 0x00, uint8_t deleted = 0x00)
{
    D88Record rec = e2e::testRecord(t, r, n);
    rec.status = status;
    rec.deleted = deleted;
    // The images this system writes keep no data for a sector without a readable ID or mark.
    if (status == 0xA0 || status == 0xF0)
        rec.data.clear();
    return rec;
}

// Track 0: one sector of every kind; track 1 unformatted; track 2 FM; track 3
// mixed sizes with a duplicate R and an ID of another cylinder.
D88Builder everyKind()
{
    D88Builder b(0x00);
    b.setTitle("KINDS");
    b.setTrack(0, {record(0, 1, 1), record(0, 2, 1, 0x00, 0x10), record(0, 3, 1, 0x10, 0x10),
                   record(0, 4, 1, 0xB0), record(0, 5, 1, 0xA0), record(0, 6, 1, 0xF0),
                   record(0, 7, 1, 0x20), record(0, 8, 1, 0xB0, 0x10)});
    std::vector<D88Record> fm;
    for (int r = 1; r <= 4; ++r)
        fm.push_back(e2e::testRecord(2, r, 0, 0x40));
    b.setTrack(2, fm);
    D88Record other = record(3, 9, 1);
    other.c = 5;
    b.setTrack(3, {record(3, 1, 3), record(3, 2, 1), record(3, 2, 1), other});
    return b;
}

TEST(Inspect, ListsEveryImageAndNamesTheDamagedOne)
{
    D88Builder first(0x00), broken(0x00), third(0x10), interrupted(0x00);
    first.setTitle("FIRST").addRegularTrack(0, 16, 1).addRegularTrack(1, 16, 1);
    broken.setTitle("BROKEN");
    for (int t = 0; t < 6; ++t)
        broken.addRegularTrack(t, 16, 1);
    broken.track(3)[15].dataSize = 40000; // runs past the image's end
    third.setTitle("THIRD").setWriteProtect(true);
    third.setTrack(0, {record(0, 1, 2), record(0, 2, 2, 0xB0), record(0, 3, 2, 0x00, 0x10)});
    interrupted.setTitle("made by ferry2").addRegularTrack(0, 16, 1);
    interrupted.setDiskSize(0xDEADD13C);
    const std::vector<uint8_t> interruptedBytes = interrupted.build();

    e2e::TempDir dir;
    e2e::writeFile(dir.file("multi.d88"),
                   sim::concatImages({first.build(), broken.build(), third.build()}));
    e2e::writeFile(dir.file("with_interrupted.d88"),
                   sim::concatImages({first.build(), interruptedBytes}));

    auto r = runFerry2({"i", "multi.d88"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::string out = afterBanner(r.out);
    EXPECT_EQ(out.find("通信ポート"), std::string::npos) << "i never opens a port";
    for (const char* line : {
             "イメージ 1: [FIRST] 2D, ライトプロテクトなし\n",
             "  トラック: フォーマット済み 2 (0-1), 未フォーマット 82 (2-83)\n",
             "イメージ 2: [BROKEN] 2D, ライトプロテクトなし\n",
             "  ディスクイメージが壊れています (トラック 3).\n",
             "イメージ 3: [THIRD] 2DD, ライトプロテクトあり\n",
             "  セクタ 3: ID CRC エラー 0, データ CRC エラー 1, アドレスマークなし 0, 削除マーク "
             "1\n",
             "ディスクイメージ 3 個: 1 個に問題があります.\n",
         })
        EXPECT_TRUE(contains(out, line)) << line << "\n" << out;
    // Only the broken image carries a damage line.
    EXPECT_EQ(out.find("壊れています"), out.rfind("壊れています")) << out;

    r = runFerry2({"i", "with_interrupted.d88"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "イメージ 2: [made by ferry2] 2D, ライトプロテクトなし\n"
                                "  読み込みが中断されたイメージです (ヘッダの後に " +
                                    std::to_string(interruptedBytes.size() - 688) + " バイト).\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "ディスクイメージ 2 個: 1 個に問題があります.\n")) << r.out;

    r = runFerry2({"i", "multi.d88;1"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    r = runFerry2({"i", "multi.d88;2"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "    3  (壊れています)\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nディスクイメージが壊れています (トラック 3).\n")) << r.out;
}

// How the walk over a file ends, and the two messages the command shares with w.
TEST(Inspect, FileLevelOutcomes)
{
    D88Builder one(0x00);
    one.setTitle("ONE").addRegularTrack(0, 16, 1);
    const std::vector<uint8_t> good = one.build();
    D88Builder zero(0x00);
    zero.setTitle("ZERO").addRegularTrack(0, 4, 1).setDiskSize(0);
    std::vector<uint8_t> tail = good;
    tail.resize(good.size() + 20, 0xE5);
    // The start of a PNG file: its signature, then chunks whose bytes fill the
    // size field with a number no image has.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0, 0, 0, 1, 0,
                                8, 6, 0, 0, 'h', 'g', 'h', 's'};
    png.resize(4096, 0x5A);

    const struct {
        const char* name;
        std::vector<uint8_t> file;
        std::string arg;
        int status;
        const char* out; // a part of standard output after the banner
        const char* err;
    } rows[] = {
        {"one sound image", good, "a.d88", 0, "ディスクイメージ 1 個: すべて正常です.\n", ""},
        {"two sound images", sim::concatImages({good, good}), "a.d88", 0,
         "ディスクイメージ 2 個: すべて正常です.\n", ""},
        {"a size of 0 ends the walk", sim::concatImages({good, zero.build(), good}), "a.d88", 1,
         "  ディスクイメージが壊れています (サイズ欄 0 バイトは不正です).\n"
         "サイズ欄が不正なため, このヘッダの後ろ ",
         ""},
        {"bytes too few for a header at the end", tail, "a.d88", 1,
         "ファイルの末尾 20 バイトはディスクイメージになっていません.\n", ""},
        // Each refusal names its cause on standard error after the message w shares.
        {"no such file", good, "missing.d88", 1, "",
         "ファイルを開けません.\nディスクイメージ missing.d88 を開けません (No such file or "
         "directory).\n"},
        {"an index past the last image", good, "a.d88;2", 1, "",
         "指定されたディスクがありません.\na.d88 にあるイメージは 1 個です (イメージ 2 はありません).\n"
         "  イメージ 1: [ONE] 2D\n"
         "中身は ferry2 i a.d88 で確かめられます. イメージは 'a.d88;1' か --image N で選んでください.\n"},
        {"image 5 of two", sim::concatImages({good, good}), "a.d88;5", 1, "",
         "指定されたディスクがありません.\na.d88 にあるイメージは 2 個です (イメージ 5 はありません).\n"
         "  イメージ 1: [ONE] 2D\n  イメージ 2: [ONE] 2D\n"
         "中身は ferry2 i a.d88 で確かめられます. イメージは 'a.d88;2' か --image N で選んでください.\n"},
        {"--image 5 of two", sim::concatImages({good, good}), "a.d88 --image=5", 1, "",
         "指定されたディスクがありません.\na.d88 にあるイメージは 2 個です (イメージ 5 はありません).\n"
         "  イメージ 1: [ONE] 2D\n  イメージ 2: [ONE] 2D\n"
         "中身は ferry2 i a.d88 で確かめられます. イメージは 'a.d88;2' か --image N で選んでください.\n"},
        {"an empty file", {}, "a.d88", 1, "",
         "指定されたディスクがありません.\na.d88 は空のファイルです (0 バイト). D88 ディスクイメージを"
         "指定してください.\n"},
        {"a file shorter than a header", std::vector<uint8_t>(100, 0x20), "a.d88", 1, "",
         "指定されたディスクがありません.\na.d88 は最初のヘッダの途中で終わっています (100 バイト, "
         "ヘッダは 688 バイト). D88 ディスクイメージではないか, 壊れています.\n"},
        {"a PNG picture", png, "a.d88", 1, "",
         "指定されたディスクがありません.\na.d88 は D88 ディスクイメージではありません (先頭のサイズ欄が "
         "1936222056 です). ファイルを確かめてください.\n"},
        {"compare with a missing file", good, "a.d88 missing.d88", 1, "",
         "ファイルを開けません.\nディスクイメージ missing.d88 を開けません (No such file or "
         "directory).\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::TempDir dir;
        e2e::writeFile(dir.file("a.d88"), row.file);
        std::vector<std::string> args = {"i"};
        const size_t space = row.arg.find(' ');
        args.push_back(row.arg.substr(0, space));
        if (space != std::string::npos)
            args.push_back(row.arg.substr(space + 1));
        auto r = runFerry2(args, dir.path());
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_TRUE(contains(afterBanner(r.out), row.out)) << r.out;
        EXPECT_EQ(r.err, row.err);
    }
}

// A track offset past the image reads as unformatted, as other tools write
// such tables, and i FILE;N names the track so a damaged table hides nothing.
TEST(Inspect, NamesTracksWhoseOffsetLiesPastTheImage)
{
    D88Builder image(0x00);
    image.setTitle("PAST").addRegularTrack(0, 16, 1).setTrackOffset(5, 0x100000);
    e2e::TempDir dir;
    e2e::writeFile(dir.file("past.d88"), image.build());
    auto r = runFerry2({"i", "past.d88;1"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "  注: トラック 5 の位置はイメージの外 (サイズ ")) << r.out;
    EXPECT_TRUE(contains(r.out, "イメージ 1 は正常です.\n")) << r.out;
}

TEST(Inspect, ShowsOneImageTrackByTrack)
{
    e2e::TempDir dir;
    e2e::writeFile(dir.file("kinds.d88"), everyKind().build());
    auto r = runFerry2({"i", "kinds.d88;1"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(
        afterBanner(r.out),
        "イメージ 1: [KINDS] 2D, ライトプロテクトなし\n"
        "  サイズ 4784 バイト\n"
        "  トラック: フォーマット済み 3 (0, 2-3), 未フォーマット 81 (1, 4-83)\n"
        "  セクタ 16: ID CRC エラー 1, データ CRC エラー 2, アドレスマークなし 1, 削除マーク 3, "
        "その他の状態 1\n"
        "\n"
        "トラックのレイアウト:\n"
        "    0  8 x 256 MFM             R 1-8\n"
        "    2  4 x 128 FM              R 1-4\n"
        "    3  1 x 1024 + 3 x 256 MFM  R 1-2, 9  ID の C/H が違う: C5 H1 (R 9); "
        "R の重複: R2 x2\n"
        "\n"
        "セクタマップ (. 正常  d 削除マーク  D データ CRC エラー  I ID CRC エラー  "
        "M アドレスマークなし  ? その他の状態):\n"
        "    0 .ddDIM?D\n"
        "    1 (未フォーマット)\n"
        "    2 ....\n"
        "    3 ....\n"
        "  トラック 4-83 は未フォーマットです.\n"
        "\n"
        "イメージ 1 の構造は正常です (ID CRC エラー 1, データ CRC エラー 2, アドレスマークなし 1, "
        "削除マーク 3, その他の状態 1).\n");
}

TEST(Inspect, ComparesACopyWithItsSource)
{
    D88Builder source(0x00);
    source.setTitle("SOURCE").addRegularTrack(0, 8, 1).addRegularTrack(1, 8, 1);
    source.track(0)[5].status = 0xB0; // unusable: not compared
    source.track(1)[1].deleted = 0x10;

    const struct {
        const char* name;
        std::function<void(D88Builder&)> change;
        int status;
        std::vector<std::string> lines;
    } rows[] = {
        {"the same image",
         [](D88Builder&) {},
         0,
         {"比較した使えるセクタ 15, エラーのため比較しなかったセクタ 1.\n一致しました.\n"}},
        {"extra sectors and an unusable sector read back are no difference",
         [](D88Builder& b) {
             b.track(0)[5].status = 0x00;
             b.track(1).push_back(e2e::testRecord(1, 20, 1));
             b.track(1).push_back(e2e::testRecord(1, 21, 1));
         },
         0,
         {"トラック   1: 比較先にだけあるセクタ R20, R21 (違いには数えません)\n",
          "一致しました.\n"}},
        {"a changed byte, a missing sector, a changed deleted mark",
         [](D88Builder& b) {
             b.track(0)[2].data[100] ^= 0x01;
             b.track(1).erase(b.track(1).begin() + 4);
             b.track(1)[1].deleted = 0x00;
             b.track(1).push_back(e2e::testRecord(1, 30, 1));
         },
         1,
         {"トラック   0: R3 データ\n", "トラック   1: R2 削除マーク, R5 なし\n",
          "トラック   1: 比較先にだけあるセクタ R30 (違いには数えません)\n",
          "一致しません: 2 トラックに違いがあります (セクタ 3).\n"}},
        {"a track formatted only in the copy",
         [](D88Builder& b) { b.addRegularTrack(7, 2, 1); },
         1,
         {"トラック   7: フォーマットされています (元は未フォーマット)\n",
          "一致しません: 1 トラックに違いがあります.\n"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        D88Builder copy = source;
        copy.setTitle("COPY");
        row.change(copy);
        e2e::TempDir dir;
        e2e::writeFile(dir.file("pair.d88"), sim::concatImages({source.build(), copy.build()}));
        auto r = runFerry2({"i", "pair.d88", "pair.d88;2"}, dir.path());
        EXPECT_EQ(r.status, row.status) << r.out;
        const std::string out = afterBanner(r.out);
        EXPECT_EQ(out.rfind("比較元: pair.d88 イメージ 1 [SOURCE] 2D\n"
                            "比較先: pair.d88 イメージ 2 [COPY] 2D\n",
                            0),
                  0u)
            << out;
        for (const std::string& line : row.lines)
            EXPECT_TRUE(contains(out, line)) << line << "\n" << out;
    }
}

// The sectors of an image in the order the picture draws them: side 0 from
// the outermost track inwards, then side 1; records in recorded order.
std::vector<std::string> expectedClasses(const e2e::ImageView& image, size_t trackCount)
{
    std::vector<std::string> classes;
    for (size_t head = 0; head < 2; ++head) {
        for (size_t t = head; t < trackCount && t < image.tracks.size(); t += 2) {
            for (const auto& s : image.tracks[t]) {
                const char* kind = "other";
                if (s.status == 0x00 || s.status == 0x10)
                    kind = s.deleted || s.status == 0x10 ? "deleted" : "ok";
                else if (s.status == 0xB0)
                    kind = "crc-data";
                else if (s.status == 0xA0)
                    kind = "crc-id";
                else if (s.status == 0xF0)
                    kind = "no-am";
                classes.push_back(std::string("sector ") + kind);
            }
        }
    }
    return classes;
}

// The picture is well-formed SVG with one arc per sector in its status's colour.
void expectPicture(const std::string& svgPath, const e2e::ImageView& image, size_t trackCount,
                   const std::string& label)
{
    SCOPED_TRACE(label);
    const std::vector<uint8_t> bytes = e2e::readFile(svgPath);
    const std::string text(bytes.begin(), bytes.end());
    std::vector<XmlElement> elements;
    std::string why;
    ASSERT_TRUE(parseXml(text, &elements, &why)) << why;
    ASSERT_FALSE(elements.empty());
    EXPECT_EQ(elements[0].name, "svg");
    EXPECT_EQ(elements[0].attributes["xmlns"], "http://www.w3.org/2000/svg");

    std::vector<std::string> classes;
    std::map<std::string, std::string> colourOf;
    std::map<std::string, std::string> classOf;
    for (auto& e : elements) {
        const std::string cls = e.attributes["class"];
        if (cls.rfind("sector ", 0) != 0)
            continue;
        EXPECT_EQ(e.name, "path");
        classes.push_back(cls);
        const std::string fill = e.attributes["fill"];
        // One colour per status, a different one for each.
        EXPECT_TRUE(colourOf.emplace(cls, fill).first->second == fill) << cls;
        EXPECT_TRUE(classOf.emplace(fill, cls).first->second == cls) << fill;
    }
    EXPECT_EQ(classes, expectedClasses(image, trackCount));

    // A second opinion from a real XML parser, where the machine has one.
    if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
        const std::string check = "python3 -c \"import sys, xml.etree.ElementTree as E; "
                                  "sys.exit(E.parse(sys.argv[1]).getroot().tag != "
                                  "'{http://www.w3.org/2000/svg}svg')\" '" +
                                  svgPath + "'";
        EXPECT_EQ(std::system(check.c_str()), 0) << check;
    }
}

e2e::ImageView firstImage(const std::vector<uint8_t>& bytes, size_t index = 0)
{
    std::vector<e2e::ImageView> images;
    std::string error;
    EXPECT_TRUE(e2e::parseImages(bytes, &images, &error)) << error;
    return images.size() > index ? images[index] : e2e::ImageView{};
}

TEST(Inspect, DrawsTheImageAsSvg)
{
    e2e::TempDir dir;
    const std::vector<uint8_t> bytes = everyKind().build();
    e2e::writeFile(dir.file("kinds.d88"), bytes);
    auto r = runFerry2({"i", "kinds.d88;1", "--svg", "kinds.svg"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "図を kinds.svg に書き出しました.\n")) << r.out;
    expectPicture(dir.file("kinds.svg"), firstImage(bytes), 84, "kinds");

    r = runFerry2({"i", "kinds.d88", "--svg", dir.file("none/x.svg")}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "図のファイル " + dir.file("none/x.svg") + " を書き出せません.\n"))
        << r.err;
}

// Every image of the corpus gets through i: listed, shown, drawn and equal to itself.
TEST(Inspect, CorpusImages)
{
    const auto paths = e2e::corpusFiles();
    if (paths.empty())
        GTEST_SKIP() << "no corpus at " << FERRY2_TESTDATA;
    e2e::TempDir dir;
    for (const auto& path : paths) {
        const std::string name = path.substr(path.rfind('/') + 1);
        SCOPED_TRACE(name);
        auto r = runFerry2({"i", path}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        // "すべて正常です." alone only when no sector has an error; otherwise the
        // structure is called sound and the counts stay beside it.
        const bool clean = contains(r.out, "ID CRC エラー 0, データ CRC エラー 0, アドレスマークなし 0, "
                                           "削除マーク 0\n");
        EXPECT_TRUE(contains(r.out, clean ? "ディスクイメージ 1 個: すべて正常です.\n"
                                          : "ディスクイメージ 1 個: 構造はすべて正常です ("))
            << r.out;
        r = runFerry2({"i", path + ";1", "--svg", "out.svg"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        const e2e::ImageView image = firstImage(e2e::readFile(path));
        expectPicture(dir.file("out.svg"), image, image.mediaType & 0x30 ? 164 : 84, name);
        r = runFerry2({"i", path, path}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(contains(r.out, "一致しました.\n")) << r.out;
    }
}

// What a new user does first: read the sample floppy twice, look at it, draw
// it, and check the second read against the first.
TEST(Inspect, SampleDiskReadTwice)
{
    e2e::TempDir dir;
    {
        e2e::Sim sim({"--sample", "--sessions", "2"}, dir.path());
        ASSERT_TRUE(sim.started());
        for (int i = 0; i < 2; ++i) {
            auto r = runFerry2({"r", sim.portArg(), "-t", "SAMPLE", "sample.d88"}, dir.path());
            ASSERT_EQ(r.status, 0) << r.out;
        }
        ASSERT_TRUE(sim.waitExit(10000));
    }
    auto r = runFerry2({"i", "sample.d88"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out,
                         "イメージ 2: [SAMPLE] 2D, ライトプロテクトなし\n"
                         "  サイズ 52992 バイト\n"
                         "  トラック: フォーマット済み 13 (0-12), 未フォーマット 71 (13-83)\n"
                         "  セクタ 197: ID CRC エラー 0, データ CRC エラー 1, "
                         "アドレスマークなし 0, 削除マーク 1\n"))
        << r.out;

    r = runFerry2({"i", "sample.d88;1", "--svg", "disk.svg"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "   12 ..d.D...........\n")) << r.out;
    const e2e::ImageView image = firstImage(e2e::readFile(dir.file("sample.d88")));
    expectPicture(dir.file("disk.svg"), image, 84, "sample");
    // Track 12 is the innermost ring of side 0 that has sectors: R3 deleted, R5 a CRC error.
    const std::vector<std::string> classes = expectedClasses(image, 84);
    ASSERT_EQ(classes.size(), 197u);
    EXPECT_EQ(classes[6 * 16 + 2], "sector deleted");
    EXPECT_EQ(classes[6 * 16 + 4], "sector crc-data");

    r = runFerry2({"i", "sample.d88;1", "sample.d88;2"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "比較した使えるセクタ 196, エラーのため比較しなかったセクタ 1.\n"
                                "一致しました.\n"))
        << r.out;
}

} // namespace
