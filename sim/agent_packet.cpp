#include "sim/agent_packet.h"

#include "core/bytes.h"

namespace sim {

uint16_t crc16(const uint8_t* data, size_t n, uint16_t crc)
{
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<uint8_t> encodeCharacters(const uint8_t* body, size_t n)
{
    std::vector<uint8_t> chars;
    chars.reserve((8 * n + 6) / 7);
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < n; ++i) {
        bits = (bits << 8) | body[i];
        count += 8;
        while (count >= 7) {
            chars.push_back(static_cast<uint8_t>(kCharFirst + ((bits >> (count - 7)) & 0x7F)));
            count -= 7;
        }
        bits &= (1u << count) - 1;
    }
    if (count > 0)
        chars.push_back(static_cast<uint8_t>(kCharFirst + ((bits << (7 - count)) & 0x7F)));
    return chars;
}

bool decodeCharacters(const uint8_t* chars, size_t count, std::vector<uint8_t>* body)
{
    body->clear();
    // ceil(8b/7) never equals 1 (mod 8): such a count belongs to no body length.
    size_t bytes = count * 7 / 8;
    if ((8 * bytes + 6) / 7 != count)
        return false;
    uint32_t bits = 0;
    int have = 0;
    for (size_t i = 0; i < count; ++i) {
        if (chars[i] < kCharFirst || chars[i] > kCharLast)
            return false;
        bits = (bits << 7) | uint32_t(chars[i] - kCharFirst);
        have += 7;
        if (have >= 8) {
            body->push_back(static_cast<uint8_t>(bits >> (have - 8)));
            have -= 8;
        }
        bits &= (1u << have) - 1;
    }
    return body->size() == bytes;
}

std::vector<uint8_t> encodePacket(uint8_t lead, uint16_t sequence, const uint8_t* payload,
                                  size_t n, PacketFault fault)
{
    std::vector<uint8_t> body(4 + n + 2);
    writeLe16(&body[0], static_cast<uint16_t>(fault.badSeq ? sequence + 1 : sequence));
    writeLe16(&body[2], static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i)
        body[4 + i] = payload[i];
    uint16_t crc = crc16(body.data(), 4 + n);
    if (fault.badCrc)
        crc ^= 0x00FF;
    writeLe16(&body[4 + n], crc);

    std::vector<uint8_t> wire{lead};
    std::vector<uint8_t> chars = encodeCharacters(body.data(), body.size());
    wire.insert(wire.end(), chars.begin(), chars.end());
    return wire;
}

void PacketDecoder::start(uint8_t lead)
{
    state = State::Body;
    current = ReceivedPacket();
    current.lead = lead;
    body.clear();
    bits = 0;
    bitCount = 0;
    charsSeen = 0;
    charsNeeded = 0;
}

void PacketDecoder::abandon()
{
    state = State::Hunt;
    body.clear();
}

size_t PacketDecoder::takeSkipped()
{
    size_t n = skipped;
    skipped = 0;
    return n;
}

PacketDecoder::Result PacketDecoder::feed(uint8_t c)
{
    if (state == State::Hunt) {
        if (isLead(c))
            start(c);
        else
            ++skipped;
        return Result::None;
    }

    if (c < kCharFirst || c > kCharLast) {
        static const char hex[] = "0123456789abcdef";
        reason = std::string("character 0x") + hex[c >> 4] + hex[c & 15] + " inside a body";
        if (isLead(c))
            start(c);
        else
            state = State::Hunt;
        return Result::Broken;
    }

    bits = (bits << 7) | uint32_t(c - kCharFirst);
    bitCount += 7;
    ++charsSeen;
    if (bitCount >= 8) {
        body.push_back(static_cast<uint8_t>(bits >> (bitCount - 8)));
        bitCount -= 8;
    }
    bits &= (1u << bitCount) - 1;

    if (charsNeeded == 0 && body.size() >= 4) {
        uint16_t length = readLe16(&body[2]);
        if (length > kMaxReceivedPayload) {
            reason = "length field " + std::to_string(length) + " too large";
            abandon();
            return Result::Broken;
        }
        charsNeeded = (8 * (6 + size_t(length)) + 6) / 7;
    }
    if (charsNeeded == 0 || charsSeen < charsNeeded)
        return Result::None;

    // ceil(8b/7) characters carry exactly b bytes; the fill bits are dropped.
    current.sequence = readLe16(&body[0]);
    current.lengthField = readLe16(&body[2]);
    size_t n = current.lengthField;
    if (body.size() < 6 + n) {
        reason = "short body";
        abandon();
        return Result::Broken;
    }
    current.payload.assign(body.begin() + 4, body.begin() + 4 + long(n));
    current.crcReceived = readLe16(&body[4 + n]);
    current.crcComputed = crc16(body.data(), 4 + n);
    state = State::Hunt;
    return Result::Packet;
}

} // namespace sim
