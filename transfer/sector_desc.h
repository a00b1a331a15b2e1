#pragma once
#include <cstdint>

// One sector of a track to be written, as disk writing loads it from an image.
struct SectorDesc {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    uint8_t density = 0x40;    // 0x40 MFM, 0x00 FM; any non-zero value counts as MFM
    uint8_t status = 0;        // 0: usable
    uint8_t deleted = 0;       // non-zero: deleted-data mark
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};
