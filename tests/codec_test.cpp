#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "codec.h"
#include "driver.h"
#include "fake_frontend.h"
#include "fake_line.h"
#include "peers.h"

namespace {
using namespace peers;

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeline::Reset();
        fakefront::Reset();
        *CurrentTransferStatus() = TransferStatus{0, 0, 0, 0, 0, DirectionSending, ""};
        SetCodecStatus(CurrentTransferStatus());
        SetCodecSequence(0);
        SetCodecCanCount(0);
        std::memset(CodecPacket()->bytes, 0, sizeof CodecPacket()->bytes);
    }
    // Builds a packet with the codec from a data field and returns its wire bytes.
    Bytes Frame(uint8_t sequence, const Bytes& data, int total) {
        std::memset(CodecPacket()->data(), 0, LongData + 2);
        if (!data.empty()) std::memcpy(CodecPacket()->data(), data.data(), data.size());
        SetCodecSequence(sequence);
        FramePacket(total);
        return Bytes(CodecPacket()->bytes, CodecPacket()->bytes + total);
    }
    void Receive(const Bytes& packet) {
        std::memcpy(CodecPacket()->bytes, packet.data(), packet.size());
    }
};

TEST_F(CodecTest, CrcIsXmodem) {
    const char* digits = "123456789";
    EXPECT_EQ(0x31C3, Crc16(reinterpret_cast<const uint8_t*>(digits), 9));
    uint8_t zeros[128] = {};
    EXPECT_EQ(0x0000, Crc16(zeros, 128));
}

Bytes HeaderData(const std::string& path, uint32_t size, int sizeAt) {
    Bytes data(sizeAt + 4, 0);
    std::memcpy(data.data(), path.data(), path.size());
    ToBigEndian32(size, data.data() + sizeAt);
    return data;
}

TEST_F(CodecTest, PacketsAreByteExact) {
    struct Case { const char* what; Bytes data; uint8_t sequence; uint8_t crcHigh, crcLow; };
    const Case cases[] = {
        {"a.txt header", HeaderData("a.txt", 5, 124), 0, 0x6B, 0xD7},
        {"docs\\a.txt header", HeaderData("docs\\a.txt", 5, 124), 0, 0xED, 0x43},
        {"hello block", Text("hello"), 1, 0xA5, 0x46},
        {"end of batch", Bytes(), 0, 0x00, 0x00},
    };
    for (const Case& c : cases) {
        Bytes wire = Frame(c.sequence, c.data, ShortPacket);
        ASSERT_EQ(133u, wire.size()) << c.what;
        EXPECT_EQ(SOH, wire[0]) << c.what;
        EXPECT_EQ(c.sequence, wire[1]) << c.what;
        EXPECT_EQ(c.sequence ^ 0xFF, wire[2]) << c.what;
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), wire.begin() + 3)) << c.what;
        for (size_t i = 3 + c.data.size(); i < 131; ++i) ASSERT_EQ(0, wire[i]) << c.what << " at " << i;
        EXPECT_EQ(c.crcHigh, wire[131]) << c.what;
        EXPECT_EQ(c.crcLow, wire[132]) << c.what;
    }
}

TEST_F(CodecTest, LongPacketCarriesCrcAfter1024Bytes) {
    Bytes data(LongData, 0x5A);
    Bytes wire = Frame(7, data, LongPacket);
    ASSERT_EQ(1029u, wire.size());
    EXPECT_EQ(STX, wire[0]);
    uint16_t crc = Crc16(data.data(), LongData);
    EXPECT_EQ(crc >> 8, wire[1027]);
    EXPECT_EQ(crc & 0xFF, wire[1028]);
}

TEST_F(CodecTest, BigEndianSize) {
    uint8_t out[4];
    ToBigEndian32(0x01020304, out);
    EXPECT_EQ(0, std::memcmp(out, "\x01\x02\x03\x04", 4));
    EXPECT_EQ(0x01020304u, FromBigEndian32(out));
}

