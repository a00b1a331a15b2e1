#include "sim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sim/clock.h"

namespace sim {

namespace {

void sleepUntilUs(int64_t when)
{
    for (;;) {
        int64_t left = when - nowUs();
        if (left <= 0)
            return;
        struct timespec pause = {time_t(left / 1000000), long(left % 1000000) * 1000};
        nanosleep(&pause, nullptr);
    }
}

// Polls in short slices so that a raised stop flag is seen promptly.
constexpr int kSliceMs = 50;

} // namespace

unsigned speedOfConstant(unsigned constant)
{
    static const struct {
        speed_t code;
        unsigned bps;
    } kSpeeds[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& s : kSpeeds) {
        if (s.code == constant)
            return s.bps;
    }
    return 0;
}

PtyPort::~PtyPort()
{
    if (slaveKeep >= 0)
        ::close(slaveKeep);
    if (master >= 0)
        ::close(master);
}

bool PtyPort::open(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("posix_openpt");
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail("grantpt/unlockpt");
    const char* name = ptsname(master);
    if (!name)
        return fail("ptsname");
    slave = name;
    // Without a descriptor of our own on the slave, the client's close would
    // hang up the line and every master read would fail with EIO until the
    // next open.
    slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveKeep < 0)
        return fail(name);

    // Raw from the start: a client that opens the slave sees no echo and no
    // line editing even before it sets its own mode.
    struct termios t;
    if (tcgetattr(master, &t) != 0)
        return fail("tcgetattr");
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(master, TCSANOW, &t) != 0)
        return fail("tcsetattr");

    int on = 1;
    if (ioctl(master, TIOCPKT, &on) != 0)
        return fail("TIOCPKT");
    int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    return true;
}

bool PtyPort::pump(int timeoutMs)
{
    int64_t deadline = nowUs() + int64_t(timeoutMs) * 1000;
    for (;;) {
        if (stopped())
            return false;
        int64_t leftMs = (deadline - nowUs() + 999) / 1000;
        if (leftMs < 0)
            leftMs = 0;
        struct pollfd p = {master, POLLIN, 0};
        int r = poll(&p, 1, int(leftMs < kSliceMs ? leftMs : kSliceMs));
        if (r > 0) {
            uint8_t buffer[4097];
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                // Packet mode: a leading 0 means data follows; anything else is
                // a status byte alone.
                if (buffer[0] == TIOCPKT_DATA)
                    enqueue(buffer + 1, size_t(n - 1));
                else if (buffer[0] & TIOCPKT_FLUSHREAD)
                    ++flushReads;
                return true;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // Not expected while we hold the slave; do not spin on it.
                struct timespec pause = {0, 10 * 1000000};
                nanosleep(&pause, nullptr);
            }
        }
        if (nowUs() >= deadline)
            return false;
    }
}

int PtyPort::readByte(int timeoutMs)
{
    int64_t deadline = nowUs() + int64_t(timeoutMs) * 1000;
    while (queue.empty()) {
        int64_t leftMs = (deadline - nowUs() + 999) / 1000;
        if (leftMs <= 0 || stopped())
            return -1;
        pump(int(leftMs));
    }
    int c = queue.front();
    queue.pop_front();
    if (!arrivals.empty()) {
        sleepUntilUs(arrivals.front());
        arrivals.pop_front();
    }
    return c;
}

// The bytes of one read from the master left the client about now; on the
// line they follow each other and any still in flight at its speed.
void PtyPort::enqueue(const uint8_t* data, size_t n)
{
    queue.insert(queue.end(), data, data + n);
    const unsigned rate = pacedRate();
    if (!rate || n == 0)
        return;
    const int64_t now = nowUs();
    if (inLineFreeUs < now)
        inLineFreeUs = now;
    const int64_t start = inLineFreeUs;
    for (size_t i = 1; i <= n; ++i)
        arrivals.push_back(start + int64_t(i) * 10 * 1000000 / rate);
    inLineFreeUs = arrivals.back();
}

unsigned PtyPort::pacedRate() const
{
    if (!paceRate)
        return 0;
    const unsigned rate = clientSpeed();
    return rate ? rate : paceRate;
}

bool PtyPort::write(const uint8_t* data, size_t n, int stallMs)
{
    const unsigned rate = pacedRate();
    // Chunks of about 5 ms of line time keep the pacing smooth without a
    // system call per byte.
    size_t chunk = rate ? rate / 10 / 200 : n;
    if (chunk == 0)
        chunk = 1;

    // The packet goes out back to back from when the line is free: each chunk
    // is timed from that start, so that a late wake-up is made up on the next
    // chunk instead of adding up.
    const int64_t lineStart = lineFreeUs > nowUs() ? lineFreeUs : nowUs();
    if (rate)
        lineFreeUs = lineStart + int64_t(n) * 10 * 1000000 / rate;
    size_t done = 0;
    int64_t stallDeadline = nowUs() + int64_t(stallMs) * 1000;
    while (done < n) {
        size_t piece = n - done < chunk ? n - done : chunk;
        // A byte is handed over once it would have arrived in full.
        if (rate)
            sleepUntilUs(lineStart + int64_t(done + piece) * 10 * 1000000 / rate);
        size_t end = done + piece;
        while (done < end) {
            if (stopped())
                return false;
            ssize_t w = ::write(master, data + done, end - done);
            if (w > 0) {
                done += size_t(w);
                stallDeadline = nowUs() + int64_t(stallMs) * 1000;
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (nowUs() >= stallDeadline)
                return false;
            // Keep reading while the client does not take our output, so that
            // neither side can block the other.
            struct pollfd p = {master, POLLIN | POLLOUT, 0};
            if (poll(&p, 1, kSliceMs) > 0 && (p.revents & POLLIN))
                pump(0);
        }
    }
    flushReadsAtLastWrite = flushReads;
    return true;
}

unsigned PtyPort::clientSpeed() const
{
    struct termios t;
    if (master < 0 || tcgetattr(master, &t) != 0)
        return 0;
    return speedOfConstant(cfgetospeed(&t));
}

unsigned PtyPort::clientInputSpeed() const
{
    struct termios t;
    if (master < 0 || tcgetattr(master, &t) != 0)
        return 0;
    unsigned in = speedOfConstant(cfgetispeed(&t));
    // An input speed of 0 means "as the output speed".
    return in ? in : speedOfConstant(cfgetospeed(&t));
}

void PtyPort::linger(int maxMs)
{
    const int64_t kGraceUs = 300 * 1000;
    int64_t deadline = nowUs() + int64_t(maxMs) * 1000;
    const uint64_t purgesBefore = flushReadsAtLastWrite;
    int64_t emptySince = -1;
    while (nowUs() < deadline && !stopped()) {
        int pending = 0;
        if (slaveKeep < 0 || ioctl(slaveKeep, FIONREAD, &pending) != 0)
            return;
        if (pending > 0) {
            emptySince = -1;
        } else {
            if (emptySince < 0)
                emptySince = nowUs();
            if (flushReads != purgesBefore || nowUs() - emptySince >= kGraceUs)
                return;
        }
        pump(10);
    }
}

void PtyPort::hangUp()
{
    if (slaveKeep >= 0)
        ::close(slaveKeep);
    if (master >= 0)
        ::close(master);
    slaveKeep = master = -1;
    queue.clear();
    arrivals.clear();
}

void PtyPort::discardAll()
{
    queue.clear();
    arrivals.clear();
    if (slaveKeep >= 0)
        tcflush(slaveKeep, TCIOFLUSH);
}

} // namespace sim
