#include <gtest/gtest.h>

#include "platform/windows_rules/environment_block.hpp"

namespace quern::platform::windows {
namespace {

using Entries = std::vector<std::u16string>;

// CompareStringOrdinal ignoring case, for the ASCII names these tests use.
int compare_ignoring_ascii_case(std::u16string_view a, std::u16string_view b) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const EnvironmentEdit kBackendChanges{{{u"PYTHONUTF8", u"1"}, {u"PYTHONIOENCODING", u"utf-8"}},
                                      {u"PYTHONHOME", u"PYTHONPATH"}};

Entries edited(Entries entries) {
    return edit_environment(std::move(entries), kBackendChanges, compare_ignoring_ascii_case);
}

TEST(WindowsEnvironmentBlock, SplitsZeroEndedEntriesUpToTheEmptyOne) {
    const std::u16string block(u"=C:=C:\\work\0Path=C:\\bin\0A=b=c\0\0", 29);
    EXPECT_EQ(split_environment_block(block), (Entries{u"=C:=C:\\work", u"Path=C:\\bin", u"A=b=c"}));
    EXPECT_EQ(split_environment_block(std::u16string(u"\0", 1)), Entries{});
}

TEST(WindowsEnvironmentBlock, NamesEndAtTheFirstEqualsAfterTheFirstUnit) {
    EXPECT_EQ(environment_entry_name(u"=C:=C:\\work"), u"=C:");
    EXPECT_EQ(environment_entry_name(u"A=b=c"), u"A");
    EXPECT_EQ(environment_entry_name(u"NOVALUE"), u"NOVALUE");
}

TEST(WindowsEnvironmentBlock, SetVariablesReplaceAnySpelling) {
    EXPECT_EQ(edited({u"PYTHONUTF8=0", u"PythonIOEncoding=latin-1"}),
              (Entries{u"PYTHONIOENCODING=utf-8", u"PYTHONUTF8=1"}));
}

TEST(WindowsEnvironmentBlock, RemovedVariablesGoInAnySpelling) {
    EXPECT_EQ(edited({u"pythonpath=C:\\lib", u"PYTHONHOME=C:\\py", u"PythonPath=x", u"KEEP=1"}),
              (Entries{u"KEEP=1", u"PYTHONIOENCODING=utf-8", u"PYTHONUTF8=1"}));
}

TEST(WindowsEnvironmentBlock, OtherEntriesStayUnchangedAndSortedIgnoringCase) {
    EXPECT_EQ(edited({u"windir=C:\\Windows", u"Path=C:\\bin", u"=C:=C:\\work", u"b=2", u"A=1", u"PYTHONPATHX=y"}),
              (Entries{u"=C:=C:\\work", u"A=1", u"b=2", u"Path=C:\\bin", u"PYTHONIOENCODING=utf-8",
                       u"PYTHONPATHX=y", u"PYTHONUTF8=1", u"windir=C:\\Windows"}));
}

TEST(WindowsEnvironmentBlock, BlockEndsInTwoZeros) {
    EXPECT_EQ(make_environment_block({u"A=1", u"B=2"}), std::u16string(u"A=1\0B=2\0\0", 9));
    EXPECT_EQ(make_environment_block({}), std::u16string(u"\0\0", 2));
}

TEST(WindowsEnvironmentBlock, BlockSplitsBackIntoTheEditedEntries) {
    const Entries entries = edited({u"PYTHONUTF8=0", u"HOME=C:\\Users\\q", u"pythonpath=x"});
    EXPECT_EQ(split_environment_block(make_environment_block(entries)), entries);
}

}  // namespace
}  // namespace quern::platform::windows
