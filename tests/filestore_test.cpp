// The file store against real folders on disk: the outgoing scan, the unsent
// folder, incoming names, text files and line ends, sizes and reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_message.h"
#include "filestore.h"
#include "fs.h"
#include "settings.h"
#include "store_os.h"

namespace {
bool OnWindows() { return FsSeparator() == '\\'; }

// Relative path with backslashes, as the store uses them, to a native one.
std::string Join(const std::string& base, const std::string& relative) {
    std::string path = base + FsSeparator();
    for (char c : relative) path += c == '\\' ? FsSeparator() : c;
    return path;
}

// Writes a file below base, creating its folders, through the platform layer
// (the standard library cannot reach the deep paths the tests need on Windows).
void Put(const std::string& base, const std::string& relative, const std::string& content) {
    std::string full = base;
    size_t start = 0;
    for (size_t sep; (sep = relative.find('\\', start)) != std::string::npos; start = sep + 1) {
        full += FsSeparator() + relative.substr(start, sep - start);
        FsMakeFolder(full.c_str());
    }
    full += FsSeparator() + relative.substr(start);
    ASSERT_EQ(FsCreateNew(full.c_str()), FsOk) << full;
    FsHandle h = FsOpen(full.c_str(), true);
    ASSERT_NE(h, kNoFile);
    ASSERT_EQ(FsWrite(h, content.data(), static_cast<int>(content.size())),
              static_cast<int>(content.size()));
    FsClose(h);
    // Written well before the scan, so that it is offered.
    ASSERT_TRUE(storeos::SetAge(full, 600)) << full;
}

// Content of a file, or "<none>" when it cannot be opened as one.
std::string Get(const std::string& full) {
    FsHandle h = FsOpen(full.c_str(), false);
    if (h == kNoFile) return "<none>";
    std::string content(static_cast<size_t>(FsSize(h)), '\0');
    int got = FsRead(h, &content[0], static_cast<int>(content.size()));
    FsClose(h);
    content.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return content;
}

void ListInto(const std::string& full, const std::string& prefix, std::vector<std::string>* out) {
    FsDir dir = FsOpenDir(full.c_str());
    if (dir == nullptr) return;
    FsEntry e;
    while (FsNextEntry(dir, &e)) {
        std::string relative = prefix.empty() ? e.name : prefix + "\\" + e.name;
        out->push_back(e.isFolder ? relative + "\\" : relative);
        if (e.isFolder) ListInto(full + FsSeparator() + e.name, relative, out);
    }
    FsCloseDir(dir);
}

// Everything below a folder, folders with a trailing backslash, sorted.
std::vector<std::string> Tree(const std::string& full) {
    std::vector<std::string> all;
    ListInto(full, "", &all);
    std::sort(all.begin(), all.end());
    return all;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = storeos::MakeTempRoot();
        in = root + FsSeparator() + "in";
        out = root + FsSeparator() + "out";
        ASSERT_EQ(FsMakeFolder(in.c_str()), FsOk);
        ASSERT_EQ(FsMakeFolder(out.c_str()), FsOk);
        SetInDirectory(in.c_str());
        SetOutDirectory(out.c_str());
        SetTranslateText(1);
        SetTextExtensions(".txt");
        fakemessage::Reset();
    }
    void TearDown() override {
        SetInDirectory("");
        SetOutDirectory("");
        storeos::RemoveTree(root);
    }

    std::string In(const std::string& relative) const { return Join(in, relative); }
    std::string Out(const std::string& relative) const { return Join(out, relative); }

    // The scan as a plain list (in scan order); the list itself is released.
    std::vector<std::string> Scan() {
        std::vector<std::string> found;
        char** list = ScanOutgoing();
        for (char** p = list; p != nullptr && *p != nullptr; ++p) found.push_back(*p);
        ReleaseFileList(list, false);
        return found;
    }

    // Receives an empty file under a path as the receiving side does: the
    // path it got, or "<failed>".
    std::string Receive(const std::string& sent) {
        char path[ReceivePathSize] = {};
        snprintf(path, sizeof path, "%s", sent.c_str());
        if (PrepareIncomingFile(path)) return "<failed>";
        if (FinishIncomingFile(OpenIncomingFile(), path)) {
            DiscardIncomingFile();
            return "<failed>";
        }
        return path;
    }

    std::string root, in, out;
};

