#pragma once
// The simulator's one clock: monotonic microseconds, for deadlines and pacing.
#include <cstdint>
#include <ctime>

namespace sim {

inline int64_t nowUs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace sim
