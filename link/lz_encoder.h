#pragma once
// LzEncoder: the outbound LZ77 coder (hash chains, 8 KiB window, matches of 3
// to 272 bytes, flag bytes interleaved with data bytes) whose stream the agent
// decodes. The tables are allocated once and reused; encode allocates nothing.
#include <cstdint>
#include <memory>

class LzEncoder {
public:
    static constexpr int kWindow = 8192;
    static constexpr int kHashSize = 32768;
    static constexpr int kMaxMatch = 272;
    static constexpr int kOverflow = -1;

    LzEncoder();
    ~LzEncoder();
    LzEncoder(const LzEncoder&) = delete;
    LzEncoder& operator=(const LzEncoder&) = delete;

    // Compresses n (< 16384) bytes into output; returns the stream length, header
    // to last byte written or reserved, or kOverflow when a flag byte fell due
    // with more than capacity - 32 bytes already written.
    int encode(const uint8_t* input, unsigned n, uint8_t* output, int capacity);

private:
    void putBit(int bit);
    void putData(uint8_t value);
    void startFlagByte();
    void putMatch(int length, int distance);
    int matchLength(int p, int c, int limit) const;

    const uint8_t* inputStart = nullptr;
    std::unique_ptr<int32_t[]> chain;   // kWindow entries
    std::unique_ptr<int32_t[]> head;    // kHashSize entries
    uint8_t* outputStart = nullptr;
    uint8_t* outputCursor = nullptr;
    uint8_t* flagByte = nullptr;
    int capacity = 0;
    int bitMask = 0x80;
    bool overflow = false;
    uint8_t scratchFlag = 0;   // takes the bits of an item cut off by an overflow
};
