// The simulator's write-track payload parser on arbitrary payloads: every
// payload is applied, refused as malformed or refused for its track, and the
// track left behind still makes a reply that a 14-bit length carries.
//
// Input: u8 medium (0 2D, 1 2DD, 3 2HD; 2 counts as 3), u8 track, then the payload.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/floppy.h"
#include "sim/track_reply.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const int code = in.u8() & 3;
    const int medium = code == 2 ? 3 : code;
    const int track = in.u8();
    // A copy of exactly the payload's length, so a read past it is caught.
    const std::vector<uint8_t> payload(in.rest(), in.rest() + in.remaining());

    sim::Floppy floppy;
    floppy.blank(medium);
    std::vector<std::string> violations;
    const uint8_t reply = floppy.writeTrack(track, payload.data(), payload.size(), &violations);
    if (reply != sim::Floppy::kWriteOk && reply != sim::Floppy::kWriteLost &&
        reply != sim::Floppy::kWriteMalformed && reply != sim::Floppy::kWriteNoTrack)
        __builtin_trap();
    if (floppy.trackReply(track).size() > sim::kMaxTrackReply)
        __builtin_trap();
    return 0;
}
