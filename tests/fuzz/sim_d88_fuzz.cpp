// The simulator's D88 loader on an arbitrary file: the image walk, the
// tolerant parser, Floppy::load and the track replies made from what loaded
// (each within what a reply's 14-bit length carries, and each one the client
// decodes), and --info.
//
// Input: the file, as it is (images 1 and 2 are tried).
#include <cstdint>
#include <string>
#include <vector>

#include "sim/d88_file.h"
#include "sim/d88_info.h"
#include "sim/floppy.h"
#include "sim/track_reply.h"
#include "tests/fuzz/scratch_file.h"
#include "transfer/track_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::ScratchFile file;
    const std::vector<uint8_t> bytes(data, data + size);
    std::string error;
    for (int index : {1, 2}) {
        size_t start = 0;
        if (!sim::locateD88Image(bytes, index, &start, &error))
            continue;
        if (start >= bytes.size())
            __builtin_trap();
        sim::D88Image image;
        if (sim::parseD88Image(bytes, start, &image, &error) &&
            static_cast<int>(image.tracks.size()) != sim::trackCountOf(image.medium))
            __builtin_trap();
    }

    if (!file.write(data, size))
        return 0;
    sim::Floppy floppy;
    if (floppy.load(file.path(), &error)) {
        for (int t = 0; t < sim::Floppy::kTracks; ++t) {
            const std::vector<uint8_t> reply = floppy.trackReply(t);
            if (reply.size() > sim::kMaxTrackReply)
                __builtin_trap();
            // The client takes every reply the simulator makes, with a record
            // for each sector reported.
            d88::TrackRecords records;
            if (!decodeTrackReply(reply.data(), static_cast<int>(reply.size()), t, &records) ||
                records.size() != reply[0])
                __builtin_trap();
        }
    }
    std::string text;
    sim::describeD88(file.path(), &text);
    return 0;
}
