#pragma once
// The master side of a fresh pseudo-terminal, non-blocking, for tests that
// play the far end of the line; the code under test opens `slave`.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace testsupport {

class PtyMaster {
public:
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

    int master = -1;
    std::string slave;
};

} // namespace testsupport
