#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "codec.h"
#include "driver.h"
#include "fake_frontend.h"
#include "fake_line.h"
#include "peers.h"
#include "settings.h"
#include "temp_folder.h"

namespace {
using namespace peers;
using testfs::Native;
namespace fs = testfs::fs;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The driver remembers its last attempt for the whole run: start every
        // test well past it.
        static uint32_t clock = 0;
        clock += 1000000;
        fakeline::Reset(clock);
        fakefront::Reset();
        SetProgressFunction(fakefront::RecordProgress);
        out_ = folder_.Path() / "out";
        in_ = folder_.Path() / "in";
        fs::create_directories(out_);
        fs::create_directories(in_);
        SetOutDirectory(out_.string().c_str());
        SetInDirectory(in_.string().c_str());
    }
    void TearDown() override {
        SetProgressFunction(nullptr);
        fakeline::SetPeer(nullptr);
    }
    size_t LinkRequests() {
        return std::count(fakeline::Writes().begin(), fakeline::Writes().end(), B({LinkRequest}));
    }

    testfs::TempFolder folder_;
    fs::path out_, in_;
    ReceiverPeer peer_;
};

TEST_F(DriverTest, AnsweredRequestRunsAReceiveBatchInTransferMode) {
    fakeline::Deliver(B({LinkRequest}));
    Script script({{B({LinkAccept, Ready}), MakeHeader("a.txt", 2)},
                   {B({ACK, Ready}), MakePacket(1, Text("hi"), false)},
                   {B({ACK}), B({EOT})},
                   {B({ACK, Ready}), EndOfBatchBlock()},
                   {B({ACK}), {}}});
    script.Start();
    uint32_t before = fakeline::Now();
    PollTick();
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ("hi", testfs::ReadFile(in_ / "a.txt"));
    EXPECT_EQ(1, fakefront::TransferModeCount());
    EXPECT_EQ(1, fakefront::IdleModeCount());
    EXPECT_FALSE(TransferBusy());
    EXPECT_GE(fakeline::Now() - before, 1000u) << "the panel's last texts stay a second";
    EXPECT_EQ(0u, LinkRequests()) << "a tick that received makes no send attempt";
}

TEST_F(DriverTest, EmptyOutgoingFolderSendsNoRequest) {
    PollTick();
    EXPECT_TRUE(fakeline::Writes().empty());
}

TEST_F(DriverTest, UnansweredRequestLeavesFilesWhereTheyAre) {
    testfs::WriteSettledFile(out_ / "sub" / "a.txt", "a");
    PollTick();
    EXPECT_EQ(B({LinkRequest, CAN, CAN, CAN}), fakeline::Written());
    EXPECT_TRUE(fs::exists(out_ / "sub" / "a.txt"));
    EXPECT_FALSE(fs::exists(out_ / "!unsent"));
    EXPECT_EQ(0, fakefront::TransferModeCount());
}

TEST_F(DriverTest, SendAttemptsComeAtMostEveryTenSeconds) {
    testfs::WriteSettledFile(out_ / "a.txt", "a");
    PollTick();
    EXPECT_EQ(1u, LinkRequests());
    for (int tick = 0; tick < 17; ++tick) {  // 8.5 s of ticks
        fakeline::Advance(500);
        PollTick();
    }
    EXPECT_EQ(1u, LinkRequests());
    fakeline::Advance(2000);
    PollTick();
    EXPECT_EQ(2u, LinkRequests());
}

TEST_F(DriverTest, AttemptsGoOnWhenTheTickCountWraps) {
    testfs::WriteSettledFile(out_ / "a.txt", "a");
    fakeline::SetTick(0xFFFF0000u);
    PollTick();
    EXPECT_EQ(1u, LinkRequests());
    fakeline::SetTick(0x00000100u);  // 65.8 s later, after the wrap
    PollTick();
    EXPECT_EQ(2u, LinkRequests());
}

