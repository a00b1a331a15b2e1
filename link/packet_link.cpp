#include "link/packet_link.h"

#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "core/console.h"
#include "core/i18n.h"
#include "core/verbose.h"
#include "link/protocol.h"

namespace
{

constexpr uint16_t kCrcInit = 0xFFFF;
constexpr uint16_t kCrcPoly = 0x1021;
constexpr uint16_t kTableMarker = 123; // entry 0 of a table not built yet
constexpr int kAttempts = 3;
constexpr int kHuntFailures = 3;
constexpr int kHelloTimeoutMs = 1000;    // a missing agent is given up within seconds
constexpr int kSessionTimeoutMs = 10000; // a track operation may keep the agent busy
constexpr int kCapabilitySize = 5;

bool isLead(int c)
{
    return c == wire::kReply || c == wire::kData || c == wire::kCompressed;
}

// Doubles the line for one receive and puts it back on every way out, the
// early returns and the LinkError ones alike.
class SpeedBoost
{
public:
    SpeedBoost(sio& port, bool fast, unsigned lineSpeed)
        : port(port), active(fast), lineSpeed(lineSpeed)
    {
        if (active)
            port.setSpeed(2 * lineSpeed);
    }
    ~SpeedBoost() { restore(); }
    SpeedBoost(const SpeedBoost&) = delete;
    SpeedBoost& operator=(const SpeedBoost&) = delete;

    void restore()
    {
        if (active)
            port.setSpeed(lineSpeed);
        active = false;
    }

private:
    sio& port;
    bool active;
    unsigned lineSpeed;
};

} // namespace

uint16_t PacketLink::crcTable[256] = {kTableMarker};

PacketLink::PacketLink()
{
    if (crcTable[0] != kTableMarker)
        return;
    for (int i = 0; i < 256; ++i) {
        uint16_t v = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            v = static_cast<uint16_t>((v & 0x8000) ? (v << 1) ^ kCrcPoly : v << 1);
        crcTable[i] = v;
    }
}

PacketLink::~PacketLink()
{
    disconnect();
}

int PacketLink::connect(int port, int speed, const char* path)
{
    disconnect();
    caps = Capabilities{};
    lineSpeed = speed;
    linkFault = LinkFault::None;
    if (open(port, static_cast<unsigned>(speed), path) != 0)
        return wire::kNoPort;
    setReadTimeout(kHelloTimeoutMs);

    const int code = hello(&caps);
    if (code != wire::kOk) {
        close();
        return code;
    }

    if (caps.agentMajor != wire::kAgentMajor || caps.agentMinor < wire::kMinorVersion) {
        console::err(tr("88 側のバージョンが一致しません.\n"));
        close();
        return wire::kBadVersion;
    }
    if (verbose) {
        const int bits = caps.romBitmap;
        console::out("ferry88: version is %d.%.2d\n", wire::kAgentMajor, caps.agentMinor);
        console::out("pc88 has %s drive(s).\n", caps.hasHdDrive ? "2HD" : "2D");
        console::out(tr("rom bitmap is %.2x (漢字1:%d, 漢字2:%d, 辞書:%d, CD:%d)\n"), bits, bits & 1,
                     (bits >> 1) & 1, (bits >> 2) & 1, (bits >> 3) & 1);
        console::out("pc88 has %s-rate serial port.\n",
                     caps.variableRateSerial ? "valiable" : "fixed");
    }
    pushback = -1;
    connected = true;
    setReadTimeout(kSessionTimeoutMs);
    return wire::kOk;
}

int PacketLink::hello(Capabilities* record)
{
    const uint8_t command = wire::kCmdHello;
    int code = sendPacket(&command, 1, true, false);
    if (code != wire::kOk)
        return code;
    uint8_t bytes[kCapabilitySize] = {};
    int got = 0;
    code = receivePacket(bytes, kCapabilitySize, false, &got);
    if (code == wire::kOk && got < kCapabilitySize) {
        code = wire::kProtocolError; // a short record would leave fields unset
        linkFault = LinkFault::ShortReply;
    }
    if (code != wire::kOk)
        return code;
    record->agentMajor = bytes[0];
    record->agentMinor = bytes[1];
    record->hasHdDrive = bytes[2];
    record->romBitmap = bytes[3];
    record->variableRateSerial = bytes[4];
    return wire::kOk;
}

int PacketLink::disconnect()
{
    if (connected)
        close();
    connected = false;
    return 0;
}

void PacketLink::fail(int code, LinkFault why)
{
    linkFault = why;
    throw LinkError{code};
}

void PacketLink::lineFailure(int code)
{
    switch (lastFault()) {
    case LineFault::HungUp: fail(code, LinkFault::HungUp);
    case LineFault::SystemError: fail(code, LinkFault::LineError);
    case LineFault::Interrupted: fail(code, LinkFault::Interrupted);
    case LineFault::TimedOut:
    case LineFault::None: break;
    }
    fail(code, LinkFault::NoAnswer);
}

