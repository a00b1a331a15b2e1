#pragma once
// sio: the serial port. Fixed line settings (8N1, RTS/CTS, XON/XOFF on output),
// per-call time-outs of a constant plus a per-byte allowance that follows the
// bit rate, exact-count reads and writes.
#include <cstdint>
#include <memory>
#include <string>

#include "core/outcome.h"

// Why the last read or write of a sio failed.
enum class LineFault {
    None,
    TimedOut,      // the deadline passed with bytes still missing
    HungUp,        // the far end went away (pseudo-terminal closed, adapter unplugged)
    SystemError,   // the system refused the call (systemError() says why)
    Interrupted,   // a second Ctrl-C: the wait was given up
};

// Why the last open failed: OpenFault (core/outcome.h), which an outcome carries.

class sio {
public:
    sio();
    ~sio();
    sio(const sio&) = delete;
    sio& operator=(const sio&) = delete;

    // 0 success; 2 port below 1 (and no path); 3 cannot be opened; 4 line
    // settings refused. With a device path (POSIX), that device is opened in
    // place of the numbered port and the number is not checked.
    int open(int port, unsigned speed, const char* path = nullptr);
    int close();
    // 0 when all bytes went, 1 otherwise.
    int write(const uint8_t* buffer, int length);
    // 0 when exactly length bytes came, 1 otherwise (failure or time-out).
    int read(uint8_t* buffer, int length);
    bool setSpeed(unsigned speed);
    bool setReadTimeout(int ms);

    bool isOpen() const;

    // What the last failed call ran into.
    LineFault lastFault() const { return fault; }
    // errno / GetLastError of the last failed call (open, read or write).
    int systemError() const { return osError; }
    OpenFault openFault() const { return openProblem; }
    // The device the last open tried: "COM3", "/dev/ttyS2", "/dev/ttyUSB0".
    const std::string& deviceName() const { return device; }
    // Bytes put on the line since construction.
    uint64_t bytesWritten() const { return written; }

    // Values in force, for tests: the read constant (ms), the per-byte
    // allowance m = 20000 / rate + 1 (ms), the write constant and the rate.
    int readTimeoutConstant() const { return readTimeout; }
    unsigned perByteAllowance() const { return 20000u / baudRate + 1; }
    int writeTimeoutConstant() const { return 2000; }
    unsigned currentSpeed() const { return baudRate; }

private:
    struct Platform;                    // DCB and handle on Win32, fd and termios on POSIX
    std::unique_ptr<Platform> platform;
    unsigned baudRate = 19200;          // the rate last written by setSpeed
    int readTimeout = 2000;
    LineFault fault = LineFault::None;
    OpenFault openProblem = OpenFault::None;
    int osError = 0;
    std::string device;
    uint64_t written = 0;
};
