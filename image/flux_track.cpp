#include "image/flux_track.h"

#include <algorithm>

namespace flux {

const Layout kMfmLayout = {/*gap4a=*/80, /*sync=*/12, /*gap1=*/50, /*gap2=*/22, /*gap=*/0x4E,
                           /*byteCells=*/16};
const Layout kFmLayout = {/*gap4a=*/40, /*sync=*/6, /*gap1=*/26, /*gap2=*/11, /*gap=*/0xFF,
                          /*byteCells=*/32};

int Layout::markPrefix() const
{
    return byteCells == 16 ? 3 : 0;
}

int Layout::preamble() const
{
    return gap4a + sync + markPrefix() + 1 + gap1;
}

int Layout::dataFieldOffset() const
{
    return sync + markPrefix() + 1 + 4 + 2 + gap2;
}

int Layout::sectorOverhead() const
{
    return dataFieldOffset() + sync + markPrefix() + 1 + 2;
}

const Layout& layoutFor(bool mfm)
{
    return mfm ? kMfmLayout : kFmLayout;
}

int sectorBytes(int n)
{
    return 128 << std::clamp(n, 0, 8);
}

namespace {

struct CrcTable {
    uint16_t t[256];
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            t[i] = crc;
        }
    }
};

} // namespace

uint16_t crc16(const uint8_t* data, size_t size, uint16_t crc)
{
    static const CrcTable table;
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ table.t[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

namespace {

// The 16 MFM cells of a byte after a data cell `previous`.
uint16_t mfmCells(uint8_t byte, int previous)
{
    uint16_t cells = 0;
    for (int i = 7; i >= 0; --i) {
        const int d = (byte >> i) & 1;
        const int c = (previous == 0 && d == 0) ? 1 : 0;
        cells = static_cast<uint16_t>((cells << 2) | (c << 1) | d);
        previous = d;
    }
    return cells;
}

// The 16 FM cells of a byte, its clock and data bits in turn, each as two
// cells of the shared rate with the flux change in the second.
uint32_t fmCells(uint8_t data, uint8_t clock)
{
    uint32_t cells = 0;
    for (int i = 7; i >= 0; --i) {
        cells = (cells << 4) | (((clock >> i) & 1u) << 2) | ((data >> i) & 1u);
    }
    return cells;
}

uint8_t reversed(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

} // namespace

struct TrackWriter::Tables {
    uint8_t reverse[256];
    uint16_t mfm[2][256];
    Tables()
    {
        for (int b = 0; b < 256; ++b) {
            reverse[b] = reversed(static_cast<uint8_t>(b));
            mfm[0][b] = mfmCells(static_cast<uint8_t>(b), 0);
            mfm[1][b] = mfmCells(static_cast<uint8_t>(b), 1);
        }
    }
};
const TrackWriter::Tables& TrackWriter::tables()
{
    static const Tables t;
    return t;
}

TrackWriter::TrackWriter(size_t cells)
    : track((std::max<size_t>(cells, 8) + 7) / 8, 0), cells(std::max<size_t>(cells, 8) / 8 * 8),
      table(tables())
{
}

size_t TrackWriter::before(size_t pos) const
{
    if (pos > 0 && pos <= cells)
        return pos - 1;
    return (pos + cells - 1) % cells;
}

void TrackWriter::put(size_t pos, uint32_t pattern, int count)
{
    if (pos >= cells)
        pos %= cells;
    if ((pos & 7) == 0 && (count & 7) == 0 && pos + static_cast<size_t>(count) <= cells) {
        // Whole bytes: the first cell in time goes to bit 0.
        const uint8_t* reverse = table.reverse;
        for (int shift = count - 8; shift >= 0; shift -= 8, pos += 8)
            track[pos >> 3] = reverse[(pattern >> shift) & 0xFF];
        return;
    }
    for (int i = count - 1; i >= 0; --i) {
        const uint8_t bit = static_cast<uint8_t>(1u << (pos & 7));
        if ((pattern >> i) & 1)
            track[pos >> 3] |= bit;
        else
            track[pos >> 3] &= static_cast<uint8_t>(~bit);
        if (++pos == cells)
            pos = 0;
    }
}

size_t TrackWriter::mfm(size_t pos, uint8_t byte)
{
    put(pos, table.mfm[cell(before(pos))][byte], 16);
    return pos + 16;
}

size_t TrackWriter::mfmRun(size_t pos, uint8_t byte, int count)
{
    for (int i = 0; i < count; ++i)
        pos = mfm(pos, byte);
    return pos;
}

size_t TrackWriter::mfmMark(size_t pos, uint8_t byte)
{
    uint16_t pattern = mfmCells(byte, cell(before(pos)));
    // The missing clock that no data can produce: A1 gives 4489, C2 gives 5224.
    pattern = static_cast<uint16_t>(pattern & (byte == 0xC2 ? ~0x0080 : ~0x0020));
    put(pos, pattern, 16);
    return pos + 16;
}

size_t TrackWriter::fm(size_t pos, uint8_t data, uint8_t clock)
{
    put(pos, fmCells(data, clock), 32);
    return pos + 32;
}

size_t TrackWriter::fmRun(size_t pos, uint8_t data, int count)
{
    for (int i = 0; i < count; ++i)
        pos = fm(pos, data);
    return pos;
}

size_t TrackWriter::field(size_t pos, bool mfmField, const uint8_t* markBytes, int markCount,
                          const uint8_t* data, size_t size, uint16_t crcFlip)
{
    uint16_t crc = crc16(markBytes, static_cast<size_t>(markCount));
    crc = crc16(data, size, crc);
    crc = static_cast<uint16_t>(crc ^ crcFlip);
    const uint8_t tail[2] = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    for (size_t i = 0; i < size; ++i)
        pos = mfmField ? mfm(pos, data[i]) : fm(pos, data[i]);
    for (uint8_t b : tail)
        pos = mfmField ? mfm(pos, b) : fm(pos, b);
    return pos;
}

namespace {

// Three A1 sync marks, as cells.
constexpr uint64_t kMfmSync = 0x448944894489ULL;
constexpr uint64_t kMfmSyncMask = 0xFFFFFFFFFFFFULL;
// Whole bytes a sync of three A1 always covers, whatever its bit offset; one
// FM zero byte covers three.
constexpr long kMfmSyncBytes = 5;
constexpr long kFmSyncBytes = 3;

// Past an ID field's CRC, the data mark must come within gap 2, its sync and
// marks, and this many bytes of slack (a rewritten data field sits a little
// off where the format put it).
constexpr int kDataMarkSlack = 16;

struct Mark {
    size_t pos; // first cell of the mark's code byte (FM: its first flux cell)
    bool mfm;
    uint8_t code;
    bool operator<(const Mark& o) const { return pos < o.pos || (pos == o.pos && mfm < o.mfm); }
    bool operator==(const Mark& o) const { return pos == o.pos && mfm == o.mfm; }
};

// The cells 1, 3, 5 and 7 of a packed byte, the first in time highest.
const uint8_t* oddCells()
{
    static uint8_t table[256];
    static const bool ready = [] {
        for (int b = 0; b < 256; ++b)
            table[b] = static_cast<uint8_t>(((b >> 1) & 1) << 3 | ((b >> 3) & 1) << 2 |
                                            ((b >> 5) & 1) << 1 | ((b >> 7) & 1));
        return true;
    }();
    (void)ready;
    return table;
}

class CellReader {
public:
    CellReader(const std::vector<uint8_t>& bytes, size_t cells) : bytes(bytes), size(cells) {}

    int at(long i) const
    {
        const long n = static_cast<long>(size);
        const size_t p = static_cast<size_t>(((i % n) + n) % n);
        return (bytes[p >> 3] >> (p & 7)) & 1;
    }

    // The data bits of the byte whose first cell is at pos.
    uint8_t byteAt(size_t pos, bool mfm) const
    {
        if (mfm && pos + 32 <= size) {
            // Sixteen cells out of a little-endian window; the data cells are
            // the odd ones in time.
            const uint8_t* p = bytes.data() + (pos >> 3);
            const uint32_t window =
                (p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16)) >> (pos & 7);
            const uint8_t* odd = oddCells();
            return static_cast<uint8_t>(odd[window & 0xFF] << 4 | odd[(window >> 8) & 0xFF]);
        }
        // MFM: the data cell is the second of each pair. FM: each FM cell is two
        // cells, so its data cell is the third of every four.
        const size_t first = mfm ? 1 : 2;
        const size_t step = mfm ? 2 : 4;
        uint8_t value = 0;
        size_t p = (pos + first) % size;
        for (int i = 0; i < 8; ++i) {
            value = static_cast<uint8_t>((value << 1) | ((bytes[p >> 3] >> (p & 7)) & 1));
            p += step;
            if (p >= size)
                p -= size;
        }
        return value;
    }

    void bytesAt(size_t pos, bool mfm, uint8_t* out, size_t count) const
    {
        const size_t cellsPerByte = mfm ? 16 : 32;
        for (size_t i = 0; i < count; ++i)
            out[i] = byteAt((pos + i * cellsPerByte) % size, mfm);
    }

    size_t cells() const { return size; }

private:
    const std::vector<uint8_t>& bytes;
    size_t size;
};

// The packed bytes a periodic cell pattern gives at every offset.
void markPeriodic(uint64_t pattern, int period, bool* set)
{
    for (int offset = 0; offset < period; ++offset) {
        uint8_t byte = 0;
        for (int j = 0; j < 8; ++j) {
            const int bit = (offset + j) % period;
            byte = static_cast<uint8_t>(byte | (((pattern >> (period - 1 - bit)) & 1) << j));
        }
        set[byte] = true;
    }
}

// FM marks with the zero byte of their sync ahead: clock C7 with data FE, FB,
// FA, F9 or F8, as FM cells (clock and data in turn), after 0xAAAA.
bool fmMarkCode(uint32_t shift, uint8_t* code)
{
    switch (shift) {
    case 0xAAAAF57EU: *code = kIdMark; return true;
    case 0xAAAAF56FU: // FB
    case 0xAAAAF56EU: // FA, a normal data mark too
        *code = kDataMark;
        return true;
    case 0xAAAAF56AU: // F8
    case 0xAAAAF56BU: // F9, a deleted data mark too
        *code = kDeletedDataMark;
        return true;
    default: return false;
    }
}

// Marks whose pattern ends at a cell in [from, to), the cells before from read
// first (positions may run past either end of the revolution).
void scanMfm(const CellReader& r, long from, long to, std::vector<Mark>* marks)
{
    uint64_t shift = 0;
    for (long i = from - 48; i < from; ++i)
        shift = (shift << 1) | static_cast<uint64_t>(r.at(i));
    const long n = static_cast<long>(r.cells());
    for (long e = from; e < to; ++e) {
        shift = ((shift << 1) | static_cast<uint64_t>(r.at(e))) & kMfmSyncMask;
        if (shift != kMfmSync)
            continue;
        const size_t pos = static_cast<size_t>((((e + 1) % n) + n) % n);
        const uint8_t code = r.byteAt(pos, true);
        if (code == kIdMark || code == kDataMark || code == kDeletedDataMark)
            marks->push_back({pos, true, code});
    }
}

void scanFm(const CellReader& r, long from, long to, std::vector<Mark>* marks)
{
    // An FM cell is two cells; its flux change may sit in either, so both
    // phases are followed.
    uint32_t shift[2] = {0, 0};
    for (long i = from - 64; i < from; ++i)
        shift[i & 1] = (shift[i & 1] << 1) | static_cast<uint32_t>(r.at(i));
    const long n = static_cast<long>(r.cells());
    for (long e = from; e < to; ++e) {
        uint32_t& s = shift[e & 1];
        s = (s << 1) | static_cast<uint32_t>(r.at(e));
        uint8_t code = 0;
        if ((s & 0xFF00U) != 0xF500U || !fmMarkCode(s, &code))
            continue;
        // The code byte's 16 FM cells end at cell e.
        marks->push_back({static_cast<size_t>((((e - 30) % n) + n) % n), false, code});
    }
}

// Runs of at least minRun packed bytes from the set, where a sync may lie,
// each handed to scan with the cells around it. Runs across the index are
// seen on the way past it. Following every cell through a shift register
// would cost more than all the rest of a read (a 2HD side is 166,656 cells);
// a byte that no sync can cover rules out eight cell positions at once.
template <typename Scan>
void findRuns(const std::vector<uint8_t>& bytes, size_t cells, const bool* set, long minRun,
              long after, Scan scan)
{
    const long count = static_cast<long>(cells / 8);
    if (count == 0)
        return;
    long run = 0;
    for (long i = 0; i < count + 16; ++i) {
        if (i < count + 8 && set[bytes[static_cast<size_t>(i < count ? i : (i - count) % count)]]) {
            ++run;
            continue;
        }
        if (run >= minRun)
            scan((i - run) * 8, (i + after) * 8);
        run = 0;
    }
}

const bool* mfmSyncBytes()
{
    static bool set[256] = {};
    static const bool ready = (markPeriodic(0x4489, 16, set), true);
    (void)ready;
    return set;
}

const bool* fmSyncBytes()
{
    // A zero FM byte: clock cells only, every fourth cell a flux change.
    static bool set[256] = {};
    static const bool ready = (markPeriodic(0x4, 4, set), true);
    (void)ready;
    return set;
}

} // namespace

d88::TrackRecords decodeTrack(const std::vector<uint8_t>& bytes, size_t cells)
{
    d88::TrackRecords result;
    cells = std::min(cells, bytes.size() * 8);
    if (cells < 64)
        return result;
    const CellReader reader(bytes, cells);
    std::vector<Mark> marks;
    findRuns(bytes, cells, mfmSyncBytes(), kMfmSyncBytes, 2,
             [&](long from, long to) { scanMfm(reader, from, to, &marks); });
    const bool mfmId = std::any_of(marks.begin(), marks.end(),
                                   [](const Mark& m) { return m.code == kIdMark; });
    if (!mfmId) {
        marks.clear();
        findRuns(bytes, cells, fmSyncBytes(), kFmSyncBytes, 6,
                 [&](long from, long to) { scanFm(reader, from, to, &marks); });
    }
    std::sort(marks.begin(), marks.end());
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());

    for (size_t k = 0; k < marks.size(); ++k) {
        // No more records than a D88 track holds: a crafted track of packed
        // marks would otherwise keep a long data field for every one of them.
        if (result.size() == static_cast<size_t>(d88::kMaxTrackRecords))
            break;
        const Mark& id = marks[k];
        if (id.code != kIdMark)
            continue;
        const Layout& layout = layoutFor(id.mfm);
        const size_t byteCells = static_cast<size_t>(layout.byteCells);
        const int prefix = layout.markPrefix();
        uint8_t field[10] = {0xA1, 0xA1, 0xA1};
        field[prefix] = kIdMark;
        uint8_t* idBytes = field + prefix + 1;
        reader.bytesAt(id.pos + byteCells, id.mfm, idBytes, 6);

        d88::SectorRecord s;
        s.c = idBytes[0];
        s.h = idBytes[1];
        s.r = idBytes[2];
        s.n = idBytes[3];
        s.density = id.mfm ? d88::kDensityMfm : d88::kDensityFm;
        if (crc16(field, static_cast<size_t>(prefix + 7)) != 0) {
            s.status = d88::kStatusIdCrc;
            result.push_back(std::move(s));
            continue;
        }
        // The next mark, if it is a data mark close enough.
        s.status = d88::kStatusNoDataMark;
        if (marks.size() > 1) {
            const Mark& next = marks[(k + 1) % marks.size()];
            const size_t idEnd = id.pos + 7 * byteCells;
            const size_t distance = (next.pos + 2 * cells - idEnd) % cells;
            const size_t window =
                static_cast<size_t>(layout.gap2 + layout.sync + prefix + kDataMarkSlack) * byteCells;
            if (next.code != kIdMark && distance <= window) {
                // A sector longer than the track reads round it once at most.
                const size_t length =
                    std::min(static_cast<size_t>(sectorBytes(s.n)), cells / byteCells);
                std::vector<uint8_t> data(static_cast<size_t>(prefix) + 1 + length + 2, 0xA1);
                data[static_cast<size_t>(prefix)] = next.code;
                reader.bytesAt(next.pos + byteCells, id.mfm, data.data() + prefix + 1, length + 2);
                s.status = crc16(data.data(), data.size()) == 0 ? d88::kStatusOk
                                                                : d88::kStatusDataCrc;
                s.deleted = next.code == kDeletedDataMark ? d88::kDeletedMark : 0;
                s.data.assign(data.begin() + prefix + 1, data.end() - 2);
            }
        }
        result.push_back(std::move(s));
    }
    return result;
}

} // namespace flux
