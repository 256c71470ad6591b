// The serial primitives on a real line: the port under test and its peer are
// the two ends of a virtual null-modem cable (MOSSLANE_SERIAL_PORT and
// MOSSLANE_SERIAL_PEER, set by the harness that made the cable).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "pump.h"
#include "serial.h"
#include "serial_peer.h"
#include "tick.h"

namespace {

enum : uint8_t { Marker = 0xA5, Sentinel = 0x5A };
enum : uint32_t { ArrivalWaitMs = 3000 };

const char* PortName() {
    return getenv("MOSSLANE_SERIAL_PORT");
}

const char* PeerName() {
    return getenv("MOSSLANE_SERIAL_PEER");
}

std::vector<uint8_t> Pattern(int length, int seed) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

// Collects up to want bytes at the peer, giving up after the arrival wait.
std::vector<uint8_t> ReceiveAtPeer(int want) {
    std::vector<uint8_t> got(static_cast<size_t>(want) + 1);
    int have = 0;
    const uint32_t start = TickCount();
    while (have < want && TickCount() - start < ArrivalWaitMs) {
        int n = PeerReadSome(got.data() + have, want - have);
        if (n == 0) SleepMs(1);
        have += n;
    }
    got.resize(static_cast<size_t>(have));
    return got;
}

// Collects up to want bytes from the port under test.
std::vector<uint8_t> ReceiveAtPort(int want) {
    std::vector<uint8_t> got(static_cast<size_t>(want) + 1);
    int have = 0;
    const uint32_t start = TickCount();
    while (have < want && TickCount() - start < ArrivalWaitMs) {
        int16_t n = SerialReadBlock(got.data() + have, static_cast<int16_t>(want - have));
        if (n == 0) SleepMs(1);
        have += n;
    }
    got.resize(static_cast<size_t>(have));
    return got;
}

// Polls for the marker byte; what the peer wrote with it has then arrived too.
bool AwaitMarker() {
    const uint32_t start = TickCount();
    uint8_t byte = 0;
    while (TickCount() - start < ArrivalWaitMs) {
        if (SerialReadByte(&byte) == 1) return byte == Marker;
        SleepMs(1);
    }
    return false;
}

void DrainPeer() {
    uint8_t scratch[256];
    while (PeerReadSome(scratch, sizeof scratch) > 0) {
    }
}

class SerialLine : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(PortName(), nullptr) << "run through the harness that makes the cable";
        ASSERT_NE(PeerName(), nullptr);
        ASSERT_TRUE(PeerOpen(PeerName())) << PeerName();
        ASSERT_EQ(SerialOpenDevice(PortName(), 57600, HandshakeNone), 1) << PortName();
        // Bytes from an earlier test may still sit in either direction.
        PurgeSerialInput();
        DrainPeer();
    }
    void TearDown() override {
        SerialCloseDevice();
        PeerClose();
    }
    void PeerSendsWithMarker(const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> message;
        message.reserve(payload.size() + 1);
        message.push_back(Marker);
        for (uint8_t byte : payload) message.push_back(byte);
        ASSERT_TRUE(PeerWrite(message.data(), static_cast<int>(message.size())));
        ASSERT_TRUE(AwaitMarker());
    }
};

struct ReadCase {
    const char* name;
    int waiting;       // bytes the peer has sent before the read
    int16_t length;    // asked of SerialReadBlock
    int16_t expected;  // its result
};

const ReadCase kReadCases[] = {
    {"NothingWaiting", 0, 133, 0},
    {"FewerThanAsked", 10, 133, 10},
    {"MoreThanAsked", 200, 133, 133},
    {"ExactlyAsked", 133, 133, 133},
    {"ZeroLength", 10, 0, 0},
    {"NegativeLength", 10, -1, 0},
};

class SerialRead : public SerialLine, public testing::WithParamInterface<ReadCase> {};

