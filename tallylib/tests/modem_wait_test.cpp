// Timers, ttrap, the line reader and send-and-wait on the scripted line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm.h"
#include "scripted_line.h"
#include "tallylib.h"
#include "wait.h"

namespace {

using scripted::ArriveAt;
using scripted::ArriveAfter;
using scripted::line;

class ModemWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted::Reset();
        _CommOpen("1", 2400, 'N', 8, 1);
    }
    void TearDown() override
    {
        _CommClose();
        scripted::Reset();
    }
    static bool AllTimersFree()
    {
        for (int i = 0; i < TIMER_SLOTS; ++i)
            if (_TimerRemaining(i) != -1) return false;
        return true;
    }
};

TEST(LineMapping, SpeedsParityAndStopBits)
{
    const long rates[][2] = {{0, 2400},       {1200, 1200},   {2400, 2400},   {4800, 4800},   {9600, 9600},
                             {14400, 19200},  {16800, 19200}, {19200, 19200}, {23000, 38400}, {24000, 38400},
                             {28800, 38400},  {38400, 38400}, {57600, 2400},  {115200, 2400}, {-1, 2400}};
    for (const auto &r : rates) EXPECT_EQ(r[1], _CommPortRate(r[0])) << r[0];
    const std::pair<char, int> parities[] = {{'E', 2}, {'M', 3}, {'O', 1}, {'S', 4}, {'N', 0}, {'e', 0}, {'X', 0}};
    for (const auto &p : parities) EXPECT_EQ(p.second, _CommParityCode(p.first)) << p.first;
    EXPECT_EQ(2, _CommStopCode(2));
    EXPECT_EQ(0, _CommStopCode(1));
    EXPECT_EQ(0, _CommStopCode(0));
}

TEST_F(ModemWait, TimersAgeTogetherWhicheverIsChecked)
{
    int a = _TimerStart(100);  // 1000 ms
    int b = _TimerStart(30);   // 300 ms
    EXPECT_EQ(0, a);
    EXPECT_EQ(1, b);
    scripted::Advance(250);
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(a));
    EXPECT_EQ(750, _TimerRemaining(a));
    EXPECT_EQ(50, _TimerRemaining(b));
    scripted::Advance(100);
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(a));
    EXPECT_EQ(0, _TimerRemaining(b));  // expired, not yet reported
    EXPECT_EQ(TIMER_EXPIRED, _TimerCheck(b));
    EXPECT_EQ(-1, _TimerRemaining(b));
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(b));  // a free slot reads as running
}

TEST_F(ModemWait, ATimerCountsFromItsOwnStart)
{
    int first = _TimerStart(100);
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(first));
    // A pause without checks, then a new timer: the pause is the first
    // timer's, not the new one's.
    scripted::Advance(2500);
    int second = _TimerStart(300);
    EXPECT_EQ(TIMER_EXPIRED, _TimerCheck(first));
    EXPECT_EQ(3000, _TimerRemaining(second));
    scripted::Advance(2999);
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(second));
    scripted::Advance(1);
    EXPECT_EQ(TIMER_EXPIRED, _TimerCheck(second));
}

TEST_F(ModemWait, WaitsAfterAPauseLastTheirFullTime)
{
    _TimerStart(1000);  // a pool that has been running
    ttrap(10, "OK", static_cast<const char *>(nullptr));
    scripted::Advance(1000);  // a pause of one second: no timer checks
    unsigned long start = line().now;
    EXPECT_EQ(TTRAP_TIMEOUT, ttrap(300, "NO CARRIER", static_cast<const char *>(nullptr)));
    EXPECT_GE(line().now - start, 3000u);
}

TEST_F(ModemWait, FreeSlotRules)
{
    for (int i = 0; i < TIMER_SLOTS; ++i) EXPECT_EQ(i, _TimerStart(10));
    EXPECT_EQ(-1, _TimerStart(10));
    _TimerFree(3);
    _TimerFree(-1);
    _TimerFree(10);
    EXPECT_EQ(3, _TimerStart(5));  // the lowest free slot
    _TimerFree(7);
    _TimerFree(2);
    EXPECT_EQ(2, _TimerStart(5));
    _TimerResetAll();
    EXPECT_TRUE(AllTimersFree());
    // After a reset the reference tick is read again: time before it does not count.
    scripted::Advance(5000);
    int t = _TimerStart(10);
    EXPECT_EQ(TIMER_RUNNING, _TimerCheck(t));
    EXPECT_EQ(100, _TimerRemaining(t));
}

struct Arrive {
    unsigned long at;  // ms after the call starts; 0 = already queued
    std::string bytes;
};

struct TrapCase {
    const char *name;
    long timeout;
    std::vector<const char *> strings;
    std::vector<Arrive> arrivals;
    int result;
    unsigned long elapsedAtLeast;
    unsigned long elapsedAtMost;
    std::string leftInQueue;
};

class Trap : public ModemWait, public ::testing::WithParamInterface<TrapCase> {};

