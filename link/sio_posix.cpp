// sio on a POSIX terminal device. `-p#` names /dev/ttyS(#-1); a device path (a
// USB adapter, the slave of a pseudo-terminal) is opened as given.
#include "link/sio.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/interrupt.h"
#include "core/verbose.h"

struct sio::Platform {
    int fd = -1;
    struct termios tio = {};        // read at open, rewritten by every setSpeed
    // Bytes read ahead of the caller: one system call takes what has arrived,
    // later reads take it from here. Dropped wherever the input queue is.
    uint8_t input[512];
    size_t inputStart = 0;
    size_t inputEnd = 0;

    void dropInput() { inputStart = inputEnd = 0; }
};

namespace {

const int kWriteTimeout = 2000;

int64_t nowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool speedConstant(unsigned speed, speed_t* out)
{
    switch (speed) {
    case 9600: *out = B9600; return true;
    case 19200: *out = B19200; return true;
    case 38400: *out = B38400; return true;
    default: return false;
    }
}

// Waits for events on fd until deadline; false on time-out, a dead descriptor
// or a second Ctrl-C (*fault says which). A hang-up without data (the far end
// of a pseudo-terminal went away) can never deliver, so it fails at once
// instead of spinning until the deadline.
bool waitFor(int fd, short events, int64_t deadline, LineFault* fault, bool* hungUp = nullptr)
{
    for (;;) {
        if (interrupts::abortRequested()) {
            *fault = LineFault::Interrupted;
            return false;
        }
        int64_t left = deadline - nowMs();
        if (left <= 0) {
            *fault = LineFault::TimedOut;
            return false;
        }
        struct pollfd p = {fd, events, 0};
        int r = poll(&p, 1, int(left));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            *fault = LineFault::SystemError;
            return false;
        }
        if (r == 0) {
            *fault = LineFault::TimedOut;
            return false;
        }
        // A hung-up pseudo-terminal polls readable for ever while read() gives
        // 0: the caller reads what is left once, then gives up.
        if (hungUp && (p.revents & POLLHUP))
            *hungUp = true;
        if (p.revents & events)
            return true;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            *fault = LineFault::HungUp;
            return hungUp != nullptr && *hungUp;
        }
    }
}

OpenFault openFaultOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return OpenFault::NotFound;
    case EACCES:
    case EPERM:
    case EROFS: return OpenFault::NoPermission;
    case EBUSY:
    case EWOULDBLOCK: return OpenFault::InUse;
    default: return OpenFault::Refused;
    }
}

// Lets the kernel's output queue empty, for at most the write time-out of what
// is queued. What is still queued then is flushed: the line is held off, and a
// real UART would otherwise make close() wait up to its closing_wait (30 s).
void drainOutput(int fd, unsigned perByte)
{
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
        return;
    int64_t deadline = nowMs() + kWriteTimeout + int64_t(queued) * perByte;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (nowMs() >= deadline) {
            tcflush(fd, TCOFLUSH);
            return;
        }
        struct timespec pause = {0, 2 * 1000000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

sio::sio() : platform(new Platform) {}

sio::~sio()
{
    close();
}

bool sio::isOpen() const
{
    return platform->fd >= 0;
}

int sio::open(int port, unsigned speed, const char* path)
{
    close();
    openProblem = OpenFault::None;
    osError = 0;
    char name[32];
    if (!path) {
        std::snprintf(name, sizeof name, "/dev/ttyS%d", port - 1);
        path = name;
    }
    device = path;
    if (path == name && port < 1) {
        device.clear();
        openProblem = OpenFault::BadNumber;
        return 2;
    }
    readTimeout = 2000;

    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        osError = errno;
        openProblem = openFaultOf(osError);
        return 3;
    }
    // The port is not shared: TIOCEXCL keeps other openers out (root excepted),
    // the lock also stops a second sio run as root.
    ioctl(fd, TIOCEXCL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        osError = errno;
        openProblem = OpenFault::InUse;
        ::close(fd);
        return 3;
    }
    platform->fd = fd;
    platform->dropInput();
    platform->tio = {};
    if (tcgetattr(fd, &platform->tio) != 0) {
        // Not a terminal at all (a file, /dev/null): no line settings to give it.
        osError = errno;
        openProblem = OpenFault::BadSettings;
        close();
        return 4;
    }
    if (!setSpeed(speed)) {
        openProblem = OpenFault::BadSettings;
        close();
        return 4;
    }
    tcflush(fd, TCIFLUSH);
    return 0;
}

int sio::close()
{
    int fd = platform->fd;
    if (fd < 0)
        return 0;
    // Unsent output is drained, not discarded: write() has already reported it
    // as sent, and a pseudo-terminal loses up to half a buffer when it is flushed.
    drainOutput(fd, perByteAllowance());
    tcflush(fd, TCIFLUSH);
    platform->dropInput();
    // The flag outlives this descriptor on a pseudo-terminal whose master stays
    // open, and would refuse the next open.
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    platform->fd = -1;
    return 0;
}

bool sio::setSpeed(unsigned speed)
{
    int fd = platform->fd;
    if (fd < 0)
        return false;
    speed_t code;
    if (!speedConstant(speed, &code))
        return false;
    // Input that arrived at the old rate is dropped. Output is let out at the
    // old rate first, where the Windows port clears it: it has been reported
    // as written, and a rate change under it would garble it.
    drainOutput(fd, perByteAllowance());
    tcflush(fd, TCIFLUSH);
    platform->dropInput();

    struct termios& t = platform->tio;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXOFF | IXANY |
                   INPCK | IGNPAR);
    t.c_iflag |= IXON;  // stop sending on XOFF from the far end, never send XOFF
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    // HUPCL: DTR is on while the port is open. There is no POSIX counterpart of
    // output flow on DSR; CRTSCTS covers the CTS half of the handshake.
    t.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL | CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    bool ok = tcsetattr(fd, TCSANOW, &t) == 0;
    if (!ok)
        osError = errno;
    baudRate = speed;
    setReadTimeout(readTimeout);
    return ok;
}