TEST_F(CodecTest, CheckPacketClassifies) {
    struct Case { const char* what; uint8_t expected; Bytes packet; PacketCheck result; int16_t errors; };
    Bytes good = MakePacket(128, Text("data"), false);
    Bytes badCrc = good;
    badCrc[10] ^= 1;
    Bytes badComplement = good;
    badComplement[2] = 0x00;
    const Case cases[] = {
        {"expected block", 128, good, Good, 0},
        {"long expected block", 3, MakePacket(3, Text("x"), true), Good, 0},
        {"damaged data", 128, badCrc, Bad, 1},
        {"number and complement disagree, CRC right", 128, badComplement, Bad, 1},
        {"repeat of 127 while 128 expected", 128, MakePacket(127, Bytes(), false), Duplicate, 1},
        {"repeat of 255 while 0 expected", 0, MakePacket(255, Bytes(), false), Duplicate, 1},
        {"block from the future", 128, MakePacket(130, Bytes(), false), OutOfSequence, 0},
        {"header while block 1 expected", 1, MakePacket(0, Bytes(), false), Duplicate, 1},
    };
    for (const Case& c : cases) {
        CurrentTransferStatus()->errors = 0;
        SetCodecSequence(c.expected);
        Receive(c.packet);
        EXPECT_EQ(c.result, CheckPacket()) << c.what;
        EXPECT_EQ(c.errors, CurrentTransferStatus()->errors) << c.what;
    }
}

TEST_F(CodecTest, TenErrorsAreToleratedTheEleventhIsTooMany) {
    Bytes bad = MakePacket(1, Bytes(), false);
    bad[50] ^= 0xFF;
    SetCodecSequence(1);
    for (int i = 1; i <= 10; ++i) {
        Receive(bad);
        EXPECT_EQ(Bad, CheckPacket()) << i;
    }
    Receive(bad);
    EXPECT_EQ(TooManyErrors, CheckPacket());
}

TEST_F(CodecTest, AwaitReplyReturnsAnyByteAsItself) {
    for (int value : {0x00, 0x06, 0xFE, 0xFF}) {
        fakeline::Deliver(B({value}));
        EXPECT_EQ(value, AwaitReply(fakefront::RecordProgress, ReplyTries));
    }
}

TEST_F(CodecTest, AwaitReplyGivesUpAfterFiveQuietSecondsRefreshingEachSecond) {
    uint32_t start = fakeline::Now();
    EXPECT_EQ(TimedOut, AwaitReply(fakefront::RecordProgress, ReplyTries));
    uint32_t elapsed = fakeline::Now() - start;
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 5100u);
    EXPECT_EQ(6u, fakefront::Events().size()) << "once at the start, once a second";
}

TEST_F(CodecTest, AwaitReplyReactsToCancel) {
    fakefront::CancelAtCall(1);
    fakeline::Deliver(B({ACK}));
    EXPECT_EQ(Cancelled, AwaitReply(fakefront::RecordProgress, ReplyTries));

    fakeline::Reset();
    fakefront::Reset();
    fakefront::CancelAtCall(3);  // pressed during the second second of silence
    uint32_t start = fakeline::Now();
    EXPECT_EQ(Cancelled, AwaitReply(fakefront::RecordProgress, ReplyTries));
    EXPECT_LT(fakeline::Now() - start, 2100u);
}

TEST_F(CodecTest, NonCanByteResetsTheCanCounter) {
    SetCodecCanCount(1);
    fakeline::Deliver(B({CAN}));
    AwaitReply(fakefront::RecordProgress, ReplyTries);
    EXPECT_EQ(1, CodecCanCount()) << "counting CAN is the caller's business";
    fakeline::Deliver(B({NAK}));
    AwaitReply(fakefront::RecordProgress, ReplyTries);
    EXPECT_EQ(0, CodecCanCount());
}

TEST_F(CodecTest, AwaitBlockStartKeepsTheTypeByteForTheBody) {
    Bytes packet = MakePacket(1, Text("piece by piece"), false);
    fakeline::Deliver(Bytes(packet.begin(), packet.begin() + 1));
    EXPECT_EQ(SOH, AwaitBlockStart(fakefront::RecordProgress, ReplyTries));
    // The rest arrives in pieces with gaps shorter than a second.
    fakeline::SetReadChunk(7);
    fakeline::Deliver(Bytes(packet.begin() + 1, packet.begin() + 60), 900);
    fakeline::Deliver(Bytes(packet.begin() + 60, packet.end()), 1800);
    SetCodecSequence(1);
    EXPECT_EQ(Complete, ReadPacketBody(ShortPacket));
    EXPECT_EQ(Good, CheckPacket());
}

