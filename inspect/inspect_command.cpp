// The i command: a look inside D88 files, with no port and no agent. It lists
// the images of a file, shows one image track by track, draws it as SVG, or
// checks a copy (a re-read floppy) against the image it came from.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/console.h"
#include "core/i18n.h"
#include "core/system_error.h"
#include "core/run_options.h"
#include "core/verbose.h"
#include "image/d88.h"
#include "image/image_file.h"
#include "image/d88_image.h"
#include "image/image_format.h"
#include "image/image_select.h"
#include "image/image_tracks.h"
#include "image/track_compare.h"
#include "inspect/disk_svg.h"
#include "inspect/inspect_command.h"
#include "inspect/track_layout.h"
#include "transfer/commands.h"

namespace
{

constexpr const char* kCannotOpen = N_("ファイルを開けません.\n");
constexpr const char* kNoSuchImage = N_("指定されたディスクがありません.\n");

// Opens name to read; prints the file and the system's reason when it cannot.
bool openImage(ImageFile& image, const std::string& name)
{
    if (image.open(name.c_str(), ImageFile::ReadOnly))
        return true;
    console::err("%s", tr(kCannotOpen));
    console::err(tr("ディスクイメージ %s を開けません (%s).\n"), name.c_str(),
                 systemErrorText(image.systemError).c_str());
    return false;
}

// The header bytes a listing can show even of a cut or unfinished image.
struct HeaderView {
    uint8_t bytes[d88::kHeaderSize] = {};
    int length = 0; // how many of them the file holds
    uint32_t diskSize() const { return readLe32(bytes + d88::kDiskSize); }
};

int64_t fileSize(ImageFile& image)
{
    const int32_t base = image.baseOffset;
    image.baseOffset = 0;
    image.seek(0, ImageFile::SeekFromEnd);
    const int64_t size = image.tell();
    image.baseOffset = base;
    return size;
}

HeaderView readHeaderAt(ImageFile& image, int64_t start)
{
    HeaderView view;
    image.baseOffset = static_cast<int32_t>(start);
    image.seek(0, ImageFile::SeekFromImage);
    view.length = std::max(0, image.read(view.bytes, d88::kHeaderSize));
    return view;
}

// The title as typed into r: at most 16 CP932 bytes up to the first NUL (another
// tool's title may fill byte 16 too), trailing spaces dropped, control bytes
// shown as ".".
std::string titleText(const uint8_t* header)
{
    std::string raw;
    for (int i = 0; i < d88::kTitleLength && header[d88::kTitle + i] != 0; ++i) {
        const uint8_t b = header[d88::kTitle + i];
        raw += static_cast<char>(b < 0x20 || b == 0x7F ? '.' : b);
    }
    while (!raw.empty() && raw.back() == ' ')
        raw.pop_back();
    return console::fromCp932(raw);
}

// "2D", or "2D (0x40)" for a media byte w reads as 2D without it saying so.
std::string mediumText(const uint8_t* header)
{
    const uint8_t type = header[d88::kMediaType];
    std::string text = d88::mediumName(d88::mediumFor(type));
    if (type != d88::kMedia2D && type != d88::kMedia2DD && type != d88::kMedia2HD) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%02X)", type);
        text += hex;
    }
    return text;
}

void printHeadline(int index, const uint8_t* header)
{
    console::out(header[d88::kWriteProtect] ? tr("イメージ %d: [%s] %s, ライトプロテクトあり\n")
                                            : tr("イメージ %d: [%s] %s, ライトプロテクトなし\n"),
                 index, titleText(header).c_str(), mediumText(header).c_str());
}

bool isDamaged(const ImageTracks& image, int t)
{
    return std::find(image.damaged.begin(), image.damaged.end(), t) != image.damaged.end();
}

SectorCounts countImageSectors(const ImageTracks& image)
{
    SectorCounts n;
    for (const d88::TrackRecords& track : image.tracks)
        n += countSectors(track);
    return n;
}

