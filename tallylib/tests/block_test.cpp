// Block encoding and the send loop with its acknowledgement rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "block_decoder.h"
#include "blocks.h"
#include "comm.h"
#include "scripted_line.h"
#include "tallylib.h"
#include "temp_card.h"
#include "wait.h"

namespace {

using scripted::line;

const char KEY[] = "1a2b3c4d";

TEST(BlockCrc, IeeeCrcAndItsText)
{
    EXPECT_EQ(0xCBF43926u, _Crc32("123456789", 9));
    EXPECT_EQ(0u, _Crc32("", 0));
    const struct {
        uint32_t crc;
        bool pad;
        const char *text;
    } cases[] = {{0, true, "00000000"},       {0, false, "0"},           {0xABC, true, "00000abc"},
                 {0xABC, false, "abc"},       {0xCBF43926u, true, "cbf43926"}, {0x0F00000Du, false, "f00000d"}};
    for (const auto &c : cases) {
        char text[9];
        _CrcText(c.crc, text, c.pad);
        EXPECT_STREQ(c.text, text) << c.crc;
    }
}

TEST(BlockSizes, PayloadForEachBlockSize)
{
    const long cases[][3] = {{128, 103, 119}, {256, 215, 247}, {512, 439, 503}, {1024, 887, 1015}, {2048, 1783, 2039},
                             {200, 166, 191}};
    for (const auto &c : cases) {
        EXPECT_EQ(c[1], _BlockPayload(c[0], PACK_7)) << c[0];
        EXPECT_EQ(c[1], _BlockPayload(c[0], PACK_7_TAIL)) << c[0];
        EXPECT_EQ(c[2], _BlockPayload(c[0], PACK_NONE)) << c[0];
    }
    // A full block fills B bytes on the line exactly when B is a multiple of 8.
    for (long b : {128L, 256L, 512L, 1024L, 2048L}) {
        std::vector<unsigned char> buffer(static_cast<size_t>(2 * b), 0xA5), work(static_cast<size_t>(2 * b));
        long n = _BlockPayload(b, PACK_7);
        char key[12] = "1a2b3c4d";
        _BlockEncode(buffer.data(), &n, key, PACK_7, work.data());
        EXPECT_EQ(b, n);
    }
}

TEST(BlockTimeouts, SecondsForSpeedAndSize)
{
    const long cases[][3] = {{2400, 1024, 8}, {19200, 1024, 4}, {2400, 128, 4}, {1200, 2048, 21},
                             {9, 1024, 0},    {0, 1024, 0},     {2400, 0, 0}};
    for (const auto &c : cases) EXPECT_EQ(c[2], _BlockTimeout(c[0], c[1])) << c[0] << " " << c[1];
}

// Encodes a payload and checks what the line gets.
std::string Encode(const std::string &payload, long blockSize, int mode = PACK_7)
{
    std::vector<unsigned char> buffer(static_cast<size_t>(2 * blockSize)), work(static_cast<size_t>(2 * blockSize));
    std::memcpy(buffer.data(), payload.data(), payload.size());
    long n = static_cast<long>(payload.size());
    char key[12];
    std::strcpy(key, KEY);
    _BlockEncode(buffer.data(), &n, key, mode, work.data());
    EXPECT_EQ(0, buffer[static_cast<size_t>(n)]);  // the byte after the block
    return std::string(reinterpret_cast<char *>(buffer.data()), static_cast<size_t>(n));
}

TEST(BlockEncoding, EveryByteValueRoundTripsAndLfOnlyEnds)
{
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string inputs[] = {"", "A", std::string(103, '\n'), all.substr(0, 103), all.substr(150, 103),
                                  std::string(103, '\xFF'), std::string(103, '\x8A'), "\r\n\x1A"};
    for (const std::string &payload : inputs) {
        std::string block = Encode(payload, 128);
        EXPECT_EQ(payload.size() + 8 + (payload.size() + 8) / 7 + 1 + 1, block.size());
        EXPECT_EQ(block.size() - 1, block.find('\n')) << "LF before the end";
        for (size_t i = 0; i + 1 < block.size(); ++i) EXPECT_TRUE(block[i] & 0x80) << i;
        std::string decoded, why;
        EXPECT_TRUE(decoder::Decode(block, KEY, &decoded, &why)) << why;
        EXPECT_EQ(payload, decoded);
    }
}

TEST(BlockEncoding, EmptyBlockIsElevenBytes)
{
    std::string block = Encode("", 128);
    EXPECT_EQ(11u, block.size());
    std::string expected = "00000000";
    expected.insert(7, 1, '\0');  // 7 bytes, their high bits, then the eighth
    expected += '\0';
    for (size_t i = 0; i < expected.size(); ++i) expected[i] ^= static_cast<char>(KEY[i % 8] | 0x80);
    EXPECT_EQ(expected + "\n", block);
}

TEST(BlockEncoding, PackingModes)
{
    const unsigned char in[9] = {0x81, 0x02, 0x83, 0x04, 0x85, 0x06, 0x87, 0x88, 0x09};
    unsigned char out[16];
    ASSERT_EQ(11, _Pack7(in, 9, out));
    const unsigned char packed[11] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x55, 0x88, 0x09, 0x00};
    EXPECT_EQ(0, std::memcmp(packed, out, 11));
    ASSERT_EQ(11, _Pack7Tail(in, 9, out));
    const unsigned char tail[11] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x55, 0x08, 0x09, 0x40};
    EXPECT_EQ(0, std::memcmp(tail, out, 11));
    EXPECT_EQ(8, _Pack7Tail(in, 7, out));
    EXPECT_EQ(1, _Pack7(in, 0, out));
    // Without packing only the CRC text, the XOR and the LF are added.
    EXPECT_EQ(5u + 8 + 1, Encode("hello", 128, PACK_NONE).size());
}

class SendFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted::Reset();
        _CommOpen("1", 2400, 'N', 8, 1);
        std::strcpy(key, KEY);
    }
    void TearDown() override
    {
        _CommClose();
        scripted::Reset();
    }
    // Answers each block with the next of the script (the last repeats).
    void Answer(const std::string &script)
    {
        auto position = std::make_shared<size_t>(0);
        line().responder = [script, position](const std::string &) -> scripted::Reply {
            char c = script[*position < script.size() ? *position : script.size() - 1];
            ++*position;
            return c == '-' ? scripted::Reply{} : scripted::Reply{std::string(1, c)};
        };
    }
    std::vector<std::string> Blocks() const
    {
        std::vector<std::string> blocks;
        for (const scripted::Write &w : line().writes) blocks.push_back(w.bytes);
        return blocks;
    }
    char key[12];
};

struct EndCase {
    const char *name;
    std::string file;
    long blockSize;
    std::vector<size_t> blockLengths;
    std::string sent;  // the payloads together
};

class EndRule : public SendFile, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndRule, BlocksOfAFile)
{
    const EndCase &c = GetParam();
    TempCard card(c.file);
    Answer("\x06");
    EXPECT_EQ(TALLY_OK, _SendFile(card.path(), key, 3, PACK_7, c.blockSize, 8));
    std::vector<std::string> blocks = Blocks();
    std::vector<size_t> lengths;
    std::string sent;
    for (const std::string &b : blocks) {
        lengths.push_back(b.size());
        std::string payload, why;
        EXPECT_TRUE(decoder::Decode(b, KEY, &payload, &why)) << why;
        sent += payload;
    }
    EXPECT_EQ(c.blockLengths, lengths);
    EXPECT_EQ(c.sent, sent);
    EXPECT_EQ(225, scripted::MessageIds().back());
}

INSTANTIATE_TEST_SUITE_P(Cases, EndRule, ::testing::Values(
    EndCase{"full_block_then_empty", std::string(103, 'a'), 128, {128, 11}, std::string(103, 'a')},
    EndCase{"full_block_then_one_byte", std::string(104, 'b'), 128, {128, 12}, std::string(104, 'b')},
    EndCase{"empty_file", "", 128, {11}, ""},
    EndCase{"short_file", "card\r\n", 1024, {16}, "card\n"},
    EndCase{"crlf_as_lf", std::string(50, 'x') + "\r\n" + std::string(51, 'y') + "\r\n", 128, {128, 11},
            std::string(50, 'x') + "\n" + std::string(51, 'y') + "\n"},
    EndCase{"lone_cr_kept", "a\rb\r\r\nc\r", 128, {19}, "a\rb\r\nc\r"},
    EndCase{"ctrl_z_ends", "name\x1Arest of it", 128, {15}, "name"},
    EndCase{"two_full_blocks", std::string(1774, 'z'), 1024, {1024, 1024, 11}, std::string(1774, 'z')}),
    [](const auto &info) { return std::string(info.param.name); });

