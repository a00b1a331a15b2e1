// The image side of `w` on an arbitrary file: the image walk, the header
// repair and the structure check, then, for an image the check passes, every
// track loaded and planned as writeDisk does it. A track of standard density
// bytes plans to a payload that the simulator's agent takes as well-formed.
//
// Input: the file, as it is (images 1 and 2 are tried; 99999 walks to the end).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/d88.h"
#include "image/image_file.h"
#include "link/disk_client.h"
#include "sim/floppy.h"
#include "tests/fuzz/scratch_file.h"
#include "image/image_check.h"
#include "transfer/sector_desc.h"

namespace
{

void writeSide(ImageFile& image, DiskClient& client)
{
    uint8_t header[d88::kHeaderSize];
    if (image.read(header, d88::kHeaderSize) != d88::kHeaderSize)
        return;
    d88::repairHeader(header);
    client.medium = d88::mediumFor(header[d88::kMediaType]);
    const int trackCount = d88::trackCountFor(client.medium);
    if (checkImage(image, header, trackCount).state != ImageState::Sound)
        return;

    // Exactly the sizes writeDisk gives them, so that a step past the end is caught.
    std::vector<SectorDesc> descs(DiskClient::kMaxRecords);
    std::unique_ptr<uint8_t[]> data(new uint8_t[DiskClient::kTrackDataSize]);
    std::unique_ptr<uint8_t[]> payload(new uint8_t[DiskClient::kPayloadSize]);
    for (int t = 0; t < trackCount; ++t) {
        const uint32_t offset = trackDataOffset(header, t);
        int count = 0;
        // writeDisk relies on this: what the check walked loads.
        if (offset != 0 && !loadTrack(image, offset, descs.data(), data.get(), &count))
            __builtin_trap();
        if (count < 0 || count > DiskClient::kMaxRecords)
            __builtin_trap();
        const int length = client.buildTrackPayload(payload.get(), descs.data(), count);
        if (length < 6 || length > DiskClient::kPayloadSize)
            __builtin_trap();

        // loadTrack passes a D88 density byte through, flipped: only 0x00 and
        // 0x40 in the file give the two densities of the payload's type bytes.
        bool standard = true;
        for (int i = 0; i < count; ++i)
            standard = standard && (descs[i].density == 0x00 || descs[i].density == 0x40);
        static sim::Floppy floppy;
        floppy.blank(client.medium == 2 ? 3 : client.medium);
        std::vector<std::string> violations;
        if (standard && floppy.writeTrack(t, payload.get(), static_cast<size_t>(length),
                                          &violations) == sim::Floppy::kWriteMalformed)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::ScratchFile file;
    static DiskClient client;
    if (!file.write(data, size))
        return 0;

    for (int index : {1, 2, 99999}) {
        ImageFile image(file.path(), ImageFile::ReadOnly);
        if (!image.isOpen())
            return 0;
        d88::Selected where = d88::Selected::Image;
        if (!d88::selectImage(image, index, &where) || where != d88::Selected::Image ||
            !headerPresent(image))
            continue;
        writeSide(image, client);
    }
    return 0;
}