// The counts of sectors that are not plain good ones, "" when there are none:
// a sound structure is no promise that every sector reads.
std::string errorCountsText(const SectorCounts& n)
{
    const struct {
        const char* name;
        int count;
    } kinds[] = {{N_("ID CRC エラー"), n.idCrc},       {N_("データ CRC エラー"), n.dataCrc},
                 {N_("アドレスマークなし"), n.noAddressMark}, {N_("削除マーク"), n.deleted},
                 {N_("その他の状態"), n.other}};
    std::string text;
    for (const auto& kind : kinds)
        if (kind.count > 0)
            text += (text.empty() ? "" : ", ") + std::string(tr(kind.name)) + " " +
                    std::to_string(kind.count);
    return text;
}

// Tracks whose offset points past the image: read as unformatted, as other
// tools write such tables, but named so a damaged table hides nothing.
std::set<int> tracksPastTheImage(const ImageTracks& image)
{
    std::set<int> past;
    const uint32_t diskSize = readLe32(image.header + d88::kDiskSize);
    for (int t = 0; t < image.trackCount; ++t)
        if (readLe32(image.header + d88::kTrackTable + 4 * t) > diskSize)
            past.insert(t);
    return past;
}

// Why an image is not one w would write, or "" when it is.
std::string damageText(const ImageTracks& image)
{
    const uint32_t diskSize = readLe32(image.header + d88::kDiskSize);
    char text[256];
    switch (image.check.state) {
    case ImageState::Sound:
        return "";
    case ImageState::BadTrack:
        std::snprintf(text, sizeof text, tr("ディスクイメージが壊れています (トラック %d)."),
                      static_cast<int>(image.check.track));
        return text;
    case ImageState::BadHeader:
        break;
    }
    std::snprintf(text, sizeof text, tr("ディスクイメージが壊れています (サイズ欄 %u バイトは不正です)."),
                  static_cast<unsigned>(diskSize));
    return text;
}

bool printTrackSummary(const ImageTracks& image, bool verdict, SectorCounts* total = nullptr);

// The block of one image that the walk or the selection found at the file's
// base offset. True when the image is sound: a whole header, not an
// interrupted read, and records that w's check accepts.
bool printImageBlock(ImageFile& image, int index, int64_t available, bool verdict,
                     ImageTracks* loaded, SectorCounts* total = nullptr)
{
    const HeaderView header = readHeaderAt(image, image.baseOffset);
    printHeadline(index, header.bytes);
    if (verbose)
        console::out("  offset %ld, diskSize 0x%08X\n", static_cast<long>(image.baseOffset),
                     header.diskSize());
    if (header.diskSize() == d88::kInProgress) {
        // The track table is written only when the read completes.
        const int64_t after = std::max<int64_t>(0, available - d88::kHeaderSize);
        console::out(tr("  読み込みが中断されたイメージです (ヘッダの後に %d バイト).\n"),
                     static_cast<int>(after));
        return false;
    }
    if (!loadImageTracks(image, loaded)) {
        console::out(tr("  ヘッダが途中で切れています (%d バイト).\n"), header.length);
        return false;
    }

    const std::string damage = damageText(*loaded);
    console::out(tr("  サイズ %u バイト"), header.diskSize());
    if (available < static_cast<int64_t>(header.diskSize()))
        console::out(tr(" (ファイルにあるのは %d バイト)"), static_cast<int>(available));
    console::out("\n");
    if (loaded->check.state == ImageState::BadHeader) {
        // A size no image can have: no track is looked at.
        console::out("  %s\n", damage.c_str());
        return false;
    }
    return printTrackSummary(*loaded, verdict, total);
}

