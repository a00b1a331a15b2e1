#include "image/sector_kind.h"

SectorKind sectorKind(uint8_t status, uint8_t deleted)
{
    switch (status) {
    case d88::kStatusOk:
        return deleted ? SectorKind::Deleted : SectorKind::Good;
    case d88::kStatusDeletedOk:
        return SectorKind::Deleted;
    case d88::kStatusDataCrc:
        return SectorKind::DataCrc;
    case d88::kStatusIdCrc:
        return SectorKind::IdCrc;
    case d88::kStatusNoDataMark:
        return SectorKind::NoAddressMark;
    default:
        return SectorKind::Other;
    }
}

SectorKind sectorKind(const d88::SectorRecord& s)
{
    return sectorKind(s.status, s.deleted);
}

uint8_t driveStatus(uint8_t status)
{
    return status == d88::kStatusDeletedOk ? d88::kStatusOk : status;
}

bool hasDeletedMark(uint8_t status, uint8_t deleted)
{
    return deleted != 0 || status == d88::kStatusDeletedOk;
}

SectorCounts& SectorCounts::operator+=(const SectorCounts& more)
{
    sectors += more.sectors;
    idCrc += more.idCrc;
    dataCrc += more.dataCrc;
    noAddressMark += more.noAddressMark;
    deleted += more.deleted;
    other += more.other;
    return *this;
}

SectorCounts countSectors(const d88::TrackRecords& track)
{
    SectorCounts n;
    for (const d88::SectorRecord& s : track) {
        ++n.sectors;
        const SectorKind kind = sectorKind(s);
        n.idCrc += kind == SectorKind::IdCrc;
        n.dataCrc += kind == SectorKind::DataCrc;
        n.noAddressMark += kind == SectorKind::NoAddressMark;
        n.other += kind == SectorKind::Other;
        // A deleted sector with a CRC error is both.
        n.deleted += kind == SectorKind::Deleted || s.deleted != 0;
    }
    return n;
}
