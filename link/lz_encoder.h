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
    // with more than capacity - 32 bytes already written (also for n >= 16384
    // and for a capacity below 34, which could not hold the guard's margin).
    int encode(const uint8_t* input, unsigned n, uint8_t* output, int capacity);

private:
    static constexpr int kMaxInput = 0x4000;  // the header holds 14 bits of length

    void putBit(int bit);
    void putData(uint8_t value);
    void startFlagByte();
    void putMatch(int length, int distance);
    int matchLength(int p, int c, int limit) const;
    int findMatch(int p, int first, int limit, int& bestPos);
    int runOf(int c, int& end);

    const uint8_t* inputStart = nullptr;
    // Positions relative to inputStart; 16 bits keep both tables in the cache.
    std::unique_ptr<int16_t[]> chain;   // kWindow entries
    std::unique_ptr<int16_t[]> head;    // kHashSize entries
    uint8_t* outputStart = nullptr;
    uint8_t* outputCursor = nullptr;
    uint8_t* flagByte = nullptr;
    int capacity = 0;
    int bitMask = 0x80;
    bool overflow = false;
    uint8_t scratchFlag = 0;   // takes the bits of an item cut off by an overflow
    int inputLength = 0;
    // Runs of equal bytes, found on demand: the start of the run holding each
    // position below runsKnown, and the end of each run by its start.
    std::unique_ptr<uint16_t[]> runStarts;
    std::unique_ptr<uint16_t[]> runEnds;
    int runsKnown = 0;
};
