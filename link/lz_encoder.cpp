#include "link/lz_encoder.h"

#include "core/bytes.h"
#include "core/console.h"

#include <algorithm>

namespace {

// The empty position lies a whole window before the first byte, so the window
// test ends every chain walk that reaches it and it can never be mistaken for a
// real position.
constexpr int16_t kEmpty = -LzEncoder::kWindow;
constexpr int kHeaderSize = 2;
constexpr int kOverflowMargin = 32;

inline int hashAt(const uint8_t* s)
{
    return ((s[0] & 0x1F) << 10) ^ (s[1] << 5) ^ s[2];
}

inline int rollHash(int h, uint8_t next)
{
    return ((h & 0x3FF) << 5) ^ next;
}

// Number of bytes equal to x from a on, counted up to cap.
inline int runLength(const uint8_t* a, uint8_t x, int cap)
{
    const uint32_t pattern = 0x01010101u * x;
    int l = 0;
    while (l + 4 <= cap && readLe32(a + l) == pattern)
        l += 4;
    while (l < cap && a[l] == x)
        ++l;
    return l;
}

inline uint64_t readLe64(const uint8_t* p)
{
    return readLe32(p) | (static_cast<uint64_t>(readLe32(p + 4)) << 32);
}

// Index of the lowest non-zero byte of a non-zero word.
inline int lowestSetByte(uint32_t v)
{
    if (v & 0xFF)
        return 0;
    if (v & 0xFF00)
        return 1;
    if (v & 0xFF0000)
        return 2;
    return 3;
}

inline int lowestSetByte(uint64_t v)
{
    const uint32_t low = static_cast<uint32_t>(v);
    return low ? lowestSetByte(low) : 4 + lowestSetByte(static_cast<uint32_t>(v >> 32));
}

} // namespace

LzEncoder::LzEncoder()
    : chain(new int16_t[kWindow]), head(new int16_t[kHashSize]),
      runStarts(new uint16_t[kMaxInput]), runEnds(new uint16_t[kMaxInput])
{
}

LzEncoder::~LzEncoder() = default;

int LzEncoder::encode(const uint8_t* input, unsigned n, uint8_t* output, int outputCapacity)
{
    inputStart = input;
    outputStart = output;
    outputCursor = output;
    capacity = outputCapacity;
    overflow = false;
    inputLength = static_cast<int>(n);
    runsKnown = 0;

    // The header holds 14 bits of length. The first flag byte goes through the
    // same guard as every other one, so a buffer too small for even the header,
    // one flag byte and the end marker is refused instead of overrun.
    if (n >= static_cast<unsigned>(kMaxInput) || capacity - kOverflowMargin < kHeaderSize)
        return kOverflow;
    writeLe16(outputCursor, static_cast<uint16_t>(n | 0x8000));
    outputCursor += kHeaderSize;
    startFlagByte();

    std::fill(chain.get(), chain.get() + kWindow, kEmpty);
    std::fill(head.get(), head.get() + kHashSize, kEmpty);

    const uint8_t* s = input;
    const int len = static_cast<int>(n);
    int h = 0;
    if (len >= 3) {
        h = hashAt(s);
        chain[0] = head[h];
        head[h] = 0;
    }

    int p = 1;
    int pending = 2;       // length of the match pending for the byte at p - 1
    int pendingPos = 0;
    while (p < len - 2 && !overflow) {
        const int limit = std::min(len - p, kMaxMatch);
        h = rollHash(h, s[p + 2]);

        int bestPos = 0;
        const int best = findMatch(p, head[h], limit, bestPos);

        chain[p & (kWindow - 1)] = head[h];
        head[h] = static_cast<int16_t>(p);

        if (best < pending || pending == limit) {
            putMatch(pending, (p - 1) - pendingPos);
            // Positions whose hash would read past the end are never candidates.
            const int last = std::min(p + pending - 1, len - 3);
            for (int q = p + 1; q <= last; ++q) {
                h = rollHash(h, s[q + 2]);
                chain[q & (kWindow - 1)] = head[h];
                head[h] = static_cast<int16_t>(q);
            }
            p += pending;
            pending = 2;
        } else {
            putBit(1);
            putData(s[p - 1]);
            pending = best;
            pendingPos = bestPos;
            ++p;
        }
    }
    if (pending >= 3 && !overflow) {
        putMatch(pending, (p - 1) - pendingPos);
        p += pending;
    }
    while (p <= len && !overflow) {
        putBit(1);
        putData(s[p - 1]);
        ++p;
    }
    putBit(0);
    putData(0x00);
    putBit(0);
    if (overflow)
        return kOverflow;
    return static_cast<int>(outputCursor - outputStart);
}

