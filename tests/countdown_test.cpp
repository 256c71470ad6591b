#include <gtest/gtest.h>

#include "countdown.h"
#include "fake_line.h"

namespace {

class CountdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeline::Reset(5000);
        fakeline::SetTickStep(0);  // the test moves the clock itself
    }
};

TEST_F(CountdownTest, ArmedWithZeroRunsOutAtOnce) {
    int32_t countdown = 0;
    EXPECT_EQ(1, TimeoutExpired(&countdown));
}

TEST_F(CountdownTest, RunsOutOnFirstCallAtLeastTheArmedTimeLater) {
    int32_t countdown = 1000;
    EXPECT_EQ(0, TimeoutExpired(&countdown));  // arms
    for (int elapsed = 100; elapsed < 1000; elapsed += 100) {
        fakeline::Advance(100);
        EXPECT_EQ(0, TimeoutExpired(&countdown)) << elapsed;
    }
    fakeline::Advance(100);
    EXPECT_EQ(1, TimeoutExpired(&countdown));
    fakeline::Advance(100000);
    EXPECT_EQ(1, TimeoutExpired(&countdown)) << "stays run out";
}

TEST_F(CountdownTest, OverrunStaysRunOutInsteadOfRearming) {
    int32_t countdown = 10;
    TimeoutExpired(&countdown);
    fakeline::Advance(5000);
    EXPECT_EQ(1, TimeoutExpired(&countdown));
    fakeline::Advance(1);
    EXPECT_EQ(1, TimeoutExpired(&countdown));
    EXPECT_EQ(0, countdown);
}

TEST_F(CountdownTest, AWrappedTickCountsOneMillisecond) {
    fakeline::SetTick(0xFFFFFFF0u);
    int32_t countdown = 3;
    EXPECT_EQ(0, TimeoutExpired(&countdown));
    fakeline::SetTick(5);  // wrapped: counts as 1 ms
    EXPECT_EQ(0, TimeoutExpired(&countdown));
    EXPECT_EQ(-2, countdown);
    fakeline::SetTick(7);
    EXPECT_EQ(1, TimeoutExpired(&countdown));
}

TEST_F(CountdownTest, ArmingAnotherCountdownMovesTheSharedReference) {
    int32_t first = 1000, second = 1000;
    TimeoutExpired(&first);
    fakeline::Advance(600);
    TimeoutExpired(&second);  // resets the reference tick
    fakeline::Advance(600);
    // Only the time since the other countdown was armed reaches the first one.
    EXPECT_EQ(0, TimeoutExpired(&first));
    EXPECT_EQ(-400, first);
}

}  // namespace