// The tracks and sectors of a loaded image, and the verdict on it when asked.
bool printTrackSummary(const ImageTracks& image, bool verdict, SectorCounts* total)
{
    const ImageTracks* loaded = &image;
    const std::string damage = damageText(image);
    std::set<int> formatted, unformatted;
    for (int t = 0; t < loaded->trackCount; ++t) {
        if (isDamaged(*loaded, t))
            continue;
        (loaded->tracks[static_cast<size_t>(t)].empty() ? unformatted : formatted).insert(t);
    }
    console::out(tr("  トラック: フォーマット済み %d"), static_cast<int>(formatted.size()));
    if (!formatted.empty())
        console::out(" (%s)", numberRuns(formatted).c_str());
    console::out(tr(", 未フォーマット %d"), static_cast<int>(unformatted.size()));
    if (!unformatted.empty())
        console::out(" (%s)", numberRuns(unformatted).c_str());
    if (!loaded->damaged.empty())
        console::out(tr(", 壊れている %d (%s)"), static_cast<int>(loaded->damaged.size()),
                     numberRuns({loaded->damaged.begin(), loaded->damaged.end()}).c_str());
    console::out("\n");

    const SectorCounts n = countImageSectors(*loaded);
    if (total)
        *total += n;
    console::out(tr("  セクタ %d: ID CRC エラー %d, データ CRC エラー %d, アドレスマークなし %d, "
                    "削除マーク %d"),
                 n.sectors, n.idCrc, n.dataCrc, n.noAddressMark, n.deleted);
    if (n.other)
        console::out(tr(", その他の状態 %d"), n.other);
    console::out("\n");

    if (verdict && !damage.empty())
        console::out("  %s\n", damage.c_str());
    return damage.empty();
}

// i FILE: every image the walk reaches, the way selectImage counts them.
int listImages(const std::string& name)
{
    ImageFile image;
    if (!openImage(image, name))
        return 1;
    // A file that is no D88 at all (empty, shorter than a header, an impossible
    // first size field) gets its cause, not a listing of garbage.
    const std::vector<std::string> problem = selectionProblem(image, name, 1, true);
    if (!problem.empty()) {
        console::err("%s", tr(kNoSuchImage));
        for (const std::string& line : problem)
            console::err("%s\n", line.c_str());
        return 1;
    }
    const int64_t size = fileSize(image);
    int images = 0, sound = 0;
    bool tail = false;
    SectorCounts counts;
    d88::walkImages(image, [&](const d88::ImagePlace& place) {
        const int64_t available = size - place.start;
        if (place.number > 1)
            console::out("\n");
        if (available < d88::kDiskSize + 4) {
            // selectImage reads such a size field as 0: no image to select.
            console::out(tr("ファイルの末尾 %d バイトはディスクイメージになっていません.\n"),
                         static_cast<int>(available));
            tail = true;
            return false;
        }
        ++images;
        image.baseOffset = static_cast<int32_t>(place.start);
        ImageTracks loaded;
        sound += printImageBlock(image, place.number, available, true, &loaded, &counts);
        // The walk stops at an interrupted read (r puts its next image in its
        // place) and at a size field it cannot step over, as selectImage does.
        if (place.diskSize != d88::kInProgress &&
            (place.diskSize == 0 || place.diskSize > d88::kMaxImageSize) &&
            available > d88::kHeaderSize) {
            console::out(tr("サイズ欄が不正なため, このヘッダの後ろ %d バイトはたどれません.\n"),
                         static_cast<int>(available - d88::kHeaderSize));
            tail = true;
        }
        return true;
    });
    image.close();

    if (images == 0 && !tail) {
        console::err("%s", tr(kNoSuchImage));
        return 1;
    }
    console::out("\n");
    const std::string errors = errorCountsText(counts);
    if (sound == images && !tail && errors.empty()) {
        console::out(tr("ディスクイメージ %d 個: すべて正常です.\n"), images);
        return 0;
    }
    if (sound == images && !tail) {
        console::out(tr("ディスクイメージ %d 個: 構造はすべて正常です (%s).\n"), images,
                     errors.c_str());
        return 0;
    }
    console::out(tr("ディスクイメージ %d 個: %d 個に問題があります%s.\n"), images, images - sound,
                 tail ? tr(" (ファイルの末尾も読めません)") : "");
    return 1;
}

