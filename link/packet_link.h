#pragma once
// PacketLink: the packet channel to the agent over the serial port: framing,
// the 7-bit character code, CRC-16, sequence numbers, acknowledged commands
// with three attempts, double-speed receives and compressed payloads.
#include <cstdint>

#include "link/lz_encoder.h"
#include "link/sio.h"

// Raised by the character operations and the checks of the packet layer;
// never leaves sendPacket or receivePacket.
struct LinkError {
    int code;
};

// What lies behind the link code of the last failed sendPacket, receivePacket
// or connect, for messages that name the cause. The codes stay as they are:
// -2 covers a silent agent, a hang-up and three bad acknowledgements alike.
enum class LinkFault {
    None,
    NoAnswer,       // a read timed out
    HungUp,         // the line went away
    LineError,      // the system refused a read or a write
    Interrupted,    // a second Ctrl-C gave up the wait
    Refused,        // an acknowledgement carried 0
    BadSequence,    // a reply carried another sequence number
    BadCharacter,   // a character outside the code inside a body
    CrcMismatch,    // a packet's CRC did not match
    BadMethod,      // a compressed reply of a method the PC cannot expand
    ShortReply,     // a reply shorter than its command's answer
};

// The agent's 5-byte capability record, as the hello reply carries it.
struct Capabilities {
    uint8_t agentMajor = 0;
    uint8_t agentMinor = 0;
    uint8_t hasHdDrive = 0;
    uint8_t romBitmap = 0;
    uint8_t variableRateSerial = 0;

    bool operator==(const Capabilities& o) const
    {
        return agentMajor == o.agentMajor && agentMinor == o.agentMinor &&
               hasHdDrive == o.hasHdDrive && romBitmap == o.romBitmap &&
               variableRateSerial == o.variableRateSerial;
    }
};

class PacketLink : public sio {
public:
    PacketLink();
    ~PacketLink();

    // 0 connected; -1 port not available; -2/-4/-5/-6 link code of the hello;
    // -3 agent version does not fit.
    int connect(int port, int speed, const char* path = nullptr);
    int disconnect();
    // The hello exchange alone, on a connected link: a new command sequence
    // after an end command starts with it, as a new run would. A link code.
    int hello(Capabilities* record);

    // 0, -2 or -4.
    int sendPacket(const uint8_t* data, int length, bool acknowledged, bool compress);
    // 0, -2, -4, -5 or -6. Fills at most capacity bytes; *received (when given)
    // is the number of payload bytes the reply brought, capped at capacity.
    int receivePacket(uint8_t* buffer, int capacity, bool fastReceive, int* received = nullptr);

    const Capabilities& capabilities() const { return caps; }
    LinkFault lastLinkFault() const { return linkFault; }
    bool isConnected() const { return connected; }
    uint16_t currentSequence() const { return sequence; }

    // CRC-16/CCITT-FALSE table, shared by every link; entry 0 holds the marker
    // 123 until the first constructor builds it.
    static uint16_t crcTable[256];

protected:
    Capabilities caps;

private:
    friend class PacketLinkTestAccess;   // unit tests reach the character level and sequence

    void putChar(int group);
    int getChar();
    void putByte(uint8_t v, bool withCrc);
    void flushBits();
    uint8_t getByte(bool withCrc);
    void crcUpdate(uint8_t v);
    // Raises LinkError code, with linkFault set from what the port ran into.
    [[noreturn]] void lineFailure(int code);
    [[noreturn]] void fail(int code, LinkFault why);
    // Expands a stored or run-length payload of srcLength bytes; false for an
    // unsupported method or a payload that ends before its output is complete.
    bool expandPayload(uint8_t* destination, int capacity, const uint8_t* source,
                       int srcLength, int* produced);
    // The hunt and one packet body: a stored payload into buffer (cut at
    // capacity), a compressed one whole into holding. Raises LinkError.
    void receiveOnce(uint8_t* buffer, int capacity, uint8_t* holding, int* lead, int* length);
    // A data payload compressed into holding (kHoldingSize + 2 bytes) with the
    // CRC of the uncompressed data behind it, when that comes out shorter:
    // true with *payload and *payloadLength pointing there.
    bool compressInto(const uint8_t* data, int length, uint8_t* holding, const uint8_t** payload,
                      int* payloadLength);

    uint16_t sequence = 0;
    int32_t bitAccumulator = 0;
    int32_t bitCount = 0;
    uint16_t crc = 0;
    bool connected = false;
    LinkFault linkFault = LinkFault::None;
    int32_t pushback = -1;
    int32_t lineSpeed = 19200;
    LzEncoder encoder;
};