TEST_P(SerialRead, ReturnsWhatHasArrivedUpToTheLength) {
    const ReadCase& c = GetParam();
    const std::vector<uint8_t> sent = Pattern(c.waiting, 3);
    if (c.waiting > 0) PeerSendsWithMarker(sent);

    std::vector<uint8_t> buffer(140, 0xEE);
    const uint32_t start = TickCount();
    ASSERT_EQ(SerialReadBlock(buffer.data(), c.length), c.expected);
    // A read that waits for data would stall the whole program.
    EXPECT_LT(TickCount() - start, 500u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + c.expected, sent.begin()));
    EXPECT_EQ(buffer[static_cast<size_t>(c.expected)], 0xEE) << "wrote past the bytes it reported";

    // Nothing is lost: the rest is still there, in order.
    std::vector<uint8_t> rest = ReceiveAtPort(c.waiting - c.expected);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), sent.begin() + c.expected));
    EXPECT_EQ(static_cast<int>(rest.size()), c.waiting - c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialRead, testing::ValuesIn(kReadCases),
                         [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST_F(SerialLine, ReadByteTakesExactlyOneByte) {
    uint8_t byte = 0;
    EXPECT_EQ(SerialReadByte(&byte), 0) << "nothing has arrived yet";
    PeerSendsWithMarker({0x43, 0x06});
    EXPECT_EQ(SerialReadByte(&byte), 1);
    EXPECT_EQ(byte, 0x43);
    std::vector<uint8_t> rest = ReceiveAtPort(1);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0], 0x06);
}

struct WriteCase {
    const char* name;
    bool singleByte;  // SerialWriteByte rather than SerialWriteBlock
    int16_t length;
    bool succeeds;
    int seen;         // bytes the peer receives
};

const WriteCase kWriteCases[] = {
    {"OneByte", true, 1, true, 1},
    {"ShortPacket", false, 133, true, 133},
    {"LongPacket", false, 1029, true, 1029},
    {"ZeroLength", false, 0, true, 0},
    {"NegativeLength", false, -5, false, 0},
};

class SerialWrite : public SerialLine, public testing::WithParamInterface<WriteCase> {};

TEST_P(SerialWrite, PeerSeesEveryByteInOrder) {
    const WriteCase& c = GetParam();
    const std::vector<uint8_t> block = Pattern(c.seen > 0 ? c.seen : 8, 11);
    int result = c.singleByte ? SerialWriteByte(block[0]) : SerialWriteBlock(block.data(), c.length);
    EXPECT_EQ(result != 0, c.succeeds);
    // The sentinel closes the stream: anything extra would come before it.
    ASSERT_NE(SerialWriteByte(Sentinel), 0);
    std::vector<uint8_t> got = ReceiveAtPeer(c.seen + 1);
    ASSERT_EQ(static_cast<int>(got.size()), c.seen + 1);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + c.seen, block.begin()));
    EXPECT_EQ(got.back(), Sentinel);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialWrite, testing::ValuesIn(kWriteCases),
                         [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST_F(SerialLine, BackToBackLongPacketsArriveWhole) {
    // A non-blocking device may accept a block in pieces; none may be dropped.
    for (int seed = 0; seed < 4; ++seed) {
        const std::vector<uint8_t> block = Pattern(1029, seed);
        ASSERT_NE(SerialWriteBlock(block.data(), 1029), 0);
        ASSERT_NE(SerialWriteBlock(block.data(), 1029), 0);
        std::vector<uint8_t> got = ReceiveAtPeer(2 * 1029);
        ASSERT_EQ(got.size(), 2u * 1029u) << "round " << seed;
        EXPECT_TRUE(std::equal(block.begin(), block.end(), got.begin()));
        EXPECT_TRUE(std::equal(block.begin(), block.end(), got.begin() + 1029));
    }
}

TEST_F(SerialLine, PurgeDiscardsEverythingWaitingButNotWhatComesLater) {
    PeerSendsWithMarker(Pattern(300, 5));  // more than one 64-byte chunk
    PurgeSerialInput();
    uint8_t buffer[133];
    EXPECT_EQ(SerialReadBlock(buffer, 133), 0);
    PeerSendsWithMarker({0x15});
    std::vector<uint8_t> got = ReceiveAtPort(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], 0x15);
}

