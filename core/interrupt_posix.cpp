#include "core/interrupt.h"

#include <signal.h>

#include <csignal>
#include <cstring>

namespace interrupts {

extern volatile std::sig_atomic_t interruptCount;

namespace {

void onInterrupt(int)
{
    interruptCount = interruptCount + 1;
    // A third interrupt must still end a run stuck somewhere unforeseen.
    if (interruptCount >= 2) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
    }
}

} // namespace

void install()
{
    // No SA_RESTART: a key wait or a poll returns at once and sees the count.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

} // namespace interrupts
