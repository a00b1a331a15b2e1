// The platform-free half: the counter the handlers raise.
#include "core/interrupt.h"

#include <csignal>

namespace interrupts {

// Written by a signal handler (POSIX) or the console control thread
// (Windows); sig_atomic_t is what both may touch.
volatile std::sig_atomic_t interruptCount = 0;

bool stopRequested()
{
    return interruptCount >= 1;
}

bool abortRequested()
{
    return interruptCount >= 2;
}

void raiseForTest()
{
    interruptCount = interruptCount + 1;
}

void reset()
{
    interruptCount = 0;
}

} // namespace interrupts
