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
    const std::vector<std::string> skipped = {
        "stray line before the first key: not understood",
        "\"Other\" in " + user + "\\Default]: the program does not read it",
        "\"KEY\" in [hkcu\\Software\\VANDRELLE]: refused",
        "\\AddIns\\Helper]: add-ins are never imported",
        "\"CertHash\" in ",
        "[HKEY_CURRENT_USER\\Software\\Other]: the program reads nothing there"};
    ASSERT_EQ(merge->skipped.size(), skipped.size());
    for (std::size_t i = 0; i < skipped.size(); ++i) {
        EXPECT_TRUE(test::HasText(merge->skipped[i], skipped[i]));
    }
    EXPECT_EQ(PlanRegMerge("not a registry file\n"), std::nullopt);
    EXPECT_TRUE(PlanRegMerge("; nothing but comments\n\n")->keys.empty());
}

// The merge is the key store's batch write: a store that cannot be used
// stops it with its reason and stays as it is.
TEST(RegFileMergeTest, TheMergeStopsWithTheStoresReason) {
    test::TempDir dir;
    test::WriteFile(dir.file("user.reg"), "not a registry file");
    RegFileKeyStore keys(dir.file("user.reg"), dir.file("machine.reg"));
    const auto merge = PlanRegMerge(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Vandrelle]\n"
        "\"x\"=\"1\"\n");
    EXPECT_FALSE(keys.WriteKeys(Hive::CurrentUser, merge->keys));
    EXPECT_TRUE(test::HasText(keys.LastError(), "is not a registry file"));
    EXPECT_EQ(test::ReadFile(dir.file("user.reg")), "not a registry file");
}

}  // namespace
}  // namespace vandrelle