TEST_F(SerialLine, OpenDiscardsSettingsAPreviousProgramLeft) {
    SerialCloseDevice();
    if (!LeaveForeignSettings(PortName())) GTEST_SKIP() << "no such settings on this platform";
    ASSERT_FALSE(DeviceIsRaw(PortName()));
    ASSERT_EQ(SerialOpenDevice(PortName(), 57600, HandshakeCts), 1);
    EXPECT_TRUE(DeviceIsRaw(PortName()));
}

TEST_F(SerialLine, PurgeOnQuietLineReturnsAtOnce) {
    const uint32_t start = TickCount();
    PurgeSerialInput();
    EXPECT_LT(TickCount() - start, 500u);
}

TEST_F(SerialLine, EveryPrimitiveFailsQuietlyOnClosedPort) {
    SerialCloseDevice();
    const uint8_t data[4] = {1, 2, 3, 4};
    ASSERT_TRUE(PeerWrite(data, 4));
    uint8_t buffer[133];
    uint8_t byte = 0;
    EXPECT_EQ(SerialReadByte(&byte), 0);
    EXPECT_EQ(SerialReadBlock(buffer, 133), 0);
    EXPECT_EQ(SerialWriteByte(0x50), 0);
    EXPECT_EQ(SerialWriteBlock(data, 4), 0);
    PurgeSerialInput();
    SerialCloseDevice();  // closing twice is harmless

    // Whatever a closed port had written would reach the peer before this.
    ASSERT_EQ(SerialOpenDevice(PortName(), 57600, HandshakeNone), 1);
    ASSERT_NE(SerialWriteByte(Sentinel), 0);
    std::vector<uint8_t> got = ReceiveAtPeer(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Sentinel);
}

// The peer collects a long stream on its own thread while the port writes.
struct Collector {
    std::vector<uint8_t> bytes;
    size_t have = 0;
};

void CollectAtPeer(void* arg) {
    Collector* collector = static_cast<Collector*>(arg);
    const uint32_t start = TickCount();
    while (collector->have < collector->bytes.size() && TickCount() - start < 20000) {
        int n = PeerReadSome(collector->bytes.data() + collector->have,
                             static_cast<int>(collector->bytes.size() - collector->have));
        if (n == 0) SleepMs(1);
        collector->have += static_cast<size_t>(n);
    }
}

TEST_F(SerialLine, StreamOfLongPacketsOutrunningThePeerArrivesWhole) {
    // Far more than the line buffers hold: the writer must wait, not cut.
    enum { Packets = 96 };
    Collector collector;
    collector.bytes.resize(Packets * 1029);
    ASSERT_TRUE(StartBackground(CollectAtPeer, &collector));
    std::vector<uint8_t> sent;
    for (int seed = 0; seed < Packets; ++seed) {
        const std::vector<uint8_t> block = Pattern(1029, seed);
        EXPECT_NE(SerialWriteBlock(block.data(), 1029), 0);
        sent.insert(sent.end(), block.begin(), block.end());
    }
    JoinBackground();
    ASSERT_EQ(collector.have, sent.size());
    EXPECT_TRUE(collector.bytes == sent);
}

TEST_F(SerialLine, OpeningAgainReplacesTheHeldPort) {
    ASSERT_EQ(SerialOpenDevice(PortName(), 115200, HandshakeCts), 1);
    const std::vector<uint8_t> block = Pattern(133, 9);
    ASSERT_NE(SerialWriteBlock(block.data(), 133), 0);
    EXPECT_EQ(ReceiveAtPeer(133), block);
}

