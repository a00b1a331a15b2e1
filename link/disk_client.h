#pragma once
// DiskClient: the connected link plus the state of the command operations.
// connect lives in link/; readDisk, writeDisk, dumpRoms, the medium query and
// the track planner live in transfer/. Every operation ends with one Outcome.
#include <cstdint>
#include <map>
#include <vector>

#include "core/outcome.h"
#include "image/d88.h"
#include "link/packet_link.h"
#include "link/protocol.h"

// The image side bounds a track's records without knowing the agent; both
// bounds must stay one number.
static_assert(d88::kMaxTrackRecords == wire::kMaxRecords, "a track's records: image vs agent");

class ImageFile;
struct SectorDesc;
struct TrackComparison;

// How readDisk reads beyond the plain way.
struct ReadPlan {
    int retries = 0;                          // further reads of a track with errors
    const d88::D88Header* resume = nullptr;   // the interrupted image to go on with
};

class DiskClient : public PacketLink {
public:
    // The agent's track buffers (link/protocol.h), by the names the flows use.
    static constexpr int kTrackBufferSize = wire::kTrackReplySize;
    static constexpr int kTrackDataSize = wire::kTrackDataSize;
    static constexpr int kPayloadSize = wire::kTrackPayloadSize;
    static constexpr int kMaxRecords = wire::kMaxRecords;

    DiskClient();

    int connect(int port, int speed, bool allowFast, const char* path = nullptr);

    // Disk reading (transfer/read_disk.cpp).
    Outcome readDisk(int drive, int medium, ImageFile& image, const ReadPlan& plan = ReadPlan());
    // Sends the read-track command that delivers the track named before and
    // names `next` (more), or the read-last-track command, and receives the
    // reply. A link code; *received is the reply's length.
    int requestTrack(bool more, int next, uint8_t* reply, int* received);

    // Disk writing (transfer/write_disk.cpp).
    Outcome writeDisk(int drive, ImageFile& image, bool verify = false);
    // Reads the floppy back after a write and compares it with the image's
    // tracks; tracks that differ are written again once and read back again
    // (transfer/verify_disk.cpp). Completed when every track matches.
    Outcome verifyDisk(int drive, ImageFile& image, const uint8_t* header, Summary* summary);
    // One read-back sequence of the listed tracks (hello, medium query, begin,
    // read-track commands, end), each compared with source as it arrives.
    Outcome readBack(int drive, const std::vector<d88::TrackRecords>& source,
                     const std::vector<int>& tracks, std::map<int, TrackComparison>* results);
    // Writes the listed tracks of the image whose (repaired) header is given,
    // one write-track command and payload each, counting them in *summary.
    Outcome writeTracks(ImageFile& image, const uint8_t* header, const std::vector<int>& tracks,
                        Summary* summary);

    // ROM dump (transfer/dump_roms.cpp).
    Outcome dumpRoms();

    // The medium query with its disk prompts (transfer/medium_query.cpp). For
    // reading, medium is the code asked for (-1: any) and a "no disk" answer
    // asks the user to insert one; for writing, every query follows a prompt
    // for a new disk. True with the medium code stored; false with *failure
    // filled, after the message the answer calls for. Without prompt (the
    // sequences of a verified write, with the disk in the drive) nobody is
    // asked, and "no disk" is a failure like any other answer.
    bool queryMedium(int drive, int medium, bool forWrite, Outcome* failure, bool prompt = true);
    // The end command of a command sequence; its link code.
    int sendEnd();
    // The end command after a sequence that did its work: done with the
    // summary, or a failure at the end step that keeps it (the data is there;
    // only the agent may not be ready for the next run).
    Outcome finishSequence(const Summary& summary, int lastDone);
    // A failed link operation (sendPacket/receivePacket code) as an outcome.
    Outcome linkFailure(Step step, int code, int where = -1) const;

    // Track format planning (transfer/track_plan.cpp).
    int buildTrackPayload(uint8_t* out, const SectorDesc* descs, int count);
    void planUniform(uint8_t*& cursor, const SectorDesc* descs, int count, int n);
    bool searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit);
    void planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3);

    int medium = -1;
    bool fastReceive = true;
};

// The cause of a failed link operation, from its code and what lay behind it.
Cause causeOfLinkFailure(int code, LinkFault fault);