struct AckCase {
    const char *name;
    std::string answers;  // per write: ACK 0x06, NAK 0x15, '-' silence
    long result;
    size_t writes;
    unsigned long elapsedAtLeast;
};

class Acknowledgement : public SendFile, public ::testing::WithParamInterface<AckCase> {};

TEST_P(Acknowledgement, RetriesByTheAnswer)
{
    const AckCase &c = GetParam();
    TempCard card(std::string(104, 'q'));  // a full block and a short one
    Answer(c.answers);
    unsigned long start = line().now;
    EXPECT_EQ(c.result, _SendFile(card.path(), key, 3, PACK_7, 128, 4));
    EXPECT_EQ(c.writes, line().writes.size());
    EXPECT_GE(line().now - start, c.elapsedAtLeast);
    for (int i = 0; i < TIMER_SLOTS; ++i) EXPECT_EQ(-1, _TimerRemaining(i));
}

INSTANTIATE_TEST_SUITE_P(Cases, Acknowledgement, ::testing::Values(
    AckCase{"ack_ack", "\x06\x06", TALLY_OK, 2, 0},
    AckCase{"nak_then_ack", "\x15\x06\x06", TALLY_OK, 3, 0},
    AckCase{"nak_then_two_timeouts", "\x15-", TALLY_ERR_BLOCKS, 2, 8000},
    AckCase{"three_naks", "\x15\x15\x15", TALLY_ERR_BLOCKS, 3, 0},
    AckCase{"nak_nak_then_ack_on_second_block", "\x06\x15\x15\x06", TALLY_OK, 4, 0},
    AckCase{"silence", "-", TALLY_ERR_BLOCKS, 1, 12000}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SendFile, TimeOutsWaitAgainWithoutResending)
{
    TempCard card("x");
    line().responder = [](const std::string &) -> scripted::Reply { return {"\x06", 8500}; };
    EXPECT_EQ(TALLY_OK, _SendFile(card.path(), key, 3, PACK_7, 128, 4));
    EXPECT_EQ(1u, line().writes.size());
    std::vector<std::string> traces = scripted::TraceLines();
    EXPECT_EQ(2, std::count(traces.begin(), traces.end(), std::string("we timed out!")));
}

TEST_F(SendFile, PartialWritesGoOnAfterAPause)
{
    TempCard card(std::string(103, 'p'));
    line().acceptPerWrite = 50;
    std::string onLine;
    line().responder = nullptr;
    EXPECT_EQ(TALLY_ERR_BLOCKS, _SendFile(card.path(), key, 1, PACK_7, 128, 1));
    ASSERT_EQ(3u, line().writes.size());  // 50 + 50 + 28 of the first block
    EXPECT_GE(line().writes[1].at - line().writes[0].at, 250u);
    std::vector<std::string> traces = scripted::TraceLines();
    EXPECT_NE(traces.end(), std::find(traces.begin(), traces.end(), "_CommWriteString() wrote 50 of 128 bytes"));
    EXPECT_NE(traces.end(), std::find(traces.begin(), traces.end(), "_CommWriteString() wrote 50 of 78 bytes"));
    // A line that takes nothing at all gives up instead of hanging.
    line().writes.clear();
    line().acceptPerWrite = 0;
    EXPECT_EQ(TALLY_ERR_BLOCKS, _SendFile(card.path(), key, 3, PACK_7, 128, 4));
}

TEST_F(SendFile, FileMemoryAndAbort)
{
    EXPECT_EQ(TALLY_ERR_FILE, _SendFile("/nonexistent/card.txt", key, 3, PACK_7, 128, 4));
    EXPECT_TRUE(line().writes.empty());
    TempCard card("abc");
    line().onPump = [] {
        if (line().now > 3000) TallyCard_Abort();
    };
    EXPECT_EQ(TALLY_ERR_ABORTED, _SendFile(card.path(), key, 3, PACK_7, 128, 60));
    EXPECT_EQ(1u, line().writes.size());
}

}  // namespace
