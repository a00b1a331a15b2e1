#include "transfer/track_reply.h"

#include <cstddef>

#include "image/image_file.h"
#include "image/sector_kind.h"
#include "link/protocol.h"

bool decodeTrackReply(const uint8_t* reply, int received, int t, d88::TrackRecords* track,
                      std::vector<SectorReport>* reports)
{
    track->clear();
    if (reports)
        reports->clear();
    // An empty reply reads as an unformatted track.
    const int count = received > 0 ? reply[0] : 0;
    if (count == 0)
        return true;
    const int dataArea = 1 + count * kReportSize;
    if (dataArea > received)
        return false;

    std::vector<uint8_t> raw(reply + 1, reply + dataArea);
    decodeSectorReports(raw.data(), count, t);
    for (int i = 0; i < count; ++i) {
        const SectorReport report = SectorReport::parse(raw.data() + i * kReportSize);
        d88::SectorRecord record;
        record.c = report.c;
        record.h = report.h;
        record.r = report.r;
        record.n = report.n;
        record.density = static_cast<uint8_t>(report.mode ^ wire::kMfm);
        record.deleted = d88Deleted(report);
        record.status = d88Status(report);
        const bool carriesData =
            record.status != d88::kStatusIdCrc && record.status != d88::kStatusNoDataMark;
        if (carriesData) {
            // Offsets and lengths come from the agent: the data must lie
            // inside what actually arrived.
            if (dataArea + report.offset + report.length > received)
                return false;
            const uint8_t* data = reply + dataArea + report.offset;
            record.data.assign(data, data + report.length);
        }
        track->push_back(std::move(record));
        if (reports)
            reports->push_back(report);
    }
    return true;
}

bool appendTrack(ImageFile& image, const d88::TrackRecords& track)
{
    for (const d88::SectorRecord& s : track) {
        const d88::D88SectorHeader record = d88::D88SectorHeader::of(s, track.size());
        uint8_t bytes[d88::kSectorHeaderSize];
        record.encode(bytes);
        if (image.write(bytes, d88::kSectorHeaderSize) != d88::kSectorHeaderSize)
            return false;
        const int n = static_cast<int>(s.data.size());
        if (n > 0 && image.write(s.data.data(), n) != n)
            return false;
    }
    return true;
}

int countBadSectors(const d88::TrackRecords& track)
{
    return countSectors(track).bad();
}

bool sameTrack(const d88::TrackRecords& a, const d88::TrackRecords& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const d88::SectorRecord& x = a[i];
        const d88::SectorRecord& y = b[i];
        if (x.c != y.c || x.h != y.h || x.r != y.r || x.n != y.n || x.density != y.density)
            return false;
        // A weak sector reads differently each time; only clean reads are compared.
        if (x.status == d88::kStatusOk && y.status == d88::kStatusOk && x.data != y.data)
            return false;
    }
    return true;
}