void PacketLink::crcUpdate(uint8_t v)
{
    crc = static_cast<uint16_t>(crcTable[((crc >> 8) ^ v) & 0xFF] ^ (crc << 8));
}

void PacketLink::putChar(int group)
{
    const uint8_t c = static_cast<uint8_t>((group & 0x7F) + wire::kCharBase);
    if (write(&c, 1) != 0)
        lineFailure(wire::kIoError);
}

int PacketLink::getChar()
{
    uint8_t c = 0;
    if (read(&c, 1) != 0)
        lineFailure(wire::kIoError);
    if (c < wire::kCharBase || c > wire::kCharLast) {
        // Most often the lead character of the next packet: the next hunt starts with it.
        pushback = c;
        fail(wire::kProtocolError, LinkFault::BadCharacter);
    }
    return c - wire::kCharBase;
}

void PacketLink::putByte(uint8_t v, bool withCrc)
{
    putChar((v >> (bitCount + 1)) | (bitAccumulator & 0xFF));
    if (bitCount < 6) {
        bitAccumulator = v << (6 - bitCount);
        ++bitCount;
    } else {
        putChar(v);
        bitCount = 0;
        bitAccumulator = 0;
    }
    if (withCrc)
        crcUpdate(v);
}

void PacketLink::flushBits()
{
    if (bitCount != 0)
        putChar(bitAccumulator & 0xFF);
}

uint8_t PacketLink::getByte(bool withCrc)
{
    if (bitCount == 0) {
        bitAccumulator = getChar() << 1;
        bitCount = 7;
    }
    const int c = getChar();
    const uint8_t result = static_cast<uint8_t>((c >> (bitCount - 1)) | bitAccumulator);
    bitAccumulator = (c << (9 - bitCount)) & 0xFF;
    --bitCount;
    if (withCrc)
        crcUpdate(result);
    return result;
}

bool PacketLink::compressInto(const uint8_t* data, int length, uint8_t* holding,
                              const uint8_t** payload, int* payloadLength)
{
    if (verbose)
        console::out(" (%4d", length);
    crc = kCrcInit;
    for (int i = 0; i < length; ++i)
        crcUpdate(data[i]);
    const int encoded =
        encoder.encode(data, static_cast<unsigned>(length), holding, wire::kHoldingSize);
    if (encoded == LzEncoder::kOverflow) {
        // The stream would not fit: the payload goes as it is, and the line says so.
        if (verbose)
            console::out(" -> %4d, %3d%%)", length, 100);
        return false;
    }
    writeLe16(holding + encoded, crc);
    const int compressedSize = encoded + 2;
    if (verbose)
        console::out(" -> %4d, %3d%%)", compressedSize, compressedSize * 100 / length);
    if (compressedSize >= length)
        return false;
    *payload = holding;
    *payloadLength = compressedSize;
    return true;
}

int PacketLink::sendPacket(const uint8_t* data, int length, bool acknowledged, bool compress)
{
    // The compressor's output and the CRC of the uncompressed payload behind it.
    uint8_t holding[wire::kHoldingSize + 2];
    const uint8_t* payload = data;
    int payloadLength = length;

    // Only data packets travel compressed; the 14-bit header cannot carry 16384 or more.
    compress = compress && !acknowledged && length > 0 && length <= wire::kLengthMask;
    if (compress)
        compress = compressInto(data, length, holding, &payload, &payloadLength);

    const uint8_t lead = acknowledged ? wire::kCommand : compress ? wire::kCompressed : wire::kData;
    int result = wire::kIoError;
    // The cause behind the code is that of the first failed attempt: a
    // corrupted acknowledgement makes the agent's reply to it arrive during
    // the next attempt, which then fails with a sequence number it did not
    // expect. The code stays the last attempt's.
    LinkFault why = LinkFault::None;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        try {
            if (write(&lead, 1) != 0)
                lineFailure(wire::kIoError);
            crc = kCrcInit;
            bitCount = 0;
            bitAccumulator = 0;
            if (acknowledged)
                ++sequence; // a retry is a new packet to the agent
            putByte(static_cast<uint8_t>(sequence), true);
            putByte(static_cast<uint8_t>(sequence >> 8), true);
            putByte(static_cast<uint8_t>(payloadLength), true);
            putByte(static_cast<uint8_t>(payloadLength >> 8), true);
            for (int i = 0; i < payloadLength; ++i)
                putByte(payload[i], true);
            const uint16_t sum = crc;
            putByte(static_cast<uint8_t>(sum), false);
            putByte(static_cast<uint8_t>(sum >> 8), false);
            flushBits();
            if (!acknowledged) {
                linkFault = LinkFault::None;
                return wire::kOk;
            }

            // An acknowledgement without a byte accepts nothing: it counts as a refusal.
            uint8_t answer = 0;
            if (receivePacket(&answer, 1, false) != wire::kOk) {
                if (why == LinkFault::None)
                    why = linkFault;
                // A line that is gone, or a second Ctrl-C: no more attempts.
                if (linkFault == LinkFault::Interrupted || linkFault == LinkFault::HungUp) {
                    why = linkFault;
                    break;
                }
                continue;
            }
            if (answer != 0) {
                linkFault = LinkFault::None;
                return wire::kOk;
            }
            fail(wire::kProtocolError, LinkFault::Refused);
        } catch (const LinkError& e) {
            result = e.code;
            if (why == LinkFault::None)
                why = linkFault;
            if (linkFault == LinkFault::Interrupted || linkFault == LinkFault::HungUp) {
                why = linkFault;
                break;
            }
        }
    }
    linkFault = why == LinkFault::None ? LinkFault::NoAnswer : why;
    return result;
}

