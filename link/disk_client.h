#pragma once
// DiskClient: the connected link plus the state of the command operations.
// connect lives in link/; readDisk, writeDisk, dumpRoms, the medium query and
// the track planner live in transfer/. Every operation ends with one Outcome.
#include <cstdint>
#include <map>
#include <string>
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
    std::string file;                         // the image's file, for the outcome
    int imageIndex = 1;                       // the image's number in it
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

    // Disk writing (transfer/write_disk.cpp): checks the image, asks for the
    // disk, and writes every track; with verify, as a verifiedWrite.
    // file names the image (name;index) in a failure of the image file.
    Outcome writeDisk(int drive, ImageFile& image, bool verify = false,
                      const std::string& file = std::string());
    // Writes the listed tracks of the image whose (repaired) header is given,
    // one write-track command and payload each, counting them in *written. A
    // failure is one of `operation` (a write, or a verified write's rewrite).
    Outcome writeTracks(ImageFile& image, const uint8_t* header, const std::vector<int>& tracks,
                        Operation operation, int* written);
    // Write, read back every track, write the differing tracks again once,
    // read back those (transfer/verified_write.cpp). Completed when every
    // track matches; any failure carries what was written.
    Outcome verifiedWrite(int drive, ImageFile& image, const uint8_t* header, int trackCount);
    // One read-back sequence of the listed tracks (hello, medium query, begin,
    // read-track commands, end), each compared with source as it arrives
    // (transfer/verify_disk.cpp).
    Outcome readBack(int drive, const std::vector<d88::TrackRecords>& source,
                     const std::vector<int>& tracks, std::map<int, TrackComparison>* results);

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
    // The end command after a sequence that did its work: `done`, or a
    // failure at the end step that keeps its operation and summary (the data
    // is there; only the agent may not be ready for the next run).
    Outcome finishSequence(const Outcome& done, int lastDone);
    template <class OperationSummary>
    Outcome finishSequence(const OperationSummary& summary, int lastDone)
    {
        return finishSequence(Outcome::done(summary), lastDone);
    }
    // A new command sequence on the same connection: the agent serves run
    // after run, so it gets the hello a new run would send, and must answer it
    // as it answered the first. A failure is at step and where.
    Outcome startSequence(Step step, int where);
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
