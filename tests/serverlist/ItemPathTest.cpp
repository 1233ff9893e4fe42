// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vandrelle;

namespace {

std::u16string Units(const PathBuffer& path, std::size_t count) {
    return std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace

TEST(ItemPath, NamesEachEndedByANulAndTheWholeByAnEmptyName) {
    PathBuffer path;
    path.fill(u'x');
    BuildItemPath({}, path);
    EXPECT_EQ(Units(path, 2), std::u16string(2, u'\0'));  // the root

    BuildItemPath({u"G", u"S"}, path);
    EXPECT_EQ(Units(path, 5), std::u16string(u"G\0S\0\0", 5));
    EXPECT_TRUE(std::all_of(path.begin() + 5, path.end(), [](char16_t c) { return c == 0; }));
    EXPECT_EQ(NodePathFromBuffer(path), NodePath({"G", "S"}));
}

// A path cut to fit could name another node: one that does not fit is not given.
TEST(ItemPath, APathIsWholeOrNotGiven) {
    const auto zero = [](const PathBuffer& p) {
        return std::all_of(p.begin(), p.end(), [](char16_t c) { return c == 0; });
    };
    PathBuffer path;
    // 1022 units and a NUL, then the empty name: the buffer exactly.
    const std::u16string whole(1022, u'c');
    EXPECT_TRUE(BuildItemPath({whole}, path));
    EXPECT_EQ(Units(path, 1024), whole + u'\0' + u'\0');
    EXPECT_TRUE(BuildItemPath({std::u16string(1020, u'c'), u"d"}, path));
    EXPECT_EQ(NodePathFromBuffer(path).Names().size(), 2u);
    for (const auto& labels : std::vector<std::vector<std::u16string_view>>{
             {std::u16string(1023, u'a')},
             {std::u16string(1021, u'a'), u"d"},
             {std::u16string(1000, u'a'), std::u16string(100, u'b')}}) {
        path.fill(u'x');
        EXPECT_FALSE(BuildItemPath(labels, path));
        EXPECT_TRUE(zero(path));
    }
}

// Two servers whose paths agree for 600 units are two servers.
TEST(ItemPath, TheWholePathIdentifiesASession) {
    PathBuffer a, b;
    const std::u16string prefix(600, u'p');
    BuildItemPath({prefix, u"one"}, a);
    BuildItemPath({prefix, u"two"}, b);
    EXPECT_FALSE(SameIdentity(a, b));
    BuildItemPath({prefix, u"one"}, b);
    EXPECT_TRUE(SameIdentity(a, b));
}
