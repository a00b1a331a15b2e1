#pragma once
// A small sample floppy of our own making (a 2D disk with a boot sector, a
// text file, a few error and deleted sectors and one FM track), used by the
// README's first command and by tests.
#include "sim/floppy.h"

namespace sim {

Floppy makeSampleFloppy();

} // namespace sim
