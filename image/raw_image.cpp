#include "image/raw_image.h"

#include <algorithm>

#include "core/i18n.h"
#include "core/text_format.h"

namespace
{

struct KnownSize {
    int medium;
    RawGeometry geometry;
};

const KnownSize kKnownSizes[] = {
    {d88::kMedium2D, {40, 2, 16, 1}},  {d88::kMedium2DD, {80, 2, 16, 1}},
    {d88::kMedium2DD, {80, 2, 9, 2}},  {d88::kMedium2HD, {77, 2, 26, 1}},
    {d88::kMedium2HD, {77, 2, 8, 3}},  {d88::kMedium2HD, {80, 2, 15, 2}},
};

// A geometry given by hand: more than a 250 kbit/s track holds (about 6250
// bytes) is 2HD; else more than 42 cylinders is 2DD.
int mediumOf(const RawGeometry& g)
{
    for (const KnownSize& k : kKnownSizes)
        if (k.geometry.cylinders == g.cylinders && k.geometry.sectors == g.sectors &&
            k.geometry.n == g.n && g.heads == 2)
            return k.medium;
    if (g.sectors * (128 << g.n) > 6250)
        return d88::kMedium2HD;
    return g.cylinders > 42 ? d88::kMedium2DD : d88::kMedium2D;
}

bool numberAt(const std::string& text, size_t* pos, int* value)
{
    size_t end = *pos;
    while (end < text.size() && end - *pos < 4 && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == *pos)
        return false;
    *value = std::stoi(text.substr(*pos, end - *pos));
    *pos = end;
    return true;
}

} // namespace

bool parseGeometry(const std::string& text, RawGeometry* g)
{
    int* fields[] = {&g->cylinders, &g->heads, &g->sectors, &g->n};
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != ','))
            return false;
        if (!numberAt(text, &pos, fields[i]))
            return false;
    }
    return pos == text.size() && g->cylinders >= 1 && g->heads >= 1 && g->heads <= 2 &&
           g->cylinders * 2 <= d88::kTrackCount && g->sectors >= 1 && g->sectors <= 64 &&
           g->n >= 0 && g->n <= 6;
}

std::string knownRawSizes()
{
    std::string text;
    for (const KnownSize& k : kKnownSizes) {
        const RawGeometry& g = k.geometry;
        text += textFormat("%s%lld (%s %dx%dx%dx%d)", text.empty() ? "" : ", ",
                           static_cast<long long>(g.bytes()), d88::mediumName(k.medium),
                           g.cylinders, g.heads, g.sectors, 128 << g.n);
    }
    return text;
}

bool readRaw(const std::vector<uint8_t>& file, const RawGeometry* given, DiskImage* disk,
             std::string* error)
{
    *disk = DiskImage();
    RawGeometry g;
    int medium = -1;
    if (given) {
        g = *given;
        if (g.bytes() != static_cast<int64_t>(file.size())) {
            *error = textFormat(tr("大きさ %ld バイトは指定のジオメトリ (%lld バイト) と合いません."),
                                static_cast<long>(file.size()), static_cast<long long>(g.bytes()));
            return false;
        }
        medium = mediumOf(g);
    } else {
        for (const KnownSize& k : kKnownSizes) {
            if (k.geometry.bytes() == static_cast<int64_t>(file.size())) {
                g = k.geometry;
                medium = k.medium;
                break;
            }
        }
        if (medium < 0) {
            *error = textFormat(tr("大きさ %ld バイトのベタイメージは知りません. 知っている大きさ"
                                   "は %s です. ほかのジオメトリは --geometry C,H,S,N で指定して"
                                   "ください."),
                                static_cast<long>(file.size()), knownRawSizes().c_str());
            return false;
        }
    }
    disk->medium = medium;
    const size_t size = size_t(128) << g.n;
    size_t pos = 0;
    disk->tracks.resize(size_t(g.cylinders) * 2);
    for (int c = 0; c < g.cylinders; ++c) {
        for (int h = 0; h < g.heads; ++h) {
            d88::TrackRecords& track = disk->tracks[size_t(c * 2 + h)];
            for (int r = 1; r <= g.sectors; ++r) {
                d88::SectorRecord s;
                s.c = static_cast<uint8_t>(c);
                s.h = static_cast<uint8_t>(h);
                s.r = static_cast<uint8_t>(r);
                s.n = static_cast<uint8_t>(g.n);
                s.data.assign(file.begin() + long(pos), file.begin() + long(pos + size));
                pos += size;
                track.push_back(std::move(s));
            }
        }
    }
    return true;
}

bool writeRaw(const DiskImage& disk, std::vector<uint8_t>* file, std::string* error)
{
    file->clear();
    int last = -1;
    for (size_t t = 0; t < disk.tracks.size(); ++t)
        if (!disk.tracks[t].empty())
            last = static_cast<int>(t);
    if (last < 0) {
        *error = tr("フォーマットされたトラックがないため, ベタイメージにできません.");
        return false;
    }
    // A raw image has both sides of every cylinder it holds.
    const int tracks = (last / 2 + 1) * 2;
    const d88::TrackRecords& first = disk.tracks[0];
    const size_t count = first.size();
    const uint8_t n = first.empty() ? 0 : first[0].n;
    auto refuse = [&](int t, const char* why) {
        *error = textFormat(tr("トラック %d: %s. ベタイメージには, どのトラックも同じ数の同じ大きさ"
                               "の MFM のセクタ (番号は 1 から順, エラーも削除マークもなし) の"
                               "ディスクしか入りません."),
                            t, why);
        return false;
    };
    for (int t = 0; t < tracks; ++t) {
        const d88::TrackRecords& track = disk.tracks.size() > size_t(t) ? disk.tracks[size_t(t)]
                                                                        : d88::TrackRecords();
        if (track.empty())
            return refuse(t, tr("未フォーマットです"));
        if (track.size() != count)
            return refuse(t, tr("セクタ数がトラック 0 と違います"));
        std::vector<const d88::SectorRecord*> sorted;
        for (const d88::SectorRecord& s : track) {
            if (s.n != n || n > 6 || s.data.size() != (size_t(128) << n))
                return refuse(t, tr("トラック 0 と大きさの違うセクタがあります"));
            if (s.density & d88::kDensityFm)
                return refuse(t, tr("FM で記録されています"));
            if (s.c != t / 2 || s.h != t % 2)
                return refuse(t, tr("ID の C/H がトラックの位置と違います"));
            if (s.status != d88::kStatusOk || s.deleted != 0)
                return refuse(t, tr("エラーか削除マークのあるセクタがあります"));
            sorted.push_back(&s);
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const d88::SectorRecord* a, const d88::SectorRecord* b) { return a->r < b->r; });
        for (size_t i = 0; i < sorted.size(); ++i)
            if (sorted[i]->r != i + 1)
                return refuse(t, tr("セクタ番号が 1 から順になっていません"));
        for (const d88::SectorRecord* s : sorted)
            file->insert(file->end(), s->data.begin(), s->data.end());
    }
    return true;
}