TEST_F(CodecTest, ReadPacketBodyTimesOutOnAOneSecondGap) {
    Bytes packet = MakePacket(1, Bytes(), false);
    fakeline::Deliver(Bytes(packet.begin() + 1, packet.begin() + 50));
    fakeline::Deliver(Bytes(packet.begin() + 50, packet.end()), 1500);
    EXPECT_EQ(TimedOut, ReadPacketBody(ShortPacket));
}

TEST_F(CodecTest, AwaitSilenceWaitsForAQuietSecond) {
    fakeline::Deliver(B({1, 2, 3}), 0);
    fakeline::Deliver(B({4}), 800);
    fakeline::Deliver(B({5}), 1600);
    uint32_t start = fakeline::Now();
    AwaitSilence(1);
    EXPECT_GE(fakeline::Now() - start, 2600u);
    EXPECT_EQ(0u, fakeline::Pending());
}

TEST_F(CodecTest, QuietWaitsSleepInsteadOfPollingTheLine) {
    struct Case { const char* what; std::function<void()> wait; uint32_t lasts; };
    const Case cases[] = {
        {"reply", [] { EXPECT_EQ(TimedOut, AwaitReply(fakefront::RecordProgress, ReplyTries)); }, 5000},
        {"block start",
         [] { EXPECT_EQ(TimedOut, AwaitBlockStart(fakefront::RecordProgress, ReplyTries)); }, 5000},
        {"packet body", [] { EXPECT_EQ(TimedOut, ReadPacketBody(LongPacket)); }, 1000},
        {"quiet second", [] { AwaitSilence(1); }, 1000},
        {"link request", [] { EXPECT_FALSE(RequestLink()); }, 1000},
    };
    for (const Case& c : cases) {
        fakeline::Reset();
        fakefront::Reset();
        uint32_t start = fakeline::Now();
        c.wait();
        EXPECT_GE(fakeline::Now() - start, c.lasts) << c.what;
        EXPECT_LT(fakeline::Now() - start, c.lasts + 100) << c.what;
        // A polling wait reads once per millisecond of its time.
        EXPECT_LT(fakeline::Reads(), 20u) << c.what;
    }
}

TEST_F(CodecTest, ByteDuringASleepingWaitIsTakenWhenItComes) {
    fakeline::Deliver(B({ACK}), 2345);
    uint32_t start = fakeline::Now();
    EXPECT_EQ(ACK, AwaitReply(fakefront::RecordProgress, ReplyTries));
    EXPECT_LE(fakeline::Now() - start, 2346u);
    EXPECT_EQ(3u, fakefront::Events().size()) << "the display still refreshed once a second";
}

TEST_F(CodecTest, RequestLinkSucceedsOnAccept) {
    fakeline::Deliver(B({0x99}));  // stale input is purged first
    fakeline::SetPeer([](const Bytes& w) {
        if (w == B({LinkRequest})) fakeline::Deliver(B({0x11, LinkAccept}), 200);
    });
    EXPECT_TRUE(RequestLink());
    EXPECT_EQ(B({LinkRequest}), fakeline::Written());
    EXPECT_FALSE(TransferBusy());
}

TEST_F(CodecTest, RequestLinkDropsACrossingRequestAndCancelsAfterASecond) {
    fakeline::SetPeer([](const Bytes& w) {
        if (w == B({LinkRequest})) fakeline::Deliver(B({LinkRequest}), 10);
    });
    uint32_t start = fakeline::Now();
    EXPECT_FALSE(RequestLink());
    EXPECT_GE(fakeline::Now() - start, 1000u);
    EXPECT_EQ(B({LinkRequest, CAN, CAN, CAN}), fakeline::Written());
}

TEST_F(CodecTest, AnswerLinkNeverWaits) {
    EXPECT_FALSE(AnswerLink());
    fakeline::Deliver(B({0x43, 0x06}));
    EXPECT_FALSE(AnswerLink());
    EXPECT_EQ(0u, fakeline::Pending()) << "other bytes are dropped";
    fakeline::Deliver(B({0x01, LinkRequest, 0x02}));
    EXPECT_TRUE(AnswerLink());
    EXPECT_EQ(B({LinkAccept}), fakeline::Written());
    EXPECT_EQ(1u, fakeline::Pending()) << "bytes after the request stay for the batch";
}

}  // namespace
