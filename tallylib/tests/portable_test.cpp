// Token substitution, device entries and page breaking, without Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device_entry.h"
#include "page_layout.h"
#include "substitution.h"

namespace {

// An 81-byte message buffer with guard bytes on both sides.
struct GuardedText {
    char bytes[4 + 81 + 4];
    explicit GuardedText(const std::string &text)
    {
        std::memset(bytes, '#', sizeof bytes);
        std::memset(bytes + 4, 0, 81);
        std::memcpy(bytes + 4, text.data(), text.size() < 81 ? text.size() : 81);
    }
    char *text() { return bytes + 4; }
    bool guardsIntact() const
    {
        for (int i = 0; i < 4; ++i)
            if (bytes[i] != '#' || bytes[sizeof bytes - 1 - i] != '#') return false;
        return true;
    }
};

struct TokenCase {
    const char *name;
    std::string text;
    const char *token;
    std::string value;
    int result;
    std::string expected;
};

class SubstituteToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(SubstituteToken, ReplacesFirstOccurrenceWithinEightyCharacters)
{
    const TokenCase &c = GetParam();
    GuardedText buffer(c.text);
    EXPECT_EQ(c.result, _SubstituteToken(buffer.text(), c.token, c.value.c_str()));
    EXPECT_EQ(c.expected, std::string(buffer.text(), strnlen(buffer.text(), 81)));
    EXPECT_TRUE(buffer.guardsIntact());
}

const std::string x79(79, 'x');
const std::string x80(80, 'x');

INSTANTIATE_TEST_SUITE_P(Cases, SubstituteToken, ::testing::Values(
    TokenCase{"middle", "COM$P ready", "$P", "2", 0, "COM2 ready"},
    TokenCase{"twice_only_first", "$P and $P", "$P", "3", 0, "3 and $P"},
    TokenCase{"absent", "no tokens", "$P", "3", 1, "no tokens"},
    TokenCase{"empty_value", "a$Sb", "$S", "", 0, "ab"},
    TokenCase{"at_end", "speed $B", "$B", "2400", 0, "speed 2400"},
    TokenCase{"growth_cut_at_80", "$F" + x79.substr(0, 70), "$F", std::string(20, 'v'),
              0, std::string(20, 'v') + x79.substr(0, 60)},
    TokenCase{"long_value_cut", "<$F>", "$F", std::string(100, 'v'), 0, "<" + std::string(79, 'v')},
    // 81 characters and no terminator: the token's second half lies outside.
    TokenCase{"token_beyond_80_ignored", x79 + "$P", "$P", "1", 1, x79 + "$P"},
    TokenCase{"token_in_last_two", x79.substr(0, 78) + "$P", "$P", "12", 0, x79.substr(0, 78) + "12"},
    TokenCase{"full_text_no_token", x80, "$P", "1", 1, x80}),
    [](const auto &info) { return std::string(info.param.name); });

class Substitution : public ::testing::Test {
protected:
    void SetUp() override { _SubstituteClearAll(); }
    void TearDown() override { _SubstituteClearAll(); }
};

TEST_F(Substitution, AppliesEveryTokenOnceInTableOrder)
{
    _SubstituteSetValue("$P", "2");
    _SubstituteSetValue("$B", "2400");
    GuardedText buffer("Looking for modem on COM$P at $B baud.");
    EXPECT_EQ(1, _SubstituteAll(buffer.text()));  // no "$W"
    EXPECT_STREQ("Looking for modem on COM2 at 2400 baud.", buffer.text());
}

TEST_F(Substitution, ResultIsThatOfTheLastTokenOnly)
{
    _SubstituteSetValue("$W", "pw");
    GuardedText withW("id $I pass $W");
    EXPECT_EQ(0, _SubstituteAll(withW.text()));
    EXPECT_STREQ("id  pass pw", withW.text());
}

TEST_F(Substitution, ValueHoldingALaterTokenIsSubstitutedAgain)
{
    _SubstituteSetValue("$#", "$N");
    _SubstituteSetValue("$N", "0");
    GuardedText buffer("[$#]");
    _SubstituteAll(buffer.text());
    EXPECT_STREQ("[0]", buffer.text());
}

TEST_F(Substitution, ValuesAreCutToTheirFields)
{
    const struct {
        const char *token;
        std::size_t field;
    } fields[] = {{"$#", 40}, {"$P", 32}, {"$B", 32}, {"$F", 104}, {"$L", 32},
                  {"$S", 32}, {"$A", 16}, {"$N", 16}, {"$I", 56}, {"$W", 12}};
    for (const auto &f : fields) {
        _SubstituteSetValue(f.token, std::string(200, 'v').c_str());
        EXPECT_EQ(f.field - 1, std::strlen(_SubstituteValue(f.token))) << f.token;
    }
    _SubstituteSetValue("$Q", "ignored");
    EXPECT_STREQ("", _SubstituteValue("$Q"));
}

struct EntryCase {
    const char *entry;
    int complete;
    const char *device, *driver, *port;
};

TEST(DeviceEntry, SplitsNameDriverAndPort)
{
    const EntryCase cases[] = {
        {"Laser,wineps.drv,LPT1:", 1, "Laser", "wineps.drv", "LPT1:"},
        {",,Laser,drv port,extra", 1, "Laser", "drv", "port"},
        {"My Printer,drv,LPT1:", 1, "My Printer", "drv", "LPT1:"},
        {",,,", 0, nullptr, nullptr, nullptr},
        {"", 0, nullptr, nullptr, nullptr},
        {"OnlyName", 0, "OnlyName", nullptr, nullptr},
        {"Name,drv", 0, "Name", "drv", nullptr},
    };
    for (const auto &c : cases) {
        char entry[80];
        std::snprintf(entry, sizeof entry, "%s", c.entry);
        DeviceEntry pieces;
        EXPECT_EQ(c.complete, _DeviceEntrySplit(entry, &pieces)) << c.entry;
        auto same = [](const char *want, const char *got) {
            return want ? got && std::strcmp(want, got) == 0 : got == nullptr;
        };
        EXPECT_TRUE(same(c.device, pieces.device)) << c.entry;
        EXPECT_TRUE(same(c.driver, pieces.driver)) << c.entry;
        EXPECT_TRUE(same(c.port, pieces.port)) << c.entry;
    }
}

TEST(DeviceEntry, PrinterNameIsTerminatedWithinTheGivenSize)
{
    const struct {
        const char *entry;
        long size;
        int result;
        const char *out;
    } cases[] = {
        {"Laser,wineps.drv,LPT1:", 32, 0, "Laser"},
        {"Laser,wineps.drv,LPT1:", 4, 0, "Las"},
        {"Laser,wineps.drv,LPT1:", 1, 0, ""},
        {"Laser", 32, 0, "Laser"},
        {",,,", 32, -1, ""},
        {"", 32, -1, ""},
    };
    for (const auto &c : cases) {
        char out[40];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(c.result, _DeviceEntryPrinterName(c.entry, out, c.size)) << c.entry << " " << c.size;
        EXPECT_STREQ(c.out, out);
        EXPECT_EQ('#', out[c.size]) << "wrote past the size";
    }
    char untouched[4] = "abc";
    EXPECT_EQ(-1, _DeviceEntryPrinterName("Laser,x,y", untouched, 0));
    EXPECT_STREQ("abc", untouched);
}

// A page of fixed rows: each line takes ceil(chars / width) rows, at least one.
struct Grid {
    long width;
    int calls = 0;
};

long GridHeight(const char *text, long length, void *context)
{
    Grid *grid = static_cast<Grid *>(context);
    ++grid->calls;
    long rows = 0, column = 0;
    bool open = false;
    for (long i = 0; i < length; ++i) {
        if (text[i] == '\r') continue;
        if (text[i] == '\n') {
            rows += 1 + (column > 0 ? (column - 1) / grid->width : 0);
            column = 0;
            open = false;
            continue;
        }
        ++column;
        open = true;
    }
    if (open) rows += 1 + (column - 1) / grid->width;
    return rows;
}

std::string Lines(int first, int count)
{
    std::string text;
    for (int i = first; i < first + count; ++i) text += "line " + std::to_string(i) + "\r\n";
    return text;
}

struct CutCase {
    const char *name;
    std::string text;
    long pageRows;
    long length;
    int more;
};

class PageCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(PageCutTest, EndsThePageAtTheRightPlace)
{
    const CutCase &c = GetParam();
    Grid grid{20};
    PageCut cut = _PageCut(c.text.c_str(), static_cast<long>(c.text.size()), c.pageRows, GridHeight, &grid);
    EXPECT_EQ(c.length, cut.length);
    EXPECT_EQ(c.more, cut.more);
}

const std::string para40 = "aaaa bbbb cccc dddd eeee ffff gggg hhhh ";

INSTANTIATE_TEST_SUITE_P(Cases, PageCutTest, ::testing::Values(
    CutCase{"empty", "", 5, 0, 0},
    CutCase{"fits", Lines(1, 3), 5, static_cast<long>(Lines(1, 3).size()), 0},
    // Cut before the CR LF of the fifth line; it stays for the next page.
    CutCase{"at_line_end", Lines(1, 8), 5, static_cast<long>(Lines(1, 5).size()) - 2, 1},
    CutCase{"next_page_begins_blank", "\r\n" + Lines(6, 8), 5,
            static_cast<long>(("\r\n" + Lines(6, 4)).size()) - 2, 1},
    CutCase{"lf_only", "a\nb\nc\nd\n", 2, 3, 1},
    // One paragraph of 6 rows on a 2-row page: split after the last blank that fits.
    CutCase{"tall_paragraph", para40 + para40 + para40, 2, 40, 1},
    CutCase{"tall_word", std::string(100, 'w'), 2, 40, 1},
    CutCase{"page_smaller_than_a_line", "abc\r\n", 0, 1, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PageCut, TallParagraphsAlwaysMakeProgress)
{
    std::string text = Lines(1, 3) + std::string(500, 'z') + "\r\n" + para40 + para40 + para40;
    Grid grid{20};
    const char *at = text.c_str();
    long left = static_cast<long>(text.size());
    int pages = 0;
    std::string printed;
    for (;; ++pages) {
        ASSERT_LT(pages, 100) << "no progress";
        PageCut cut = _PageCut(at, left, 4, GridHeight, &grid);
        ASSERT_TRUE(cut.length > 0 || !cut.more);
        ASSERT_LE(GridHeight(at, cut.length, &grid), 4);
        printed.append(at, cut.length);
        if (!cut.more) break;
        at += cut.length;
        left -= cut.length;
    }
    EXPECT_EQ(text, printed);
    EXPECT_GT(pages, 7);
}

TEST(PageCut, ManyLinesNeedFewMeasurements)
{
    std::string text = Lines(1, 2000);
    Grid grid{20};
    PageCut cut = _PageCut(text.c_str(), static_cast<long>(text.size()), 60, GridHeight, &grid);
    EXPECT_EQ(static_cast<long>(Lines(1, 60).size()) - 2, cut.length);
    EXPECT_LT(grid.calls, 20);
}

}  // namespace

TEST(SubstituteTrace, TokenPastEightyInATraceLineIsReplacedAndTheResultKeepsEighty)
{
    char line[162];
    std::string text = std::string(100, 't') + "$P" + std::string(20, 'u');
    std::memcpy(line, text.c_str(), text.size() + 1);
    EXPECT_EQ(0, _SubstituteToken(line, "$P", "3", SUBST_TRACE_MAX));
    EXPECT_EQ(std::string(80, 't'), std::string(line));

    std::string early = std::string(10, 'e') + "$S" + std::string(100, 'f');
    std::memcpy(line, early.c_str(), early.size() + 1);
    EXPECT_EQ(0, _SubstituteToken(line, "$S", "", SUBST_TRACE_MAX));
    EXPECT_EQ(std::string(10, 'e') + std::string(70, 'f'), std::string(line));
}
