#include <gtest/gtest.h>

#include <string>

#include "codec.h"
#include "fake_frontend.h"
#include "fake_line.h"
#include "peers.h"
#include "receiver.h"
#include "settings.h"
#include "temp_folder.h"

namespace {
using namespace peers;
using testfs::Native;

const Bytes kReady = B({Ready});
const Bytes kAckReady = B({ACK, Ready});
const Bytes kAck = B({ACK});
const Bytes kCancel = B({CAN, CAN, CAN});

class ReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeline::Reset();
        fakefront::Reset();
        in_ = folder_.Path() / "in";
        testfs::fs::create_directories(in_);
        SetInDirectory(in_.string().c_str());
        SetOutDirectory((folder_.Path() / "out").string().c_str());
        SetTranslateText(1);
        SetTextExtensions(".txt");
    }
    // Runs a batch against the script; returns what the side wrote beyond it.
    void Run(std::vector<Step> steps) {
        script_ = std::make_unique<Script>(std::move(steps));
        script_->Start();
        ReceiveBatch(fakefront::RecordProgress);
    }
    std::string Incoming(const std::string& relative) { return testfs::ReadFile(in_ / Native(relative)); }
    bool Exists(const std::string& relative) { return testfs::fs::exists(in_ / Native(relative)); }
    size_t FilesIn() {
        size_t n = 0;
        for (auto& e : testfs::fs::recursive_directory_iterator(in_))
            if (e.is_regular_file()) ++n;
        return n;
    }
    bool Saw(int16_t event) {
        for (const auto& e : fakefront::Events())
            if (e.event == event) return true;
        return false;
    }

    testfs::TempFolder folder_;
    testfs::fs::path in_;
    std::unique_ptr<Script> script_;
};

// The trace of one file, byte for byte.
std::vector<Step> OneFile(const std::string& path, const std::string& content) {
    std::vector<Step> steps = {{kReady, MakeHeader(path, static_cast<uint32_t>(content.size()))}};
    uint8_t number = 1;
    for (size_t at = 0; at < content.size();) {
        bool longBlock = content.size() - at >= 1024;
        size_t n = std::min(content.size() - at, longBlock ? size_t(1024) : size_t(128));
        steps.push_back({number == 1 ? kAckReady : kAck,
                         MakePacket(number++, Text(content.substr(at, n)), longBlock)});
        at += n;
    }
    steps.push_back({content.empty() ? kAckReady : kAck, B({EOT})});
    steps.push_back({kAckReady, EndOfBatchBlock()});
    steps.push_back({kAck, {}});
    return steps;
}

