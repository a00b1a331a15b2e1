// The platform-free half: the counter the handlers raise.
#include "core/interrupt.h"

#include <csignal>
#include <string>

#include "core/console.h"
#include "core/i18n.h"

namespace interrupts {

// Written by a signal handler (POSIX) or the console control thread
// (Windows); sig_atomic_t is what both may touch.
volatile std::sig_atomic_t interruptCount = 0;

// What the first interrupt prints at once, in the console's encoding; made
// before the handlers are installed, as a handler may only write bytes.
std::string firstNotice;

void prepareNotice()
{
    firstNotice = console::toConsole(
        tr("\n中断します. いまのやり取りが終わったところで止めます. すぐに止めるには, "
           "もう一度 Ctrl-C を押してください.\n"));
}

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
