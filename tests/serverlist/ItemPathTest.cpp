// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemPath.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(ItemPath, ALabelTakesTheRoomThatIsLeftAndIsCutThere) {
    const std::u16string first(1000, u'a'), second(100, u'b');
    PathBuffer path;
    BuildItemPath({first, second}, path);
    // 1001 units for the first name and its NUL leave 1023 - 1001 = 22, one of
    // them for the second name's NUL.
    EXPECT_EQ(Units(path, 1001), first + u'\0');
    EXPECT_EQ(Units(path, 1023), first + u'\0' + std::u16string(21, u'b') + u'\0');
    EXPECT_EQ(path[1023], 0);

    // A label that finds no room left is not there at all.
    const std::u16string whole(1022, u'c');
    BuildItemPath({whole, u"d", u"e"}, path);
    EXPECT_EQ(Units(path, 1024), whole + u'\0' + u'\0');
    EXPECT_EQ(NodePathFromBuffer(path).Names().size(), 1u);
}

TEST(ItemPath, OnlyTheFirst1024BytesIdentifyASession) {
    PathBuffer a, b;
    const std::u16string prefix(600, u'p');
    BuildItemPath({prefix, u"one"}, a);
    BuildItemPath({prefix, u"two"}, b);
    EXPECT_TRUE(SameIdentity(a, b));
    BuildItemPath({u"one"}, a);
    BuildItemPath({u"two"}, b);
    EXPECT_FALSE(SameIdentity(a, b));
}
