// sio against the slave side of a pseudo-terminal; the test holds the master.
#include "link/sio.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/hex_dump.h"
#include "tests/support/pty_master.h"
#include "tests/support/temp_dir.h"
#include "tests/support/verbose_scope.h"
#include "link/serial_ports.h"

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

// A group is named only when joining it lets the user read and write the
// device; a device only its owner may open is said to be so.
TEST(SerialPorts, AccessNamesAGroupOnlyWhenItMayReadAndWrite)
{
    if (getuid() != 0)
        GTEST_SKIP() << "setting a file's owner and group needs root";
    const struct group* dialout = getgrnam("dialout");
    if (dialout == nullptr)
        GTEST_SKIP() << "no group dialout on this machine";
    const testsupport::TempDir dir;
    const std::string device = dir.write("ttyTEST", {});
    const struct {
        gid_t gid;
        mode_t mode;
        DeviceAccess::Kind kind;
        const char* name;   // the group or the owner named
    } rows[] = {
        {dialout->gr_gid, 0660, DeviceAccess::Group, "dialout"},
        {dialout->gr_gid, 0640, DeviceAccess::OwnerOnly, "root"},   // the group may only read
        {0, 0600, DeviceAccess::OwnerOnly, "root"},
        {0, 0660, DeviceAccess::Other, ""},   // group root is no group to join
        {0, 0666, DeviceAccess::Other, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.gid) + " " + std::to_string(row.mode));
        ASSERT_EQ(chown(device.c_str(), 0, row.gid), 0);
        ASSERT_EQ(chmod(device.c_str(), row.mode), 0);
        const DeviceAccess access = deviceAccess(device);
        EXPECT_EQ(access.kind, row.kind);
        EXPECT_EQ(row.kind == DeviceAccess::Group ? access.group : access.owner, row.name);
    }
    EXPECT_EQ(deviceAccess(dir.file("missing")).kind, DeviceAccess::Unknown);
}

} // namespace