int LzEncoder::runOf(int c, int& end)
{
    // Filled lazily up to c, and only for runs of three or more: only inputs with
    // such runs ever ask, and only about positions that start three equal bytes.
    const uint8_t* s = inputStart;
    const int n = inputLength;
    int i = runsKnown;
    while (i <= c) {
        if (i + 2 < n && s[i] == s[i + 1] && s[i] == s[i + 2]) {
            const int e = i + 3 + runLength(s + i + 3, s[i], n - i - 3);
            for (int q = i; q < e; ++q)
                runStarts[q] = static_cast<uint16_t>(i);
            runEnds[i] = static_cast<uint16_t>(e);
            i = e;
        } else {
            ++i;
        }
    }
    runsKnown = i;
    const int start = runStarts[c];
    end = runEnds[start];
    return start;
}

int LzEncoder::findMatch(int p, int first, int limit, int& bestPos)
{
    const uint8_t* s = inputStart;
    const uint8_t x = s[p];
    const bool runAtP = s[p + 1] == x && s[p + 2] == x;
    const int floor = std::max(0, p - (kWindow - 1));
    int runP = -1;
    int best = 2;
    // The walk follows the chain of the three bytes at offset o of p; a chain
    // entry q stands for the candidate q - o.
    int o = 0;
    int q = first;
    for (;;) {
        const int c = q - o;
        if (c < floor)
            break;
        if (o == 0 && runAtP && s[c] == x && s[c + 1] == x && s[c + 2] == x) {
            // Fill bytes (E5, 00, F6 of unwritten sectors) put thousands of run
            // positions on one chain. Inside a run of x the chain steps back one
            // position at a time and every match length follows from the two run
            // lengths, so the whole stretch is settled at once, with the same
            // winner the step-by-step walk would pick.
            if (runP < 0) {
                int endP;
                runOf(p, endP);
                runP = std::min(endP - p, limit);
            }
            const int k = runP;  // the run at p, exact when below limit
            int end;
            const int lo = std::max(runOf(c, end), floor);
            int l, at;
            if (end - c > k) {
                // Every candidate of the stretch sees the whole run at p and no more.
                l = k;
                at = c;
            } else if (end - lo < k) {
                l = end - lo;
                at = lo;
            } else {
                at = end - k;
                // Only there do both runs end together, so the match may go on.
                l = k < limit ? matchLength(p, at, limit) : k;
            }
            if (l > best) {
                best = l;
                bestPos = at;
                if (l >= limit)
                    break;
            }
            q = chain[lo & (kWindow - 1)];
            continue;
        }
        // A candidate that cannot beat best differs at index best already.
        if (s[c + best] == s[p + best]) {
            const int l = matchLength(p, c, limit);
            if (l > best) {
                best = l;
                bestPos = c;
                if (l >= limit)
                    break;
                // A longer match must also agree in the three bytes ending at
                // index best, and their chain is usually far shorter (the line
                // number after a common prefix, say). Switch to it when every
                // candidate still to come has been entered there: c' + o2 < p.
                int o2 = best - 2;
                while (o2 > o && o2 > best - 10 && s[p + o2] == s[p + o2 + 1] &&
                       s[p + o2] == s[p + o2 + 2])
                    --o2;  // a run's chain is no shorter
                if (o2 > o && c + o2 <= p &&
                    !(s[p + o2] == s[p + o2 + 1] && s[p + o2] == s[p + o2 + 2])) {
                    o = o2;
                    q = head[hashAt(s + p + o)];
                    while (q - o >= c)
                        q = chain[q & (kWindow - 1)];
                    continue;
                }
            }
        }
        q = chain[q & (kWindow - 1)];
    }
    return best;
}

