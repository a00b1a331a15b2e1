#include "sim/agent.h"

#include "core/bytes.h"
#include "sim/clock.h"
#include "sim/floppy.h"
#include "sim/lz_decoder.h"
#include "sim/pty_port.h"
#include "sim/rle_encoder.h"
#include "sim/rom_banks.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"

namespace sim {

namespace {

// Command codes: the first payload byte of every "!" packet.
constexpr uint8_t kCmdEnd = 0x00;
constexpr uint8_t kCmdHello = 0x01;
constexpr uint8_t kCmdMedium = 0x02;
constexpr uint8_t kCmdBegin = 0x03;
constexpr uint8_t kCmdReadLast = 0x04;
constexpr uint8_t kCmdRead = 0x05;
constexpr uint8_t kCmdRomBank = 0x07;
constexpr uint8_t kCmdWriteTrack = 0x09;

// Medium answers beyond the medium codes 0..3.
constexpr uint8_t kAnswerWriteProtected = 249;
constexpr uint8_t kAnswerNoDisk = 254;
constexpr uint8_t kAnswerUnknown = 255;
constexpr uint8_t kAnswerNoSuchDrive = 0xE0;   // "a disk operation failed"
constexpr uint8_t kDriveUnnamed = 0xFE;        // the PC named no drive: take drive 1
constexpr uint8_t kMediumForWrite = 0x80;

// Reply bytes of a write-track that could not be applied (the PC does not
// examine them; the log says why).
constexpr uint8_t kWriteBadData = 0xE1;
constexpr uint8_t kWriteBadLength = 0xE2;
constexpr uint8_t kWriteNoDisk = 0xE3;

constexpr int kBodyGapMs = 2000;        // a packet body that stalls this long is dropped
constexpr int kDataWaitMs = 10000;      // for the data packet after a write-track
constexpr int kFastWaitMs = 2000;       // for the client's switch (generous: loaded CI, Wine)
// After the end command of a run's last session: how long the same client has
// to say hello again (ferry2 does at once; one that closes its port purges
// and ends the wait).
constexpr int kEndGraceMs = 2000;
constexpr size_t kMaxReply = 0x3FFF;    // the PC reads 14 bits of the length field

std::string hexByte(unsigned v)
{
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[(v >> 4) & 15] + digits[v & 15];
}

// Payload sizes of the PC's commands.
int commandSize(uint8_t code)
{
    switch (code) {
    case kCmdEnd:
    case kCmdHello:
        return 1;
    case kCmdBegin:
        return 2;
    case kCmdMedium:
    case kCmdReadLast:
    case kCmdRead:
    case kCmdRomBank:
        return 3;
    case kCmdWriteTrack:
        return 4;
    default:
        return -1;
    }
}

} // namespace

Agent::Agent(const SimOptions& options, PtyPort& port, SimLog& log, Floppy* drive1,
             Floppy* drive2, const RomBanks& roms)
    : options(options), port(port), log(log), drives{drive1, drive2}, roms(roms),
      faults(options.mediumFaults)
{
}

bool Agent::done() const
{
    return options.sessions > 0 && completed >= options.sessions;
}

bool Agent::lastSession() const
{
    return options.sessions > 0 && completed + 1 >= options.sessions;
}

bool Agent::timeUp()
{
    if (!timedOut && options.maxMs > 0 && nowUs() - startUs >= int64_t(options.maxMs) * 1000)
        timedOut = true;
    return timedOut;
}

Agent::Outcome Agent::serve()
{
    startUs = nowUs();
    purgesAtLastPacket = port.purges();
    const Outcome outcome = run();
    if (phase == Phase::InSequence) {
        endSequence(outcome == Outcome::HungUp    ? "hangup"
                    : outcome == Outcome::Stopped ? "signal"
                                                  : "time limit");
    }
    return outcome;
}

Agent::Outcome Agent::run()
{
    for (;;) {
        if (hungUp)
            return Outcome::HungUp;
        if (port.stopped())
            return Outcome::Stopped;
        if (timeUp())
            return Outcome::TimedOut;
        ReceivedPacket p;
        if (nextPacket(waitMs(), &p)) {
            handle(p);
        } else if (port.stopped() || timeUp()) {
            continue;
        } else if (pendingWrite.active) {
            log.violation("no data packet within " + std::to_string(kDataWaitMs / 1000) +
                          " s of the write-track command");
            pendingWrite.active = false;
        } else if (phase == Phase::AfterEnd) {
            // The client closed (or reopened) its port, or said no new hello in time.
            endSession("end");
        } else if (phase == Phase::InSequence) {
            endSession("silence");
        }
        if (done())
            return Outcome::Sessions;
    }
}

int Agent::waitMs() const
{
    if (pendingWrite.active)
        return kDataWaitMs;
    if (phase == Phase::AfterEnd && lastSession())
        return kEndGraceMs;
    return options.idleMs;
}

bool Agent::nextPacket(int timeoutMs, ReceivedPacket* out)
{
    int64_t deadline = nowUs() + int64_t(timeoutMs) * 1000;
    int64_t lastChar = nowUs();
    for (;;) {
        if (port.stopped() || timeUp())
            return false;
        // After an end command, a purge is the client closing or reopening
        // its port: its session is over, whatever comes next.
        if (phase == Phase::AfterEnd && !decoder.inPacket() &&
            port.purges() != purgesAtLastPacket)
            return false;
        // Short reads while a purge is awaited, so that the exit follows the
        // client's close closely.
        int c = port.readByte(phase == Phase::AfterEnd ? 10 : 200);
        int64_t now = nowUs();
        if (c < 0) {
            if (decoder.inPacket() && now - lastChar >= int64_t(kBodyGapMs) * 1000) {
                log.event("broken-packet", {{"why", "time-out inside a body"}});
                decoder.abandon();
            }
            if (!decoder.inPacket() && now >= deadline)
                return false;
            continue;
        }
        lastChar = now;
        PacketDecoder::Result r = decoder.feed(uint8_t(c));
        if (r == PacketDecoder::Result::None)
            continue;
        if (size_t skipped = decoder.takeSkipped())
            log.event("skipped", {{"bytes", skipped}});
        if (r == PacketDecoder::Result::Broken) {
            log.event("broken-packet", {{"why", decoder.brokenReason()}});
            continue;
        }
        const ReceivedPacket& p = decoder.packet();
        if (!p.crcOk()) {
            log.event("bad-crc", {{"packet", std::string(1, char(p.lead))},
                                  {"seq", p.sequence},
                                  {"received", p.crcReceived},
                                  {"computed", p.crcComputed}});
            continue;
        }
        *out = p;
        return true;
    }
}

void Agent::startSession()
{
    session = completed + 1;
    sequences = 0;
    lineSpeed = 0;
    log.event("session-start", {{"number", session}});
}

void Agent::endSession(const char* reason)
{
    if (phase == Phase::InSequence)
        endSequence(reason);
    ++completed;
    phase = Phase::Idle;
    log.event("session-end",
              {{"reason", reason}, {"sessions", completed}, {"sequences", sequences}});
    // A client that went away mid-reply leaves our bytes in the slave's queue;
    // the next client must not find them there.
    if (std::string(reason) == "silence")
        port.discardAll();
}

void Agent::startSequence()
{
    phase = Phase::InSequence;
    ++sequences;
    current = CommandSequence();
    currentDrive = 0;
    nextTrack = 0;
    reading = false;
    pendingWrite = PendingWrite();
    log.event("sequence-start", {{"session", session}, {"sequence", sequences}});
}

const char* Agent::CommandSequence::kind() const
{
    const int kinds = read + write + rom;
    if (kinds == 0)
        return "none";
    if (kinds > 1)
        return "mixed";
    return read ? "read" : write ? "write" : "rom";
}

void Agent::endSequence(const char* reason)
{
    log.event("sequence-end", {{"session", session},
                               {"sequence", sequences},
                               {"reason", reason},
                               {"kind", current.kind()},
                               {"tracks", current.tracks},
                               {"banks", current.banks}});
    phase = Phase::AfterEnd;
    pendingWrite.active = false;
}

// Moves the session and sequence state on for a packet; true when the packet
// opens a sequence without the hello it should start with.
bool Agent::followClient(bool hello, bool purged)
{
    if (phase == Phase::AfterEnd && purged) {
        endSession("end");
    } else if (phase == Phase::InSequence && hello && purged) {
        endSession("new client");
    } else if (phase == Phase::InSequence && hello && current.work) {
        // The same connection starts over without an end command. A hello
        // with no work done before it (after a refusal, a lost reply) is a
        // retry of the one that began the sequence.
        endSequence("hello");
    }
    if (done())
        return false;
    if (phase == Phase::Idle) {
        startSession();
        startSequence();
        return false;
    }
    if (phase == Phase::AfterEnd) {
        startSequence();
        return !hello;
    }
    return false;
}

void Agent::handle(const ReceivedPacket& p)
{
    ++packetsReceived;
    const unsigned speed = port.clientSpeed();
    const bool hello =
        p.lead == kLeadCommand && !p.payload.empty() && p.payload[0] == kCmdHello;
    const bool purged = port.purges() != purgesAtLastPacket;
    purgesAtLastPacket = port.purges();
    const bool withoutHello = followClient(hello, purged);
    log.packet(p.lead, p.sequence, p.payload.data(), p.payload.size(), speed);
    if (done())
        return;
    if (hello)
        lineSpeed = speed;
    if (withoutHello)
        log.violation("a packet other than a hello after the end command");
    if (p.lengthField != p.payload.size())
        log.violation("length field " + std::to_string(p.lengthField));

    if (!hello && lineSpeed != 0 && speed != lineSpeed)
        log.violation("packet received with the client at " + std::to_string(speed) +
                      " bit/s, the line runs at " + std::to_string(lineSpeed));

    if (lineFault(p))
        return;
    if (p.lead == kLeadCommand)
        handleCommand(p);
    else
        handleData(p);
}

// The faults that count packets; true when one of them took the packet.
bool Agent::lineFault(const ReceivedPacket& p)
{
    if (options.hangupAfter >= 0 && packetsReceived > options.hangupAfter) {
        hangUp(-1);
        return true;
    }
    if (silenced || (options.silentAfter >= 0 && packetsReceived > options.silentAfter)) {
        silenced = true;
        log.event("silent", {{"packets", packetsReceived}});
        return true;
    }
    if (options.muteAfter >= 0 && packetsReceived > options.muteAfter) {
        // The command is acknowledged but not carried out: the client then
        // waits for a reply, not for an acknowledgement.
        const bool command = p.lead == kLeadCommand;
        log.event("mute", {{"packets", packetsReceived}, {"ack", command}});
        if (command) {
            packetSeq = p.sequence;
            send(Sent::Ack, {1});
        }
        silenced = true;
        return true;
    }
    return false;
}

// A cable pulled or an agent that died: the caller closes the line at once,
// unread bytes and all, and the client sees the hangup.
void Agent::hangUp(int track)
{
    if (track >= 0)
        log.event("hangup", {{"packets", packetsReceived}, {"track", track}});
    else
        log.event("hangup", {{"packets", packetsReceived}});
    hungUp = true;
}

void Agent::handleCommand(const ReceivedPacket& p)
{
    packetSeq = p.sequence;
    ++commandsReceived;
    if (pendingWrite.active) {
        log.violation("command instead of the data packet of the write-track command");
        pendingWrite.active = false;
    }
    if (!acceptCommand(p)) {
        send(Sent::Ack, {0});
        return;
    }
    const uint8_t code = p.payload[0];
    if (code != kCmdHello)
        current.work = true;

    const std::vector<uint8_t>& a = p.payload;
    // The purge that announces a double-speed switch must come after our
    // acknowledgement; count from before it is sent.
    const uint64_t purgesBefore = port.purges();
    switch (code) {
    case kCmdEnd:
        send(Sent::Ack, {1});
        endSequence("end");
        break;
    case kCmdHello:
        send(Sent::Ack, {1});
        send(Sent::Reply, {uint8_t(options.agentMajor), uint8_t(options.agentMinor),
                           uint8_t(options.hasHdDrive ? 1 : 0), uint8_t(options.romBitmap),
                           uint8_t(options.variableRate ? 1 : 0)});
        break;
    case kCmdMedium:
        send(Sent::Ack, {1});
        medium(a);
        break;
    case kCmdBegin:
        // Also in the middle of a read: a client re-reading a track starts over.
        send(Sent::Ack, {1});
        current.read = true;
        nextTrack = 0;
        reading = true;
        send(Sent::Reply, {0});
        break;
    case kCmdRead:
    case kCmdReadLast:
        readCommand(a, purgesBefore);
        break;
    case kCmdRomBank:
        send(Sent::Ack, {1});
        current.rom = true;
        if (a[2] > 1)
            log.violation("fast flag " + std::to_string(a[2]));
        romBank(a[1], a[2] != 0, purgesBefore);
        break;
    case kCmdWriteTrack:
        send(Sent::Ack, {1});
        current.write = true;
        pendingWrite.active = true;
        pendingWrite.track = a[1];
        pendingWrite.length = readLe16(&a[2]);
        pendingWrite.drive = currentDrive;
        break;
    }
}

// False when the command is refused (a --refuse fault, or a command the agent
// does not know or whose payload has the wrong size): the caller acknowledges
// it with 0.
bool Agent::acceptCommand(const ReceivedPacket& p)
{
    if (options.refuse > 0 && commandsReceived >= options.refuse &&
        commandsReceived < options.refuse + options.refuseCount) {
        log.event("refused", {{"command", commandsReceived}});
        return false;
    }
    if (p.payload.empty()) {
        log.violation("command without a payload");
        return false;
    }
    const uint8_t code = p.payload[0];
    const int size = commandSize(code);
    if (size < 0) {
        log.violation("unknown command " + hexByte(code));
        return false;
    }
    if (int(p.payload.size()) != size) {
        log.violation("command " + hexByte(code) + " with " + std::to_string(p.payload.size()) +
                      " payload bytes, expected " + std::to_string(size));
        return false;
    }
    return true;
}

// A read-track or read-last-track command. Its reply is for the track named
// before; a read-track command names the next.
void Agent::readCommand(const std::vector<uint8_t>& a, uint64_t purgesBefore)
{
    const bool last = a[0] == kCmdReadLast;
    const int track = nextTrack;
    for (int t : options.hangupAtTrack) {
        if (t == track) {
            hangUp(track);
            return;
        }
    }
    send(Sent::Ack, {1});
    current.read = true;
    if (!reading)
        log.violation("read-track command without a begin command");
    const uint8_t flag = last ? a[1] : a[2];
    if (flag > 1)
        log.violation("fast flag " + std::to_string(flag));
    if (!last) {
        nextTrack = a[1];
    } else {
        reading = false;
        if (a[1] != a[2])
            log.violation("read-last-track flags differ");
    }
    for (int t : options.silentAtTrack) {
        if (t == track) {
            log.event("silent", {{"packets", packetsReceived}, {"track", track}});
            silenced = true;
            return;
        }
    }
    readTrack(track, flag != 0, purgesBefore);
}

void Agent::medium(const std::vector<uint8_t>& a)
{
    ++mediumQueries;
    uint8_t driveByte = a[1], mediumByte = a[2];
    // 0xFF is "medium not given" of a read; a write query is 0x80 | medium.
    bool forWrite = (mediumByte & kMediumForWrite) && mediumByte != 0xFF;
    (forWrite ? current.write : current.read) = true;
    int drive = driveByte == 0 || driveByte == kDriveUnnamed ? 0 : driveByte == 1 ? 1 : -1;
    uint8_t answer;
    if (drive < 0) {
        log.violation("medium query for drive byte " + hexByte(driveByte));
        answer = kAnswerNoSuchDrive;
    } else {
        currentDrive = drive;
        Floppy* disk = drives[drive];
        if (options.diskError >= 0)
            answer = uint8_t(options.diskError);
        else if (options.unknownMedium)
            answer = kAnswerUnknown;
        else if (mediumQueries <= options.noDiskUntil || !disk)
            answer = kAnswerNoDisk;
        else if (forWrite && options.writeProtect)
            answer = kAnswerWriteProtected;
        else if (!options.hasHdDrive && disk->medium() != 0)
            answer = kAnswerUnknown;   // a 2D drive cannot make sense of the disk
        else
            answer = uint8_t(disk->medium());
        int asked = mediumByte & 0x7F;
        if (disk && asked <= 3 && answer <= 3 && asked != answer)
            log.event("medium-mismatch", {{"asked", asked}, {"found", answer}});
    }
    log.event("medium", {{"drive", drive + 1},
                         {"write", forWrite},
                         {"answer", answer}});
    send(Sent::Reply, {answer});
}

void Agent::readTrack(int track, bool fast, uint64_t purgesBefore)
{
    std::vector<uint8_t> reply;
    Floppy* disk = drives[currentDrive];
    if (!disk) {
        log.violation("read-track with no disk in drive " + std::to_string(currentDrive + 1));
        reply = {0};
    } else if (track >= Floppy::kTracks) {
        log.violation("read-track for track " + std::to_string(track));
        reply = {0};
    } else {
        std::vector<FaultAction> acted;
        reply = faults.trackReply(*disk, track, &acted);
        logFaults(acted);
    }
    current.tracks.push_back(track);
    log.event("track", {{"track", track}, {"sectors", reply[0]}, {"bytes", reply.size()},
                        {"fast", fast}});
    if (fast)
        awaitFastSwitch("track", purgesBefore);
    send(Sent::Reply, reply);
}

void Agent::romBank(int bank, bool fast, uint64_t purgesBefore)
{
    const RomFile* rom = romOfBank(bank);
    if (!rom) {
        log.violation("ROM bank " + hexByte(unsigned(bank)) + " outside the ROM table");
    } else {
        int bit = -1;
        std::string name = rom->name;
        if (name == "kanji1.rom")
            bit = 0;
        else if (name == "kanji2.rom")
            bit = 1;
        else if (name == "jisyo.rom")
            bit = 2;
        else if (name == "cdbios.rom")
            bit = 3;
        if (bit >= 0 && !(options.romBitmap & (1 << bit)))
            log.violation("ROM bank " + hexByte(unsigned(bank)) + " of " + name +
                          ", which the capability record does not list");
        if (name == "disk.rom" && bank != rom->firstBank && !options.hasHdDrive)
            log.violation("second disk ROM bank asked of a 2D-only machine");
    }
    log.event("rom", {{"bank", bank}, {"fast", fast}});
    ++current.banks;
    if (fast)
        awaitFastSwitch("rom", purgesBefore);
    send(Sent::Reply, roms.bank(bank));
}

void Agent::handleData(const ReceivedPacket& p)
{
    if (!pendingWrite.active) {
        log.violation("data packet without a write-track command");
        return;
    }
    PendingWrite w = pendingWrite;
    pendingWrite.active = false;
    if (p.sequence != packetSeq)
        log.violation("data packet with sequence " + std::to_string(p.sequence) +
                      ", its command had " + std::to_string(packetSeq));

    const bool compressed = p.lead == kLeadCompressed;
    std::vector<uint8_t> data;
    uint8_t result = 0;
    if (compressed)
        result = unpackTrack(p.payload, &data);
    else
        data = p.payload;
    if (result == 0)
        result = writeCheck(w, data.size());

    std::vector<std::string> violations;
    std::vector<FaultAction> acted;
    if (result == 0) {
        result = faults.writeTrack(*drives[w.drive], w.track, data.data(), data.size(),
                                   &violations, &acted);
    }
    for (const std::string& v : violations)
        log.violation(v);
    logFaults(acted);
    current.tracks.push_back(w.track);
    log.event("write-track", {{"track", w.track},
                              {"length", data.size()},
                              {"compressed", compressed},
                              {"wire", p.payload.size()},
                              {"result", result}});
    send(Sent::Reply, {result});
}

// A "$" data packet: an LZ stream, then the CRC-16 of the uncompressed track
// payload. 0, or the reply byte of a payload that cannot be used.
uint8_t Agent::unpackTrack(const std::vector<uint8_t>& payload, std::vector<uint8_t>* data)
{
    const size_t n = payload.size();
    if (n < 4) {
        log.violation("compressed data packet of " + std::to_string(n) + " bytes");
        return kWriteBadData;
    }
    std::string error;
    size_t consumed = 0;
    if (!lzDecode(payload.data(), n - 2, *data, &error, &consumed)) {
        log.violation("LZ stream: " + error);
        return kWriteBadData;
    }
    if (consumed != n - 2)
        log.violation("LZ stream ends " + std::to_string(n - 2 - consumed) +
                      " bytes before its CRC");
    const uint16_t want = readLe16(&payload[n - 2]);
    const uint16_t got = crc16(data->data(), data->size());
    if (want != got) {
        log.event("data-crc-mismatch", {{"received", want}, {"computed", got}});
        log.violation("CRC of the decompressed track payload does not match");
        return kWriteBadData;
    }
    return 0;
}

// 0 when a track payload of `length` bytes can be written as the command
// asked, or the reply byte that says why not.
uint8_t Agent::writeCheck(const PendingWrite& w, size_t length)
{
    if (int(length) != w.length) {
        log.violation("track payload of " + std::to_string(length) + " bytes, the command said " +
                      std::to_string(w.length));
        return kWriteBadLength;
    }
    if (!drives[w.drive]) {
        log.violation("write-track with no disk in drive " + std::to_string(w.drive + 1));
        return kWriteNoDisk;
    }
    if (options.writeProtect) {
        log.violation("write-track to a write-protected disk");
        return kAnswerWriteProtected;
    }
    if (w.track >= Floppy::kTracks) {
        log.violation("write-track for track " + std::to_string(w.track));
        return kWriteBadData;
    }
    return 0;
}

void Agent::logFaults(const std::vector<FaultAction>& acted)
{
    for (const FaultAction& a : acted) {
        switch (a.kind) {
        case MediumFault::Kind::FlakyWrite:
            log.event("flaky-write",
                      {{"track", a.track}, {"sector", a.sector}, {"write", a.count}});
            break;
        case MediumFault::Kind::BadSector:
            log.event("bad-sector", {{"track", a.track}, {"sector", a.sector}});
            break;
        case MediumFault::Kind::WeakSector:
            log.event("weak-sector",
                      {{"track", a.track}, {"sector", a.sector}, {"read", a.count}});
            break;
        }
    }
}

void Agent::awaitFastSwitch(const char* what, uint64_t purgesBefore)
{
    if (!options.variableRate) {
        log.violation(std::string("fast ") + what + " reply asked of a fixed-rate agent");
        return;
    }
    unsigned target = lineSpeed ? 2 * lineSpeed : 38400;
    int64_t start = nowUs();
    int64_t deadline = start + int64_t(kFastWaitMs) * 1000;
    // The client purges its input when it switches: a reply sent before that
    // would be thrown away, so the purge is waited for first, then the rate.
    bool purged = false, switched = false;
    while (nowUs() < deadline && !port.stopped()) {
        if (port.purges() > purgesBefore) {
            purged = true;
            break;
        }
        port.pump(10);
    }
    while (purged && nowUs() < deadline && !port.stopped()) {
        if (port.clientSpeed() == target && port.clientInputSpeed() == target) {
            switched = true;
            break;
        }
        port.pump(1);
    }
    unsigned speed = port.clientSpeed();
    log.event("fast-wait", {{"for", what},
                            {"purge", purged},
                            {"speed", speed},
                            {"ms", (nowUs() - start) / 1000}});
    if (!purged)
        log.violation(std::string("fast ") + what +
                      " reply: the client did not purge its input within 1 s");
    else if (!switched)
        log.violation(std::string("fast ") + what + " reply: the client's port runs at " +
                      std::to_string(speed) + " bit/s, not " + std::to_string(target));
}

void Agent::sendNoise()
{
    // Junk as a noisy line brings it: never a lead character, never XON or
    // XOFF, never a body character.
    int count = 1 + int(noiseState % 4);
    std::vector<uint8_t> junk;
    while (int(junk.size()) < count) {
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        uint8_t b = uint8_t(noiseState >> 8);
        bool body = b >= kCharFirst && b <= kCharLast;
        bool lead = b == kLeadCommand || b == kLeadData || b == kLeadCompressed || b == kLeadReply;
        if (!body && !lead && b != 0x11 && b != 0x13)
            junk.push_back(b);
    }
    port.write(junk.data(), junk.size());
}

// The body of a reply as the --replies mode frames it; *lead and *method say
// how. The payload goes as it is unless *lead becomes the compressed lead.
std::vector<uint8_t> Agent::frameReply(const std::vector<uint8_t>& payload, uint8_t* lead,
                                       const char** method) const
{
    std::vector<uint8_t> body;
    switch (options.replies) {
    case ReplyMode::Auto:
    case ReplyMode::RunLength:
        body = rleEncode(payload.data(), payload.size());
        if (!body.empty() &&
            (options.replies == ReplyMode::RunLength || body.size() < payload.size())) {
            *lead = kLeadCompressed;
            *method = "rle";
        }
        break;
    case ReplyMode::Stored:
        body.resize(2);
        writeLe16(body.data(), uint16_t(payload.size()));
        body.insert(body.end(), payload.begin(), payload.end());
        *lead = kLeadCompressed;
        *method = "stored";
        break;
    case ReplyMode::Hash:
        *lead = kLeadData;
        break;
    case ReplyMode::Plain:
        break;
    }
    return body;
}

void Agent::send(Sent kind, std::vector<uint8_t> payload)
{
    const bool ack = kind == Sent::Ack;
    ++packetsSent;
    PacketFault fault;
    fault.badCrc = options.badCrc > 0 && packetsSent >= options.badCrc &&
                   packetsSent < options.badCrc + options.badCrcCount;
    fault.badSeq = packetsSent == options.badSeq;
    if (payload.size() > kMaxReply) {
        log.violation("reply of " + std::to_string(payload.size()) + " bytes cut");
        payload.resize(kMaxReply);
    }

    const size_t raw = payload.size();
    uint8_t lead = kLeadReply;
    const char* method = "plain";
    const std::vector<uint8_t> body = frameReply(payload, &lead, &method);
    const std::vector<uint8_t>& sent = lead == kLeadCompressed ? body : payload;

    if (options.noise)
        sendNoise();
    std::vector<uint8_t> wire = encodePacket(lead, packetSeq, sent.data(), sent.size(), fault);
    bool ok = port.write(wire.data(), wire.size());
    log.event("sent", {{"as", std::string(1, char(lead))},
                       {"seq", packetSeq},
                       {"ack", ack},
                       {"bytes", raw},
                       {"method", method},
                       {"wire", wire.size()},
                       {"fault", fault.badCrc ? "crc" : fault.badSeq ? "seq" : "none"}});
    if (!ok)
        log.event("write-stalled", {{"wire", wire.size()}});
}

} // namespace sim