TEST_F(ReceiverTest, FilesArriveUnderTheirRelativePaths) {
    struct Case { std::string path; std::string content; };
    const Case cases[] = {
        {"docs\\a.txt", "hello"},
        {"docs\\letters\\deep\\b.bin", testfs::Pattern(2500)},
        {"empty.bin", ""},
        {"exact.bin", testfs::Pattern(1024)},
        {"long\\" + std::string(150, 'n') + ".bin", "travels in a long header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        fakeline::Reset();
        Run(OneFile(c.path, c.content));
        EXPECT_TRUE(script_->Finished());
        EXPECT_FALSE(script_->Diverged());
        EXPECT_EQ(c.content, Incoming(c.path));
        EXPECT_EQ(1, CurrentTransferStatus()->files);
        EXPECT_TRUE(Saw(BatchFinished));
    }
}

TEST_F(ReceiverTest, EmptyBatchCreatesNothing) {
    Run({{kReady, EndOfBatchBlock()}, {kAck, {}}});
    EXPECT_TRUE(script_->Finished());
    EXPECT_EQ(0u, FilesIn());
    EXPECT_TRUE(Saw(BatchFinished));
}

TEST_F(ReceiverTest, PaddingAndBlocksPastTheSizeAreDropped) {
    Run({{kReady, MakeHeader("a.bin", 100)},
         {kAckReady, MakePacket(1, Text(std::string(128, 'x')), false)},
         {kAck, MakePacket(2, Text("more"), false)},
         {kAck, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_TRUE(script_->Finished());
    EXPECT_EQ(std::string(100, 'x'), Incoming("a.bin"));
}

TEST_F(ReceiverTest, EarlyEotKeepsWhatArrived) {
    Run({{kReady, MakeHeader("a.bin", 5000)},
         {kAckReady, MakePacket(1, Text(std::string(1024, 'y')), true)},
         {kAck, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_EQ(std::string(1024, 'y'), Incoming("a.bin"));
}

TEST_F(ReceiverTest, TextFilesGetCrLfEvenAcrossBlocks) {
    std::string first = std::string(127, 'a') + "\r";  // CR ends the first block
    Run({{kReady, MakeHeader("notes.txt", 128 + 6)},
         {kAckReady, MakePacket(1, Text(first), false)},
         {kAck, MakePacket(2, Text("\nb\nc\rd"), false)},
         {kAck, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_EQ(std::string(127, 'a') + "\r\nb\r\nc\r\nd", Incoming("notes.txt"));
    EXPECT_EQ(134, CurrentTransferStatus()->totalBytes) << "bytes received, not written";
}

TEST_F(ReceiverTest, NameClashesAreNumbered) {
    testfs::WriteFile(in_ / "a.txt", "old");
    Run(OneFile("a.txt", "new"));
    EXPECT_EQ("old", Incoming("a.txt"));
    EXPECT_EQ("new", Incoming("a1.txt"));
}

TEST_F(ReceiverTest, DamagedBlockIsNakedOnceAndCountedOnce) {
    Bytes good = MakePacket(1, Text("data"), false);
    Bytes damaged = good;
    damaged[20] ^= 0x40;
    Run({{kReady, MakeHeader("a.bin", 4)},
         {kAckReady, damaged},
         {B({NAK}), good},
         {kAck, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_TRUE(script_->Finished()) << "diverged: " << script_->Diverged();
    EXPECT_EQ("data", Incoming("a.bin"));
    std::vector<int16_t> errors;
    for (const auto& e : fakefront::Events())
        if (errors.empty() || errors.back() != e.errors) errors.push_back(e.errors);
    EXPECT_EQ((std::vector<int16_t>{0, 1, 0}), errors);
}

TEST_F(ReceiverTest, DamagedOrLateHeaderIsNakedAndTakenWhenRepeated) {
    Bytes good = MakeHeader("a.bin", 2);
    Bytes damaged = good;
    damaged[5] ^= 0x01;
    Bytes cut(good.begin(), good.begin() + 60);  // the rest never comes
    for (const Bytes& first : {damaged, cut}) {
        fakeline::Reset();
        fakefront::Reset();
        Run({{kReady, first},
             {B({NAK}), good},
             {kAckReady, MakePacket(1, Text("ok"), false)},
             {kAck, B({EOT})},
             {kAckReady, EndOfBatchBlock()},
             {kAck, {}}});
        EXPECT_TRUE(script_->Finished()) << script_->StepsDone();
        EXPECT_EQ("ok", Incoming("a.bin"));
        testfs::fs::remove(in_ / "a.bin");
    }
}

TEST_F(ReceiverTest, NakComesAfterAQuietSecond) {
    Bytes damaged = MakePacket(1, Text("data"), false);
    damaged[20] ^= 0x40;
    uint32_t damagedAt = 0, nakAt = 0;
    fakeline::SetPeer([&](const Bytes& w) {
        size_t n = fakeline::Writes().size();
        if (n == 1) fakeline::Deliver(MakeHeader("a.bin", 4));
        if (n == 3) {  // ACK and ready for the header
            damagedAt = fakeline::Now();
            fakeline::Deliver(damaged);
        }
        if (w == B({NAK}) && nakAt == 0) {
            nakAt = fakeline::Now();
            fakeline::Deliver(B({CAN, CAN}));
        }
    });
    ReceiveBatch(fakefront::RecordProgress);
    ASSERT_NE(0u, nakAt);
    EXPECT_GE(nakAt - damagedAt, 1000u);
}

TEST_F(ReceiverTest, EleventhConsecutiveErrorAborts) {
    Bytes damaged = MakePacket(1, Text("data"), false);
    damaged[20] ^= 0x40;
    std::vector<Step> steps = {{kReady, MakeHeader("a.bin", 4)}, {kAckReady, damaged}};
    for (int i = 0; i < 9; ++i) steps.push_back({B({NAK}), damaged});
    steps.push_back({B({NAK}), damaged});  // the eleventh bad copy
    steps.push_back({kCancel, {}});
    Run(steps);
    EXPECT_TRUE(script_->Finished()) << "after " << script_->StepsDone() << " steps";
    EXPECT_FALSE(Exists("a.bin")) << "the incomplete file is removed";
}

TEST_F(ReceiverTest, DuplicateBlockIsAcknowledgedNotWritten) {
    Bytes block1 = MakePacket(1, Text(std::string(128, 'p')), false);
    Run({{kReady, MakeHeader("a.bin", 200)},
         {kAckReady, MakeHeader("a.bin", 200)},  // repeated header: duplicate of block 0
         {kAckReady, block1},                    // answered with a fresh ready byte
         {kAck, block1},
         {kAck, MakePacket(2, Text(std::string(72, 'q')), false)},
         {kAck, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_TRUE(script_->Finished());
    EXPECT_EQ(std::string(128, 'p') + std::string(72, 'q'), Incoming("a.bin"));
}

TEST_F(ReceiverTest, RepeatedEotIsAcknowledgedAgain) {
    Run({{kReady, MakeHeader("a.bin", 0)},
         {kAckReady, B({EOT})},
         {kAckReady, B({EOT})},
         {kAckReady, EndOfBatchBlock()},
         {kAck, {}}});
    EXPECT_TRUE(script_->Finished());
    EXPECT_TRUE(Exists("a.bin"));
}

TEST_F(ReceiverTest, AbortPathsSendThreeCansAndDropTheHalfFile) {
    Bytes block1 = MakePacket(1, Text(std::string(1024, 'h')), true);
    Bytes headerBad = MakeHeader("a.bin", 4096);
    headerBad[40] ^= 1;
    struct Case { const char* what; std::vector<Step> steps; int cancelAt; };
    const Case cases[] = {
        {"peer cancels", {{kReady, MakeHeader("a.bin", 4096)}, {kAckReady, block1}, {kAck, B({CAN, CAN})}, {kCancel, {}}}, 0},
        {"out-of-order header", {{kReady, MakePacket(5, Text("x"), false)}, {kCancel, {}}}, 0},
        {"user cancel mid-file", {{kReady, MakeHeader("a.bin", 4096)}, {kAckReady, block1}, {kAck, {}}, {kCancel, {}}}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakeline::Reset();
        fakefront::Reset();
        fakefront::CancelAtCall(c.cancelAt);
        Run(c.steps);
        EXPECT_TRUE(script_->Finished()) << script_->StepsDone();
        EXPECT_EQ(0u, FilesIn());
        EXPECT_FALSE(Saw(BatchFinished));
    }
}

TEST_F(ReceiverTest, FileThatCannotBeCreatedAbortsAndLeavesNothing) {
    SetInDirectory((folder_.Path() / "missing").string().c_str());
    Run({{kReady, MakeHeader("a.bin", 3)}, {kCancel, {}}});
    EXPECT_TRUE(script_->Finished()) << script_->StepsDone();
    EXPECT_FALSE(testfs::fs::exists(folder_.Path() / "missing"));
}

TEST_F(ReceiverTest, SilentPeerGetsAReadyByteEveryFiveSeconds) {
    fakefront::CancelAtCall(40);
    Run({});
    size_t readies = std::count(fakeline::Writes().begin(), fakeline::Writes().end(), kReady);
    EXPECT_GT(readies, 5u) << "no error limit while waiting for a header";
    Bytes written = fakeline::Written();
    EXPECT_EQ(kCancel, Bytes(written.end() - 3, written.end()));
}

TEST_F(ReceiverTest, HostileHeadersNeverLeaveTheIncomingFolder) {
    Bytes noNul(ShortData, 'A');
    Bytes unterminated = MakePacket(0, noNul, false);
    struct Case { const char* what; Bytes header; bool created; };
    const Case cases[] = {
        {"path without NUL before the size", unterminated, false},
        {"parent folder", MakeHeader("..\\..\\escape.txt", 2), true},
        {"drive", MakeHeader("C:\\escape.txt", 2), true},
        {"leading backslash", MakeHeader("\\escape.txt", 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakeline::Reset();
        Run({{kReady, c.header},
             {kAckReady, MakePacket(1, Text("ok"), false)},
             {kAck, B({EOT})},
             {kAckReady, EndOfBatchBlock()},
             {kAck, {}}});
        EXPECT_FALSE(testfs::fs::exists(folder_.Path() / "escape.txt"));
        EXPECT_FALSE(testfs::fs::exists(folder_.Path().parent_path() / "escape.txt"));
        EXPECT_EQ(c.created, script_->Finished());
        if (!c.created) {
            EXPECT_EQ(0u, FilesIn());
        }
    }
    EXPECT_EQ(3u, FilesIn()) << "the others arrived under safe names";
}

}  // namespace

namespace {
// Line noise, including bytes that look like packet starts and hostile headers,
// must end in a clean abort or a finished batch, never a crash or an overrun.
TEST_F(ReceiverTest, LineNoiseNeverBreaksTheReceiver) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(seed);
        fakeline::Reset();
        fakefront::Reset();
        fakefront::CancelAtCall(60);
        std::string noise = testfs::Pattern(4000, seed);
        Bytes bytes(noise.begin(), noise.end());
        if (seed % 3 == 0) {
            Bytes header = MakeHeader(std::string(1019, 'n'), 0xFFFFFFFFu);
            bytes.insert(bytes.begin(), header.begin(), header.end());
        }
        for (size_t i = 0; i < bytes.size(); i += 97) bytes[i] = seed % 2 ? SOH : STX;
        fakeline::SetReadChunk(static_cast<int16_t>(1 + seed * 37));
        fakeline::Deliver(bytes, 5);
        ReceiveBatch(fakefront::RecordProgress);
    }
}
}  // namespace

namespace {
// What the incoming folder held at each progress call of a batch.
struct Seen { int16_t files; bool finalName; size_t partialFiles; };
std::vector<Seen> seen;
testfs::fs::path watched;        // the final name being watched
testfs::fs::path watchedFolder;

uint16_t WatchingProgress(TransferStatus* status, int16_t event) {
    size_t partial = 0;
    for (auto& e : testfs::fs::directory_iterator(watchedFolder))
        if (e.path().filename().string().rfind("!partial.", 0) == 0) ++partial;
    seen.push_back({status->files, testfs::fs::exists(watched), partial});
    return fakefront::RecordProgress(status, event);
}

// While a file arrives only its partial file exists; its own name appears,
// complete, when its end has come, and the partial file is gone.
TEST_F(ReceiverTest, FileIsUnderItsNameOnlyOnceComplete) {
    const std::string content = testfs::Pattern(3000);
    testfs::fs::create_directories(in_ / "docs");
    watchedFolder = in_ / "docs";
    watched = watchedFolder / "a.bin";
    seen.clear();
    script_ = std::make_unique<Script>(OneFile("docs\\a.bin", content));
    script_->Start();
    ReceiveBatch(WatchingProgress);
    ASSERT_TRUE(script_->Finished());
    size_t during = 0;
    for (const Seen& s : seen) {
        if (s.files == 0 && s.partialFiles == 1) ++during;
        EXPECT_EQ(s.files == 1, s.finalName) << "files " << s.files;
        if (s.files == 1) {
            EXPECT_EQ(0u, s.partialFiles);
        }
    }
    EXPECT_GT(during, 3u) << "the progress calls of the data blocks saw the partial file";
    EXPECT_EQ(content, Incoming("docs\\a.bin"));
    EXPECT_EQ(1u, FilesIn());
}
}  // namespace

