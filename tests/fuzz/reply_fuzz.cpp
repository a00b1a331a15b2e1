// Reply decoding: a "$" reply's payload expanded into a buffer of any
// capacity, then decoded as a track reply (delta-coded sector reports, data
// taken from the data area).
//
// Input: u16 capacity, u8 track, then the payload (16-bit header, stored or
// run-length data).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/packet_link.h"
#include "link/protocol.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/expand_reply.h"
#include "transfer/sector_reports.h"
#include "transfer/track_reply.h"

class PacketLinkTestAccess
{
public:
    static bool expand(PacketLink& link, uint8_t* destination, int capacity, const uint8_t* source,
                       int length, int* produced)
    {
        return link.expandPayload(destination, capacity, source, length, produced);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static PacketLink link;
    fuzz::FuzzInput in(data, size);
    const int capacity = in.u16() & 0x7FFF;
    const int track = in.u8();
    // receiveOnce holds at most a 14-bit length of payload.
    size_t length = 0;
    const uint8_t* at = in.bytes(wire::kLengthMask, &length);
    const std::vector<uint8_t> source(at, at + length);

    std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(capacity)]);
    int produced = -1;
    const bool ok = PacketLinkTestAccess::expand(link, out.get(), capacity, source.data(),
                                                 static_cast<int>(length), &produced);
    if (produced < 0 || produced > capacity || (!ok && produced != 0))
        __builtin_trap();

    // Whatever the test side's reading expands completely, the client expands
    // to the same bytes (cut at its capacity).
    std::vector<uint8_t> expected;
    if (testsupport::expandReply(source, &expected)) {
        const size_t want = std::min(expected.size(), static_cast<size_t>(capacity));
        if (!ok || static_cast<size_t>(produced) != want ||
            !std::equal(expected.begin(), expected.begin() + static_cast<long>(want), out.get()))
            __builtin_trap();
    }
    if (!ok || produced == 0)
        return 0;

    // What readTrack does with a track reply: the sector reports decoded in
    // place, each sector's data taken from where its report says.
    std::unique_ptr<uint8_t[]> reply(new uint8_t[static_cast<size_t>(produced)]);
    std::copy(out.get(), out.get() + produced, reply.get());
    d88::TrackRecords records;
    std::vector<SectorReport> reports;
    if (decodeTrackReply(reply.get(), produced, track, &records, &reports) &&
        (records.size() != reply[0] || reports.size() != records.size()))
        __builtin_trap();
    return 0;
}
