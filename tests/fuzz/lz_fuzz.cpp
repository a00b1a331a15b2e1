// LzEncoder round-tripped through the simulator's decoder, which was written
// from the stream format alone: whatever the encoder emits, within the
// capacity it was given, decodes to its input.
//
// Input: u16 output capacity, then the bytes to compress.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/lz_encoder.h"
#include "sim/lz_decoder.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static LzEncoder encoder;
    fuzz::FuzzInput in(data, size);
    const int capacity = in.u16() & 0x7FFF;
    const uint8_t* input = in.rest();
    const unsigned n = static_cast<unsigned>(in.remaining());

    std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(capacity)]);
    const int length = encoder.encode(input, n, out.get(), capacity);
    if (length == LzEncoder::kOverflow)
        return 0;
    if (n >= 0x4000 || length < 0 || length > capacity)
        __builtin_trap();

    std::vector<uint8_t> decoded;
    std::string error;
    size_t consumed = 0;
    if (!sim::lzDecode(out.get(), static_cast<size_t>(length), decoded, &error, &consumed))
        __builtin_trap();
    if (consumed > static_cast<size_t>(length) || decoded.size() != n ||
        !std::equal(decoded.begin(), decoded.end(), input))
        __builtin_trap();
    return 0;
}