// ---------------------------------------------------------------- the scan

TEST_F(StoreTest, ScanListsFilesDepthFirstAndSkipsUnsentFoldersAtAnyDepth) {
    for (const char* file : {"a.txt", "sub\\b.txt", "sub\\deeper\\c.txt", "sub\\d.txt",
                             "sub\\!UNSENT\\x.txt", "!unsent\\y.txt", "sub\\deeper\\!Unsent\\z",
                             "other\\!unsent", "top.bin"})
        Put(out, file, "x");

    std::vector<std::string> found = Scan();

    EXPECT_EQ(Sorted(found), (std::vector<std::string>{"a.txt", "other\\!unsent", "sub\\b.txt",
                                                      "sub\\d.txt", "sub\\deeper\\c.txt",
                                                      "top.bin"}));
    // Depth first: everything below sub comes in one run, whatever the order.
    auto inSub = [](const std::string& s) { return s.rfind("sub\\", 0) == 0; };
    auto first = std::find_if(found.begin(), found.end(), inSub);
    auto last = std::find_if(found.rbegin(), found.rend(), inSub).base();
    EXPECT_EQ(std::count_if(first, last, inSub), 3);
}

TEST_F(StoreTest, ScanOfAnEmptyOrMissingOutgoingFolderFindsNothing) {
    EXPECT_EQ(ScanOutgoing(), nullptr);
    SetOutDirectory((root + FsSeparator() + "missing").c_str());
    EXPECT_EQ(ScanOutgoing(), nullptr);
    SetOutDirectory("");
    EXPECT_EQ(ScanOutgoing(), nullptr);
    EXPECT_EQ(fakemessage::Count(), 0);
}

// Four folders of 250 characters make a prefix of 1003; the name decides.
TEST_F(StoreTest, ScanListsPathsUpTo1019CharactersOnly) {
    const std::string prefix = std::string(250, 'a') + "\\" + std::string(250, 'b') + "\\" +
                               std::string(250, 'c') + "\\" + std::string(250, 'd');
    ASSERT_EQ(prefix.size(), 1003u);
    struct Case { size_t nameLength; bool listed; };
    for (Case c : {Case{15, true}, Case{16, false}}) {
        SCOPED_TRACE(c.nameLength);
        const std::string path = prefix + "\\" + std::string(c.nameLength, 'f');
        Put(out, path, "deep");
        std::string folder = Out(prefix);
        ASSERT_TRUE(storeos::SetAge(folder, 600));

        std::vector<std::string> found = Scan();

        EXPECT_EQ(found, c.listed ? std::vector<std::string>{path} : std::vector<std::string>{});
        // Listed or not, the file is an entry: its old folder stays.
        EXPECT_TRUE(FsIsFolder(folder.c_str()));
        ASSERT_TRUE(FsDeleteFile(Out(path).c_str()));
    }
}

TEST_F(StoreTest, EmptySubFoldersGoOnlyWhenOlderThanAMinute) {
    struct Case { const char* folder; int age; bool kept; };
    const Case cases[] = {
        {"old", 120, false},
        {"fresh", 0, true},
        {"nearly", 30, true},
        {"holdsunsent", 120, true},   // "!unsent" inside makes it not empty
        {"outer", 120, true},          // had an entry in this scan
        {"outer\\inner", 120, false},
    };
    Put(out, "holdsunsent\\!unsent\\kept.txt", "k");
    for (const Case& c : cases) ASSERT_NE(FsMakeFolder(Out(c.folder).c_str()), FsFailed);
    for (const Case& c : cases) ASSERT_TRUE(storeos::SetAge(Out(c.folder), c.age)) << c.folder;
    ASSERT_TRUE(storeos::SetAge(out, 3600));

    EXPECT_EQ(ScanOutgoing(), nullptr);

    for (const Case& c : cases) EXPECT_EQ(FsIsFolder(Out(c.folder).c_str()), c.kept) << c.folder;
    EXPECT_TRUE(FsIsFolder(out.c_str()));  // the outgoing folder itself always stays
    EXPECT_EQ(Get(Out("holdsunsent\\!unsent\\kept.txt")), "k");
}

