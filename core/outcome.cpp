#include "core/outcome.h"

Side Outcome::side() const
{
    switch (cause) {
    case Cause::None: return Side::None;
    case Cause::PortUnusable:
    case Cause::NoAnswer:
    case Cause::HungUp:
    case Cause::LineError:
    case Cause::Corrupted: return Side::Line;
    case Cause::Refused:
    case Cause::BadSequence:
    case Cause::BadReply:
    case Cause::VersionMismatch: return Side::Agent;
    case Cause::UnknownMedium:
    case Cause::DiskError:
    case Cause::WriteProtected:
    case Cause::Not2D:
    case Cause::OtherDisk:
    case Cause::OtherMedium:
    case Cause::VerifyMismatch: return Side::Disk;
    case Cause::FileError:
    case Cause::DamagedImage:
    case Cause::NoImage:
    case Cause::NotResumable:
    case Cause::FolderMissing: return Side::ImageFile;
    case Cause::Interrupted:
    case Cause::NoKey: return Side::User;
    }
    return Side::None;
}

Outcome Outcome::done(Operation operation)
{
    Outcome o;
    o.completed = true;
    o.operation = operation;
    return o;
}

Outcome Outcome::done(const ReadSummary& summary)
{
    Outcome o = done(Operation::Read);
    o.read = summary;
    return o;
}

Outcome Outcome::done(const WriteSummary& summary)
{
    Outcome o = done(Operation::Write);
    o.write = summary;
    return o;
}

Outcome Outcome::done(const RomSummary& summary)
{
    Outcome o = done(Operation::RomDump);
    o.rom = summary;
    return o;
}

Outcome Outcome::failed(Step step, Cause cause, int where)
{
    Outcome o;
    o.step = step;
    o.cause = cause;
    o.where = where;
    return o;
}
