// The settings fields against the settings store: exact sizes, defaults
// written back, wrongly sized values replaced. Runs on the in-memory store
// natively and on the registry under Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings.h"
#include "settings_store.h"
#include "stored_settings.h"

namespace {

// The size the store holds for name, or -1 when it holds none a field could take.
int StoredSize(const char* name) {
    std::vector<unsigned char> scratch(260);
    for (uint32_t size = 1; size <= 260; ++size) {
        if (ReadSetting(name, scratch.data(), size)) return static_cast<int>(size);
    }
    return -1;
}

std::vector<unsigned char> Stored(const char* name, uint32_t size) {
    std::vector<unsigned char> bytes(size);
    if (!ReadSetting(name, bytes.data(), size)) bytes.clear();
    return bytes;
}

std::vector<unsigned char> Bytes(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(p, p + size);
}

class StoredSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override { DeleteSettingsKey(); }
};

struct LineCase {
    const char* what;
    const char* name;
    std::vector<unsigned char> stored;  // empty: no value
    uint32_t size;
    uint32_t fallback;
    uint32_t expected;
};

TEST_F(StoredSettingsTest, LineSettingTakesStoredValueOrWritesItsDefault) {
    const LineCase cases[] = {
        {"missing port", "SerialPort", {}, 1, 2, 2},
        {"stored port", "SerialPort", {3}, 1, 2, 3},
        {"port stored as 4 bytes", "SerialPort", {3, 0, 0, 0}, 1, 2, 2},
        {"missing speed", "BaudRate", {}, 4, 57600, 57600},
        {"speed stored as 2 bytes", "BaudRate", {0x00, 0x4B}, 4, 57600, 57600},
        {"speed off the menu is kept", "BaudRate", {0x80, 0x25, 0, 0}, 4, 57600, 9600},
        {"stored handshaking", "HandShake", {2}, 1, 1, 2},
    };
    for (const LineCase& c : cases) {
        DeleteSettingsKey();
        if (!c.stored.empty()) WriteSetting(c.name, c.stored.data(), static_cast<uint32_t>(c.stored.size()));
        CloseSettingsKey();
        uint32_t field = 0;
        LoadLineSetting(c.name, &field, c.size, &c.fallback);
        EXPECT_EQ(c.expected, field) << c.what;
        EXPECT_EQ(static_cast<int>(c.size), StoredSize(c.name)) << c.what;
        EXPECT_EQ(Bytes(&c.expected, c.size), Stored(c.name, c.size)) << c.what;
        CloseSettingsKey();
    }
}

TEST_F(StoredSettingsTest, LoadedLineSettingIsNotReadAgain) {
    uint8_t port = 4;
    uint8_t stored = 1;
    WriteSetting("SerialPort", &stored, 1);
    const uint8_t fallback = 2;
    LoadLineSetting("SerialPort", &port, 1, &fallback);
    EXPECT_EQ(4, port);
    EXPECT_EQ(std::vector<unsigned char>{1}, Stored("SerialPort", 1));
}

TEST_F(StoredSettingsTest, ChoiceIsStoredAtTheFieldSize) {
    uint32_t rate = 57600;
    const uint32_t chosen = 115200;
    ASSERT_TRUE(StoreLineSetting("BaudRate", &rate, 4, &chosen));
    EXPECT_EQ(115200u, rate);
    EXPECT_EQ(4, StoredSize("BaudRate"));
    EXPECT_EQ(Bytes(&chosen, 4), Stored("BaudRate", 4));
}

TEST_F(StoredSettingsTest, FirstLoadOfTextSettingsWritesTheDefaults) {
    SetTranslateText(0);
    SetTextExtensions("stale");
    LoadTextSettings();
    EXPECT_EQ(1, TranslateText());
    EXPECT_STREQ(".txt", TextExtensions());
    EXPECT_EQ(std::vector<unsigned char>{1}, Stored("TranslateText", 1));
    std::vector<unsigned char> extensions(256, 0);
    memcpy(extensions.data(), ".txt", 4);
    EXPECT_EQ(extensions, Stored("TextExtensions", 256));
}

TEST_F(StoredSettingsTest, StoredTextSettingsAreTakenAndWrongSizesReplaced) {
    uint8_t off = 0;
    WriteSetting("TranslateText", &off, 1);
    WriteSetting("TextExtensions", " .doc", 6);  // not the field's 256 bytes
    LoadTextSettings();
    EXPECT_EQ(0, TranslateText());
    EXPECT_STREQ(".txt", TextExtensions());
    EXPECT_EQ(256, StoredSize("TextExtensions"));

    SetTranslateText(1);
    SetTextExtensions(" .doc .ini");
    StoreTextSettings();
    SetTranslateText(0);
    SetTextExtensions("");
    LoadTextSettings();
    EXPECT_EQ(1, TranslateText());
    EXPECT_STREQ(" .doc .ini", TextExtensions());
}

TEST_F(StoredSettingsTest, FolderIsStoredAsTheWhole260ByteField) {
    StoreFolderSetting("InDirectory", "C:");
    std::vector<unsigned char> field(260, 0);
    field[0] = 'C';
    field[1] = ':';
    EXPECT_EQ(field, Stored("InDirectory", 260));

    SetInDirectory("");
    ASSERT_TRUE(LoadFolderSetting("InDirectory", SetInDirectory));
    EXPECT_STREQ("C:", InDirectory());
}

TEST_F(StoredSettingsTest, FolderOfAnotherSizeIsNotLoaded) {
    SetOutDirectory("C:\\KEEP");
    WriteSetting("OutDirectory", "C:\\OUT", 7);
    EXPECT_FALSE(LoadFolderSetting("OutDirectory", SetOutDirectory));
    EXPECT_FALSE(LoadFolderSetting("InDirectory", SetInDirectory));
    EXPECT_STREQ("C:\\KEEP", OutDirectory());
}

TEST_F(StoredSettingsTest, FolderWithoutTerminatorIsCutToTheField) {
    std::string full(260, 'x');
    WriteSetting("InDirectory", full.data(), 260);
    ASSERT_TRUE(LoadFolderSetting("InDirectory", SetInDirectory));
    EXPECT_EQ(std::string(259, 'x'), InDirectory());
}

TEST_F(StoredSettingsTest, FailedReadLeavesTheFieldAsItWas) {
    const unsigned char two[] = {0x11, 0x22};
    WriteSetting("BaudRate", two, 2);
    uint32_t field = 0xA5A5A5A5;
    EXPECT_FALSE(ReadSetting("BaudRate", &field, 4));
    EXPECT_EQ(0xA5A5A5A5u, field);
}

TEST_F(StoredSettingsTest, DeletedKeyHoldsNoValues) {
    StoreFolderSetting("OutDirectory", "C:\\OUT");
    StoreTextSettings();
    DeleteSettingsKey();
    EXPECT_EQ(-1, StoredSize("OutDirectory"));
    EXPECT_EQ(-1, StoredSize("TranslateText"));
}

}  // namespace