// Files still being written wait for a later scan; partial files of an
// incoming transfer sharing the folder are never offered.
TEST_F(StoreTest, ScanOffersOnlySettledFilesAndNeverPartialOnes) {
    struct Case { const char* name; int secondsAgo; bool listed; };
    const Case cases[] = {
        {"now.bin", 0, false},
        {"second.bin", 1, false},
        {"settled.bin", 3, true},
        {"old.bin", 600, true},
        {"future.bin", -3600, true},  // a time that came with the file
        {"!partial.0", 600, false},
        {"sub\\!PARTIAL.17", 600, false},
        {"!partial.x", 600, true},   // not a name partial files have
        {"_partial.0", 600, true},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        Put(out, c.name, "x");
        ASSERT_TRUE(storeos::SetAge(Out(c.name), c.secondsAgo)) << c.name;
        if (c.listed) expected.push_back(c.name);
    }
    EXPECT_EQ(Sorted(Scan()), Sorted(expected));
    EXPECT_TRUE(FsIsFolder(Out("sub").c_str())) << "a folder with a partial file is not empty";
}

// ---------------------------------------------------------- unsent folder

TEST_F(StoreTest, ReleaseMovesEveryUnsentEntryWithItsSubPath) {
    Put(out, "a.txt", "new a");
    Put(out, "sub\\b.txt", "b");
    Put(out, "sub\\deep\\c.txt", "c");
    Put(out, "!unsent\\a.txt", "old a");
    char** list = ScanOutgoing();
    ASSERT_NE(list, nullptr);
    for (char** p = list; *p != nullptr; ++p) {
        if (strcmp(*p, "sub\\b.txt") == 0) {  // as the sending side marks a sent file
            DeleteStoredFile(*p, BaseOutgoing);
            (*p)[0] = '\0';
        }
    }

    ReleaseFileList(list, true);

    EXPECT_EQ(Tree(out), (std::vector<std::string>{"!unsent\\", "!unsent\\a.txt",
                                                  "!unsent\\sub\\", "!unsent\\sub\\deep\\",
                                                  "!unsent\\sub\\deep\\c.txt", "sub\\",
                                                  "sub\\deep\\"}));
    EXPECT_EQ(Get(Out("!unsent\\a.txt")), "new a");
    EXPECT_EQ(Get(Out("!unsent\\sub\\deep\\c.txt")), "c");
    EXPECT_EQ(ScanOutgoing(), nullptr);
}

TEST_F(StoreTest, ReleaseWithoutMovingLeavesTheFilesInPlace) {
    Put(out, "a.txt", "a");
    Put(out, "sub\\b.txt", "b");
    ReleaseFileList(ScanOutgoing(), false);
    EXPECT_EQ(Tree(out), (std::vector<std::string>{"a.txt", "sub\\", "sub\\b.txt"}));
}

// ----------------------------------------------------------- incoming names

