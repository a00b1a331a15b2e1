#pragma once
// What a D88 sector record says about the sector, once: its kind, its status
// and deleted mark as a drive can tell them apart, and the counts of a track.
#include <cstdint>

#include "image/d88.h"

enum class SectorKind {
    Good,          // status 0 (or another tool's 0x10 with its deleted mark)
    Deleted,       // read fine, deleted-data mark
    DataCrc,       // 0xB0: data as read, CRC error included
    IdCrc,         // 0xA0
    NoAddressMark, // 0xF0
    Other,         // a status byte no known writer uses
};

SectorKind sectorKind(uint8_t status, uint8_t deleted);
SectorKind sectorKind(const d88::SectorRecord& s);

// The status and the mark a drive reads back: another tool's "deleted, read
// fine" status (d88::kStatusDeletedOk) is status 0 with the deleted mark.
uint8_t driveStatus(uint8_t status);
bool hasDeletedMark(uint8_t status, uint8_t deleted);

struct SectorCounts {
    int sectors = 0, idCrc = 0, dataCrc = 0, noAddressMark = 0, deleted = 0, other = 0;
    SectorCounts& operator+=(const SectorCounts& more);
    int bad() const { return idCrc + dataCrc + noAddressMark; } // no usable data
};
SectorCounts countSectors(const d88::TrackRecords& track);
