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

uint16_t crc16(const uint8_t* data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
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

// The 16 FM cells of a byte: its clock and data bits in turn.
uint16_t fmCells(uint8_t data, uint8_t clock)
{
    uint16_t cells = 0;
    for (int i = 7; i >= 0; --i)
        cells = static_cast<uint16_t>((cells << 2) | (((clock >> i) & 1) << 1) | ((data >> i) & 1));
    return cells;
}

} // namespace

TrackWriter::TrackWriter(size_t cells) : track(std::max<size_t>(cells, 1), 0) {}

void TrackWriter::put(size_t pos, uint16_t pattern, int bits, int spread)
{
    const size_t size = track.size();
    pos %= size;
    for (int i = bits - 1; i >= 0; --i) {
        // An FM cell takes two cells of the shared rate, its flux change in the second.
        for (int s = 1; s < spread; ++s) {
            track[pos] = 0;
            if (++pos == size)
                pos = 0;
        }
        track[pos] = static_cast<uint8_t>((pattern >> i) & 1);
        if (++pos == size)
            pos = 0;
    }
}

size_t TrackWriter::mfm(size_t pos, uint8_t byte)
{
    const int previous = track[(pos + track.size() - 1) % track.size()];
    put(pos, mfmCells(byte, previous), 16, 1);
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
    const int previous = track[(pos + track.size() - 1) % track.size()];
    uint16_t cells = mfmCells(byte, previous);
    // The missing clock that no data can produce: A1 gives 4489, C2 gives 5224.
    cells = static_cast<uint16_t>(cells & (byte == 0xC2 ? ~0x0080 : ~0x0020));
    put(pos, cells, 16, 1);
    return pos + 16;
}

size_t TrackWriter::fm(size_t pos, uint8_t data, uint8_t clock)
{
    put(pos, fmCells(data, clock), 16, 2);
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

// Past an ID field's CRC, the data mark must come within gap 2, its sync and
// marks, and this many bytes of slack (a rewritten data field sits a little
// off where the format put it).
constexpr int kDataMarkSlack = 16;

struct Mark {
    size_t pos; // first cell of the mark's code byte (FM: its first flux cell)
    bool mfm;
    uint8_t code;
};

class CellReader {
public:
    explicit CellReader(const std::vector<uint8_t>& cells) : cells(cells), size(cells.size()) {}

    // The data bits of the byte whose first cell is at pos.
    uint8_t byteAt(size_t pos, bool mfm) const
    {
        // MFM: the data cell is the second of each pair. FM: each FM cell is two
        // cells, so its data cell is the third of every four.
        const size_t first = mfm ? 1 : 2;
        const size_t step = mfm ? 2 : 4;
        uint8_t value = 0;
        size_t p = (pos + first) % size;
        for (int i = 0; i < 8; ++i) {
            value = static_cast<uint8_t>((value << 1) | cells[p]);
            p += step;
            if (p >= size)
                p -= size;
        }
        return value;
    }

    void bytes(size_t pos, bool mfm, uint8_t* out, size_t count) const
    {
        const size_t cellsPerByte = mfm ? 16 : 32;
        for (size_t i = 0; i < count; ++i)
            out[i] = byteAt((pos + i * cellsPerByte) % size, mfm);
    }

private:
    const std::vector<uint8_t>& cells;
    size_t size;
};

void findMfmMarks(const std::vector<uint8_t>& cells, std::vector<Mark>* marks)
{
    const size_t size = cells.size();
    const CellReader reader(cells);
    uint64_t shift = 0;
    // Up to 48 cells past the end, so that a sync across the index is seen once.
    for (size_t i = 0; i < size + 47; ++i) {
        shift = ((shift << 1) | cells[i < size ? i : i - size]) & kMfmSyncMask;
        if (shift != kMfmSync || i < 47)
            continue;
        const size_t pos = (i + 1) % size;
        const uint8_t code = reader.byteAt(pos, true);
        if (code == kIdMark || code == kDataMark || code == kDeletedDataMark)
            marks->push_back({pos, true, code});
    }
}

// FM marks with the zero byte of their sync ahead: clock C7 with data FE, FB,
// FA, F9 or F8, as cells (clock and data in turn), after 0xAAAA.
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

void findFmMarks(const std::vector<uint8_t>& cells, std::vector<Mark>* marks)
{
    const size_t size = cells.size();
    if (size < 64)
        return;
    // An FM cell is two cells; its flux change may sit in either, so both
    // phases are searched.
    for (size_t phase = 0; phase < 2; ++phase) {
        uint32_t shift = 0;
        const size_t count = size / 2 + 31;
        for (size_t m = 0; m < count; ++m) {
            size_t i = phase + 2 * m;
            if (i >= size)
                i -= size;
            if (i >= size)
                break;
            shift = (shift << 1) | cells[i];
            uint8_t code = 0;
            if ((shift & 0xFF00U) != 0xF500U || m < 31 || !fmMarkCode(shift, &code))
                continue;
            // The code byte's 16 FM cells end at cell m; each mark is taken once,
            // those whose sync lies across the index on the way past it.
            const size_t first = m - 15;
            if (first < 16 || first >= size / 2 + 16)
                continue;
            marks->push_back({(phase + 2 * first) % size, false, code});
        }
    }
}

struct Found {
    size_t idPos;
    bool mfm;
    // The data field's cells, to drop IDs of the other density seen inside it.
    size_t dataPos = 0;
    size_t dataCells = 0;
    d88::SectorRecord record;
};

bool inside(size_t pos, size_t start, size_t length, size_t size)
{
    return (pos + size - start) % size < length;
}

} // namespace

