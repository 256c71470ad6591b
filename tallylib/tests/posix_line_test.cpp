// The POSIX line layer on a real pty pair (run under tests/with-pty-pair):
// port 1 is MOSSLANE_SERIAL_PORT through TALLYLIB_COM1, the test holds the peer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "clock.h"
#include "comm.h"
#include "line_settings.h"

namespace {

class PosixLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *port = std::getenv("MOSSLANE_SERIAL_PORT");
        const char *peerPath = std::getenv("MOSSLANE_SERIAL_PEER");
        if (!port || !peerPath) GTEST_SKIP() << "needs tests/with-pty-pair";
        device = port;
        setenv("TALLYLIB_COM1", port, 1);
        setenv("TALLYLIB_COM2", "/nonexistent/tty", 1);
        peer = open(peerPath, O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(peer, 0);
        termios raw;
        tcgetattr(peer, &raw);
        cfmakeraw(&raw);
        tcsetattr(peer, TCSANOW, &raw);
    }
    void TearDown() override
    {
        _CommClose();
        if (peer >= 0) close(peer);
    }
    // The settings the device holds now, read through a second descriptor.
    termios Settings() const
    {
        termios t{};
        int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    }
    // Up to want bytes from the peer, waiting at most two seconds.
    std::string ReadPeer(size_t want) const
    {
        std::string got;
        char buffer[512];
        unsigned long start = _ClockTick();
        while (got.size() < want && _ClockTick() - start < 2000) {
            ssize_t n = read(peer, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<size_t>(n));
            else usleep(2000);
        }
        return got;
    }
    std::string device;
    int peer = -1;
};

struct LineCase {
    long rate;
    char parity;
    int dataBits, stopBits;
    speed_t speed;
    tcflag_t size, parityFlags;
    bool twoStops;
};

TEST_F(PosixLine, ConfiguresSpeedParityAndStopBits)
{
    const LineCase cases[] = {
        {2400, 'N', 8, 1, B2400, CS8, 0, false},          {0, 'N', 8, 1, B2400, CS8, 0, false},
        {14400, 'E', 7, 1, B19200, CS7, PARENB, false},   {28800, 'O', 8, 2, B38400, CS8, PARENB | PARODD, true},
        {57600, 'X', 8, 3, B2400, CS8, 0, false},         {9600, 'n', 8, 1, B9600, CS8, 0, false},
#ifdef CMSPAR
        {1200, 'M', 7, 1, B1200, CS7, PARENB | PARODD | CMSPAR, false}, {4800, 'S', 7, 1, B4800, CS7, PARENB | CMSPAR, false},
#endif
    };
    for (const LineCase &c : cases) {
        termios built{};
        ASSERT_TRUE(_CommBuildTermios(&built, c.rate, c.parity, c.dataBits, c.stopBits));
        EXPECT_EQ(c.size, built.c_cflag & CSIZE) << c.rate;
#ifdef CMSPAR
        EXPECT_EQ(c.parityFlags, built.c_cflag & (PARENB | PARODD | CMSPAR)) << c.rate;
#else
        EXPECT_EQ(c.parityFlags, built.c_cflag & (PARENB | PARODD)) << c.rate;
#endif
        EXPECT_EQ(c.parityFlags != 0, (built.c_iflag & INPCK) != 0) << c.rate;
        EXPECT_EQ(0u, built.c_cflag & CRTSCTS) << c.rate;
        // A pty keeps the speed, the stop bits and the raw mode, not size or parity.
        ASSERT_EQ(0, _CommOpen("1", c.rate, c.parity, c.dataBits, c.stopBits)) << c.rate;
        termios t = Settings();
        EXPECT_EQ(c.speed, cfgetospeed(&t)) << c.rate;
        EXPECT_EQ(c.twoStops, (t.c_cflag & CSTOPB) != 0) << c.rate;
        EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO | ISIG)) << c.rate;
        EXPECT_EQ(0u, t.c_iflag & (IXON | IXOFF | ICRNL)) << c.rate;
        EXPECT_EQ(0u, t.c_oflag & OPOST) << c.rate;
        EXPECT_EQ(0, _CommClose());
    }
    ASSERT_EQ(0, _CommOpen("1", 2400, 'N', 8, 1));
    EXPECT_EQ(0, _CommSetBaud(16800));
    termios t = Settings();
    EXPECT_EQ(B19200, cfgetospeed(&t));
    EXPECT_EQ(0, _CommSetLine(1200, 'N', 8, 2));
    t = Settings();
    EXPECT_EQ(B1200, cfgetospeed(&t));
    EXPECT_NE(0u, t.c_cflag & CSTOPB);
}

TEST_F(PosixLine, MovesBytesBothWays)
{
    ASSERT_EQ(0, _CommOpen("1", 19200, 'N', 8, 1));
    EXPECT_EQ(0, _CommCharsWaiting());
    const char sent[] = "OK\r\n\x00\xff\x15";
    ASSERT_EQ(7, write(peer, sent, 7));
    unsigned long start = _ClockTick();
    while (_CommCharsWaiting() < 7 && _ClockTick() - start < 2000) _CommWaitInput(5);
    ASSERT_EQ(7, _CommCharsWaiting());
    std::string received;
    for (int i = 0; i < 7; ++i) received += static_cast<char>(_CommReadChar());
    EXPECT_EQ(std::string(sent, 7), received);
    EXPECT_EQ(0, _CommCharsWaiting());

    std::string block(3000, '\x8a');
    block.back() = '\n';
    EXPECT_EQ(3000, _CommWriteString(block.data(), 3000));
    EXPECT_EQ(0, _CommWriteChar('!'));
    std::string got = ReadPeer(block.size() + 1);
    EXPECT_EQ(block.size() + 1, got.size());
    EXPECT_TRUE(got == block + "!");
    EXPECT_EQ(-1, _CommWriteString("x", 0));
    EXPECT_EQ(-1, _CommWriteString("x", -5));
}

TEST_F(PosixLine, WaitReturnsAsSoonAsAByteIsThere)
{
    ASSERT_EQ(0, _CommOpen("1", 2400, 'N', 8, 1));
    ASSERT_EQ(1, write(peer, "A", 1));
    usleep(20000);
    unsigned long start = _ClockTick();
    _CommWaitInput(1000);
    EXPECT_LT(_ClockTick() - start, 500u);
}

TEST_F(PosixLine, ExclusiveMissingAndClosed)
{
    ASSERT_EQ(0, _CommOpen("1", 2400, 'N', 8, 1));
    // Another program cannot take the line while it is open.
    int other = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) {
        EXPECT_NE(0, flock(other, LOCK_EX | LOCK_NB));
        close(other);
    }
    EXPECT_EQ(0, _CommClose());
    // A device that does not exist.
    EXPECT_EQ(-1, _CommOpen("2", 2400, 'N', 8, 1));
    // Nothing works on a closed line, and nothing reaches the device.
    ASSERT_EQ(1, write(peer, "Z", 1));
    EXPECT_EQ(0, _CommCharsWaiting());
    EXPECT_EQ(0xFF, _CommReadChar());
    EXPECT_EQ(-1, _CommWriteChar('a'));
    EXPECT_EQ(-1, _CommWriteString("abc", 3));
    EXPECT_EQ(-1, _CommSetBaud(2400));
    EXPECT_EQ(-1, _CommSetLine(2400, 'N', 8, 1));
    EXPECT_EQ(-1, _CommSetDTR(1));
    EXPECT_EQ(0, _CommClose());
    EXPECT_EQ(-1, _CommOpen(nullptr, 2400, 'N', 8, 1));
}

}  // namespace
