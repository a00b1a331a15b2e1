#include "core/interrupt.h"

#include <windows.h>

#include <csignal>
#include <string>

namespace interrupts {

extern volatile std::sig_atomic_t interruptCount;
extern std::string firstNotice;
void prepareNotice();

namespace {

BOOL WINAPI onControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interruptCount = interruptCount + 1;
    // The handler runs on a thread of its own: it may write to the console.
    if (interruptCount == 1) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), firstNotice.data(),
                  static_cast<DWORD>(firstNotice.size()), &written, nullptr);
    }
    // The second one takes the default way out: the process ends at once and
    // the system closes the port. A COM port keeps no settings past its close.
    return interruptCount >= 2 ? FALSE : TRUE;
}

} // namespace

void install()
{
    prepareNotice();
    SetConsoleCtrlHandler(onControl, TRUE);
}

} // namespace interrupts