TEST_P(Trap, WaitsForTheFirstStringToArrive)
{
    const TrapCase &c = GetParam();
    unsigned long start = line().now;
    for (const Arrive &a : c.arrivals) ArriveAt(start + a.at, a.bytes);
    int r = ttrapList(c.timeout, c.strings.data(), static_cast<int>(c.strings.size()));
    EXPECT_EQ(c.result, r);
    unsigned long elapsed = line().now - start;
    EXPECT_GE(elapsed, c.elapsedAtLeast);
    EXPECT_LE(elapsed, c.elapsedAtMost);
    EXPECT_EQ(c.leftInQueue, line().queue);
    EXPECT_TRUE(AllTimersFree());
}

const std::string garbage(1000, 'x');

INSTANTIATE_TEST_SUITE_P(Cases, Trap, ::testing::Values(
    TrapCase{"ok", 200, {"OK", "NO CARRIER"}, {{300, "\r\nOK\r\n"}}, 0, 300, 320, "\r\n"},
    TrapCase{"no_carrier", 200, {"OK", "NO CARRIER"}, {{100, "NO CARRIER"}}, 1, 100, 120, ""},
    TrapCase{"silence", 200, {"OK", "NO CARRIER"}, {}, TTRAP_TIMEOUT, 2000, 2020, ""},
    TrapCase{"late", 200, {"OK"}, {{2500, "OK"}}, TTRAP_TIMEOUT, 2000, 2020, ""},
    TrapCase{"split_across_reads", 200, {"Login OK #"}, {{10, "Log"}, {400, "in O"}, {900, "K #"}}, 0, 900, 920, ""},
    TrapCase{"already_queued", 200, {"OK"}, {{0, "OK\r\n"}}, 0, 0, 0, "\r\n"},
    TrapCase{"both_complete_earlier_wins", 200, {"XOK", "OK"}, {{10, "XOK"}}, 0, 10, 30, ""},
    TrapCase{"both_complete_list_order", 200, {"OK", "XOK"}, {{10, "XOK"}}, 0, 10, 30, ""},
    TrapCase{"fourteen_characters", 200, {"ABCDEFGHIJKLMN"}, {{10, "..ABCDEFGHIJKLMN"}}, 0, 10, 30, ""},
    TrapCase{"no_time_limit", 0, {"OK"}, {{600000, "OK"}}, 0, 600000, 600020, ""},
    TrapCase{"after_long_garbage", 200, {"NO CARRIER"}, {{10, garbage + "NO CARR"}, {50, "IER!"}}, 0, 50, 70, "!"},
    TrapCase{"partial_prefix_then_match", 200, {"OK"}, {{10, "OOOK"}}, 0, 10, 30, ""},
    TrapCase{"bad_list_empty", 200, {}, {{10, "OK"}}, TTRAP_BAD_LIST, 0, 0, ""},
    TrapCase{"bad_list_fifteen", 200, {"OK", "ABCDEFGHIJKLMNO"}, {{0, "OK"}}, TTRAP_BAD_LIST, 0, 0, "OK"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemWait, FifteenCharactersGiveThreeTraceLines)
{
    EXPECT_EQ(TTRAP_BAD_LIST, ttrap(200, "ABCDEFGHIJKLMNO", static_cast<const char *>(nullptr)));
    std::vector<std::string> expected = {"Error - attempt to copy 15 bytes into 15 bytes of space.",
                                         "        the string was >ABCDEFGHIJKLMNO<", "internal ttrap() error!"};
    EXPECT_EQ(expected, scripted::TraceLines());
}

TEST_F(ModemWait, NoFreeTimerTimesOutAtOnce)
{
    for (int i = 0; i < TIMER_SLOTS; ++i) _TimerStart(1000);
    ArriveAfter(10, "OK");
    unsigned long start = line().now;
    EXPECT_EQ(TTRAP_TIMEOUT, ttrap(200, "OK", static_cast<const char *>(nullptr)));
    EXPECT_EQ(start, line().now);
    // A wait without a time limit needs no timer.
    EXPECT_EQ(0, ttrap(0, "OK", static_cast<const char *>(nullptr)));
    for (int i = 0; i < TIMER_SLOTS; ++i) EXPECT_NE(-1, _TimerRemaining(i));
}

TEST_F(ModemWait, AbortEndsEveryWaitUntilCleared)
{
    for (long timeout : {200L, 0L}) {
        scripted::Reset();
        _CommOpen("1", 2400, 'N', 8, 1);
        unsigned long start = line().now;
        line().onPump = [start] {
            if (line().now >= start + 500) TallyCard_Abort();
        };
        EXPECT_EQ(TTRAP_ABORTED, ttrap(timeout, "OK", static_cast<const char *>(nullptr))) << timeout;
        EXPECT_LE(line().now, start + 520) << timeout;
        EXPECT_TRUE(AllTimersFree());
        // The flag stays: the next wait ends at once.
        ArriveAfter(0, "OK");
        EXPECT_EQ(TTRAP_ABORTED, ttrap(timeout, "OK", static_cast<const char *>(nullptr)));
        int length = 25;
        char buffer[80];
        EXPECT_EQ(TTRAP_ABORTED, _CommReadLine(buffer, &length, '\n', 100, 0));
        EXPECT_EQ(TTRAP_ABORTED, _ModemCommand("AT\r", "OK", 100, 3));
        EXPECT_EQ(1u, line().writes.size());
    }
}

TEST_F(ModemWait, HeartbeatOnceASecondInCodeMode)
{
    line().codeMode = 1;
    ArriveAfter(3500, "OK");
    EXPECT_EQ(0, ttrap(500, "OK", static_cast<const char *>(nullptr)));
    int beats = 0;
    for (const scripted::Message &m : line().messages)
        if (m.level == STATUS_MAIN && m.id == 0) ++beats;
    EXPECT_EQ(4, beats);  // at the start, then after 1, 2 and 3 s
    EXPECT_TRUE(AllTimersFree());

    line().messages.clear();
    line().codeMode = 0;
    ArriveAfter(3500, "OK");
    EXPECT_EQ(0, ttrap(500, "OK", static_cast<const char *>(nullptr)));
    EXPECT_TRUE(line().messages.empty());
}

struct ReadLineCase {
    const char *name;
    int capacity;
    long timeout;
    std::vector<Arrive> arrivals;
    int result;
    std::string text;
};

class ReadLine : public ModemWait, public ::testing::WithParamInterface<ReadLineCase> {};

TEST_P(ReadLine, CollectsTheRestOfALine)
{
    const ReadLineCase &c = GetParam();
    unsigned long start = line().now;
    for (const Arrive &a : c.arrivals) ArriveAt(start + a.at, a.bytes);
    char buffer[80];
    int length = c.capacity;
    EXPECT_EQ(c.result, _CommReadLine(buffer, &length, '\n', c.timeout, 0));
    EXPECT_EQ(c.text, std::string(buffer));
    EXPECT_EQ(static_cast<int>(c.text.size()), length);
    EXPECT_LE(length, c.capacity - 1);
    EXPECT_TRUE(AllTimersFree());
    if (c.timeout) {
        EXPECT_LE(line().now - start, static_cast<unsigned long>(c.timeout) * 10 + 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadLine, ::testing::Values(
    ReadLineCase{"speed", 25, 100, {{10, " 14400\r\n"}}, 0, " 14400\r"},
    ReadLineCase{"split", 25, 100, {{10, " 96"}, {500, "00\r\nOK"}}, 0, " 9600\r"},
    ReadLineCase{"long_keeps_latest", 8, 100, {{10, "abcdefghijkl\n"}}, 0, "fghijkl"},
    ReadLineCase{"timeout_partial", 25, 100, {{10, " 2400"}}, TTRAP_TIMEOUT, " 2400"},
    ReadLineCase{"endless_line", 25, 100, {{10, std::string(5000, '9')}, {600, std::string(5000, '9')},
                                           {1200, "\n"}}, TTRAP_TIMEOUT, std::string(24, '9')},
    ReadLineCase{"capacity_one", 1, 100, {{10, "123\n"}}, 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ModemWait, EndlessInputCannotOutlastTheTimeLimit)
{
    line().endless = "CONNECT 1440014400";
    unsigned long start = line().now;
    EXPECT_EQ(TTRAP_TIMEOUT, ttrap(200, "OK", static_cast<const char *>(nullptr)));
    EXPECT_LE(line().now - start, 2020u);
    char buffer[80];
    int length = 25;
    start = line().now;
    EXPECT_EQ(TTRAP_TIMEOUT, _CommReadLine(buffer, &length, '\n', 100, 0));
    EXPECT_LE(line().now - start, 1200u);
    EXPECT_EQ(24, length);
    EXPECT_TRUE(AllTimersFree());
}

TEST_F(ModemWait, ReadLineEchoesAndRefusesNoRoom)
{
    ArriveAfter(10, "ab\n");
    char buffer[8];
    int length = 8;
    EXPECT_EQ(0, _CommReadLine(buffer, &length, '\n', 100, 1));
    EXPECT_EQ("ab\n", scripted::Written());
    length = 0;
    EXPECT_EQ(TTRAP_TIMEOUT, _CommReadLine(buffer, &length, '\n', 100, 0));
}

TEST_F(ModemWait, ModemCommandTries)
{
    // First try unanswered, second answered.
    int calls = 0;
    line().responder = [&calls](const std::string &) -> scripted::Reply {
        return ++calls == 2 ? scripted::Reply{"OK"} : scripted::Reply{};
    };
    EXPECT_EQ(1, _ModemCommand("ATE1V1Q0\r", "OK", 100, 2));
    EXPECT_EQ(2u, line().writes.size());
    EXPECT_EQ(line().writes[1].bytes, "ATE1V1Q0\r");
    EXPECT_GE(line().writes[1].at - line().writes[0].at, 1000u);

    line().writes.clear();
    line().responder = nullptr;
    EXPECT_EQ(0, _ModemCommand("ATE1V1Q0\r", "OK", 100, 2));
    EXPECT_EQ(2u, line().writes.size());
    EXPECT_TRUE(AllTimersFree());
}

}  // namespace
