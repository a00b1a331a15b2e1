#include "core/interrupt.h"

#include <windows.h>

#include <csignal>

namespace interrupts {

extern volatile std::sig_atomic_t interruptCount;

namespace {

BOOL WINAPI onControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interruptCount = interruptCount + 1;
    // The second one takes the default way out: the process ends at once and
    // the system closes the port. A COM port keeps no settings past its close.
    return interruptCount >= 2 ? FALSE : TRUE;
}

} // namespace

void install()
{
    SetConsoleCtrlHandler(onControl, TRUE);
}

} // namespace interrupts
