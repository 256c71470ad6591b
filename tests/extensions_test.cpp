// The typed extension list rewritten into the form the file store reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "extensions.h"

namespace {

struct Case {
    const char* typed;
    const char* stored;
};

const Case kCases[] = {
    {"*.TXT, *.doc", " .txt .doc"},    // asterisks and the comma fold into one space each
    {".txt", ".txt"},                  // already in form: unchanged
    {"", ""},                          // an empty box stores an empty list
    {".txt,,.ini", ".txt .ini"},       // two separators in a row become one space
    {"  .txt  ", " .txt "},            // leading and trailing runs stay as one space
    {".a\t\r\n\v\f.b", ".a .b"},       // every kind of white space is a separator
    {"***", " "},                      // a run of asterisks alone
    {".C .Md .LOG", ".c .md .log"},    // A to Z only are lowered
    {".\xC4\xD6 .\xE9", ".\xC4\xD6 .\xE9"},  // bytes from 0x80 up are ordinary characters
    {".TXT\r\n.INI", ".txt .ini"},     // a line break typed in the box
};

TEST(NormalizeExtensionList, RewritesTypedListsIntoStoredForm) {
    for (const Case& c : kCases) {
        char list[256];
        strcpy(list, c.typed);
        NormalizeExtensionList(list);
        EXPECT_EQ(std::string(c.stored), list) << "typed: \"" << c.typed << "\"";
    }
}

TEST(NormalizeExtensionList, FullFieldOfSeparatorsStaysInsideTheField) {
    char list[256];
    memset(list, ',', sizeof list - 1);
    list[sizeof list - 1] = '\0';
    NormalizeExtensionList(list);
    EXPECT_STREQ(" ", list);
}

}  // namespace
