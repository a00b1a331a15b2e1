#include "image/imd.h"

#include <algorithm>
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

} // namespace

bool readImd(const std::vector<uint8_t>& file, DiskImage* disk, std::string* error)
{
    *disk = DiskImage();
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
        disk->title.assign(lineEnd + 1, std::min(titleEnd, lineEnd + 1 + 16));
    }

    Reader in(file);
    in.pos = static_cast<size_t>(end - file.begin()) + 1;
    bool high = false;
    int lastCylinder = -1;
    size_t total = 0;
    while (in.pos < file.size()) {
        const size_t start = in.pos;
        auto fail = [&](const char* what, int track) {
            *error = textFormat(tr("トラック %d (オフセット %ld): %s"), track,
                                static_cast<long>(start), what);
            return false;
        };
        if (!in.has(5)) {
            *error = textFormat(tr("オフセット %ld: トラックの見出しの途中でファイルが終わっています."),
                                static_cast<long>(start));
            return false;
        }
        const int mode = in.byte();
        const int cylinder = in.byte();
        const int headByte = in.byte();
        const int count = in.byte();
        const int sizeCode = in.byte();
        const int head = headByte & 0x0F;
        const int t = cylinder * 2 + head;
        if (head > 1 || (headByte & 0x30) != 0)
            return fail(tr("ヘッド番号が不正です."), t);
        if (t >= d88::kTrackCount)
            return fail(tr("シリンダ番号が大きすぎます."), t);
        if (mode >= kModes)
            return fail(tr("記録モードが不正です."), t);
        if (sizeCode > kMaxSizeCode && sizeCode != kSizeTable)
            return fail(tr("セクタの大きさが不正です."), t);
        if (static_cast<size_t>(t) < disk->tracks.size() && !disk->tracks[size_t(t)].empty())
            return fail(tr("同じトラックが 2 度あります."), t);

        const bool cylMap = headByte & kCylinderMap, headMap = headByte & kHeadMap;
        const size_t mapBytes = size_t(count) * (1 + cylMap + headMap) +
                                (sizeCode == kSizeTable ? size_t(count) * 2 : 0);
        if (!in.has(mapBytes))
            return fail(tr("セクタ番号の表の途中でファイルが終わっています."), t);
        std::vector<uint8_t> rs(file.begin() + long(in.pos), file.begin() + long(in.pos) + count);
        in.pos += size_t(count);
        std::vector<uint8_t> cs(size_t(count), static_cast<uint8_t>(cylinder));
        std::vector<uint8_t> hs(size_t(count), static_cast<uint8_t>(head));
        if (cylMap) {
            std::copy_n(file.begin() + long(in.pos), count, cs.begin());
            in.pos += size_t(count);
        }
        if (headMap) {
            std::copy_n(file.begin() + long(in.pos), count, hs.begin());
            in.pos += size_t(count);
        }
        std::vector<int> sizes(size_t(count), sizeCode == kSizeTable ? 0 : 128 << sizeCode);
        if (sizeCode == kSizeTable) {
            for (int& size : sizes) {
                size = readLe16(&file[in.pos]);
                in.pos += 2;
                if (size > (128 << kMaxSizeCode))
                    return fail(tr("セクタの大きさが不正です."), t);
            }
        }

        d88::TrackRecords track;
        for (int i = 0; i < count; ++i) {
            const size_t at = in.pos;
            if (!in.has(1))
                return fail(tr("セクタのデータの途中でファイルが終わっています."), t);
            const int type = in.byte();
            if (type > kMaxType) {
                *error = textFormat(tr("トラック %d (オフセット %ld): セクタの種類 %d は不正です."),
                                    t, static_cast<long>(at), type);
                return false;
            }
            // A compressed sector is two bytes in the file: bound what they expand to.
            total += size_t(sizes[size_t(i)]);
            if (total > d88::kMaxImageSize)
                return fail(tr("ディスク 1 枚には多すぎるデータです."), t);
            d88::SectorRecord s;
            s.c = cs[size_t(i)];
            s.h = hs[size_t(i)];
            s.r = rs[size_t(i)];
            const int size = sizes[size_t(i)];
            int n = 0;
            while (n < 7 && (128 << n) < size)
                ++n;
            s.n = static_cast<uint8_t>(n);
            s.density = mode >= kFirstMfmMode ? d88::kDensityMfm : d88::kDensityFm;
            if (type == 0) {
                // Nothing could be read there: no data field.
                s.status = d88::kStatusNoDataMark;
                track.push_back(std::move(s));
                continue;
            }
            const int bits = type - 1;
            if (bits & kCompressed) {
                if (!in.has(1))
                    return fail(tr("セクタのデータの途中でファイルが終わっています."), t);
                s.data.assign(size_t(size), in.byte());
            } else {
                if (!in.has(size_t(size))) {
                    *error = textFormat(tr("トラック %d (オフセット %ld): セクタのデータの途中"
                                           "でファイルが終わっています."),
                                        t, static_cast<long>(at));
                    return false;
                }
                s.data.assign(file.begin() + long(in.pos), file.begin() + long(in.pos) + size);
                in.pos += size_t(size);
            }
            if (bits & kDeleted)
                s.deleted = d88::kDeletedMark;
            if (bits & kDataError)
                s.status = d88::kStatusDataCrc;
            track.push_back(std::move(s));
        }
        if (disk->tracks.size() <= static_cast<size_t>(t))
            disk->tracks.resize(static_cast<size_t>(t) + 1);
        disk->tracks[size_t(t)] = std::move(track);
        high = high || isHighRate(mode);
        lastCylinder = std::max(lastCylinder, cylinder);
    }
    // The rate tells 2HD; the cylinders a 2DD disk from a 2D one.
    disk->medium = high ? d88::kMedium2HD : lastCylinder >= 42 ? d88::kMedium2DD : d88::kMedium2D;
    return true;
}