bool sio::setReadTimeout(int ms)
{
    // Deadlines are computed per call from readTimeout and baudRate.
    readTimeout = ms;
    return isOpen();
}

int sio::write(const uint8_t* buffer, int length)
{
    int fd = platform->fd;
    int done = 0;
    LineFault why = LineFault::SystemError;
    if (fd >= 0 && length >= 0) {
        int64_t deadline = nowMs() + kWriteTimeout + int64_t(length) * perByteAllowance();
        while (done < length) {
            ssize_t n = ::write(fd, buffer + done, size_t(length - done));
            if (n > 0) {
                done += int(n);
                continue;
            }
            if (n < 0 && errno == EINTR && !interrupts::abortRequested())
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                osError = errno;
                why = errno == EIO ? LineFault::HungUp : errno == EINTR ? LineFault::Interrupted
                                                                        : LineFault::SystemError;
                break;
            }
            if (!waitFor(fd, POLLOUT, deadline, &why))
                break;
        }
    }
    written += uint64_t(done);
    if (fd >= 0 && length >= 0 && done == length)
        return 0;
    fault = why;
    if (verbose)
        console::out("sio::write error\n");
    return 1;
}

int sio::read(uint8_t* buffer, int length)
{
    int fd = platform->fd;
    int done = 0;
    LineFault why = LineFault::SystemError;
    if (fd >= 0 && length >= 0) {
        Platform& p = *platform;
        int64_t deadline = nowMs() + readTimeout + int64_t(length) * perByteAllowance();
        bool hungUp = false;
        while (done < length) {
            if (p.inputStart < p.inputEnd) {
                size_t n = std::min(p.inputEnd - p.inputStart, size_t(length - done));
                std::memcpy(buffer + done, p.input + p.inputStart, n);
                p.inputStart += n;
                done += int(n);
                continue;
            }
            // Whatever has arrived, not only what this call wants: the packet
            // layer reads a byte at a time, and a system call per byte was
            // most of the cost of a transfer.
            ssize_t n = ::read(fd, p.input, sizeof p.input);
            if (n > 0) {
                p.inputStart = 0;
                p.inputEnd = size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR && !interrupts::abortRequested())
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                osError = errno;
                why = errno == EIO ? LineFault::HungUp : errno == EINTR ? LineFault::Interrupted
                                                                        : LineFault::SystemError;
                break;
            }
            // n == 0 is "nothing yet" with VMIN = VTIME = 0, unless the far
            // end has hung up: then nothing more will come.
            if (hungUp) {
                why = LineFault::HungUp;
                break;
            }
            if (!waitFor(fd, POLLIN, deadline, &why, &hungUp))
                break;
        }
    }
    if (fd >= 0 && length >= 0 && done == length)
        return 0;
    fault = why;
    if (verbose)
        console::out("sio::read error\n");
    return 1;
}
