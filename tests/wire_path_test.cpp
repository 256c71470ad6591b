// The engine converts a path only where a header is built or read: files are
// opened, created and deleted by their local names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec.h"
#include "fake_frontend.h"
#include "fake_line.h"
#include "peers.h"
#include "receiver.h"
#include "sender.h"
#include "settings.h"
#include "temp_folder.h"
#include "wire_path.h"

namespace {
using namespace peers;
using testfs::Native;

// Local names start with "here", wire names with "wire"; anything else does
// not convert.
bool Swap(const char* in, char* out, size_t size, const char* from, const char* to) {
    size_t n = strlen(from);
    if (strncmp(in, from, n) != 0) return false;
    return snprintf(out, size, "%s%s", to, in + n) < static_cast<int>(size);
}
bool HereToWire(const char* in, char* out, size_t size) { return Swap(in, out, size, "here", "wire"); }
bool WireToHere(const char* in, char* out, size_t size) { return Swap(in, out, size, "wire", "here"); }

class WirePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakeline::Reset();
        fakefront::Reset();
        in_ = folder_.Path() / "in";
        out_ = folder_.Path() / "out";
        testfs::fs::create_directories(in_);
        testfs::fs::create_directories(out_);
        SetInDirectory(in_.string().c_str());
        SetOutDirectory(out_.string().c_str());
        SetTranslateText(0);
        SetWirePathFunctions(HereToWire, WireToHere);
    }
    void TearDown() override { SetWirePathFunctions(nullptr, nullptr); }

    testfs::TempFolder folder_;
    testfs::fs::path in_, out_;
};

TEST_F(WirePathTest, TheHeaderCarriesTheWireNameOfALocalFile) {
    testfs::WriteFile(out_ / Native("here\\a.bin"), "hello");
    char path[] = "here\\a.bin";
    char* list[] = {path, nullptr};
    ReceiverPeer peer;
    peer.Install();
    SendBatch(fakefront::RecordProgress, list);
    ASSERT_FALSE(peer.frames.empty());
    EXPECT_EQ(MakeHeader("wire\\a.bin", 5), peer.frames[0]);
    EXPECT_FALSE(testfs::fs::exists(out_ / Native("here\\a.bin"))) << "sent, so deleted by its local name";
    EXPECT_EQ('\0', path[0]);
}

TEST_F(WirePathTest, AReceivedNameIsStoredInItsLocalFormOrNotAtAll) {
    struct Case { std::string wire; std::string stored; };  // "" : nothing is created
    const Case cases[] = {
        {"wire\\b.bin", "here\\b.bin"},
        {"other\\b.bin", ""},  // no local form: the batch ends, nothing is created
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        fakeline::Reset();
        testfs::fs::remove_all(in_);
        testfs::fs::create_directories(in_);
        std::vector<Step> steps = {
            {B({Ready}), MakeHeader(c.wire, 3)},
            {B({ACK, Ready}), MakePacket(1, Text("abc"), false)},
            {B({ACK}), B({EOT})},
            {B({ACK, Ready}), EndOfBatchBlock()},
            {B({ACK}), {}},
        };
        Script script(std::move(steps));
        script.Start();
        ReceiveBatch(fakefront::RecordProgress);
        if (c.stored.empty()) {
            EXPECT_FALSE(script.Finished());
            EXPECT_TRUE(testfs::fs::is_empty(in_));
        } else {
            EXPECT_TRUE(script.Finished());
            EXPECT_EQ("abc", testfs::ReadFile(in_ / Native(c.stored)));
        }
    }
}

}  // namespace