TEST_F(DriverTest, CompletedBatchEmptiesTheOutgoingFolder) {
    testfs::WriteSettledFile(out_ / "docs" / "a.txt", "hello");
    testfs::WriteSettledFile(out_ / "b.bin", testfs::Pattern(3000));
    peer_.Install(true);
    PollTick();
    EXPECT_FALSE(fs::exists(out_ / "docs" / "a.txt"));
    EXPECT_FALSE(fs::exists(out_ / "b.bin"));
    EXPECT_FALSE(fs::exists(out_ / "!unsent"));
    EXPECT_EQ(2, CurrentTransferStatus()->files);
    EXPECT_FALSE(TransferBusy());
    EXPECT_EQ(1, fakefront::IdleModeCount());
}

TEST_F(DriverTest, AbortedBatchMovesWhatWasNotSentIntoUnsent) {
    testfs::WriteSettledFile(out_ / "docs" / "a.txt", "hello");
    testfs::WriteSettledFile(out_ / "docs" / "b.txt", "world");
    peer_.rule = [](const Bytes& w, size_t) {
        return w.size() == ShortPacket && w[1] == 1 ? ReceiverPeer::Nak : ReceiverPeer::Normal;
    };
    peer_.Install(true);
    PollTick();
    EXPECT_TRUE(fs::exists(out_ / "!unsent" / "docs" / "a.txt"));
    EXPECT_TRUE(fs::exists(out_ / "!unsent" / "docs" / "b.txt"));
    EXPECT_EQ("hello", testfs::ReadFile(out_ / "!unsent" / "docs" / "a.txt"));
    EXPECT_FALSE(fs::exists(out_ / "docs" / "a.txt"));
    EXPECT_FALSE(TransferBusy());

    // Later scans skip the unsent folder.
    fakeline::Reset(fakeline::Now() + 20000);
    fakeline::SetPeer(nullptr);
    PollTick();
    EXPECT_EQ(0u, LinkRequests());
}

TEST_F(DriverTest, CancelDuringHandshakeEndsTheBatchAndIsForgottenAfterwards) {
    testfs::WriteSettledFile(out_ / "a.txt", "a");
    fakefront::CancelAtCall(2);
    fakeline::SetPeer([](const Bytes& w) {
        if (w == B({LinkRequest})) fakeline::Deliver(B({LinkAccept}));
    });
    PollTick();
    EXPECT_TRUE(fs::exists(out_ / "!unsent" / "a.txt"));
    EXPECT_TRUE(CancelRequested()) << "stays set until the next batch opens";
    fakefront::CancelAtCall(0);
    fakeline::Deliver(B({LinkRequest}));
    Script script({{B({LinkAccept, Ready}), EndOfBatchBlock()}, {B({ACK}), {}}});
    script.Start();
    PollTick();
    EXPECT_TRUE(script.Finished());
    EXPECT_FALSE(CancelRequested());
}

// A file that grows while it is sent reaches the peer as it was at its header;
// it stays in the outgoing folder, not in "!unsent", and goes again whole.
TEST_F(DriverTest, FileThatGrowsWhileSentStaysAndIsOfferedAgain) {
    const fs::path file = out_ / "log.txt";
    testfs::WriteSettledFile(file, "first part\n");
    bool grown = false;
    peer_.rule = [&](const Bytes& w, size_t) {
        if (w == B({EOT}) && !grown) {  // the file is closed by now on every platform
            std::ofstream(file, std::ios::binary | std::ios::app) << "second part\n";
            grown = true;
        }
        return ReceiverPeer::Normal;
    };
    peer_.Install(true);
    PollTick();
    ASSERT_TRUE(grown);
    EXPECT_EQ("first part\nsecond part\n", testfs::ReadFile(file));
    EXPECT_FALSE(fs::exists(out_ / "!unsent"));

    // Still being written: the next attempt does not offer it yet.
    fakeline::Advance(11000);
    fakeline::ClearWritten();
    PollTick();
    EXPECT_EQ(0u, LinkRequests());

    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(5));
    fakeline::Advance(11000);
    ReceiverPeer again;
    again.Install(true);
    PollTick();
    EXPECT_FALSE(fs::exists(file));
    ASSERT_EQ(3u, again.Packets().size());  // header, data, end of batch
    EXPECT_EQ(23, again.Packets()[0][3 + 127]) << "the header gives the new size";
}

}  // namespace
