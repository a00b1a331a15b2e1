#include "image/imd.h"

#include <algorithm>
#include <cstddef>
#include <ctime>

#include "core/bytes.h"
#include "core/i18n.h"
#include "core/text_format.h"

namespace
{

constexpr uint8_t kEndOfComment = 0x1A;
constexpr uint8_t kCylinderMap = 0x80;   // in the head byte
constexpr uint8_t kHeadMap = 0x40;
constexpr uint8_t kSizeTable = 0xFF;     // sizeCode: a u16 size per sector follows the maps
constexpr int kModes = 6;
constexpr int kFirstMfmMode = 3;
constexpr int kMaxSizeCode = 6;          // 8192 bytes

// Sector data record types, as bits over "1 + type".
constexpr int kCompressed = 1;
constexpr int kDeleted = 2;
constexpr int kDataError = 4;
constexpr int kMaxType = 8;

bool isHighRate(int mode)
{
    return mode % 3 == 0;   // 500 kbit/s
}

class Reader {
public:
    Reader(const std::vector<uint8_t>& f) : file(f) {}
    bool has(size_t n) const { return pos + n <= file.size(); }
    uint8_t byte() { return file[pos++]; }
    const std::vector<uint8_t>& file;
    size_t pos = 0;
};

// One track's header and the ID maps that follow it.
struct TrackHead {
    size_t start = 0;   // the track's offset, named in its errors
    int mode = 0;
    int cylinder = 0;
    int head = 0;
    int headByte = 0;
    int count = 0;
    int sizeCode = 0;
    int t = 0;
    std::vector<uint8_t> rs, cs, hs;
    std::vector<int> sizes;
};

bool trackFail(const TrackHead& th, const char* what, std::string* error)
{
    *error = textFormat(tr("トラック %d (オフセット %ld): %s"), th.t, static_cast<long>(th.start),
                        what);
    return false;
}

// The "IMD " header and the comment up to 0x1A; *dataStart is the first track.
bool readComment(const std::vector<uint8_t>& file, DiskImage* disk, size_t* dataStart,
                 std::string* error)
{
    if (file.size() < 4 || std::string(file.begin(), file.begin() + 4) != "IMD ") {
        *error = tr("IMD ファイルの見出し \"IMD \" がありません (オフセット 0).");
        return false;
    }
    const auto end = std::find(file.begin(), file.end(), kEndOfComment);
    if (end == file.end()) {
        *error = textFormat(tr("コメントの終わり (0x1A) がないままファイルが終わっています "
                               "(オフセット %ld)."),
                            static_cast<long>(file.size()));
        return false;
    }
    // The comment's first line after the header line is taken as the title.
    const auto lineEnd = std::find(file.begin(), end, '\n');
    if (lineEnd != end) {
        auto titleEnd = std::find(lineEnd + 1, end, '\r');
        titleEnd = std::find(lineEnd + 1, titleEnd, '\n');
        disk->title.assign(lineEnd + 1,
                           lineEnd + 1 + std::min<std::ptrdiff_t>(titleEnd - (lineEnd + 1), 16));
    }
    *dataStart = static_cast<size_t>(end - file.begin()) + 1;
    return true;
}

// The five header bytes, checked against what the disk model can take.
bool readTrackHead(Reader& in, const DiskImage& disk, TrackHead* th, std::string* error)
{
    th->start = in.pos;
    if (!in.has(5)) {
        *error = textFormat(tr("オフセット %ld: トラックの見出しの途中でファイルが終わっています."),
                            static_cast<long>(th->start));
        return false;
    }
    th->mode = in.byte();
    th->cylinder = in.byte();
    th->headByte = in.byte();
    th->count = in.byte();
    th->sizeCode = in.byte();
    th->head = th->headByte & 0x0F;
    th->t = th->cylinder * 2 + th->head;
    const size_t t = static_cast<size_t>(th->t);
    if (th->head > 1 || (th->headByte & 0x30) != 0)
        return trackFail(*th, tr("ヘッド番号が不正です."), error);
    if (th->t >= d88::kTrackCount)
        return trackFail(*th, tr("シリンダ番号が大きすぎます."), error);
    if (th->mode >= kModes)
        return trackFail(*th, tr("記録モードが不正です."), error);
    if (th->sizeCode > kMaxSizeCode && th->sizeCode != kSizeTable)
        return trackFail(*th, tr("セクタの大きさが不正です."), error);
    if (t < disk.tracks.size() && !disk.tracks[t].empty())
        return trackFail(*th, tr("同じトラックが 2 度あります."), error);
    return true;
}

// R, then C and H where the flags say so (else the track's own), then the
// sizes where the size code says they differ.
bool readMaps(Reader& in, TrackHead* th, std::string* error)
{
    const std::vector<uint8_t>& file = in.file;
    const int count = th->count;
    const bool cylMap = th->headByte & kCylinderMap, headMap = th->headByte & kHeadMap;
    const bool sizeTable = th->sizeCode == kSizeTable;
    const size_t mapBytes =
        size_t(count) * (1 + cylMap + headMap) + (sizeTable ? size_t(count) * 2 : 0);
    if (!in.has(mapBytes))
        return trackFail(*th, tr("セクタ番号の表の途中でファイルが終わっています."), error);
    th->rs.assign(file.begin() + long(in.pos), file.begin() + long(in.pos) + count);
    in.pos += size_t(count);
    th->cs.assign(size_t(count), static_cast<uint8_t>(th->cylinder));
    th->hs.assign(size_t(count), static_cast<uint8_t>(th->head));
    if (cylMap) {
        std::copy_n(file.begin() + long(in.pos), count, th->cs.begin());
        in.pos += size_t(count);
    }
    if (headMap) {
        std::copy_n(file.begin() + long(in.pos), count, th->hs.begin());
        in.pos += size_t(count);
    }
    th->sizes.assign(size_t(count), sizeTable ? 0 : 128 << th->sizeCode);
    if (sizeTable) {
        for (int& size : th->sizes) {
            size = readLe16(&file[in.pos]);
            in.pos += 2;
            if (size > (128 << kMaxSizeCode))
                return trackFail(*th, tr("セクタの大きさが不正です."), error);
        }
    }
    return true;
}

// Sector i's type byte and data; *total bounds the data of the whole disk.
bool readSector(Reader& in, const TrackHead& th, size_t i, size_t* total, d88::SectorRecord* s,
                std::string* error)
{
    const size_t at = in.pos;
    if (!in.has(1))
        return trackFail(th, tr("セクタのデータの途中でファイルが終わっています."), error);
    const int type = in.byte();
    if (type > kMaxType) {
        *error = textFormat(tr("トラック %d (オフセット %ld): セクタの種類 %d は不正です."), th.t,
                            static_cast<long>(at), type);
        return false;
    }
    // A compressed sector is two bytes in the file: bound what they expand to.
    const int size = th.sizes[i];
    *total += size_t(size);
    if (*total > d88::kMaxImageSize)
        return trackFail(th, tr("ディスク 1 枚には多すぎるデータです."), error);
    s->c = th.cs[i];
    s->h = th.hs[i];
    s->r = th.rs[i];
    int n = 0;
    while (n < 7 && (128 << n) < size)
        ++n;
    s->n = static_cast<uint8_t>(n);
    s->density = th.mode >= kFirstMfmMode ? d88::kDensityMfm : d88::kDensityFm;
    if (type == 0) {
        // Nothing could be read there: no data field.
        s->status = d88::kStatusNoDataMark;
        return true;
    }
    const int bits = type - 1;
    if (bits & kCompressed) {
        if (!in.has(1))
            return trackFail(th, tr("セクタのデータの途中でファイルが終わっています."), error);
        s->data.assign(size_t(size), in.byte());
    } else {
        if (!in.has(size_t(size))) {
            *error = textFormat(tr("トラック %d (オフセット %ld): セクタのデータの途中"
                                   "でファイルが終わっています."),
                                th.t, static_cast<long>(at));
            return false;
        }
        s->data.assign(in.file.begin() + long(in.pos), in.file.begin() + long(in.pos) + size);
        in.pos += size_t(size);
    }
    if (bits & kDeleted)
        s->deleted = d88::kDeletedMark;
    if (bits & kDataError)
        s->status = d88::kStatusDataCrc;
    return true;
}

// The comment: a dated header line, then the title.
void writeComment(const DiskImage& disk, std::vector<uint8_t>* out)
{
    char stamp[32] = "01/01/2000 00:00:00";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* tm = std::gmtime(&now))
        std::strftime(stamp, sizeof stamp, "%d/%m/%Y %H:%M:%S", tm);
    // The title is the comment's line; a control byte (0x1A ends the comment) becomes a space.
    std::string title = disk.title;
    for (char& c : title)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    const std::string head = std::string("IMD 1.18: ") + stamp + "\r\n" + title + "\r\n";
    out->assign(head.begin(), head.end());
    out->push_back(kEndOfComment);
}

