#pragma once
// The master side of a fresh pseudo-terminal, non-blocking, for tests that
// play the far end of the line; the code under test opens `slave`. Every wait
// has a deadline, so a test whose peer stays silent fails instead of hanging.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport
{

class PtyMaster
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kWaitMs = 1500; // a peer's default bound on one wait

    PtyMaster()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        char name[128];
        if (ptsname_r(master, name, sizeof name) == 0)
            slave = name;
    }
    ~PtyMaster()
    {
        if (master >= 0)
            ::close(master);
    }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    bool ok() const { return master >= 0 && !slave.empty(); }

    static Clock::time_point deadlineIn(int ms)
    {
        return Clock::now() + std::chrono::milliseconds(ms);
    }

    // Writes all the bytes; false when the line has not taken them by the deadline.
    bool send(const std::vector<uint8_t>& bytes, Clock::time_point deadline) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (Clock::now() >= deadline)
                return false;
            // While nobody has the slave open the master reports a hang-up
            // instead of room: the code under test may be about to open it.
            if (!waitFor(POLLOUT, deadline))
                pause();
        }
        return true;
    }
    bool send(const std::vector<uint8_t>& bytes, int timeoutMs = kWaitMs) const
    {
        return send(bytes, deadlineIn(timeoutMs));
    }

    // Up to n bytes: whatever arrived before the deadline, or before the slave
    // was closed with nothing left to read.
    std::vector<uint8_t> receive(size_t n, Clock::time_point deadline) const
    {
        std::vector<uint8_t> out;
        uint8_t buffer[4096];
        while (out.size() < n) {
            const ssize_t got = ::read(master, buffer, std::min(sizeof buffer, n - out.size()));
            if (got > 0) {
                out.insert(out.end(), buffer, buffer + got);
                continue;
            }
            if (!waitFor(POLLIN, deadline))
                break;
        }
        return out;
    }
    std::vector<uint8_t> receive(size_t n, int timeoutMs = kWaitMs) const
    {
        return receive(n, deadlineIn(timeoutMs));
    }

    // True when events are ready before the deadline.
    bool waitFor(short events, Clock::time_point deadline) const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p = {master, events, 0};
        return poll(&p, 1, static_cast<int>(left)) > 0 && (p.revents & events);
    }

    // A short pause before looking at the line again.
    static void pause() { poll(nullptr, 0, 2); }

    int master = -1;
    std::string slave;
};

} // namespace testsupport
