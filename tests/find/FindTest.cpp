// SPDX-License-Identifier: GPL-3.0-or-later
// Finding servers: folding, the typed words, the marks and the index's
// matches, groups and ranking.
#include "ServerIndex.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vandrelle;

// Text is folded for matching, typed text is split into folded words, and
// every occurrence is marked on character boundaries.
TEST(FindText, FoldsTypedWordsAndMarksEveryOccurrence) {
    const std::pair<std::string, std::string> folded[] = {
        {"ÉCOLE Ünï", "ecole uni"}, {"u\xCC\x88", "u"},    {"ΩMEGA-12", "ωmega-12"},
        {"\xFF", "\xEF\xBF\xBD"},   {"\xE2\x84\xAA", "k"},  // the Kelvin sign
    };
    for (const auto& [in, out] : folded)
        EXPECT_EQ(FoldForMatch(in), out) << testing::PrintToString(in);
    const FindQuery query = ParseQuery("  Web\t12\xC2\xA0Zü ");
    EXPECT_EQ(query.words, (std::vector<std::string>{"web", "12", "zu"}));
    EXPECT_EQ(query.whole, "web 12 zu");
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    const std::tuple<std::string, std::string, Ranges> marked[] = {
        // label, typed, marks
        {"Zürich Web", "zu web", {{0, 3}, {8, 11}}},
        {"web web", "WEB", {{0, 3}, {4, 7}}},
        {"aaaa", "aa", {{0, 4}}},
        {"naïve", "i", {{2, 4}}},
        {"xu\xCC\x88y", "u", {{1, 4}}},  // the dropped mark goes with its letter
    };
    for (const auto& [label, typed, marks] : marked)
        EXPECT_EQ(MatchRanges(label, ParseQuery(typed)), marks) << testing::PrintToString(label);
}

namespace {

// Europe / Zürich / {db1, web12}, Europe / Empty, then Web, big web farm,
// cobweb and mail at the top: the order a listing shows.
struct Tree {
    Tree() {
        const int europe = index.AddGroup(ServerIndex::kTop, "Europe");
        const int zurich = index.AddGroup(europe, "Zürich");
        Add(zurich, {"db1", "db1.zh.test", "Main DB", "ops"});
        Add(zurich, {"web12", "10.1.0.12", "", "ops"});
        index.AddGroup(europe, "Empty");
        Add(ServerIndex::kTop, {"Web", "web.test", "", "admin"});
        Add(ServerIndex::kTop, {"big web farm", "farm", "", ""});
        Add(ServerIndex::kTop, {"cobweb", "cw", "", ""});
        Add(ServerIndex::kTop, {"mail", "webmail.test", "", ""});
    }
    void Add(int group, const ServerFields& fields) {
        index.AddServer(group, fields);
        names.emplace_back(fields.name);
    }
    std::string Ranked(const std::string& typed) const {
        std::string out;
        for (const int s : index.Find(ParseQuery(typed)).ranked) out += names[s] + ";";
        return out;
    }
    ServerIndex index;
    std::vector<std::string> names;
};

}  // namespace

// Every typed word matches somewhere, best first; groups show on the way to
// a match or when they match themselves.
TEST(ServerIndex, EveryWordMatchesSomewhereBestFirstAndGroupsShowOnTheWay) {
    const Tree tree;
    const std::pair<std::string, std::string> rows[] = {
        // equal name, name start, word of the name, host, anything else
        {"web", "Web;web12;big web farm;mail;cobweb;"},
        {"zurich", "db1;web12;"},  // a group above
        {"ZÜR web", "web12;"},     // words in the group and the name
        {"main db", "db1;"},       // the description
        {"admin", "Web;"},         // the user name
        {"web nothing", ""},
    };
    for (const auto& [typed, ranked] : rows) EXPECT_EQ(tree.Ranked(typed), ranked) << typed;
    EXPECT_FALSE(tree.index.Find(ParseQuery(" ")).filtering);
    constexpr char H = FindResult::kHidden, W = FindResult::kOnTheWay, M = FindResult::kMatches;
    const std::pair<std::string, std::vector<char>> groupRows[] = {
        {"web12", {W, W, H}},  {"zurich", {W, M, H}},
        {"empty", {W, H, M}},  // shown without a server, and so is its way
        {"europe", {M, M, M}}, {"cobweb", {H, H, H}},
    };
    for (const auto& [typed, shown] : groupRows)
        EXPECT_EQ(tree.index.Find(ParseQuery(typed)).groupShown, shown) << typed;
}
