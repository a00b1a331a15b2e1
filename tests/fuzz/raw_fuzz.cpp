// Raw sector images: any file either is refused with a message or reads as a
// regular disk that the writer gives back byte for byte.
//
// Input: u8 flags (bit 0: a geometry follows), then u8 C, H, S, N when it
// does, then the file.
#include <cstdint>
#include <string>
#include <vector>

#include "image/raw_image.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const bool given = in.u8() & 1;
    RawGeometry geometry;
    if (given) {
        geometry.cylinders = in.u8() % 8 + 1;   // small, so that sizes can match
        geometry.heads = in.u8() % 2 + 1;
        geometry.sectors = in.u8() % 16 + 1;
        geometry.n = in.u8() % 3;
    }
    const std::vector<uint8_t> file(in.rest(), in.rest() + in.remaining());
    DiskImage disk;
    std::string error;
    if (!readRaw(file, given ? &geometry : nullptr, &disk, &error)) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    std::vector<uint8_t> again;
    if (geometry.heads == 2 || !given) {
        if (!writeRaw(disk, &again, &error) || again != file)
            __builtin_trap();
    }
    return 0;
}
