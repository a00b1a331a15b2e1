#pragma once
// One sector of a simulated floppy as the drive holds it: its ID, how it was
// recorded and its data.
#include <cstdint>
#include <vector>

namespace sim {

struct Sector {
    uint8_t c = 0, h = 0, r = 0, n = 0;
    bool fm = false;           // single density
    bool deleted = false;      // deleted-data address mark
    uint8_t status = 0;        // D88 status: 0x00, 0xA0, 0xB0, 0xF0 (0x10 read as 0x00)
    std::vector<uint8_t> data;
};

} // namespace sim
