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

bool AllZero(const PathBuffer& p, std::size_t from = 0) {
    return std::all_of(p.begin() + static_cast<std::ptrdiff_t>(from), p.end(),
                       [](char16_t c) { return c == 0; });
}

}  // namespace

// Each name ends with a NUL and the whole with an empty name; a path that
// does not fit is not given at all, since one cut to fit could name another
// node.
TEST(ItemPath, NamesEndedByNulsAndWholeOrNotGiven) {
    PathBuffer path;
    path.fill(u'x');
    EXPECT_TRUE(BuildItemPath({}, path));
    EXPECT_TRUE(AllZero(path));  // the root
    EXPECT_TRUE(BuildItemPath({u"G", u"S"}, path));
    EXPECT_EQ(Units(path, 5), std::u16string(u"G\0S\0\0", 5));
    EXPECT_TRUE(AllZero(path, 5));
    EXPECT_EQ(NodePathFromBuffer(path), NodePath({"G", "S"}));

    const std::u16string whole(1022, u'c');  // with its NUL and the empty name: the buffer
    EXPECT_TRUE(BuildItemPath({whole}, path));
    EXPECT_EQ(Units(path, 1024), whole + u'\0' + u'\0');
    EXPECT_TRUE(BuildItemPath({std::u16string(1020, u'c'), u"d"}, path));
    EXPECT_EQ(NodePathFromBuffer(path).Names().size(), 2u);
    const std::u16string a1023(1023, u'a'), a1021(1021, u'a'), a1000(1000, u'a'), b100(100, u'b');
    for (const auto& labels :
         std::vector<std::vector<std::u16string_view>>{{a1023}, {a1021, u"d"}, {a1000, b100}}) {
        path.fill(u'x');
        EXPECT_FALSE(BuildItemPath(labels, path));
        EXPECT_TRUE(AllZero(path));
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