// Opens name and selects image index of it; prints why not and returns false
// when there is no such image.
bool selectIn(ImageFile& image, const std::string& name, int index, d88::Selected* where)
{
    if (!openImage(image, name))
        return false;
    // An interrupted read is shown, not refused.
    const std::vector<std::string> problem = selectionProblem(image, name, index, true);
    if (!problem.empty() || !d88::selectImage(image, index, where) ||
        *where == d88::Selected::EndOfFile) {
        console::err("%s", tr(kNoSuchImage));
        for (const std::string& line : problem)
            console::err("%s\n", line.c_str());
        return false;
    }
    return true;
}

void printTrackLines(const ImageTracks& image)
{
    std::vector<TrackLayout> layouts(image.tracks.size());
    size_t layoutWidth = 0, recordsWidth = 0;
    for (size_t t = 0; t < image.tracks.size(); ++t) {
        layouts[t] = describeTrack(static_cast<int>(t), image.tracks[t]);
        layoutWidth = std::max(layoutWidth, layouts[t].layout.size());
        recordsWidth = std::max(recordsWidth, layouts[t].records.size());
    }
    console::out(tr("\nトラックのレイアウト:\n"));
    for (size_t t = 0; t < image.tracks.size(); ++t) {
        if (isDamaged(image, static_cast<int>(t))) {
            console::out(tr("  %3d  (壊れています)\n"), static_cast<int>(t));
            continue;
        }
        const TrackLayout& l = layouts[t];
        if (l.layout.empty())
            continue;
        std::string line = "  " +
                           std::string(t < 10    ? "  "
                                       : t < 100 ? " "
                                                 : "") +
                           std::to_string(t) + "  " + l.layout +
                           std::string(layoutWidth - l.layout.size(), ' ') + "  R " + l.records;
        if (!l.oddIds.empty())
            line += std::string(recordsWidth - l.records.size(), ' ') + "  " + l.oddIds;
        console::out("%s\n", line.c_str());
    }
}

void printSectorMap(const ImageTracks& image)
{
    int last = -1;
    for (size_t t = 0; t < image.tracks.size(); ++t)
        if (!image.tracks[t].empty() || isDamaged(image, static_cast<int>(t)))
            last = static_cast<int>(t);
    console::out(tr("\nセクタマップ (%s):\n"), tr(kSectorMapLegend));
    for (int t = 0; t <= last; ++t) {
        const d88::TrackRecords& track = image.tracks[static_cast<size_t>(t)];
        std::string row;
        for (const d88::SectorRecord& s : track)
            row += sectorMapChar(sectorKind(s));
        if (isDamaged(image, t))
            row = tr("(壊れています)");
        else if (track.empty())
            row = tr("(未フォーマット)");
        console::out("  %3d %s\n", t, row.c_str());
    }
    if (last + 1 < image.trackCount) {
        if (last + 2 == image.trackCount)
            console::out(tr("  トラック %d は未フォーマットです.\n"), last + 1);
        else
            console::out(tr("  トラック %d-%d は未フォーマットです.\n"), last + 1,
                         image.trackCount - 1);
    }
}

bool writeSvg(const std::string& path, const ImageTracks& image)
{
    const std::string svg = diskSvg(image, titleText(image.header));
    ImageFile out;
    if (!out.open(path.c_str(), ImageFile::CreateAlways) ||
        out.write(svg.data(), static_cast<int>(svg.size())) != static_cast<int>(svg.size())) {
        console::err(tr("図のファイル %s を書き出せません.\n"), path.c_str());
        return false;
    }
    out.close();
    console::out(tr("\n図を %s に書き出しました.\n"), path.c_str());
    return true;
}

