#pragma once
// The simulator's end of the line: the master of a pseudo-terminal whose slave
// the client opens as its serial port.
//
// The master runs in packet mode (TIOCPKT), so that the client's input purge
// (tcflush on the slave) shows up here as a status byte: that is how the agent
// knows the client has switched its port before it sends a double-speed reply.
// The client's port settings are read through the master (on Linux tcgetattr
// on the master returns the slave's termios).
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace sim {

class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    bool open(std::string* error);
    const std::string& slavePath() const { return slave; }

    // Reads and waits give up early once *stop is non-zero.
    void setStopFlag(const volatile std::sig_atomic_t* flag) { stop = flag; }
    bool stopped() const { return stop && *stop; }

    // One byte from the client: 0..255, or -1 when nothing came in timeoutMs
    // (or a stop was raised). With pacing on, a byte is handed over only once
    // it would have arrived in full at the client's port speed (10 bits each,
    // one after the other), so a command counts as arrived with its last byte.
    int readByte(int timeoutMs);

    // Reads what the master has for at most timeoutMs, queueing data and
    // counting purge reports; true when something was read.
    bool pump(int timeoutMs);

    // Writes all bytes; false when the client stopped taking them for
    // stallMs. With pacing on, bytes leave no faster than 10 bits each at the
    // client's current port speed.
    bool write(const uint8_t* data, size_t n, int stallMs = 10000);
    // Paces both directions at the client's port speed, or at fallbackRate
    // while that cannot be read.
    void setPacing(unsigned fallbackRate) { paceRate = fallbackRate; }

    // The client's port speed in bit/s (0 when unknown); ispeed too.
    unsigned clientSpeed() const;
    unsigned clientInputSpeed() const;

    // Number of input purges the client has made so far (TIOCPKT_FLUSHREAD).
    uint64_t purges() const { return flushReads; }

    // Before the master closes: waits (at most maxMs) until the client has
    // read all we sent and closed or purged its port since (at once when it
    // already has), or a short grace time has passed after the last byte was
    // taken. Closing the master hangs up
    // the slave and throws away what the client has not read yet, such as the
    // acknowledgement of its end command.
    void linger(int maxMs);

    // Drops what waits in both directions: input the client never read (a
    // client that went away) and our own queue.
    void discardAll();

    // Closes our ends of the line, as a pulled cable would: the client's next
    // read or write fails, and what it has not read is lost.
    void hangUp();

private:
    int master = -1;
    int slaveKeep = -1;     // keeps the slave alive between clients: no EIO on the master
    std::string slave;
    std::deque<uint8_t> queue;
    std::deque<int64_t> arrivals;   // with pacing: when each queued byte has arrived in full
    uint64_t flushReads = 0;
    uint64_t flushReadsAtLastWrite = 0;
    unsigned paceRate = 0;
    int64_t lineFreeUs = 0; // when the paced line has sent everything so far
    int64_t inLineFreeUs = 0; // when the client's bytes so far have arrived in full

    unsigned pacedRate() const;
    void enqueue(const uint8_t* data, size_t n);
    const volatile std::sig_atomic_t* stop = nullptr;
};

// A termios speed constant as bit/s (0 for an unknown one).
unsigned speedOfConstant(unsigned constant);

} // namespace sim
