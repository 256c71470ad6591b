// The receiving side against a recorded file system: what reaches the disk,
// and in which order against the bytes on the line.
#include <gtest/gtest.h>

#include <string>

#include "codec.h"
#include "fake_frontend.h"
#include "fake_fs.h"
#include "fake_line.h"
#include "peers.h"
#include "receiver.h"
#include "settings.h"

namespace {
using namespace peers;

const Bytes kReady = B({Ready});
const Bytes kAckReady = B({ACK, Ready});
const Bytes kAck = B({ACK});
const Bytes kCancel = B({CAN, CAN, CAN});

class ReceiverDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeline::Reset();
        fakefront::Reset();
        fakefs::Reset();
        fakefs::MakeFolder("/in");
        fakefs::MakeFolder("/out");
        fakefs::SetMomentSource([] { return fakeline::Writes().size(); });
        SetInDirectory("/in");
        SetOutDirectory("/out");
        SetTranslateText(1);
        SetTextExtensions(".txt");
    }
    void Run(std::vector<Step> steps) {
        script_ = std::make_unique<Script>(std::move(steps));
        script_->Start();
        ReceiveBatch(fakefront::RecordProgress);
    }
    // Position of an operation in the journal, or -1.
    int Find(const std::string& op) {
        const auto& j = fakefs::Journal();
        for (size_t i = 0; i < j.size(); ++i)
            if (j[i].op == op) return static_cast<int>(i);
        return -1;
    }
    std::unique_ptr<Script> script_;
};

// Header, two blocks of 128 bytes, EOT, end of batch.
std::vector<Step> OneFile() {
    return {{kReady, MakeHeader("a.bin", 256)},
            {kAckReady, MakePacket(1, Text(std::string(128, 'd')), false)},
            {kAck, MakePacket(2, Text(std::string(128, 'd')), false)},
            {kAck, B({EOT})},
            {kAckReady, EndOfBatchBlock()},
            {kAck, {}}};
}

TEST_F(ReceiverDiskTest, FileIsFlushedAndNamedBeforeItsEndIsAcknowledged) {
    Run(OneFile());
    ASSERT_TRUE(script_->Finished());
    const auto& writes = fakeline::Writes();
    // Writes: ready, ACK, ready, ACK, ACK, ACK of the EOT, ...
    size_t eotAck = 0;
    for (size_t i = 0; i < writes.size() && eotAck == 0; ++i)
        if (i >= 5 && writes[i] == kAck) eotAck = i;
    ASSERT_EQ(5u, eotAck);
    int flush = Find("flush /in/!partial.0");
    int rename = Find("rename /in/!partial.0 /in/a.bin");
    int folder = Find("flushfolder /in");
    ASSERT_GE(flush, 0);
    EXPECT_LT(flush, rename);
    EXPECT_LT(rename, folder);
    // The moment is the number of line writes done when the disk was touched.
    EXPECT_LE(fakefs::Journal()[folder].moment, eotAck) << "all before the ACK went out";
    EXPECT_EQ(std::string(256, 'd'), fakefs::Content("/in/a.bin"));
    EXPECT_EQ((std::vector<std::string>{"/in/", "/in/a.bin", "/out/"}), fakefs::Tree());
}

// When the file cannot be made safe on disk its end is not acknowledged: the
// sender keeps its copy, and nothing is left here.
TEST_F(ReceiverDiskTest, FileThatCannotBeSecuredIsNotAcknowledgedAndLeavesNothing) {
    // steps: how much of the exchange happens before the side gives up.
    struct Case { const char* what; void (*fault)(); size_t steps; };
    const Case cases[] = {
        {"flush fails", [] { fakefs::SetFlushFails(true); }, 4},
        {"rename fails", [] { fakefs::SetRenameFails(true); }, 4},
        {"disk full in the second block", [] { fakefs::SetFileLimit(200); }, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.fault();
        std::vector<Step> steps = OneFile();
        steps.resize(c.steps);
        steps.push_back({kCancel, {}});
        Run(steps);
        EXPECT_TRUE(script_->Finished()) << script_->StepsDone();
        EXPECT_EQ((std::vector<std::string>{"/in/", "/out/"}), fakefs::Tree());
        EXPECT_EQ(0, CurrentTransferStatus()->files);
    }
}

// A partial file that cannot be removed when its file fails (the folder turned
// read-only) goes at the next file, once the folder lets it, whether the delete
// said it failed or, as under Wine, claimed success and kept the file.
TEST_F(ReceiverDiskTest, PartialFileThatOutlivesItsFailureGoesBeforeTheNextFile) {
    const fakefs::DeleteFault faults[] = {fakefs::DeleteFault::Refused, fakefs::DeleteFault::Ignored};
    for (fakefs::DeleteFault fault : faults) {
        SCOPED_TRACE(fault == fakefs::DeleteFault::Refused ? "delete refused" : "delete ignored");
        SetUp();
        fakefs::SetRenameFails(true);
        fakefs::SetDeleteFault(fault);
        std::vector<Step> steps = OneFile();
        steps.resize(4);
        steps.push_back({kCancel, {}});
        Run(steps);
        ASSERT_TRUE(script_->Finished()) << script_->StepsDone();
        ASSERT_TRUE(fakefs::Exists("/in/!partial.0"));

        fakefs::SetRenameFails(false);
        fakefs::SetDeleteFault(fakefs::DeleteFault::None);
        Run(OneFile());
        ASSERT_TRUE(script_->Finished()) << script_->StepsDone();
        EXPECT_EQ((std::vector<std::string>{"/in/", "/in/a.bin", "/out/"}), fakefs::Tree());
    }
}

}  // namespace