void LzEncoder::putBit(int bit)
{
    if (bit)
        *flagByte |= static_cast<uint8_t>(bitMask);
    bitMask >>= 1;
    if (bitMask == 0)
        startFlagByte();
}

void LzEncoder::putData(uint8_t value)
{
    // After an overflow nothing more is written; encode unwinds at its next check.
    if (!overflow)
        *outputCursor++ = value;
}

void LzEncoder::startFlagByte()
{
    bitMask = 0x80;
    if (overflow || outputCursor - outputStart > capacity - kOverflowMargin) {
        // Later bits of the unfinished item land in a scratch byte, not the output.
        overflow = true;
        flagByte = &scratchFlag;
        return;
    }
    flagByte = outputCursor;
    *outputCursor++ = 0;
}

void LzEncoder::putMatch(int length, int distance)
{
    if (distance < 1 || distance > kWindow) {
        console::out("encode error: %d\n", distance);
        return;
    }
    const unsigned v = (0x10000u - static_cast<unsigned>(distance)) & 0xFFFF;
    const int b8 = (v >> 8) & 1;
    const int b9 = (v >> 9) & 1;
    const int b10 = (v >> 10) & 1;
    const int b11 = (v >> 11) & 1;

    putBit(0);
    putData(static_cast<uint8_t>(v));
    if (length == 3 && distance <= 255) {
        putBit(0);
        return;
    }
    putBit(1);

    // Distance code: each range ends on a 1 except the last, whose width is fixed.
    if (distance <= 512) {
        putBit(b8);
        putBit(1);
    } else if (distance <= 1024) {
        putBit(b8);
        putBit(0);
        putBit(1);
    } else if (distance <= 2048) {
        putBit(b9);
        putBit(0);
        putBit(0);
        putBit(b8);
        putBit(1);
    } else if (distance <= 4096) {
        putBit(b10);
        putBit(0);
        putBit(0);
        putBit(b9);
        putBit(0);
        putBit(b8);
        putBit(1);
    } else {
        putBit(b11);
        putBit(0);
        putBit(0);
        putBit(b10);
        putBit(0);
        putBit(b9);
        putBit(0);
        putBit(b8);
    }

    // Length code: a unary prefix, then extra bits or a whole byte.
    if (length <= 6) {
        for (int i = 3; i < length; ++i)
            putBit(0);
        putBit(1);
    } else if (length <= 8) {
        for (int i = 0; i < 4; ++i)
            putBit(0);
        putBit(1);
        putBit(length - 7);
    } else if (length <= 16) {
        for (int i = 0; i < 6; ++i)
            putBit(0);
        const int extra = length - 9;
        putBit((extra >> 2) & 1);
        putBit((extra >> 1) & 1);
        putBit(extra & 1);
    } else {
        for (int i = 0; i < 5; ++i)
            putBit(0);
        putBit(1);
        putData(static_cast<uint8_t>(length - 17));
    }
}

int LzEncoder::matchLength(int p, int c, int limit) const
{
    const uint8_t* a = inputStart + p;
    const uint8_t* b = inputStart + c;
    int l = 0;
    // Eight bytes at a time; the lowest differing byte of the XOR is the first
    // mismatch because the words are read little-endian.
    while (l + 8 <= limit) {
        const uint64_t diff = readLe64(a + l) ^ readLe64(b + l);
        if (diff != 0)
            return l + lowestSetByte(diff);
        l += 8;
    }
    while (l < limit && a[l] == b[l])
        ++l;
    return l;
}
