#include "image/track_compare.h"

#include <algorithm>

#include "core/i18n.h"
#include "image/sector_kind.h"

namespace
{

// A record as a drive tells it apart: its status and mark normalised, the
// density reduced to FM or not.
struct Sector {
    uint8_t c, h, r, n;
    bool fm;
    bool deleted;
    uint8_t status;
    const std::vector<uint8_t>* data;
};

Sector normalise(const d88::SectorRecord& s)
{
    return Sector{s.c,
                  s.h,
                  s.r,
                  s.n,
                  s.density == d88::kDensityFm,
                  hasDeletedMark(s.status, s.deleted),
                  driveStatus(s.status),
                  &s.data};
}

std::vector<Sector> normalise(const d88::TrackRecords& track)
{
    std::vector<Sector> out;
    out.reserve(track.size());
    for (const d88::SectorRecord& s : track)
        out.push_back(normalise(s));
    return out;
}

bool sameId(const Sector& a, const Sector& b)
{
    return a.c == b.c && a.h == b.h && a.r == b.r && a.n == b.n;
}

unsigned differences(const Sector& source, const Sector& copy)
{
    unsigned what = 0;
    if (!sameId(source, copy))
        what |= kDiffId;
    if (source.fm != copy.fm)
        what |= kDiffDensity;
    if (source.deleted != copy.deleted)
        what |= kDiffDeleted;
    if (copy.status != d88::kStatusOk)
        what |= kDiffStatus;
    const std::vector<uint8_t>& want = *source.data;
    const std::vector<uint8_t>& got = *copy.data;
    if (got.size() < want.size() || !std::equal(want.begin(), want.end(), got.begin()))
        what |= kDiffData;
    return what;
}

// Which copy sector each compared source sector pairs with (-1: none);
// *taken marks the copy sectors paired.
std::vector<int> pairSectors(const std::vector<Sector>& source, const std::vector<Sector>& copy,
                             const std::vector<bool>& compared, std::vector<bool>* takenOut)
{
    std::vector<bool>& taken = *takenOut;
    // The k-th source sector of an ID pairs with the k-th copy sector of that
    // ID, so duplicate IDs (copy protections) pair in their recorded order.
    std::vector<int> match(source.size(), -1);
    for (size_t i = 0; i < source.size(); ++i) {
        if (!compared[i])
            continue;
        int k = 0;
        for (size_t j = 0; j < i; ++j)
            k += sameId(source[j], source[i]);
        for (size_t j = 0; j < copy.size(); ++j) {
            if (sameId(copy[j], source[i]) && k-- == 0) {
                match[i] = static_cast<int>(j);
                taken[j] = true;
                break;
            }
        }
    }
    // Left over: a copy that lacks an unusable duplicate (a track of mixed
    // sizes is written without the unusable sectors) still holds the sector
    // under its own ID; failing that, a sector of the same R with another ID.
    auto claim = [&](bool exactId) {
        for (size_t i = 0; i < source.size(); ++i) {
            if (!compared[i] || match[i] >= 0)
                continue;
            for (size_t j = 0; j < copy.size(); ++j) {
                if (!taken[j] &&
                    (exactId ? sameId(copy[j], source[i]) : copy[j].r == source[i].r)) {
                    match[i] = static_cast<int>(j);
                    taken[j] = true;
                    break;
                }
            }
        }
    };
    claim(true);
    claim(false);
    return match;
}

} // namespace

bool TrackComparison::matches() const
{
    return differences.empty() && !unformattedMismatch;
}

TrackComparison compareTrack(const d88::TrackRecords& sourceTrack,
                             const d88::TrackRecords& copyTrack, const CompareRules& rules)
{
    TrackComparison result;
    if (sourceTrack.empty()) {
        result.unformattedMismatch = !copyTrack.empty();
        return result;
    }
    const std::vector<Sector> source = normalise(sourceTrack);
    const std::vector<Sector> copy = normalise(copyTrack);

    // Which source sectors take part: usable ones whose data w's track load
    // carries whole. The budget is spent by every record with data, usable or not.
    std::vector<bool> compared(source.size(), false);
    uint32_t budget = rules.loadBudget;
    bool anyUsable = false;
    for (size_t i = 0; i < source.size(); ++i) {
        const uint32_t size = static_cast<uint32_t>(source[i].data->size());
        const uint32_t loaded = std::min(size, budget);
        budget -= loaded;
        if (source[i].status != d88::kStatusOk)
            continue;
        anyUsable = true;
        if (rules.loadBudget > 0 && loaded < size)
            ++result.leftOut;
        else
            compared[i] = true;
    }
    result.noUsableSector = !anyUsable;

    std::vector<bool> taken(copy.size(), false);
    const std::vector<int> match = pairSectors(source, copy, compared, &taken);

    for (size_t i = 0; i < source.size(); ++i) {
        if (!compared[i])
            continue;
        ++result.compared;
        const unsigned what =
            match[i] < 0 ? unsigned{kDiffMissing} : differences(source[i], copy[size_t(match[i])]);
        if (what)
            result.differences.push_back({source[i].r, what});
    }
    // A copy sector in the place of an unusable (or left-out) source sector
    // carries that sector's ID and is no surprise.
    for (size_t j = 0; j < copy.size(); ++j) {
        if (taken[j])
            continue;
        const bool known = std::any_of(source.begin(), source.end(),
                                       [&](const Sector& s) { return sameId(s, copy[j]); });
        if (!known)
            result.extra.push_back(copy[j].r);
    }
    return result;
}

std::string describeDifferences(const TrackComparison& c)
{
    if (c.unformattedMismatch)
        return tr("フォーマットされています (元は未フォーマット)");
    // In the order a reader checks a sector: is it there, under which ID,
    // how it was recorded, whether it read, what it holds.
    static const struct {
        unsigned bit;
        const char* word;
    } kWords[] = {{kDiffMissing, N_("なし")},          {kDiffId, "ID"},
                  {kDiffDensity, N_("密度")},          {kDiffDeleted, N_("削除マーク")},
                  {kDiffStatus, N_("読み取りエラー")}, {kDiffData, N_("データ")}};
    std::string text;
    for (const SectorDifference& d : c.differences) {
        if (!text.empty())
            text += ", ";
        text += "R" + std::to_string(d.r) + " ";
        bool first = true;
        for (const auto& w : kWords) {
            if (!(d.what & w.bit))
                continue;
            if (!first)
                text += "/";
            text += tr(w.word);
            first = false;
        }
    }
    return text;
}
