#pragma once
// The agent's side of the packet format: CRC-16, the 7-bit character code,
// packet encoding for what the agent sends and a byte-at-a-time decoder for
// what the PC sends. Written on its own, not the client's PacketLink run
// backwards, so that the two check each other.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Lead characters.
constexpr uint8_t kLeadCommand = '!';     // PC: command, acknowledged
constexpr uint8_t kLeadData = '#';        // PC: data, stored; agent: reply, stored
constexpr uint8_t kLeadCompressed = '$';  // PC: data, LZ + CRC; agent: reply, stored or run-length
constexpr uint8_t kLeadReply = '%';       // agent: reply, stored

// Body characters carry seven bits each, offset into 0x40..0xBF.
constexpr uint8_t kCharFirst = 0x40;
constexpr uint8_t kCharLast = 0xBF;

// Largest payload the decoder accepts. The PC's biggest packet is a track
// payload of at most 14336 bytes (LZ-compressed only when that is shorter).
constexpr size_t kMaxReceivedPayload = 16386;

// CRC-16/CCITT-FALSE, bit by bit: polynomial 0x1021, MSB first, no final XOR.
uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc = 0xFFFF);

// Body bytes to line characters: one MSB-first bit string cut into 7-bit
// groups, the last group zero-filled at its low end; ceil(8n/7) characters.
std::vector<uint8_t> encodeCharacters(const uint8_t* body, size_t n);
// The inverse, for exactly ceil(8n/7) characters; false on a character
// outside 0x40..0xBF or a count that fits no body length.
bool decodeCharacters(const uint8_t* chars, size_t count, std::vector<uint8_t>* body);

// Deliberate damage to one sent packet (fault injection).
struct PacketFault {
    bool badCrc = false;   // CRC with its low byte inverted
    bool badSeq = false;   // sequence number plus one
};

// A whole packet on the wire: lead, then the coded body (sequence, length,
// payload, CRC-16 of those, all little-endian).
std::vector<uint8_t> encodePacket(uint8_t lead, uint16_t sequence, const uint8_t* payload,
                                  size_t n, PacketFault fault = {});

struct ReceivedPacket {
    uint8_t lead = 0;
    uint16_t sequence = 0;
    uint16_t lengthField = 0;     // as sent (the PC sends all 16 bits)
    std::vector<uint8_t> payload;
    uint16_t crcReceived = 0;
    uint16_t crcComputed = 0;
    bool crcOk() const { return crcReceived == crcComputed; }
};

// Hunts for the PC's lead characters ("!", "#", "$") and decodes one packet
// at a time. A character outside the code breaks the packet; when that
// character is itself a lead character, it starts the next packet.
class PacketDecoder {
public:
    enum class Result { None, Packet, Broken };

    Result feed(uint8_t c);
    // The time-out of a body: drops the packet in progress.
    void abandon();
    bool inPacket() const { return state != State::Hunt; }
    // Bytes skipped while hunting since the last call.
    size_t takeSkipped();

    const ReceivedPacket& packet() const { return current; }
    const std::string& brokenReason() const { return reason; }

    static bool isLead(uint8_t c)
    {
        return c == kLeadCommand || c == kLeadData || c == kLeadCompressed;
    }

private:
    enum class State { Hunt, Body };
    void start(uint8_t lead);

    State state = State::Hunt;
    ReceivedPacket current;
    std::vector<uint8_t> body;
    uint32_t bits = 0;            // pending bits, right-aligned
    int bitCount = 0;
    size_t charsSeen = 0;
    size_t charsNeeded = 0;       // known once the length field is in
    size_t skipped = 0;
    std::string reason;
};

} // namespace sim
