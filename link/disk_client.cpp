#include "link/disk_client.h"

#include "core/console.h"
#include "core/verbose.h"
#include "link/protocol.h"

DiskClient::DiskClient() : PacketLink()
{
    fastReceive = true;
}

int DiskClient::connect(int port, int speed, bool allowFast, const char* path)
{
    const int code = PacketLink::connect(port, speed, path);
    // Double-speed replies need an agent that can change its rate, and 38400 bps
    // is the only doubled rate the line offers.
    fastReceive = caps.variableRateSerial != 0 && speed == 19200 ? allowFast : false;
    return code;
}

int DiskClient::sendEnd()
{
    const uint8_t end[1] = {wire::kCmdEnd};
    return sendPacket(end, 1, true, false);
}

Outcome DiskClient::finishSequence(const Outcome& done, int lastDone)
{
    const int code = sendEnd();
    if (code == wire::kOk)
        return done;
    Outcome o = linkFailure(Step::End, code);
    o.operation = done.operation;
    o.lastDone = lastDone;
    o.read = done.read;
    o.write = done.write;
    o.rom = done.rom;
    return o;
}

Outcome DiskClient::startSequence(Step step, int where)
{
    Capabilities again;
    const int code = hello(&again);
    if (code != wire::kOk)
        return linkFailure(step, code, where);
    if (!(again == caps)) {
        if (verbose)
            console::out("the agent's capability record changed between sequences\n");
        return Outcome::failed(step, Cause::BadReply, where);
    }
    return Outcome::done();
}

Cause causeOfLinkFailure(int code, LinkFault fault)
{
    switch (fault) {
    case LinkFault::NoAnswer: return Cause::NoAnswer;
    case LinkFault::HungUp: return Cause::HungUp;
    case LinkFault::LineError: return Cause::LineError;
    case LinkFault::Interrupted: return Cause::Interrupted;
    case LinkFault::Refused: return Cause::Refused;
    case LinkFault::BadSequence: return Cause::BadSequence;
    case LinkFault::BadCharacter:
    case LinkFault::CrcMismatch: return Cause::Corrupted;
    case LinkFault::BadMethod:
    case LinkFault::ShortReply: return Cause::BadReply;
    case LinkFault::None: break;
    }
    switch (code) {
    case wire::kNoPort: return Cause::PortUnusable;
    case wire::kBadVersion: return Cause::VersionMismatch;
    case wire::kCrcMismatch: return Cause::Corrupted;
    case wire::kProtocolError:
    case wire::kBadMethod: return Cause::BadReply;
    default: return Cause::NoAnswer;
    }
}

Outcome DiskClient::linkFailure(Step step, int code, int where) const
{
    Outcome o = Outcome::failed(step, causeOfLinkFailure(code, lastLinkFault()), where);
    o.linkCode = code;
    o.systemError = systemError();
    return o;
}
