#include "core/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstring>
#include <string>

namespace interrupts {

extern volatile std::sig_atomic_t interruptCount;
extern std::string firstNotice;
void prepareNotice();

namespace {

void onInterrupt(int)
{
    interruptCount = interruptCount + 1;
    // Said at once, since the exchange in flight may take long to end; write(2)
    // is what a signal handler may call.
    if (interruptCount == 1) {
        const int saved = errno;
        if (::write(STDERR_FILENO, firstNotice.data(), firstNotice.size()) < 0) {
            // Nothing to do: the stop goes ahead without the notice.
        }
        errno = saved;
    }
    // A third interrupt must still end a run stuck somewhere unforeseen.
    if (interruptCount >= 2) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
    }
}

} // namespace

void install()
{
    prepareNotice();
    // No SA_RESTART: a key wait or a poll returns at once and sees the count.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

} // namespace interrupts
