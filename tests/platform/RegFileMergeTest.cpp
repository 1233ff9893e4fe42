// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileMerge.h"

#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrelle {
namespace {

std::vector<std::string> Names(const RegMerge::Key& key) {
    std::vector<std::string> names;
    for (const auto& [name, value] : key.values) names.push_back(name);
    return names;
}

TEST(RegFileMergeTest, KeysAreMergedOnceInFileOrderAndTheRestIsSkippedWithAReason) {
    const auto merge = PlanRegMerge(
        "; exported\nWindows Registry Editor Version 5.00\n\nstray line\n; note\n\n"
        "[HKEY_CURRENT_USER\\Software\\A]\n\"x\"=\"1\"\n; a comment\n\n"
        "[HKCU\\Software\\Empty]\n\n"
        "[HKEY_CURRENT_USER\\software\\a]\n\"y\"=dword:00000002\n\"x\"=\"3\"\n\n"
        "[hkey_current_user\\Software\\VANDRELLE]\n\"KEY\"=hex:01\n\"Maximized\"=dword:00000000\n"
        "\"tab\there\"=\"v\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Vandrelle\\Sub]\n\"key\"=\"not the password key\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Bad\x1b]\n\"z\"=\"1\"\n");
    ASSERT_TRUE(merge.has_value());
    ASSERT_EQ(merge->keys.size(), 4u);
    EXPECT_EQ(merge->keys[0].path, "Software\\A");
    EXPECT_EQ(Names(merge->keys[0]), (std::vector<std::string>{"x", "y", "x"}));
    EXPECT_EQ(merge->keys[0].values[2].second.text, "3");
    EXPECT_EQ(merge->keys[1].path, "Software\\Empty");
    EXPECT_TRUE(merge->keys[1].values.empty());
    EXPECT_EQ(Names(merge->keys[2]), (std::vector<std::string>{"Maximized"}));
    EXPECT_EQ(Names(merge->keys[3]), (std::vector<std::string>{"key"}));
    ASSERT_EQ(merge->skipped.size(), 4u);
    EXPECT_EQ(merge->skipped[0], "stray line before the first key: not understood");
    EXPECT_EQ(
        merge->skipped[1].rfind("\"KEY\" in [hkey_current_user\\Software\\VANDRELLE]: refused", 0),
        0u);
    EXPECT_NE(merge->skipped[2].find("\"tab\there\" in "), std::string::npos);
    EXPECT_NE(merge->skipped[3].find("a key name cannot hold control characters"),
              std::string::npos);

    EXPECT_EQ(PlanRegMerge("not a registry file\n"), std::nullopt);
    EXPECT_TRUE(PlanRegMerge("; nothing but comments\n\n")->keys.empty());
}

// Replacing values and keeping the others is the key store's own write (the
// companion's tests show it merged); a store that cannot be used stops the
// merge with its reason and stays as it is.
TEST(RegFileMergeTest, MergeKeyStopsWithTheStoresReason) {
    test::TempDir dir;
    test::WriteFile(dir.file("user.reg"), "not a registry file");
    RegFileKeyStore keys(dir.file("user.reg"), dir.file("machine.reg"));
    const auto merge = PlanRegMerge(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"x\"=\"1\"\n");
    std::string error;
    EXPECT_FALSE(MergeKey(merge->keys.at(0), keys, &error));
    EXPECT_NE(error.find("is not a registry file"), std::string::npos) << error;
    EXPECT_EQ(test::ReadFile(dir.file("user.reg")), "not a registry file");
}

}  // namespace
}  // namespace vandrelle