// i FILE;N: one image track by track, and its picture with --svg.
int showImage(const std::string& name, int index, const std::string& svgPath)
{
    ImageFile image;
    d88::Selected where = d88::Selected::Image;
    if (!selectIn(image, name, index, &where))
        return 1;
    const int64_t available = fileSize(image) - image.baseOffset;
    ImageTracks loaded;
    const bool sound = printImageBlock(image, index, available, false, &loaded);
    image.close();
    // Nothing to show track by track: an interrupted read, a cut header, a
    // size no image can have.
    if (where == d88::Selected::InProgress || loaded.trackCount == 0 ||
        loaded.check.state == ImageState::BadHeader)
        return 1;

    printTrackLines(loaded);
    printSectorMap(loaded);
    const std::set<int> past = tracksPastTheImage(loaded);
    if (!past.empty())
        console::out(tr("  注: トラック %s の位置はイメージの外 (サイズ %u バイトより後) を指しています. "
                        "未フォーマットとして扱いました.\n"),
                     numberRuns(past).c_str(), readLe32(loaded.header + d88::kDiskSize));
    bool ok = sound;
    if (!svgPath.empty())
        ok = writeSvg(svgPath, loaded) && ok;
    console::out("\n");
    const std::string damage = damageText(loaded);
    const std::string errors = errorCountsText(countImageSectors(loaded));
    if (damage.empty() && errors.empty())
        console::out(tr("イメージ %d は正常です.\n"), index);
    else if (damage.empty())
        console::out(tr("イメージ %d の構造は正常です (%s).\n"), index, errors.c_str());
    else
        console::out("%s\n", damage.c_str());
    return ok ? 0 : 1;
}

// An HFE, IMD or raw file as the image w would write of it; false with the
// reason printed.
bool loadForeign(const std::string& name, int index, ImageFormat format, ImageTracks* loaded)
{
    DiskImage disk;
    std::string error;
    if (!loadDisk(name, index, format, nullptr, &disk, &error)) {
        console::err("%s\n", error.c_str());
        return false;
    }
    *loaded = imageTracksFromDisk(disk);
    return true;
}

// i FILE for an HFE, IMD or raw file: its one image, track by track.
int showForeign(const std::string& name, int index, ImageFormat format, const std::string& svgPath)
{
    ImageTracks loaded;
    if (!loadForeign(name, index, format, &loaded))
        return 1;
    printHeadline(index, loaded.header);
    console::out(tr("  %s 形式から読みました\n"), formatName(format));
    printTrackSummary(loaded, false);
    printTrackLines(loaded);
    printSectorMap(loaded);
    const bool ok = svgPath.empty() || writeSvg(svgPath, loaded);
    console::out("\n");
    console::out(tr("イメージ %d は正常です.\n"), index);
    return ok ? 0 : 1;
}

// One side of a comparison, loaded whole; false with the reason printed.
bool loadSide(const std::string& arg, const char* role, std::string* name, int* index,
              ImageTracks* loaded)
{
    splitImageArgument(arg, name, index);
    const ImageFormat format = formatFromPath(*name);
    if (format != ImageFormat::Unknown && format != ImageFormat::D88)
        return loadForeign(*name, *index, format, loaded);
    ImageFile image;
    d88::Selected where = d88::Selected::Image;
    if (!selectIn(image, *name, *index, &where))
        return false;
    if (where == d88::Selected::InProgress) {
        console::err(tr("%s (%s): 読み込みが中断されたイメージは比較できません.\n"), name->c_str(),
                     role);
        return false;
    }
    if (!loadImageTracks(image, loaded)) {
        console::err("%s", tr(kNoSuchImage));
        return false;
    }
    const std::string damage = damageText(*loaded);
    if (!damage.empty()) {
        console::err("%s (%s): %s\n", name->c_str(), role, damage.c_str());
        return false;
    }
    return true;
}

