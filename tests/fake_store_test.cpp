// What the settings do when the store cannot be opened at all (the registry
// cannot be made to refuse under Wine, so only the in-memory store shows it).
#include <gtest/gtest.h>

#include "fake_store.h"
#include "settings.h"
#include "stored_settings.h"

namespace {

class UnavailableStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakestore::Reset();
        fakestore::SetUnavailable(true);
    }
    void TearDown() override { fakestore::Reset(); }
};

TEST_F(UnavailableStoreTest, LineSettingStaysUnloaded) {
    uint8_t port = 0;
    const uint8_t fallback = 2;
    LoadLineSetting("SerialPort", &port, 1, &fallback);
    EXPECT_EQ(0, port);
    EXPECT_EQ(0, fakestore::WriteCount());
}

TEST_F(UnavailableStoreTest, ChoiceLeavesTheFieldUnchanged) {
    uint32_t rate = 57600;
    const uint32_t chosen = 19200;
    EXPECT_FALSE(StoreLineSetting("BaudRate", &rate, 4, &chosen));
    EXPECT_EQ(57600u, rate);
}

TEST_F(UnavailableStoreTest, TextChoicesStayInForceWithoutBeingStored) {
    SetTextExtensions(" .doc");
    StoreTextSettings();
    StoreFolderSetting("InDirectory", "C:\\IN");
    EXPECT_STREQ(" .doc", TextExtensions());
    EXPECT_EQ(0, fakestore::WriteCount());
}

}  // namespace
