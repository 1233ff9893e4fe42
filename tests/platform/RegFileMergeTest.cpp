// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileMerge.h"

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

// Only what the program reads is merged: the client's servers and the
// program's settings, never its password key nor an add-in.
TEST(RegFileMergeTest, KeysTheProgramReadsAreMergedOnceInFileOrderAndTheRestIsSkipped) {
    const std::string client = "Software\\Microsoft\\Terminal Server Client";
    const std::string user = "[HKEY_CURRENT_USER\\" + client;
    const auto merge = PlanRegMerge(
        "; exported\nWindows Registry Editor Version 5.00\n\nstray line\n\n" + user +
        "\\Default]\n\"MRU0\"=\"1\"\n\"Other\"=\"x\"\n\n"
        "[HKEY_CURRENT_USER\\software\\microsoft\\terminal server client\\DEFAULT]\n"
        "\"mru9\"=dword:00000002\n\n"
        "[hkcu\\Software\\VANDRELLE]\n\"KEY\"=hex:01\n\"Maximized\"=dword:00000000\n\n" +
        user + "\\Default\\AddIns\\Helper]\n\"Name\"=\"/tmp/x/evil.so\"\n\n" + user +
        "\\Servers\\h1]\n\"UsernameHint\"=\"bob\"\n\"CertHash\"=hex:01\n\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n");
    ASSERT_TRUE(merge.has_value());
    const std::vector<std::pair<std::string, std::vector<std::string>>> keys = {
        {client + "\\Default", {"MRU0", "mru9"}},
        {"Software\\VANDRELLE", {"Maximized"}},
        {client + "\\Servers\\h1", {"UsernameHint"}}};
    ASSERT_EQ(merge->keys.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(merge->keys[i].path, keys[i].first);
        EXPECT_EQ(Names(merge->keys[i]), keys[i].second) << keys[i].first;
    }
    // Each skipped line is reported with its reason; one check of the wording.
    ASSERT_EQ(merge->skipped.size(), 6u);
    EXPECT_TRUE(test::HasText(merge->skipped[3], "\\AddIns\\Helper]: add-ins are never imported"));
    EXPECT_EQ(PlanRegMerge("not a registry file\n"), std::nullopt);
    EXPECT_TRUE(PlanRegMerge("; nothing but comments\n\n")->keys.empty());
}

}  // namespace
}  // namespace vandrelle
