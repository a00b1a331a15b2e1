#pragma once
// The track planner on its own: the write-track payload of one track for a
// medium, without a connected agent. w sends it; the HFE writer renders the
// track it describes.
//
//  format record  0 type (0x01 | density)  1 N  2 SC  3 gap-3  4 filler  5 IDs[SC] (C H R N)
//  data record    0 type (0x02 | density | 0x80 deleted)  1 C H R N  5 length (u16)  7 data
//  end            0x00
#include <cstdint>

struct SectorDesc;

namespace trackplan {

// What the planner chose, for the line w prints.
struct PlanNote {
    enum Kind { Unformatted, Uniform, Mixed } kind = Unformatted;
    int n = 0;
    int gap3 = 0;
    bool tooDifficult = false; // a mixed track whose grid search found nothing
};

// Writes the payload of count descriptors (at most 64 are taken) for the
// medium code into out (DiskClient::kPayloadSize bytes) and returns its length.
int buildPayload(int medium, uint8_t* out, const SectorDesc* descs, int count, PlanNote* note);

void planUniform(int medium, uint8_t*& cursor, const SectorDesc* descs, int count, int n,
                 PlanNote* note);
bool searchGap(const SectorDesc* descs, int count, int& n, int& gap3, int limit);
void planMixed(uint8_t*& cursor, const SectorDesc* descs, int count, int n, int gap3,
               PlanNote* note);

} // namespace trackplan
