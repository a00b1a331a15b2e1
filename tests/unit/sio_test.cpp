// sio against the slave side of a pseudo-terminal; the test holds the master.
#include "link/sio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/hex_dump.h"
#include "tests/support/pty_master.h"
#include "tests/support/verbose_scope.h"

namespace {

using testsupport::hexDump;
using Pty = testsupport::PtyMaster;

#define REQUIRE_PTY(pty)                                  \
    if (!(pty).ok())                                      \
    GTEST_SKIP() << "no pseudo-terminal available"

TEST(Sio, PortBelowOneIsRefusedBeforeAnyDevice)
{
    sio port;
    EXPECT_EQ(2, port.open(0, 19200));
    EXPECT_EQ(2, port.open(-1, 19200));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(0, port.close());
}

TEST(Sio, MissingDeviceGivesThree)
{
    sio port;
    EXPECT_EQ(3, port.open(1, 19200, "/nonexistent/tty"));
    EXPECT_FALSE(port.isOpen());
}

TEST(Sio, UnsupportedRateGivesFourAndLeavesClosed)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    EXPECT_EQ(4, port.open(1, 4800, pty.slave.c_str()));
    EXPECT_FALSE(port.isOpen());
    // The refused open left nothing locked behind.
    EXPECT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
}

TEST(Sio, TimeoutsFollowTheRateAndKeepTheReadConstant)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    EXPECT_EQ(2000, port.readTimeoutConstant());
    EXPECT_EQ(2000, port.writeTimeoutConstant());
    EXPECT_EQ(2u, port.perByteAllowance());

    port.setReadTimeout(10000);
    ASSERT_TRUE(port.setSpeed(38400));
    EXPECT_EQ(1u, port.perByteAllowance());
    EXPECT_EQ(10000, port.readTimeoutConstant());
    ASSERT_TRUE(port.setSpeed(19200));
    EXPECT_EQ(2u, port.perByteAllowance());
    EXPECT_EQ(10000, port.readTimeoutConstant());
    ASSERT_TRUE(port.setSpeed(9600));
    EXPECT_EQ(3u, port.perByteAllowance());
    EXPECT_EQ(9600u, port.currentSpeed());

    // A new open starts again from 2000.
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    EXPECT_EQ(2000, port.readTimeoutConstant());
}

TEST(Sio, ReadWithNothingToReadTimesOut)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    port.setReadTimeout(50);
    uint8_t byte = 0;
    EXPECT_EQ(1, port.read(&byte, 1));
    EXPECT_TRUE(port.isOpen());
}

TEST(Sio, ShortReadIsAFailure)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    port.setReadTimeout(50);
    pty.send({0x41, 0x42});
    uint8_t buffer[3] = {};
    EXPECT_EQ(1, port.read(buffer, 3));
    EXPECT_EQ(0x41, buffer[0]);
    EXPECT_EQ(0x42, buffer[1]);
}

TEST(Sio, ReadFailureIsReportedInVerboseMode)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    port.setReadTimeout(10);
    uint8_t byte = 0;
    testsupport::VerboseScope on(true);
    testing::internal::CaptureStdout();
    int result = port.read(&byte, 1);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, result);
    EXPECT_EQ("sio::read error\n", printed);
}

// Every byte value but XON and XOFF, which output flow control takes off the line.
std::vector<uint8_t> everyDataByte()
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i) {
        if (i != 0x11 && i != 0x13)
            bytes.push_back(uint8_t(i));
    }
    return bytes;
}

TEST(Sio, InputIsRaw)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    std::vector<uint8_t> sent = everyDataByte();
    pty.send(sent);
    std::vector<uint8_t> got(sent.size());
    EXPECT_EQ(0, port.read(got.data(), int(got.size())));
    EXPECT_EQ(sent, got) << "sent:\n" << hexDump(sent) << "\ngot:\n" << hexDump(got);
}

TEST(Sio, OutputIsRaw)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio port;
    ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
    std::vector<uint8_t> sent;
    for (int i = 0; i < 256; ++i)
        sent.push_back(uint8_t(i));
    EXPECT_EQ(0, port.write(sent.data(), int(sent.size())));
    std::vector<uint8_t> got = pty.receive(sent.size());
    EXPECT_EQ(sent, got) << "sent:\n" << hexDump(sent) << "\ngot:\n" << hexDump(got);
}

TEST(Sio, WriteJustBeforeCloseArrives)
{
    Pty pty;
    REQUIRE_PTY(pty);
    std::vector<uint8_t> sent(2048);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = uint8_t(i * 7 + 3);
    {
        sio port;
        ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
        EXPECT_EQ(0, port.write(sent.data(), int(sent.size())));
        EXPECT_EQ(0, port.close());
    }
    std::vector<uint8_t> got = pty.receive(sent.size());
    EXPECT_EQ(sent.size(), got.size());
    EXPECT_TRUE(sent == got) << "got:\n" << hexDump(got);
}

TEST(Sio, PortIsNotShared)
{
    Pty pty;
    REQUIRE_PTY(pty);
    sio first;
    sio second;
    ASSERT_EQ(0, first.open(1, 19200, pty.slave.c_str()));
    EXPECT_EQ(3, second.open(1, 19200, pty.slave.c_str()));
    EXPECT_FALSE(second.isOpen());
    first.close();
    EXPECT_EQ(0, second.open(1, 19200, pty.slave.c_str()));
}

TEST(Sio, DestructionAndReopenReleaseThePort)
{
    Pty pty;
    REQUIRE_PTY(pty);
    {
        sio port;
        ASSERT_EQ(0, port.open(1, 19200, pty.slave.c_str()));
        // Reopening the same object closes first, so its own lock is no obstacle.
        EXPECT_EQ(0, port.open(1, 9600, pty.slave.c_str()));
    }
    sio other;
    EXPECT_EQ(0, other.open(1, 19200, pty.slave.c_str()));
}

TEST(Sio, ClosedPortRefusesTransfers)
{
    sio port;
    uint8_t byte = 0;
    EXPECT_EQ(1, port.read(&byte, 1));
    EXPECT_EQ(1, port.write(&byte, 1));
    EXPECT_FALSE(port.setSpeed(19200));
}

} // namespace