bool writeImd(const DiskImage& disk, bool lossy, std::vector<uint8_t>* file, ImdLoss* loss,
              std::string* error)
{
    *loss = ImdLoss();
    std::vector<uint8_t>& out = *file;
    out.clear();
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
    out.assign(head.begin(), head.end());
    out.push_back(kEndOfComment);

    const bool high = d88::isHighDensity(disk.medium);
    for (size_t t = 0; t < disk.tracks.size(); ++t) {
        // ID CRC errors and missing data marks have no sector record type.
        std::vector<const d88::SectorRecord*> kept;
        for (const d88::SectorRecord& s : disk.tracks[t]) {
            if (s.status == d88::kStatusIdCrc)
                ++loss->idCrc;
            else if (s.status == d88::kStatusNoDataMark)
                ++loss->noDataMark;
            else
                kept.push_back(&s);
        }
        if (kept.empty())
            continue;
        const uint8_t n = kept[0]->n;
        const uint8_t density = kept[0]->density & d88::kDensityFm;
        bool mixed = n > kMaxSizeCode;
        for (const d88::SectorRecord* s : kept)
            mixed = mixed || s->n != n || (s->density & d88::kDensityFm) != density;
        if (mixed) {
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
        const int cylinder = static_cast<int>(t / 2), side = static_cast<int>(t % 2);
        bool cylMap = false, headMap = false;
        for (const d88::SectorRecord* s : kept) {
            cylMap = cylMap || s->c != cylinder;
            headMap = headMap || s->h != side;
        }
        // Some readers take the flag bits for part of every ID's head when a
        // cylinder map comes without a head map.
        headMap = headMap || cylMap;
        const int mode = (high ? 0 : 2) + (density == d88::kDensityFm ? 0 : kFirstMfmMode);
        out.push_back(static_cast<uint8_t>(mode));
        out.push_back(static_cast<uint8_t>(cylinder));
        out.push_back(static_cast<uint8_t>(side | (cylMap ? kCylinderMap : 0) |
                                           (headMap ? kHeadMap : 0)));
        out.push_back(static_cast<uint8_t>(kept.size()));
        out.push_back(n);
        for (const d88::SectorRecord* s : kept)
            out.push_back(s->r);
        if (cylMap)
            for (const d88::SectorRecord* s : kept)
                out.push_back(s->c);
        if (headMap)
            for (const d88::SectorRecord* s : kept)
                out.push_back(s->h);
        const size_t size = size_t(128) << n;
        for (const d88::SectorRecord* s : kept) {
            std::vector<uint8_t> data = s->data;
            const bool bad = s->status != d88::kStatusOk && s->status != 0x10;
            // 0x10: another tool's "deleted data, read fine".
            const bool deleted = s->deleted != 0 || s->status == 0x10;
            if (data.size() != size) {
                loss->resized += !bad;
                data.resize(size, 0);
            }
            const bool same = std::all_of(data.begin(), data.end(),
                                          [&](uint8_t b) { return b == data[0]; });
            out.push_back(static_cast<uint8_t>(1 + (same ? kCompressed : 0) +
                                               (deleted ? kDeleted : 0) +
                                               (bad ? kDataError : 0)));
            if (same)
                out.push_back(data[0]);
            else
                out.insert(out.end(), data.begin(), data.end());
        }
    }
    return true;
}