struct LineCase {
    const char* name;
    uint32_t baud;
    uint8_t handShake;
};

const LineCase kLineCases[] = {
    {"Cts115200", 115200, HandshakeCts}, {"Cts57600", 57600, HandshakeCts},
    {"Cts19200", 19200, HandshakeCts},   {"None115200", 115200, HandshakeNone},
    {"None57600", 57600, HandshakeNone}, {"None19200", 19200, HandshakeNone},
};

class SerialSettings : public SerialLine, public testing::WithParamInterface<LineCase> {};

TEST_P(SerialSettings, LineCarriesBothDirections) {
    const LineCase& c = GetParam();
    ASSERT_EQ(SerialOpenDevice(PortName(), c.baud, c.handShake), 1);
    const std::vector<uint8_t> out = Pattern(1029, 1);
    ASSERT_NE(SerialWriteBlock(out.data(), 1029), 0);
    EXPECT_EQ(ReceiveAtPeer(1029), out);
    // Raw 8-bit: CR, LF, XON/XOFF and NUL pass untouched in both directions.
    const std::vector<uint8_t> in = {0x0D, 0x0A, 0x11, 0x13, 0x00, 0xFF, 0x18, 0x04, 0x7F, 0x03};
    PeerSendsWithMarker(in);
    EXPECT_EQ(ReceiveAtPort(10), in);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialSettings, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// The peer's part of a wait case: one byte after a delay, from its own thread.
struct LateByte {
    uint32_t delayMs;
};

void WriteLateByte(void* arg) {
    SleepMs(static_cast<const LateByte*>(arg)->delayMs);
    const uint8_t byte = Marker;
    PeerWrite(&byte, 1);
}

struct WaitCase {
    const char* name;
    int peerDelayMs;    // when the peer writes one byte; -1 never
    uint32_t waitMs;    // the caller's time-out
    int16_t wanted;     // bytes the caller needs
    bool input;         // whether the wait ends with input waiting
    uint32_t minMs, maxMs;  // when it must end
};

const WaitCase kWaitCases[] = {
    // Nothing comes: the whole time-out, asleep.
    {"QuietLineSleepsToItsDeadline", -1, 1500, 1, false, 1500, 1700},
    {"ByteAlreadyWaitingReturnsAtOnce", 0, 3000, 1, true, 0, 150},
    {"LateByteEndsTheWaitWhenItComes", 400, 3000, 1, true, 400, 600},
    // One byte of a packet came: sleeping for the rest must still respect the time-out.
    {"PacketCutShortStillEndsOnTime", 100, 200, 1029, true, 100, 300},
};

class SerialWait : public SerialLine, public testing::WithParamInterface<WaitCase> {};

// As the engine waits: on until input is there or the caller's time is up.
int WaitLikeTheEngine(uint32_t waitMs, int16_t wanted) {
    const uint32_t start = TickCount();
    for (;;) {
        uint32_t spent = TickCount() - start;
        if (spent >= waitMs) return AwaitedNothing;
        if (SerialAwaitInput(waitMs - spent, wanted) == AwaitedInput) return AwaitedInput;
    }
}

TEST_P(SerialWait, SleepsUntilInputOrItsTime) {
    const WaitCase& c = GetParam();
    LateByte late = {static_cast<uint32_t>(c.peerDelayMs)};
    if (c.peerDelayMs == 0) {
        const uint8_t byte = Marker;
        ASSERT_TRUE(PeerWrite(&byte, 1));
        SleepMs(100);  // it has arrived before the wait begins
    } else if (c.peerDelayMs > 0) {
        ASSERT_TRUE(StartBackground(WriteLateByte, &late));
    }

    const double cpuBefore = ProcessCpuSeconds();
    const uint32_t start = TickCount();
    const int result = WaitLikeTheEngine(c.waitMs, c.wanted);
    const uint32_t elapsed = TickCount() - start;
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    if (c.peerDelayMs > 0) JoinBackground();

    EXPECT_EQ(result, c.input ? AwaitedInput : AwaitedNothing);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LE(elapsed, c.maxMs);
    // A wait that polls instead of sleeping burns the whole time-out.
    EXPECT_LT(cpu, 0.05 + 0.02 * elapsed / 1000.0) << "processor seconds in " << elapsed << " ms";
    if (c.input) {
        uint8_t byte = 0;
        EXPECT_EQ(SerialReadByte(&byte), 1);
        EXPECT_EQ(byte, Marker);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialWait, testing::ValuesIn(kWaitCases),
                         [](const testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

void PostAfterDelay(void* arg) {
    SleepMs(static_cast<const LateByte*>(arg)->delayMs);
    PostWakeMessage();
}

TEST_F(SerialLine, WindowMessageEndsTheWaitAtOnce) {
    if (!PrepareMessageQueue()) GTEST_SKIP() << "no message queue on this platform";
    LateByte late = {300};
    ASSERT_TRUE(StartBackground(PostAfterDelay, &late));
    const uint32_t start = TickCount();
    int result = AwaitedNothing;
    while (result == AwaitedNothing && TickCount() - start < 3000) result = SerialAwaitInput(3000, 1);
    const uint32_t elapsed = TickCount() - start;
    JoinBackground();
    EXPECT_EQ(result, AwaitedMessage);
    EXPECT_GE(elapsed, 300u);
    // Within one slice of the wait, with room for a busy machine.
    EXPECT_LE(elapsed, 360u);
    // Once served, the message no longer cuts waits short.
    DispatchAllMessages();
    EXPECT_EQ(WaitLikeTheEngine(100, 1), AwaitedNothing);
}

TEST_F(SerialLine, WaitOnClosedPortSleepsAndReportsNoInput) {
    SerialCloseDevice();
    const double cpuBefore = ProcessCpuSeconds();
    const uint32_t start = TickCount();
    EXPECT_EQ(WaitLikeTheEngine(300, 1), AwaitedNothing);
    EXPECT_GE(TickCount() - start, 300u);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.05);
}

enum FailedOpen { Missing, OrdinaryFile, HeldElsewhere };

class SerialOpenFailure : public testing::TestWithParam<FailedOpen> {
protected:
    void TearDown() override {
        SerialCloseDevice();
        ReleaseHeldDevice();
        RemoveOrdinaryFile();
    }
};

TEST_P(SerialOpenFailure, FailsAndLeavesThePortUsable) {
    ASSERT_NE(PortName(), nullptr) << "run through the harness that makes the cable";
    if (GetParam() == HeldElsewhere && !SecondOpenRefused()) {
        GTEST_SKIP() << "this platform lets a second exclusive open of the port succeed";
    }
    const char* device = nullptr;
    switch (GetParam()) {
    case Missing: device = MissingDeviceName(); break;
    case OrdinaryFile: device = CreateOrdinaryFile(); break;
    case HeldElsewhere: device = HoldDevice(PortName()) ? PortName() : nullptr; break;
    }
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(SerialOpenDevice(device, 57600, HandshakeCts), 0) << device;
    uint8_t byte = 0;
    EXPECT_EQ(SerialReadByte(&byte), 0);

    // Nothing stays locked or half-open once the other holder lets go.
    ReleaseHeldDevice();
    SerialCloseDevice();
    EXPECT_EQ(SerialOpenDevice(PortName(), 57600, HandshakeCts), 1);
}

std::string FailedOpenName(const testing::TestParamInfo<FailedOpen>& info) {
    static const char* const names[] = {"Missing", "OrdinaryFile", "HeldElsewhere"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialOpenFailure,
                         testing::Values(Missing, OrdinaryFile, HeldElsewhere), FailedOpenName);

}  // namespace
