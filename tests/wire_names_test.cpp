// Names between UTF-8 on this machine and the forms peers put on the wire.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire_names.h"

namespace {

struct NameCase {
    WireNames names;
    std::string local;   // UTF-8 as stored here
    std::string wire;    // bytes in the header
    bool lossy;          // the wire form could not hold every character
    std::string back;    // what a receiver here stores for the wire form
};

class WireNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(WireNamesTest, ConvertsBothWaysAndSaysWhatWasLost) {
    const NameCase& c = GetParam();
    char out[256];
    bool lossy = false;
    ASSERT_TRUE(LocalToWire(c.names, c.local.c_str(), out, sizeof out, &lossy));
    EXPECT_EQ(std::string(out), c.wire);
    EXPECT_EQ(lossy, c.lossy);
    ASSERT_TRUE(WireToLocal(c.names, c.wire.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out), c.back);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WireNamesTest,
    ::testing::Values(
        NameCase{WireCp1252, "docs\\a.txt", "docs\\a.txt", false, "docs\\a.txt"},
        NameCase{WireCp1252, "caf\xC3\xA9.txt", "caf\xE9.txt", false, "caf\xC3\xA9.txt"},
        NameCase{WireCp1252, "\xC3\x96lpreis 2026.csv", "\xD6lpreis 2026.csv", false,
                 "\xC3\x96lpreis 2026.csv"},
        // The bytes 0x80 to 0x9F of the code page are not Latin-1.
        NameCase{WireCp1252, "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC5\xB8", "\x80 \x93q\x94 \x9F",
                 false, "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC5\xB8"},
        NameCase{WireCp1252, "\xE6\x97\xA5\xE6\x9C\xAC.txt", "__.txt", true, "__.txt"},
        NameCase{WireCp1252, "\xF0\x9F\x98\x80 x", "_ x", true, "_ x"},
        // A broken sequence on this side (a name from an 8-bit system).
        NameCase{WireCp1252, "caf\xE9.txt", "caf_.txt", true, "caf_.txt"},
        NameCase{WireCp1252, "\xC0\xAFx", "__x", true, "__x"},        // overlong '/'
        NameCase{WireCp1252, "\xED\xA0\x80x", "___x", true, "___x"},  // surrogate
        NameCase{WireUtf8, "caf\xC3\xA9.txt", "caf\xC3\xA9.txt", false, "caf\xC3\xA9.txt"},
        NameCase{WireUtf8, "caf\xE9.txt", "caf_.txt", true, "caf_.txt"},
        NameCase{WireBytes, "caf\xE9\xC3.txt", "caf\xE9\xC3.txt", false, "caf\xE9\xC3.txt"}));

TEST(WireNamesTest, UndefinedCodePageBytesArriveAsUnderscores) {
    char out[64];
    bool lossy = false;
    ASSERT_TRUE(Cp1252ToUtf8("a\x81" "b\x8D\x8F\x90\x9D", out, sizeof out, &lossy));
    EXPECT_STREQ(out, "a_b____");
    EXPECT_TRUE(lossy);
    ASSERT_TRUE(CleanUtf8("ok", out, sizeof out, &lossy));
}

TEST(WireNamesTest, ResultsThatDoNotFitFailWithAnEmptyTerminatedBuffer) {
    struct Case { WireNames names; const char* in; size_t size; bool fits; };
    const Case cases[] = {
        {WireCp1252, "\xD6\xD6", 5, true},    // two bytes become four
        {WireCp1252, "\xD6\xD6", 4, false},
        {WireBytes, "abc", 4, true},
        {WireBytes, "abc", 3, false},
        {WireUtf8, "abc", 1, false},
    };
    for (const Case& c : cases) {
        char out[8];
        memset(out, 'x', sizeof out);
        bool fits = WireToLocal(c.names, c.in, out, c.size);
        EXPECT_EQ(fits, c.fits) << c.in << " in " << c.size;
        if (!fits) {
            EXPECT_EQ(out[0], '\0');
        }
        EXPECT_EQ(out[c.size], 'x') << "wrote past the buffer";
    }
}

TEST(WireNamesTest, TheThreeFormsHaveTheirNames) {
    for (const char* text : {"cp1252", "utf-8", "bytes"}) {
        WireNames names;
        ASSERT_TRUE(ParseWireNames(text, &names));
        EXPECT_STREQ(WireNamesText(names), text);
    }
    WireNames names;
    EXPECT_FALSE(ParseWireNames("latin1", &names));
}

}  // namespace
