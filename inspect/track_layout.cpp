#include "inspect/track_layout.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "core/i18n.h"
namespace
{

std::string sizeText(uint8_t n)
{
    // Copy protections use size codes no controller formats; show them raw.
    return n <= 8 ? std::to_string(128 << n) : "N=" + std::to_string(n);
}

const char* densityText(bool fm)
{
    return fm ? "FM" : "MFM";
}

} // namespace

std::string numberRuns(const std::set<int>& numbers)
{
    std::string text;
    for (auto it = numbers.begin(); it != numbers.end();) {
        const int first = *it;
        int last = first;
        for (++it; it != numbers.end() && *it == last + 1; ++it)
            last = *it;
        if (!text.empty())
            text += ", ";
        text += std::to_string(first);
        if (last > first)
            text += "-" + std::to_string(last);
    }
    return text;
}

char sectorMapChar(SectorKind kind)
{
    switch (kind) {
    case SectorKind::Good:
        return '.';
    case SectorKind::Deleted:
        return 'd';
    case SectorKind::DataCrc:
        return 'D';
    case SectorKind::IdCrc:
        return 'I';
    case SectorKind::NoAddressMark:
        return 'M';
    case SectorKind::Other:
        break;
    }
    return '?';
}

const char* const kSectorMapLegend = N_(". 正常  d 削除マーク  D データ CRC エラー  I ID CRC エラー  "
                                        "M アドレスマークなし  ? その他の状態");

TrackLayout describeTrack(int t, const d88::TrackRecords& track)
{
    TrackLayout out;
    if (track.empty())
        return out;

    // Runs of one size and density in recorded order; the density is named
    // once when the whole track shares it.
    const bool mixedDensity =
        std::any_of(track.begin(), track.end(), [&](const d88::SectorRecord& s) {
            return (s.density == d88::kDensityFm) != (track[0].density == d88::kDensityFm);
        });
    for (size_t i = 0; i < track.size();) {
        const bool fm = track[i].density == d88::kDensityFm;
        size_t j = i;
        while (j < track.size() && track[j].n == track[i].n &&
               (track[j].density == d88::kDensityFm) == fm)
            ++j;
        if (!out.layout.empty())
            out.layout += " + ";
        out.layout += std::to_string(j - i) + " x " + sizeText(track[i].n);
        if (mixedDensity)
            out.layout += std::string(" ") + densityText(fm);
        i = j;
    }
    if (!mixedDensity)
        out.layout += std::string(" ") + densityText(track[0].density == d88::kDensityFm);

    std::map<int, int> timesSeen;
    std::map<std::pair<int, int>, std::set<int>> otherPlace; // (C, H) -> R
    for (const d88::SectorRecord& s : track) {
        ++timesSeen[s.r];
        if (s.c != t / 2 || s.h != t % 2)
            otherPlace[{s.c, s.h}].insert(s.r);
    }
    std::set<int> numbers;
    for (const auto& [r, times] : timesSeen)
        numbers.insert(r);
    out.records = numberRuns(numbers);

    std::string places;
    for (const auto& [ch, rs] : otherPlace) {
        if (!places.empty())
            places += ", ";
        places += "C" + std::to_string(ch.first) + " H" + std::to_string(ch.second) + " (R " +
                  numberRuns(rs) + ")";
    }
    std::string twice;
    for (const auto& [r, times] : timesSeen) {
        if (times < 2)
            continue;
        if (!twice.empty())
            twice += ", ";
        twice += "R" + std::to_string(r) + " x" + std::to_string(times);
    }
    if (!places.empty())
        out.oddIds = tr("ID の C/H が違う: ") + places;
    if (!twice.empty())
        out.oddIds += (out.oddIds.empty() ? "" : "; ") + std::string(tr("R の重複: ")) + twice;
    return out;
}
