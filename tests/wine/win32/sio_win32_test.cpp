// sio on the Win32 comm API, without a port to talk to: the failures must come
// back as codes and leave the object closed. Transfers over a real COM port
// are tested end to end (tests/wine/wine_e2e_test.cpp).
#include "link/sio.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(SioWin32, PortBelowOneIsRefusedBeforeAnySystemCall)
{
    sio port;
    EXPECT_EQ(2, port.open(0, 19200));
    EXPECT_EQ(2, port.open(-1, 19200));
    EXPECT_FALSE(port.isOpen());
}

TEST(SioWin32, MissingPortIsCodeThree)
{
    sio port;
    // "\\.\COM%d" with the largest number still fits the name buffer.
    for (int number : {250, 2147483647}) {
        EXPECT_EQ(3, port.open(number, 19200)) << number;
        EXPECT_FALSE(port.isOpen()) << number;
    }
    EXPECT_EQ(2000, port.readTimeoutConstant());
}

TEST(SioWin32, ClosedPortFailsQuietly)
{
    sio port;
    uint8_t byte = 0x55;
    EXPECT_EQ(1, port.write(&byte, 1));
    EXPECT_EQ(1, port.read(&byte, 1));
    EXPECT_FALSE(port.setSpeed(38400));
    EXPECT_EQ(0, port.close());
    EXPECT_EQ(0, port.close());
}

TEST(SioWin32, PerByteAllowanceFollowsTheRate)
{
    sio port;
    EXPECT_EQ(2u, port.perByteAllowance());   // 19200 until a rate is set
    EXPECT_EQ(2000, port.writeTimeoutConstant());
}

} // namespace
