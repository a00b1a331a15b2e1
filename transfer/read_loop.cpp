#include "transfer/read_loop.h"

#include "core/console.h"
#include "core/interrupt.h"
#include "core/verbose.h"
#include "link/disk_client.h"
#include "link/protocol.h"
#include "transfer/track_reply.h"

int DiskClient::requestTrack(bool more, int next, uint8_t* reply, int* received)
{
    const uint8_t fast = fastReceive ? 1 : 0;
    // The command already names the track after the one it delivers: the agent
    // answers with the track named by the command before (begin names 0).
    uint8_t command[3] = {wire::kCmdReadTrack, static_cast<uint8_t>(next), fast};
    if (!more) {
        command[0] = wire::kCmdReadLastTrack;
        command[1] = fast;
    }
    *received = 0;
    const int code = sendPacket(command, 3, true, false);
    if (code != wire::kOk)
        return code;
    reply[0] = 0; // an empty reply reads as an unformatted track
    return receivePacket(reply, kTrackBufferSize, fastReceive, received);
}

Outcome readScheduled(DiskClient& client, ReadSchedule& schedule, Step step,
                      const std::function<bool(int, const d88::TrackRecords&)>& retry,
                      const std::function<bool(const TrackDelivery&, Outcome*)>& take,
                      const std::function<void()>& begun)
{
    bool begunOnce = false;
    std::vector<uint8_t> reply(DiskClient::kTrackBufferSize);
    d88::TrackRecords track;
    std::vector<SectorReport> reports;
    for (;;) {
        const ReadSchedule::Next next = schedule.next();
        if (next.command == ReadSchedule::Command::Done)
            return Outcome::done();
        if (next.command == ReadSchedule::Command::Begin) {
            const uint8_t begin[2] = {wire::kCmdBeginRead, 0x00};
            uint8_t ignored = 0; // the begin command's reply is not examined
            int code = client.sendPacket(begin, 2, true, false);
            if (code == wire::kOk)
                code = client.receivePacket(&ignored, 1, false);
            if (code != wire::kOk)
                return client.linkFailure(Step::Begin, code);
            schedule.begun();
            if (!begunOnce && begun)
                begun();
            begunOnce = true;
            continue;
        }
        // A Ctrl-C lets the track in flight finish and starts no new one.
        const int t = next.delivers;
        if (interrupts::stopRequested())
            return Outcome::failed(step, Cause::Interrupted, t);
        const bool shown = schedule.uses(t);
        if (shown)
            console::out("Track %3d:", t);
        int received = 0;
        const int code = client.requestTrack(next.command == ReadSchedule::Command::ReadNext,
                                             next.names, reply.data(), &received);
        if (code != wire::kOk) {
            if (shown)
                console::out("\n");
            return client.linkFailure(step, code, t);
        }
        if (!decodeTrackReply(reply.data(), received, t, &track, &reports)) {
            if (shown)
                console::out(" %2d sectors.\n", received > 0 ? reply[0] : 0);
            if (verbose)
                console::out("track %d: sector reports or data lie outside the reply\n", t);
            return Outcome::failed(step, Cause::BadReply, t);
        }
        const ReadSchedule::Reply r = schedule.replied(retry(t, track));
        if (!r.wanted)
            continue;
        TrackDelivery delivery;
        delivery.track = t;
        delivery.records = &track;
        delivery.reports = &reports;
        delivery.reply = r;
        Outcome stop;
        if (!take(delivery, &stop))
            return stop;
    }
}