// The sectors a record type exists for: ID CRC errors and missing data marks
// have none, and are counted as lost.
std::vector<const d88::SectorRecord*> keptSectors(const d88::TrackRecords& records, ImdLoss* loss)
{
    std::vector<const d88::SectorRecord*> kept;
    for (const d88::SectorRecord& s : records) {
        if (s.status == d88::kStatusIdCrc)
            ++loss->idCrc;
        else if (s.status == d88::kStatusNoDataMark)
            ++loss->noDataMark;
        else
            kept.push_back(&s);
    }
    return kept;
}

// A track has one mode and one size code, so it takes one size and density.
bool isMixed(const std::vector<const d88::SectorRecord*>& kept)
{
    const uint8_t n = kept[0]->n;
    const uint8_t density = kept[0]->density & d88::kDensityFm;
    bool mixed = n > kMaxSizeCode;
    for (const d88::SectorRecord* s : kept)
        mixed = mixed || s->n != n || (s->density & d88::kDensityFm) != density;
    return mixed;
}

// The track's header and its R, C and H maps.
void writeTrackHead(const std::vector<const d88::SectorRecord*>& kept, size_t t, bool high,
                    std::vector<uint8_t>* file)
{
    const int cylinder = static_cast<int>(t / 2), side = static_cast<int>(t % 2);
    bool cylMap = false, headMap = false;
    for (const d88::SectorRecord* s : kept) {
        cylMap = cylMap || s->c != cylinder;
        headMap = headMap || s->h != side;
    }
    // Some readers take the flag bits for part of every ID's head when a
    // cylinder map comes without a head map.
    headMap = headMap || cylMap;
    std::vector<uint8_t>& out = *file;
    const uint8_t density = kept[0]->density & d88::kDensityFm;
    const int mode = (high ? 0 : 2) + (density == d88::kDensityFm ? 0 : kFirstMfmMode);
    out.push_back(static_cast<uint8_t>(mode));
    out.push_back(static_cast<uint8_t>(cylinder));
    out.push_back(static_cast<uint8_t>(side | (cylMap ? kCylinderMap : 0) |
                                       (headMap ? kHeadMap : 0)));
    out.push_back(static_cast<uint8_t>(kept.size()));
    out.push_back(kept[0]->n);
    for (const d88::SectorRecord* s : kept)
        out.push_back(s->r);
    if (cylMap)
        for (const d88::SectorRecord* s : kept)
            out.push_back(s->c);
    if (headMap)
        for (const d88::SectorRecord* s : kept)
            out.push_back(s->h);
}

