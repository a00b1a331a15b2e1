#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/d88.h"
#include "image/track_compare.h"

namespace
{

using Track = d88::TrackRecords;

constexpr uint8_t kStatusDeletedOk = 0x10; // another tool's "deleted, read fine"

// Track 5 (C2 H1): R first..first+count-1 of size code n, data telling them apart.
Track regular(int count, uint8_t n = 1, int first = 1)
{
    Track t;
    for (int r = first; r < first + count; ++r) {
        d88::SectorRecord s;
        s.c = 2;
        s.h = 1;
        s.r = static_cast<uint8_t>(r);
        s.n = n;
        s.data.resize(size_t{128} << n);
        for (size_t i = 0; i < s.data.size(); ++i)
            s.data[i] = static_cast<uint8_t>(r * 13 + i);
        t.push_back(s);
    }
    return t;
}

d88::SectorRecord& withR(Track& t, int r, int nth = 0)
{
    for (auto& s : t)
        if (s.r == r && nth-- == 0)
            return s;
    throw std::logic_error("no such sector");
}

void erase(Track& t, int r)
{
    for (auto it = t.begin(); it != t.end(); ++it)
        if (it->r == r) {
            t.erase(it);
            return;
        }
}

// The outcome in one line, for the table to state what it expects.
std::string summary(const TrackComparison& c)
{
    static const struct {
        unsigned bit;
        const char* name;
    } kNames[] = {{kDiffMissing, "missing"}, {kDiffId, "id"},         {kDiffDensity, "density"},
                  {kDiffDeleted, "deleted"}, {kDiffStatus, "status"}, {kDiffData, "data"}};
    std::string s = "compared " + std::to_string(c.compared);
    if (c.leftOut)
        s += "; left out " + std::to_string(c.leftOut);
    for (const SectorDifference& d : c.differences) {
        s += "; R" + std::to_string(d.r);
        const char* sep = " ";
        for (const auto& n : kNames) {
            if (d.what & n.bit) {
                s += sep;
                s += n.name;
                sep = "+";
            }
        }
    }
    if (!c.extra.empty()) {
        s += "; extra";
        for (uint8_t r : c.extra)
            s += " R" + std::to_string(r);
    }
    if (c.unformattedMismatch)
        s += "; unformatted mismatch";
    if (c.noUsableSector)
        s += "; no usable";
    return s + (c.matches() ? "; match" : "; differs");
}

using Change = std::function<void(Track& source, Track& copy)>;

struct Case {
    const char* name;
    Change change; // applied to two equal tracks of eight 256-byte sectors
    const char* outcome;
    const char* words;            // describeDifferences
    bool writeLoadBudget = false; // w --verify's rule
};

// Seven 2048-byte sectors: w's 12,288-byte track load holds the first six.
void sevenBig(Track& s, Track& c)
{
    s = c = regular(7, 4);
}

TEST(CompareTrack, EachRule)
{
    const Case cases[] = {
        {"identical", [](Track&, Track&) {}, "compared 8; match", ""},
        {"changed data byte", [](Track&, Track& c) { withR(c, 3).data[200] ^= 1; },
         "compared 8; R3 data; differs", "R3 データ"},
        {"copy data shorter than the source's",
         [](Track&, Track& c) { withR(c, 4).data.resize(255); }, "compared 8; R4 data; differs",
         "R4 データ"},
        {"missing sector", [](Track&, Track& c) { erase(c, 5); }, "compared 8; R5 missing; differs",
         "R5 なし"},
        {"changed deleted mark", [](Track&, Track& c) { withR(c, 2).deleted = d88::kDeletedMark; },
         "compared 8; R2 deleted; differs", "R2 削除マーク"},
        {"status 0x10 is the deleted mark, on either side",
         [](Track& s, Track& c) {
             withR(s, 2).status = kStatusDeletedOk;
             withR(c, 2).deleted = d88::kDeletedMark;
             withR(s, 6).deleted = d88::kDeletedMark;
             withR(c, 6).status = kStatusDeletedOk;
         },
         "compared 8; match", ""},
        {"density", [](Track&, Track& c) { withR(c, 4).density = d88::kDensityFm; },
         "compared 8; R4 density; differs", "R4 密度"},
        {"status 0xB0 in the copy",
         [](Track&, Track& c) { withR(c, 6).status = d88::kStatusDataCrc; },
         "compared 8; R6 status; differs", "R6 読み取りエラー"},
        {"ID with another C", [](Track&, Track& c) { withR(c, 7).c = 9; },
         "compared 8; R7 id; differs", "R7 ID"},
        {"ID with another N, and other data",
         [](Track&, Track& c) {
             withR(c, 7).n = 2;
             withR(c, 7).data[0] ^= 0xFF;
         },
         "compared 8; R7 id+data; differs", "R7 ID/データ"},
        {"two differences on one track",
         [](Track&, Track& c) {
             withR(c, 3).data[0] ^= 1;
             erase(c, 5);
         },
         "compared 8; R3 data; R5 missing; differs", "R3 データ, R5 なし"},
        {"duplicate R pairs in recorded order",
         [](Track& s, Track& c) {
             auto dup = withR(s, 1);
             dup.data.assign(dup.data.size(), 0x5A);
             s.push_back(dup);
             c.push_back(dup);
         },
         "compared 9; match", ""},
        {"duplicate R swapped in the copy",
         [](Track& s, Track& c) {
             auto dup = withR(s, 1);
             dup.data.assign(dup.data.size(), 0x5A);
             s.push_back(dup);
             c.insert(c.begin(), dup);
         },
         "compared 9; R1 data; R1 data; differs", "R1 データ, R1 データ"},
        {"duplicate R, the copy holds one", [](Track& s, Track&) { s.push_back(withR(s, 1)); },
         "compared 9; R1 missing; differs", "R1 なし"},
        {"an unusable duplicate the copy lacks",
         [](Track& s, Track&) {
             auto bad = withR(s, 1);
             bad.status = d88::kStatusIdCrc;
             bad.data.clear();
             s.insert(s.begin(), bad);
         },
         "compared 8; match", ""},
        {"extra sectors are listed, not a difference",
         [](Track&, Track& c) {
             for (const auto& x : regular(2, 1, 9))
                 c.push_back(x);
         },
         "compared 8; extra R9 R10; match", ""},
        {"unusable source sectors are skipped",
         [](Track& s, Track& c) {
             withR(s, 3).status = d88::kStatusDataCrc;
             withR(c, 3).data.assign(256, 0);
             withR(s, 4).status = d88::kStatusIdCrc;
             erase(c, 4);
             withR(s, 5).status = d88::kStatusNoDataMark;
             withR(c, 5).status = d88::kStatusDataCrc;
         },
         "compared 5; match", ""},
        {"a copy sector in an unusable sector's place is not extra",
         [](Track& s, Track&) { withR(s, 3).status = d88::kStatusIdCrc; }, "compared 7; match", ""},
        {"source unformatted, copy formatted", [](Track& s, Track&) { s.clear(); },
         "compared 0; unformatted mismatch; differs",
         "フォーマットされています (元は未フォーマット)"},
        {"both unformatted",
         [](Track& s, Track& c) {
             s.clear();
             c.clear();
         },
         "compared 0; match", ""},
        {"source formatted, copy unformatted",
         [](Track& s, Track& c) {
             s.resize(2);
             c.clear();
         },
         "compared 2; R1 missing; R2 missing; differs", "R1 なし, R2 なし"},
        {"no usable sector",
         [](Track& s, Track& c) {
             for (auto& x : s)
                 x.status = d88::kStatusDataCrc;
             c.clear();
         },
         "compared 0; no usable; match", ""},
        {"load budget: the sector past it is left out",
         [](Track& s, Track& c) {
             sevenBig(s, c);
             withR(c, 7).data[0] ^= 1;
         },
         "compared 6; left out 1; match", "", true},
        {"without the budget every sector counts",
         [](Track& s, Track& c) {
             sevenBig(s, c);
             withR(c, 7).data[0] ^= 1;
         },
         "compared 7; R7 data; differs", "R7 データ"},
        {"load budget: unusable data spends it; the sector it cuts is left out",
         [](Track& s, Track& c) {
             sevenBig(s, c);
             withR(s, 1).status = d88::kStatusDataCrc;
             withR(s, 6).data.resize(3000);
             withR(c, 6).data.resize(3000);
             withR(c, 6).data[2999] ^= 1;
         },
         "compared 4; left out 2; match", "", true},
        {"load budget: differences within it still count",
         [](Track& s, Track& c) {
             sevenBig(s, c);
             withR(c, 2).data[0] ^= 1;
         },
         "compared 6; left out 1; R2 data; differs", "R2 データ", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Track source = regular(8), copy = regular(8);
        k.change(source, copy);
        CompareRules rules;
        rules.loadBudget = k.writeLoadBudget ? 12288 : 0; // w's 12,288-byte track load
        const TrackComparison c = compareTrack(source, copy, rules);
        EXPECT_EQ(summary(c), k.outcome);
        EXPECT_EQ(describeDifferences(c), k.words);
    }
}

} // namespace