// i A[;N] B[;M]: every usable sector of A must be in B as it was.
int compareImages(const std::string& argA, const std::string& argB)
{
    std::string nameA, nameB;
    int indexA = 1, indexB = 1;
    ImageTracks a, b;
    if (!loadSide(argA, tr("比較元"), &nameA, &indexA, &a) ||
        !loadSide(argB, tr("比較先"), &nameB, &indexB, &b))
        return 1;
    console::out(tr("比較元: %s イメージ %d [%s] %s\n"), nameA.c_str(), indexA,
                 titleText(a.header).c_str(), mediumText(a.header).c_str());
    console::out(tr("比較先: %s イメージ %d [%s] %s\n"), nameB.c_str(), indexB,
                 titleText(b.header).c_str(), mediumText(b.header).c_str());
    if (a.medium != b.medium)
        console::out(tr("メディアが違います (%s と %s).\n"), d88::mediumName(a.medium),
                     d88::mediumName(b.medium));

    // A track beyond an image's track count is one that w neither writes nor reads.
    const int tracks = std::max(a.trackCount, b.trackCount);
    const d88::TrackRecords none;
    int compared = 0, unusable = 0, differingTracks = 0, differingSectors = 0;
    for (int t = 0; t < tracks; ++t) {
        const d88::TrackRecords& source = t < a.trackCount ? a.tracks[size_t(t)] : none;
        const d88::TrackRecords& copy = t < b.trackCount ? b.tracks[size_t(t)] : none;
        const TrackComparison c = compareTrack(source, copy);
        compared += c.compared;
        for (const d88::SectorRecord& s : source)
            unusable += sectorKind(s) != SectorKind::Good && sectorKind(s) != SectorKind::Deleted;
        if (!c.matches()) {
            ++differingTracks;
            differingSectors += static_cast<int>(c.differences.size());
            console::out(tr("トラック %3d: %s\n"), t, describeDifferences(c).c_str());
        }
        if (!c.extra.empty()) {
            std::string rs;
            for (uint8_t r : c.extra)
                rs += (rs.empty() ? "R" : ", R") + std::to_string(r);
            console::out(tr("トラック %3d: 比較先にだけあるセクタ %s (違いには数えません)\n"), t,
                         rs.c_str());
        }
    }

    console::out(tr("\n比較した使えるセクタ %d"), compared);
    if (unusable)
        console::out(tr(", エラーのため比較しなかったセクタ %d"), unusable);
    console::out(".\n");
    if (differingTracks == 0) {
        console::out(tr("一致しました.\n"));
        return 0;
    }
    console::out(tr("一致しません: %d トラックに違いがあります"), differingTracks);
    // A track formatted only in the copy differs in no sector of the source.
    if (differingSectors)
        console::out(tr(" (セクタ %d)"), differingSectors);
    console::out(".\n");
    return 1;
}

// True when the argument names an image ("disk.d88;2"), not just a file.
bool namesImage(const std::string& arg)
{
    const std::string::size_type semicolon = arg.find(';');
    return semicolon != std::string::npos &&
           arg.find_first_not_of(';', semicolon) != std::string::npos;
}

// The exit status of i.
int inspectStatus(const RunOptions& options)
{
    if (!options.fileArg2.empty())
        return compareImages(options.fileArg, options.fileArg2);
    std::string name;
    int index = 1;
    imageArgument(options, options.fileArg, &name, &index);
    const ImageFormat format = formatFromPath(name);
    if (format != ImageFormat::Unknown && format != ImageFormat::D88)
        return showForeign(name, index, format, options.svgPath);
    // A picture is of one image: the first one unless the argument names another.
    if (namesImage(options.fileArg) || options.imageIndex > 0 || !options.svgPath.empty())
        return showImage(name, index, options.svgPath);
    return listImages(name);
}

} // namespace

Outcome inspectCommand(const RunOptions& options)
{
    if (inspectStatus(options) == 0)
        return Outcome::done(Operation::Inspect);
    Outcome o = Outcome::failed(Step::None, Cause::None).in(Operation::Inspect);
    o.reported = true;
    return o;
}
