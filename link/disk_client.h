#pragma once
// DiskClient: the connected link plus the state of the command operations.
// connect lives in link/; readDisk, writeDisk, dumpRoms and the track planner
// live in transfer/.
#include <cstdint>

#include "link/packet_link.h"

class ImageFile;
struct SectorDesc;

class DiskClient : public PacketLink {
public:
    static constexpr int kTrackBufferSize = 16384;   // one track reply
    static constexpr int kTrackDataSize = 0x3000;    // write: track data area
    static constexpr int kPayloadSize = 0x3800;      // write: track payload buffer
    static constexpr int kMaxRecords = 64;           // write: descriptor table

    DiskClient();

    int connect(int port, int speed, bool allowFast, const char* path = nullptr);

    // Disk reading (transfer/read_disk.cpp).
    bool readDisk(int drive, int medium, ImageFile& image);
    int readTrack(bool more, int t, ImageFile& image);
    // True once readDisk has written the provisional header in this call.
    bool headerWritten() const { return wroteHeader; }
    // True when an image write failed during the last readDisk.
    bool imageWriteFailed() const { return writeFailed; }

    // Disk writing (transfer/write_disk.cpp).
    bool writeDisk(int drive, ImageFile& image);
    // True when the last writeDisk refused a damaged image before sending anything.
    bool imageDamaged() const { return damagedImage; }

    // ROM dump (transfer/dump_roms.cpp).
    bool dumpRoms();

    // Track format planning (transfer/track_plan.cpp).
    int buildTrackPayload(uint8_t* out, const SectorDesc* descs, int count);
    void planUniform(uint8_t*& cursor, const SectorDesc* descs, int count, int n);
    bool searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit);
    void planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3);

    int medium = -1;
    bool fastReceive = true;

private:
    bool wroteHeader = false;
    bool writeFailed = false;
    bool damagedImage = false;
};
