// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vandrelle;

// Each name ends with a NUL and the whole with an empty name, the rest of the
// buffer zero; a path that does not fit is not given at all (all zero), since
// one cut to fit could name another node.
TEST(ItemPath, NamesEndedByNulsAndWholeOrNotGivenIdentifyASession) {
    const std::u16string c1022(1022, u'c'), c1020(1020, u'c'), a1023(1023, u'a'), a1021(1021, u'a'),
        a1000(1000, u'a'), b100(100, u'b');
    const std::pair<std::vector<std::u16string_view>, bool> cases[] = {
        {{}, true},       {{u"G", u"S"}, true},   {{c1022}, true},       {{c1020, u"d"}, true},
        {{a1023}, false}, {{a1021, u"d"}, false}, {{a1000, b100}, false}};
    for (const auto& [labels, fits] : cases) {
        PathBuffer path;
        path.fill(u'x');
        EXPECT_EQ(BuildItemPath(labels, path), fits) << labels.size();
        std::u16string expected;
        for (const std::u16string_view label : labels) expected += std::u16string(label) + u'\0';
        if (!fits) expected.clear();
        expected.resize(path.size(), u'\0');
        EXPECT_TRUE(std::u16string(path.begin(), path.end()) == expected) << labels.size();
        if (fits) {
            EXPECT_EQ(NodePathFromBuffer(path).Names().size(), labels.size());
        }
    }
    // The whole path identifies a session: two servers whose paths agree for
    // 600 units are two servers.
    PathBuffer a, b;
    BuildItemPath({a1000.substr(0, 600), u"one"}, a);
    BuildItemPath({a1000.substr(0, 600), u"two"}, b);
    EXPECT_FALSE(SameIdentity(a, b));
    BuildItemPath({a1000.substr(0, 600), u"one"}, b);
    EXPECT_TRUE(SameIdentity(a, b));
}