d88::TrackRecords decodeTrack(const std::vector<uint8_t>& cells)
{
    d88::TrackRecords result;
    const size_t size = cells.size();
    if (size < 64)
        return result;
    std::vector<Mark> marks;
    findMfmMarks(cells, &marks);
    findFmMarks(cells, &marks);
    if (marks.empty())
        return result;
    std::sort(marks.begin(), marks.end(),
              [](const Mark& a, const Mark& b) { return a.pos < b.pos; });

    const CellReader reader(cells);
    std::vector<Found> found;
    bool anyMfm = false, anyFm = false;
    for (size_t k = 0; k < marks.size(); ++k) {
        const Mark& id = marks[k];
        if (id.code != kIdMark)
            continue;
        const Layout& layout = layoutFor(id.mfm);
        const size_t byteCells = static_cast<size_t>(layout.byteCells);
        uint8_t field[10] = {0xA1, 0xA1, 0xA1, kIdMark};
        const int prefix = layout.markPrefix();
        uint8_t* idBytes = field + prefix + 1;
        idBytes[-1] = kIdMark;
        reader.bytes(id.pos + byteCells, id.mfm, idBytes, 6);

        Found f;
        f.idPos = id.pos;
        f.mfm = id.mfm;
        d88::SectorRecord& s = f.record;
        s.c = idBytes[0];
        s.h = idBytes[1];
        s.r = idBytes[2];
        s.n = idBytes[3];
        s.density = id.mfm ? d88::kDensityMfm : d88::kDensityFm;
        if (crc16(field, static_cast<size_t>(prefix + 7)) != 0) {
            s.status = d88::kStatusIdCrc;
        } else {
            // The next mark of the same density, if it is a data mark close enough.
            s.status = d88::kStatusNoDataMark;
            const size_t idEnd = id.pos + 7 * byteCells;
            const size_t window =
                static_cast<size_t>(layout.gap2 + layout.sync + prefix + kDataMarkSlack) * byteCells;
            for (size_t j = 1; j < marks.size(); ++j) {
                const Mark& next = marks[(k + j) % marks.size()];
                if (next.mfm != id.mfm)
                    continue;
                const size_t distance = (next.pos + 2 * size - idEnd) % size;
                if (next.code == kIdMark || distance > window)
                    break;
                const size_t length = static_cast<size_t>(sectorBytes(s.n));
                std::vector<uint8_t> data(static_cast<size_t>(prefix) + 1 + length + 2, 0xA1);
                data[static_cast<size_t>(prefix)] = next.code;
                reader.bytes(next.pos + byteCells, id.mfm, data.data() + prefix + 1, length + 2);
                s.status = crc16(data.data(), data.size()) == 0 ? d88::kStatusOk
                                                                : d88::kStatusDataCrc;
                s.deleted = next.code == kDeletedDataMark ? d88::kDeletedMark : 0;
                s.data.assign(data.begin() + prefix + 1, data.end() - 2);
                f.dataPos = next.pos;
                f.dataCells = (length + 3) * byteCells;
                break;
            }
        }
        (id.mfm ? anyMfm : anyFm) = true;
        found.push_back(std::move(f));
    }

    // An FM mark pattern can hide in MFM data (its data bits read as FM cells);
    // on a track that holds both, an ID inside the other density's data field is
    // part of that data.
    for (const Found& f : found) {
        bool hidden = false;
        if (anyMfm && anyFm) {
            for (const Found& g : found) {
                if (g.mfm != f.mfm && g.dataCells > 0 && inside(f.idPos, g.dataPos, g.dataCells, size)) {
                    hidden = true;
                    break;
                }
            }
        }
        if (!hidden)
            result.push_back(f.record);
    }
    return result;
}

} // namespace flux
