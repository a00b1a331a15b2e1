#pragma once
// The wire vocabulary: lead characters, command codes, link result codes.
#include <cstdint>

namespace wire {

// Lead characters.
constexpr uint8_t kCommand = '!';      // PC: acknowledged command packet
constexpr uint8_t kData = '#';         // PC: data, stored; agent: reply, stored
constexpr uint8_t kCompressed = '$';   // PC: data, LZ; agent: reply, stored or run-length
constexpr uint8_t kReply = '%';        // agent: reply, stored

// Body characters lie in 0x40..0xBF: seven bits plus this offset.
constexpr uint8_t kCharBase = 0x40;
constexpr uint8_t kCharLast = 0xBF;

// Compressed-payload header: bits 0-13 length, bits 14-15 method.
constexpr uint16_t kLengthMask = 0x3FFF;
constexpr int kMethodStored = 0;
constexpr int kMethodRunLength = 1;
constexpr int kMethodLz = 2;

// Holding buffers of compressed payloads, both directions.
constexpr int kHoldingSize = 16384;

// Command codes: the first payload byte of every "!" packet.
constexpr uint8_t kCmdEnd = 0x00;
constexpr uint8_t kCmdHello = 0x01;
constexpr uint8_t kCmdMedium = 0x02;
constexpr uint8_t kCmdBeginRead = 0x03;
constexpr uint8_t kCmdReadLastTrack = 0x04;
constexpr uint8_t kCmdReadTrack = 0x05;
constexpr uint8_t kCmdRomBank = 0x07;
constexpr uint8_t kCmdWriteTrack = 0x09;

// Medium answers beyond the medium codes 0..3.
constexpr uint8_t kAnswerNoDisk = 254;
constexpr uint8_t kAnswerUnknownMedium = 255;
constexpr uint8_t kAnswerWriteProtected = 249;
// Medium byte of the write query: bit 7 set.
constexpr uint8_t kMediumForWrite = 0x80;

// The agent's buffers for one track. A track reply fills at most
// kTrackReplySize bytes; a write-track payload (format record, data records)
// at most kTrackPayloadSize, of which the sectors' data at most kTrackDataSize;
// its descriptor table holds kMaxRecords sectors.
constexpr int kTrackReplySize = 16384;
constexpr int kTrackPayloadSize = 0x3800;
constexpr int kTrackDataSize = 0x3000;
constexpr int kMaxRecords = 64;

// The density bit of the wire's sector records (reports and write records):
// set for MFM, the inverse of D88's FM flag.
constexpr uint8_t kMfm = 0x40;

// Link result codes.
constexpr int kOk = 0;
constexpr int kNoPort = -1;
constexpr int kIoError = -2;
constexpr int kBadVersion = -3;
constexpr int kProtocolError = -4;
constexpr int kCrcMismatch = -5;
constexpr int kBadMethod = -6;

// The agent version this system needs: 2.06 or any later 2.x.
constexpr int kAgentMajor = 2;
constexpr int kMinorVersion = 6;

// A short name for a link code, for verbose output.
const char* linkCodeName(int code);

} // namespace wire
