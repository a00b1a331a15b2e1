// The HFE reader on an arbitrary file: it refuses with a message or reads a
// disk whose sectors are ones a controller can report; what it read, the
// writer renders, and the rendered file reads again.
//
// Input: the file, as it is.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/hfe_writer.h"
#include "image/d88.h"
#include "image/hfe.h"

namespace
{

bool plausible(const DiskImage& disk)
{
    if (disk.tracks.size() > static_cast<size_t>(d88::kTrackCount))
        return false;
    for (const d88::TrackRecords& track : disk.tracks) {
        for (const d88::SectorRecord& s : track) {
            if (s.data.size() > 32768)
                return false;
            const bool noData = s.status == d88::kStatusIdCrc || s.status == d88::kStatusNoDataMark;
            if (!noData && s.status != d88::kStatusOk && s.status != d88::kStatusDataCrc)
                return false;
            if (noData && !s.data.empty())
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> file(data, data + size);
    DiskImage disk;
    std::string error;
    if (!readHfe(file, &disk, &error)) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    if (!plausible(disk))
        __builtin_trap();

    std::vector<uint8_t> again;
    if (!writeHfe(disk, &again, &error))
        __builtin_trap();
    DiskImage back;
    if (!readHfe(again, &back, &error) || !plausible(back))
        __builtin_trap();
    return 0;
}