// A sector's type byte and its data, padded or cut to the track's size; a
// sector of one repeated byte is stored as that byte.
void writeSector(const d88::SectorRecord& s, size_t size, ImdLoss* loss, std::vector<uint8_t>* file)
{
    std::vector<uint8_t>& out = *file;
    std::vector<uint8_t> data = s.data;
    const bool bad = s.status != d88::kStatusOk && s.status != 0x10;
    // 0x10: another tool's "deleted data, read fine".
    const bool deleted = s.deleted != 0 || s.status == 0x10;
    if (data.size() != size) {
        loss->resized += !bad;
        data.resize(size, 0);
    }
    const bool same =
        std::all_of(data.begin(), data.end(), [&](uint8_t b) { return b == data[0]; });
    out.push_back(static_cast<uint8_t>(1 + (same ? kCompressed : 0) + (deleted ? kDeleted : 0) +
                                       (bad ? kDataError : 0)));
    if (same)
        out.push_back(data[0]);
    else
        out.insert(out.end(), data.begin(), data.end());
}

} // namespace

bool readImd(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error)
{
    *disk = DiskImage();
    Reader in(file);
    if (!readComment(file, disk, &in.pos, error))
        return false;
    bool high = false;
    int lastCylinder = -1;
    size_t total = 0;
    while (in.pos < file.size()) {
        TrackHead th;
        if (!readTrackHead(in, *disk, &th, error) || !readMaps(in, &th, error))
            return false;
        d88::TrackRecords track;
        for (size_t i = 0; i < size_t(th.count); ++i) {
            d88::SectorRecord s;
            if (!readSector(in, th, i, &total, &s, error))
                return false;
            track.push_back(std::move(s));
        }
        const size_t t = static_cast<size_t>(th.t);
        if (disk->tracks.size() <= t)
            disk->tracks.resize(t + 1);
        disk->tracks[t] = std::move(track);
        high = high || isHighRate(th.mode);
        lastCylinder = std::max(lastCylinder, th.cylinder);
    }
    // The rate tells 2HD; the cylinders a 2DD disk from a 2D one.
    disk->medium = high ? d88::kMedium2HD : lastCylinder >= 42 ? d88::kMedium2DD : d88::kMedium2D;
    return true;
}

bool writeImd(const DiskImage& disk, bool lossy, std::vector<uint8_t>* file, ImdLoss* loss,
              std::string* error)
{
    *loss = ImdLoss();
    writeComment(disk, file);
    const bool high = d88::isHighDensity(disk.medium);
    for (size_t t = 0; t < disk.tracks.size(); ++t) {
        const std::vector<const d88::SectorRecord*> kept = keptSectors(disk.tracks[t], loss);
        if (kept.empty())
            continue;
        // The track header counts its sectors in one byte.
        if (kept.size() > 255) {
            *error = textFormat(tr("トラック %d はセクタが %d 個あり, IMD の 1 トラックに入る "
                                   "255 個を超えています."),
                                static_cast<int>(t), static_cast<int>(kept.size()));
            return false;
        }
        if (isMixed(kept)) {
            if (!lossy) {
                *error = textFormat(tr("トラック %d はセクタの大きさか記録密度が混在しているため "
                                       "IMD に入りません. --lossy を付けるとそのトラックを除いて"
                                       "変換します."),
                                    static_cast<int>(t));
                return false;
            }
            loss->mixed.push_back(static_cast<int>(t));
            continue;
        }
        writeTrackHead(kept, t, high, file);
        const size_t size = size_t(128) << kept[0]->n;
        for (const d88::SectorRecord* s : kept)
            writeSector(*s, size, loss, file);
    }
    return true;
}
