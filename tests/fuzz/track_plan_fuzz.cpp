// The track planner on arbitrary sector lists for each medium: the payload
// stays within the 14336-byte buffer writeDisk gives it, nothing is written
// outside it, and the result is at least the six bytes of an unformatted track.
// When every sector has one of the two densities loadTrack makes of a standard
// D88 record, the simulator's agent takes the payload as well-formed.
//
// Input: u8 medium (0-3), u8 count, then per sector u8 C H R N, u8 density
// (below 0x80: bit 0 picks MFM or FM; from 0x80 on: the byte itself, as an
// image's odd density byte arrives), u8 status, u8 deleted, u16 data offset,
// u16 length, u8 flags (bit 0: no data); then the data area's bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/disk_client.h"
#include "sim/floppy.h"
#include "tests/fuzz/fuzz_input.h"
#include "transfer/sector_desc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static DiskClient client;
    fuzz::FuzzInput in(data, size);
    client.medium = in.u8() & 3;
    // A few beyond the descriptor table, which the planner clamps to.
    const int count = in.u8() % (DiskClient::kMaxRecords + 8);

    std::unique_ptr<uint8_t[]> area(new uint8_t[DiskClient::kTrackDataSize]);
    std::vector<SectorDesc> descs(static_cast<size_t>(count));
    bool standard = true;
    for (SectorDesc& d : descs) {
        d.c = in.u8();
        d.h = in.u8();
        d.r = in.u8();
        d.n = in.u8();
        const uint8_t density = in.u8();
        d.density = density >= 0x80 ? density : (density & 1) ? 0x40 : 0x00;
        standard = standard && density < 0x80;
        d.status = in.u8();
        d.deleted = in.u8();
        const uint32_t offset = in.u16() % (DiskClient::kTrackDataSize + 1);
        const uint32_t length = in.u16();
        const bool noData = (in.u8() & 1) != 0;
        // As loadTrack hands them over: data inside the track data area.
        d.data = noData ? nullptr : area.get() + offset;
        d.length =
            noData ? length : std::min<uint32_t>(length, DiskClient::kTrackDataSize - offset);
    }
    size_t taken = 0;
    const uint8_t* fill = in.bytes(DiskClient::kTrackDataSize, &taken);
    std::memcpy(area.get(), fill, taken);
    std::memset(area.get() + taken, 0xE5, DiskClient::kTrackDataSize - taken);

    std::unique_ptr<uint8_t[]> payload(new uint8_t[DiskClient::kPayloadSize]);
    const int length = client.buildTrackPayload(payload.get(), descs.data(), count);
    if (length < 6 || length > DiskClient::kPayloadSize)
        __builtin_trap();

    if (standard) {
        static sim::Floppy floppy;
        floppy.blank(client.medium == 2 ? 3 : client.medium);
        std::vector<std::string> violations;
        if (floppy.writeTrack(0, payload.get(), static_cast<size_t>(length), &violations) ==
            sim::Floppy::kWriteMalformed)
            __builtin_trap();
    }
    return 0;
}