int PacketLink::receivePacket(uint8_t* buffer, int capacity, bool fastReceive, int* received)
{
    if (received)
        *received = 0;
    capacity = std::max(capacity, 0);
    if (fastReceive)
        pushback = -1; // the switch purges the line; a kept character is stale too
    SpeedBoost boost(*this, fastReceive, static_cast<unsigned>(lineSpeed));

    uint8_t holding[wire::kHoldingSize];
    int lead = 0;
    int n = 0;
    try {
        receiveOnce(buffer, capacity, holding, &lead, &n);
    } catch (const LinkError& e) {
        return e.code;
    }
    boost.restore();

    int delivered = std::min(n, capacity);
    if (lead == wire::kCompressed && !expandPayload(buffer, capacity, holding, n, &delivered))
        return wire::kBadMethod;
    if (received)
        *received = delivered;
    linkFault = LinkFault::None;
    return wire::kOk;
}

void PacketLink::receiveOnce(uint8_t* buffer, int capacity, uint8_t* holding, int* lead,
                             int* length)
{
    int failures = 0;
    *lead = -1;
    while (*lead < 0) {
        int c;
        if (pushback >= 0) {
            c = pushback;
            pushback = -1;
        } else {
            uint8_t b = 0;
            if (read(&b, 1) != 0) {
                // Skipped bytes give nothing back: the hunt as a whole has three
                // failures. A line that is gone or a second Ctrl-C needs no more.
                const LineFault line = lastFault();
                if (++failures >= kHuntFailures || line == LineFault::HungUp ||
                    line == LineFault::Interrupted)
                    lineFailure(wire::kIoError);
                continue;
            }
            c = b;
        }
        if (isLead(c))
            *lead = c;
    }

    crc = kCrcInit;
    bitCount = 0;
    bitAccumulator = 0;

    uint16_t seq = getByte(true);
    seq = static_cast<uint16_t>(seq | (getByte(true) << 8));
    if (seq != sequence)
        fail(wire::kProtocolError, LinkFault::BadSequence); // the rest is left for the next hunt

    int n = getByte(true);
    n |= getByte(true) << 8;
    n &= wire::kLengthMask; // bits 14-15 carry nothing for the PC
    *length = n;

    const bool compressed = *lead == wire::kCompressed;
    uint8_t* target = compressed ? holding : buffer;
    const int kept = compressed ? n : std::min(n, capacity);
    for (int i = 0; i < n; ++i) {
        const uint8_t v = getByte(true);
        if (i < kept)
            target[i] = v;
    }

    const uint16_t expected = crc;
    uint16_t sum = getByte(false);
    sum = static_cast<uint16_t>(sum | (getByte(false) << 8));
    if (sum != expected)
        fail(wire::kCrcMismatch, LinkFault::CrcMismatch);
}

bool PacketLink::expandPayload(uint8_t* destination, int capacity, const uint8_t* source,
                               int srcLength, int* produced)
{
    *produced = 0;
    linkFault = LinkFault::ShortReply;
    if (srcLength < 2) {
        if (verbose)
            console::out("compressed reply without header\n");
        return false;
    }
    const uint16_t header = readLe16(source);
    const int method = header >> 14;
    const int size = std::min<int>(header & wire::kLengthMask, capacity);
    const uint8_t* in = source + 2;
    const uint8_t* const end = source + srcLength;

    if (method == wire::kMethodStored) {
        if (end - in < size) {
            if (verbose)
                console::out("truncated compressed reply\n");
            return false;
        }
        std::memcpy(destination, in, static_cast<size_t>(size));
        *produced = size;
        return true;
    }
    if (method != wire::kMethodRunLength) {
        console::out("unsupported-compression method\n");
        linkFault = LinkFault::BadMethod;
        return false;
    }

    int out = 0;
    while (out < size) {
        if (in >= end)
            break;
        const uint8_t control = *in++;
        if (control & 0x80) {
            if (in >= end)
                break;
            const int count = std::min((control & 0x7F) + 3, size - out);
            std::memset(destination + out, *in++, static_cast<size_t>(count));
            out += count;
        } else {
            const int count = std::min((control & 0x7F) + 1, size - out);
            if (end - in < count)
                break;
            std::memcpy(destination + out, in, static_cast<size_t>(count));
            in += count;
            out += count;
        }
    }
    if (out < size) {
        if (verbose)
            console::out("truncated compressed reply\n");
        return false;
    }
    *produced = out;
    return true;
}