TEST_F(StoreTest, ClashingNamesAreNumberedBeforeTheFirstDot) {
    struct Case { const char* sent; const char* created; };
    const Case cases[] = {
        {"a.txt", "a.txt"},         {"a.txt", "a1.txt"},
        {"a.txt", "a2.txt"},        {"a.b.txt", "a.b.txt"},
        {"a.b.txt", "a1.b.txt"},    {"readme", "readme"},
        {"readme", "readme1"},      {"docs\\letters\\a.txt", "docs\\letters\\a.txt"},
        {"docs\\letters\\a.txt", "docs\\letters\\a1.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Receive(c.sent), c.created);
        EXPECT_EQ(Get(In(c.created)), "") << c.created;  // a new empty file
    }
    EXPECT_EQ(Tree(in).size(), 11u);  // nine files and two folders
}

// The final name is chosen against everything in the folder, partial files of
// other transfers included, and again at the end if it was taken meanwhile;
// no received name can pass for a partial file.
TEST_F(StoreTest, IncomingNamesNeverClashWithPartialFiles) {
    Put(in, "!partial.0", "another run's partial file");
    Put(in, "a.txt", "there before");
    char path[ReceivePathSize] = "a.txt";
    ASSERT_FALSE(PrepareIncomingFile(path));
    EXPECT_STREQ("a1.txt", path);
    EXPECT_EQ(Get(In("!partial.1")), "") << "the data goes to a partial file of its own";
    EXPECT_EQ(Get(In("a1.txt")), "<none>") << "nothing under the final name yet";
    Put(in, "a1.txt", "arrived meanwhile");
    ASSERT_FALSE(FinishIncomingFile(OpenIncomingFile(), path));
    EXPECT_STREQ("a2.txt", path);
    EXPECT_EQ(Get(In("a1.txt")), "arrived meanwhile");
    EXPECT_EQ(Get(In("a2.txt")), "");
    EXPECT_EQ(Get(In("!partial.0")), "another run's partial file");
    EXPECT_EQ(Get(In("!partial.1")), "<none>");

    struct Case { const char* sent; const char* stored; };
    const Case cases[] = {
        {"!partial.0", "_partial.0"},
        {"sub\\!PARTIAL.12", "sub\\_PARTIAL.12"},
        {"!partial.", "!partial."},
        {"!partial.1x", "!partial.1x"},
    };
    for (const Case& c : cases) {
        if (OnWindows() && c.sent[strlen(c.sent) - 1] == '.') continue;  // a trailing dot goes
        EXPECT_EQ(Receive(c.sent), c.stored) << c.sent;
    }
}

// A run that ended mid-file left its partial file; the next one removes every
// partial file below the incoming folder and nothing else.
TEST_F(StoreTest, LeftoverPartialFilesAreRemovedAtStart) {
    for (const char* name : {"!partial.0", "sub\\deep\\!partial.3", "!PARTIAL.999", "a.txt",
                             "!partial.x", "_partial.0", "!partial.4\\kept.txt"})
        Put(in, name, "x");
    Put(out, "!partial.5", "outgoing is not touched");

    RemoveIncomingLeftovers();

    EXPECT_EQ(Tree(in), (std::vector<std::string>{"!partial.4\\", "!partial.4\\kept.txt",
                                                 "!partial.x", "_partial.0", "a.txt", "sub\\",
                                                 "sub\\deep\\"}));
    EXPECT_EQ(Get(Out("!partial.5")), "outgoing is not touched");
    SetInDirectory((root + FsSeparator() + "missing").c_str());
    RemoveIncomingLeftovers();  // no incoming folder: nothing to do, no harm
}

// Every received component is made safe and the result stays in the incoming
// folder; on Windows device names and trailing dots and spaces are renamed too.
TEST_F(StoreTest, HostilePathsArriveUnderSafeNamesInsideTheIncomingFolder) {
    struct Case { const char* sent; const char* posix; const char* windows; };
    const Case cases[] = {
        {"a:b|c.txt", "a_b_c.txt", "a_b_c.txt"},
        {"x<y>z\"q.txt", "x_y_z_q.txt", "x_y_z_q.txt"},
        {"ctl\x01\x1f.txt", "ctl__.txt", "ctl__.txt"},
        {"caf\xe9.txt", "caf\xe9.txt", "caf\xe9.txt"},
        {"..\\..\\escape.txt", "__\\__\\escape.txt", "__\\__\\escape.txt"},
        {"\\lead.txt", "lead.txt", "lead.txt"},
        {"two\\\\slashes.txt", "two\\slashes.txt", "two\\slashes.txt"},
        {".\\dot.txt", "dot.txt", "dot.txt"},
        {"C:\\drive.txt", "C_\\drive.txt", "C_\\drive.txt"},
        {"/x/y.txt", "_x_y.txt", "_x_y.txt"},
        {"sub/../../x", "sub_.._.._x", "sub_.._.._x"},
        {"..", "__1", "__1"},  // a folder "__" exists by now
        {".", "_", "_"},
        {"", "_1", "_1"},  // "_" exists by now
        {"dir\\", "dir\\_", "dir\\_"},
        {"CON.txt", "CON.txt", "_CON.txt"},
        {"aux", "aux", "_aux"},
        {"lpt9\\x.txt", "lpt9\\x.txt", "_lpt9\\x.txt"},
        {"trail.", "trail.", "trail_"},
        {"space ", "space ", "space_"},
        {"...", "...", ".._"},
        {"COM.txt", "COM.txt", "COM.txt"},
        {"COM.txt", "COM1.txt", "COM10.txt"},  // COM1 to COM9 are ports
    };
    for (const Case& c : cases) {
        const char* expected = OnWindows() ? c.windows : c.posix;
        EXPECT_EQ(Receive(c.sent), expected) << c.sent;
        EXPECT_EQ(Get(In(expected)), "") << expected;
    }
    for (const std::string& entry : Tree(root))
        EXPECT_TRUE(entry.rfind("in\\", 0) == 0 || entry == "out\\") << entry;
    EXPECT_FALSE(storeos::Exists(Join(root, "..\\escape.txt")));
}

TEST_F(StoreTest, PathsThatCannotBeStoredFailWithoutWritingPastTheBuffer) {
    struct Case { std::string sent; };
    const std::string folder200(200, 'd');
    const std::string nearlyFull = folder200 + "\\" + folder200 + "\\" + folder200 + "\\" +
                                   folder200 + "\\" + folder200 + "\\" + std::string(94, 'n');
    ASSERT_EQ(nearlyFull.size(), size_t{ReceivePathSize - 1});
    const Case cases[] = {
        {std::string(260, 'n')},                     // final name too long
        {std::string(260, 'f') + "\\name.txt"},      // folder name too long
        {nearlyFull},                                // taken: a digit would not fit
    };
    Put(in, nearlyFull, "there before");
    for (const Case& c : cases) {
        char buffer[ReceivePathSize + 16];
        memset(buffer, '#', sizeof buffer);
        memcpy(buffer, c.sent.c_str(), c.sent.size() + 1);
        EXPECT_TRUE(PrepareIncomingFile(buffer)) << c.sent.substr(0, 20);
        EXPECT_EQ(std::string(buffer, c.sent.size()), c.sent);
        EXPECT_EQ(std::string(buffer + ReceivePathSize, 16), std::string(16, '#'));
    }
    char unterminated[ReceivePathSize];
    memset(unterminated, 'u', sizeof unterminated);
    EXPECT_TRUE(PrepareIncomingFile(unterminated));
    EXPECT_EQ(Get(In(nearlyFull)), "there before");
    EXPECT_EQ(Tree(in).size(), 6u);  // only what Put made
}

TEST_F(StoreTest, OpenAndDeleteActOnlyBelowTheirBase) {
    Put(root, "victim.txt", "keep me");
    Put(in, "inside.txt", "in");
    const char* hostile[] = {"..\\victim.txt", "x\\..\\..\\victim.txt", "..",
                             "", "\\inside.txt", "/inside.txt"};
    const std::string rootVictim = Join(root, "victim.txt");
    const std::string absolute = rootVictim;  // a full path sent as if relative
    for (StoreBase base : {BaseIncoming, BaseOutgoing}) {
        for (const char* path : hostile) {
            EXPECT_EQ(OpenStoredFile(path, base), kNoFile) << path;
            DeleteStoredFile(path, base);
        }
        EXPECT_EQ(OpenStoredFile(absolute.c_str(), base), kNoFile);
        DeleteStoredFile(absolute.c_str(), base);
    }
    EXPECT_EQ(Get(rootVictim), "keep me");
    EXPECT_EQ(Get(In("inside.txt")), "in");
    DeleteStoredFile("inside.txt", BaseIncoming);
    EXPECT_EQ(Get(In("inside.txt")), "<none>");
}

// Links planted in either folder must not lead the store anywhere else.
TEST_F(StoreTest, SymbolicLinksAreNeverFollowed) {
    const std::string outside = root + FsSeparator() + "outside";
    Put(root, "outside\\target.txt", "outside");
    if (!storeos::MakeSymlink(outside, In("link")))
        GTEST_SKIP() << "no symbolic links on this platform";
    ASSERT_TRUE(storeos::MakeSymlink(Join(outside, "target.txt"), In("a.txt")));
    ASSERT_TRUE(storeos::MakeSymlink(outside, Out("linked")));
    ASSERT_TRUE(storeos::MakeSymlink(Join(outside, "target.txt"), Out("linked.txt")));
    Put(out, "real.txt", "r");

    EXPECT_EQ(Receive("link\\evil.txt"), "<failed>");
    EXPECT_EQ(Receive("a.txt"), "a1.txt");
    EXPECT_EQ(OpenStoredFile("a.txt", BaseIncoming), kNoFile);
    EXPECT_EQ(OpenStoredFile("link\\target.txt", BaseIncoming), kNoFile);
    DeleteStoredFile("link\\target.txt", BaseIncoming);
    EXPECT_EQ(Scan(), std::vector<std::string>{"real.txt"});

    EXPECT_EQ(Tree(outside), std::vector<std::string>{"target.txt"});
    EXPECT_EQ(Get(Join(outside, "target.txt")), "outside");
    EXPECT_TRUE(storeos::Exists(In("a.txt")));
}

TEST(DisplayNameTest, ShowsTheLastComponentUnlessOneIsTooLong) {
    struct Case { std::string path; std::string shown; };
    const Case cases[] = {
        {"a\\b\\c.txt", "c.txt"},
        {"name", "name"},
        {"dir\\", ""},
        {"a\\" + std::string(259, 'n'), std::string(259, 'n')},
        {"a\\" + std::string(260, 'x') + "\\b.txt", ""},
        {std::string(260, 'n'), ""},
    };
    for (const Case& c : cases) {
        char shown[DisplayNameSize];
        memset(shown, '#', sizeof shown);
        DisplayName(c.path.c_str(), shown);
        EXPECT_EQ(shown, c.shown) << c.path.substr(0, 20);
    }
}

// ------------------------------------------------------------- text files

TEST(IsTextFileTest, MatchesTheWholeSuffixFromTheFirstDot) {
    struct Case { const char* list; const char* name; bool text; };
    const std::string suffix30 = "." + std::string(29, 'x');
    const std::string suffix31 = "." + std::string(30, 'x');
    const std::string longList = suffix30 + " " + suffix31;
    const std::string name30 = "a" + suffix30;
    const std::string name31 = "a" + suffix31;
    const Case cases[] = {
        {".txt", "report.txt", true},
        {".txt", "archive.old.txt", false},
        {".old.txt", "archive.old.txt", true},
        {".txt", "REPORT.TXT", true},
        {".txt", "Report.Txt", true},
        {".txt", "readme", false},
        {".txt", "txt", false},
        {".txt .bat .ini", "a.bat", true},
        {".txt .bat .ini", "a.ini", true},
        {".txt .bat .ini", "a.in", false},
        {".txt .bat .ini", "a.tx", false},
        {" .txt", "a.txt", true},
        {"", "a.txt", false},
        {longList.c_str(), name30.c_str(), true},
        {longList.c_str(), name31.c_str(), false},  // over 30: never text
    };
    for (const Case& c : cases) {
        SetTextExtensions(c.list);
        EXPECT_EQ(IsTextFile(c.name), c.text) << c.list << " / " << c.name;
    }
    SetTextExtensions("");
}

struct LineEndCase {
    const char* name;
    uint8_t translate;
    std::vector<std::string> blocks;
    std::string stored;
};

class LineEndTest : public StoreTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(LineEndTest, StoresWhatTheBlocksSayWithCrLfLineEnds) {
    const LineEndCase& c = GetParam();
    SetTranslateText(c.translate);
    std::string path = Receive(c.name);
    FsHandle h = OpenStoredFile(path.c_str(), BaseIncoming);
    ASSERT_NE(h, kNoFile);
    for (const std::string& block : c.blocks) {
        EXPECT_FALSE(WriteIncoming(h, reinterpret_cast<const uint8_t*>(block.data()),
                                   static_cast<int>(block.size())));
    }
    CloseStoredFile(h);
    EXPECT_EQ(Get(In(path)), c.stored);
}

const std::string kLong(1023, 'x');

INSTANTIATE_TEST_SUITE_P(
    Blocks, LineEndTest,
    ::testing::Values(
        LineEndCase{"a.txt", 1, {"one\r\ntwo\r\n"}, "one\r\ntwo\r\n"},
        LineEndCase{"a.txt", 1, {"one\ntwo\n"}, "one\r\ntwo\r\n"},
        LineEndCase{"a.txt", 1, {"one\rtwo\r"}, "one\r\ntwo\r\n"},
        LineEndCase{"a.txt", 1, {"\n\n"}, "\r\n\r\n"},
        LineEndCase{"a.txt", 1, {"one\r\r\ntwo"}, "one\r\n\r\ntwo"},
        LineEndCase{"a.txt", 1, {"one\r", "\ntwo"}, "one\r\ntwo"},    // CR LF split
        LineEndCase{"a.txt", 1, {"one\r", "two"}, "one\r\ntwo"},      // lone CR at the end
        LineEndCase{"a.txt", 1, {"one\r", "\r\n"}, "one\r\n\r\n"},
        LineEndCase{"a.txt", 1, {"one\n", "\ntwo"}, "one\r\n\r\ntwo"},
        LineEndCase{"a.txt", 1, {kLong + "\r\n" + kLong}, kLong + "\r\n" + kLong},
        LineEndCase{"a.txt", 0, {"one\ntwo\r", "\nx\r"}, "one\ntwo\r\nx\r"},
        LineEndCase{"data.bin", 1, {"one\ntwo\r", "\nx\r"}, "one\ntwo\r\nx\r"},
        // LF line ends, as the Linux front end may ask for them.
        LineEndCase{"a.txt", 2, {"one\r\ntwo\r\n"}, "one\ntwo\n"},
        LineEndCase{"a.txt", 2, {"one\rtwo\r"}, "one\ntwo\n"},
        LineEndCase{"a.txt", 2, {"one\n\ntwo"}, "one\n\ntwo"},
        LineEndCase{"a.txt", 2, {"one\r", "\ntwo"}, "one\ntwo"},        // CR LF split
        LineEndCase{"a.txt", 2, {"one\r", "\r\n"}, "one\n\n"},
        LineEndCase{"a.txt", 2, {kLong + "\r", "\n" + kLong}, kLong + "\n" + kLong},
        LineEndCase{"data.bin", 2, {"a\r\nb\r"}, "a\r\nb\r"}));

TEST_F(StoreTest, LineEndCarryDoesNotReachTheNextFile) {
    std::string first = Receive("first.txt");
    FsHandle h = OpenStoredFile(first.c_str(), BaseIncoming);
    ASSERT_FALSE(WriteIncoming(h, reinterpret_cast<const uint8_t*>("a\r"), 2));
    CloseStoredFile(h);
    std::string second = Receive("second.txt");
    h = OpenStoredFile(second.c_str(), BaseIncoming);
    ASSERT_FALSE(WriteIncoming(h, reinterpret_cast<const uint8_t*>("\nb"), 2));
    CloseStoredFile(h);
    EXPECT_EQ(Get(In(first)), "a\r\n");
    EXPECT_EQ(Get(In(second)), "\r\nb");
}

TEST_F(StoreTest, WritesThatFailAreReported) {
    Put(out, "reading.txt", "");
    ASSERT_EQ(Receive("text.txt"), "text.txt");
    for (uint8_t translate : {1, 0}) {
        SetTranslateText(translate);
        FsHandle h = OpenStoredFile("reading.txt", BaseOutgoing);  // open for reading only
        ASSERT_NE(h, kNoFile);
        EXPECT_TRUE(WriteIncoming(h, reinterpret_cast<const uint8_t*>("x\n"), 2));
        CloseStoredFile(h);
        EXPECT_TRUE(WriteIncoming(kNoFile, reinterpret_cast<const uint8_t*>("x"), 1));
    }
}

// ------------------------------------------------------ sizes and reading

TEST_F(StoreTest, SizesBeyondTwoGibibytesAreUnknown) {
    struct Case { int64_t length; int32_t size; };
    const Case cases[] = {
        {0, 0}, {100, 100}, {INT64_C(2147483647), 2147483647}, {INT64_C(2147483648), -1},
    };
    Put(out, "sized.bin", "");
    for (const Case& c : cases) {
        ASSERT_TRUE(storeos::SetFileLength(Out("sized.bin"), c.length));
        FsHandle h = OpenStoredFile("sized.bin", BaseOutgoing);
        ASSERT_NE(h, kNoFile);
        EXPECT_EQ(StoredFileSize(h), c.size) << c.length;
        CloseStoredFile(h);
    }
    EXPECT_EQ(StoredFileSize(kNoFile), -1);
}

TEST_F(StoreTest, ReadsSucceedOnlyWhenEveryByteArrives) {
    Put(out, "sub\\hundred.bin", std::string(100, 'h'));
    FsHandle h = OpenStoredFile("sub\\hundred.bin", BaseOutgoing);
    ASSERT_NE(h, kNoFile);
    uint8_t buffer[128];
    EXPECT_FALSE(ReadOutgoing(h, buffer, 60));
    EXPECT_TRUE(ReadOutgoing(h, buffer, 60));  // only 40 left
    EXPECT_TRUE(ReadOutgoing(h, buffer, 1));   // at the end
    CloseStoredFile(h);
    EXPECT_EQ(OpenStoredFile("sub\\missing.bin", BaseOutgoing), kNoFile);
    EXPECT_EQ(OpenStoredFile("sub", BaseOutgoing), kNoFile);  // a folder is no file
}
}  // namespace
