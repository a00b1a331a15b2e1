#pragma once
// One side's revolution of a floppy track as bit cells, as cell-level images
// (HFE) hold it: written the way the IBM FM and MFM track formats lay it down,
// and decoded back into sector records the way the disk controller finds them.
//
// Cells (1: a flux change) at the MFM cell rate: an MFM byte is 16 cells (clock,
// data, clock, data, ... most significant bit first); an FM byte is 32, each FM
// cell taking two cells with its flux change in the second, so an FM track and
// an MFM track share one cell rate. They are packed eight to a byte, the first
// in time in bit 0: the order HFE keeps them in, so a side's bytes serve as
// they are.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/d88.h"

namespace flux {

// CRC-16/CCITT (polynomial 0x1021, register preset 0xFFFF) of the ID and data
// fields, address marks included (MFM: A1 A1 A1 FE ...; FM: FE ...).
uint16_t crc16(const uint8_t* data, size_t size, uint16_t crc = 0xFFFF);

// The standard track format, in bytes of the track's density.
struct Layout {
    int gap4a;     // before the index mark
    int sync;      // zero bytes ahead of each mark
    int gap1;      // after the index mark
    int gap2;      // between an ID field and its data field
    uint8_t gap;   // the gap byte
    int byteCells; // cells per byte at the shared cell rate
    // Gap 4a, sync, index mark, gap 1: where the first ID field's sync begins.
    int preamble() const;
    // A sector besides its data and gap 3: sync, ID mark, ID, CRC, gap 2, sync, data mark, CRC.
    int sectorOverhead() const;
    // From a sector's sync to its data field's sync.
    int dataFieldOffset() const;
    // Mark bytes ahead of the mark's code: 3 (A1 A1 A1) for MFM, 0 for FM.
    int markPrefix() const;
};
extern const Layout kMfmLayout; // 80 x 4E, 12 x 00, C2 C2 C2 FC, 50 x 4E; gap 2 22 x 4E
extern const Layout kFmLayout;  // 40 x FF, 6 x 00, FC (clock D7), 26 x FF; gap 2 11 x FF
const Layout& layoutFor(bool mfm);

constexpr uint8_t kIdMark = 0xFE;
constexpr uint8_t kDataMark = 0xFB;
constexpr uint8_t kDeletedDataMark = 0xF8;
constexpr uint8_t kIndexMark = 0xFC;

// Bytes of a sector of size code n, capped at 8 (32,768 bytes) as the track
// planner caps it.
int sectorBytes(int n);

// Writes bytes into one revolution of cells at a cell position, wrapping at
// the index, over whatever the cells held: a write that runs past the index
// overwrites the start of the track, as the controller's does.
class TrackWriter {
public:
    // cells: a multiple of 8.
    explicit TrackWriter(size_t cells);

    // Each returns the position after what it wrote. MFM clock bits follow
    // the data bit before the position, as the cells hold it.
    size_t mfm(size_t pos, uint8_t byte);
    size_t mfmRun(size_t pos, uint8_t byte, int count);
    // An MFM mark byte: A1 (its clock between bits 4 and 5 missing) or C2
    // (between bits 3 and 4).
    size_t mfmMark(size_t pos, uint8_t byte);
    size_t fm(size_t pos, uint8_t data, uint8_t clock = 0xFF);
    size_t fmRun(size_t pos, uint8_t data, int count);

    // The data bytes of a field with its CRC (the mark bytes ahead count in
    // it); a non-zero crcFlip spoils the CRC written.
    size_t field(size_t pos, bool mfm, const uint8_t* markBytes, int markCount,
                 const uint8_t* data, size_t size, uint16_t crcFlip = 0);

    const std::vector<uint8_t>& bytes() const { return track; }
    size_t size() const { return cells; }

private:
    struct Tables;
    static const Tables& tables();
    int cell(size_t pos) const { return (track[pos >> 3] >> (pos & 7)) & 1; }
    size_t before(size_t pos) const;
    // count (at most 32) cells of pattern, the first in time its highest bit.
    void put(size_t pos, uint32_t pattern, int count);
    std::vector<uint8_t> track;
    size_t cells;
    const Tables& table;
};

// Every sector the controller finds on one revolution of cells, in the order
// their ID fields pass the head: FM and MFM address marks at any cell position.
// An ID whose CRC fails gives status 0xA0 and no data; an ID without a data
// mark close behind it 0xF0 and no data; a data field whose CRC fails 0xB0
// with its data. Density 0x40 for FM, deleted 0x10 for a deleted data mark.
// FM marks are looked for only on a track without an MFM ID: a data field of
// one density can hold what reads as a mark of the other.
d88::TrackRecords decodeTrack(const std::vector<uint8_t>& bytes, size_t cells);

} // namespace flux
