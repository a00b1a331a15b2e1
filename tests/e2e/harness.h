#pragma once
// Runs the real binaries for end-to-end tests: ferry2 with captured output and
// a given standard input, ferry88sim on its pseudo-terminal, or a bare
// pseudo-terminal whose master the test reads.
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace e2e {

struct RunResult {
    int status = -1;          // exit status, or 128 + signal
    std::string out;          // standard output (UTF-8 under LC_ALL=C.UTF-8)
    std::string err;          // standard error
    bool timedOut = false;
};

// Temporary folders and whole files, shared with the unit tests.
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// What a test does to a run beyond its arguments and input.
struct RunHooks {
    // RLIMIT_FSIZE of the child (SIGXFSZ ignored, so a write past it fails
    // with EFBIG): tests run as root, who writes to read-only files anyway.
    long fileSizeLimit = -1;
    // Called about every 20 ms while the child runs, with its pid (to send it
    // a signal when the sim's log shows a track, say).
    std::function<void(pid_t)> whileRunning;
    // LC_ALL of the child.
    std::string locale = "C.UTF-8";
    // Changes to the child's environment after LC_ALL is set from locale:
    // "NAME=value" sets NAME, a bare "NAME" removes it.
    std::vector<std::string> environment;
};

// Runs ferry2 with args in cwd; stdinText is its whole standard input (closed
// after it, so a key wait past its end sees end of input).
RunResult runFerry2(const std::vector<std::string>& args, const std::string& cwd,
                    const std::string& stdinText = "", int timeoutMs = 60000,
                    const RunHooks& hooks = RunHooks());

// A pseudo-terminal whose master a thread drains into a buffer.
class Pty {
public:
    Pty();
    ~Pty();
    const std::string& slavePath() const { return slave; }
    // Bytes the other end (the client) has written so far.
    std::vector<uint8_t> received();
    // Waits until at least n bytes arrived or timeoutMs passed.
    bool waitFor(size_t n, int timeoutMs);

private:
    int master = -1;
    int slaveKeep = -1;
    std::string slave;
    std::vector<uint8_t> data;
    std::mutex lock;
    std::atomic<bool> stop{false};
    std::thread reader;
};

// ferry88sim started with args (a --log is added); stopped on destruction.
class Sim {
public:
    explicit Sim(const std::vector<std::string>& args, const std::string& workDir);
    ~Sim();
    const std::string& port() const { return slave; }       // "-p" argument value
    std::string portArg() const { return "-p" + slave; }
    const std::string& logPath() const { return log; }
    // The log's lines so far.
    std::vector<std::string> logLines() const;
    // Waits for the sim to exit by itself (after its sessions); false on time-out.
    bool waitExit(int timeoutMs, int* status = nullptr);
    void stop();
    bool started() const { return !slave.empty(); }
    std::string stderrText() const;

private:
    pid_t pid = -1;
    int outFd = -1;
    std::string slave;
    std::string log;
    std::string errPath;
    bool exited = false;
};

// Packets of the sim log whose payload starts with the command byte (hex).
std::vector<std::string> logPayloads(const std::vector<std::string>& lines, char lead);
// The value of a "key":... field of one JSON log line (string or number, raw).
std::string jsonField(const std::string& line, const std::string& key);

} // namespace e2e
