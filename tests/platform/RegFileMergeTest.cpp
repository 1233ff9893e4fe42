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

TEST(RegFileMergeTest, MergeKeyReplacesValuesOfTheSameNameAndKeepsTheOthers) {
    test::TempDir dir;
    test::WriteFile(dir.file("user.reg"),
                    "Windows Registry Editor Version 5.00\n\n; mine\n"
                    "[HKEY_CURRENT_USER\\Software\\A]\n\"X\"=\"old\"\n\"kept\"=\"k\"\n");
    RegFileKeyStore keys(dir.file("user.reg"), dir.file("machine.reg"));
    const auto merge = PlanRegMerge(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\A]\n"
        "\"x\"=\"new\"\n\"n\"=dword:00000007\n\n[HKEY_CURRENT_USER\\Software\\B\\C]\n");
    std::string error;
    for (const RegMerge::Key& key : merge->keys) ASSERT_TRUE(MergeKey(key, keys, &error)) << error;
    const auto a = keys.OpenKey(Hive::CurrentUser, "Software\\A");
    EXPECT_EQ(a->ReadString("X"), "new");
    EXPECT_EQ(a->ReadString("kept"), "k");
    EXPECT_EQ(a->ReadDword("n"), 7u);
    EXPECT_NE(keys.OpenKey(Hive::CurrentUser, "Software\\B\\C"), nullptr);
    EXPECT_NE(test::ReadFile(dir.file("user.reg")).find("; mine\n"), std::string::npos);

    test::WriteFile(dir.file("user.reg"), "not a registry file");
    EXPECT_FALSE(MergeKey(merge->keys[0], keys, &error));
    EXPECT_NE(error.find("is not a registry file"), std::string::npos) << error;
    EXPECT_EQ(test::ReadFile(dir.file("user.reg")), "not a registry file");
}

}  // namespace
}  // namespace vandrelle
