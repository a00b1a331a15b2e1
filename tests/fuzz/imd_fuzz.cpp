// The IMD reader on an arbitrary file: it refuses with a message or gives a
// disk, and whatever disk it gives, the writer holds (lossy) and the reader
// takes back with the same tracks.
//
// Input: the file, as it is.
#include <cstdint>
#include <string>
#include <vector>

#include "image/imd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> file(data, data + size);
    DiskImage disk;
    std::string error;
    if (!readImd(file, &disk, &error)) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    std::vector<uint8_t> again;
    ImdLoss loss;
    if (!writeImd(disk, true, &again, &loss, &error))
        __builtin_trap();
    DiskImage back;
    if (!readImd(again, &back, &error))
        __builtin_trap();
    // What was left out aside, every track comes back with its sector count.
    for (size_t t = 0; t < back.tracks.size(); ++t)
        if (t >= disk.tracks.size() || back.tracks[t].size() > disk.tracks[t].size())
            __builtin_trap();
    return 0;
}
