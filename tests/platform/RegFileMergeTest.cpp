// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegFileMerge.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrelle {
namespace {

// Each merged key's path and value names, in order.
using Keys = std::vector<std::pair<std::string, std::vector<std::string>>>;

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
    const Keys keys = {{client + "\\Default", {"MRU0", "mru9"}},
                       {"Software\\VANDRELLE", {"Maximized"}},
                       {client + "\\Servers\\h1", {"UsernameHint"}}};
    Keys merged;
    for (const RegMerge::Key& key : merge->keys) {
        merged.push_back({key.path, {}});
        for (const auto& [name, value] : key.values) merged.back().second.push_back(name);
    }
    EXPECT_EQ(merged, keys);
    // Each skipped line is reported with its reason; one check of the wording.
    ASSERT_EQ(merge->skipped.size(), 6u);
    EXPECT_TRUE(test::HasText(merge->skipped[3], "\\AddIns\\Helper]: add-ins are never imported"));
    EXPECT_EQ(PlanRegMerge("not a registry file\n"), std::nullopt);
    EXPECT_TRUE(PlanRegMerge("; nothing but comments\n\n")->keys.empty());
}

}  // namespace
}  // namespace vandrelle
