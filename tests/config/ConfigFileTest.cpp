// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "ConfigLocation.h"
#include "FileUtil.h"
#include "XmlDocument.h"

#include <sys/stat.h>

namespace vandrelle::test {
namespace {

// The program in "app/sub", so that the second place "app/sub/../bin" is a
// folder of its own, and the user's folder in "xdg/vandrelle".
class ConfigSearchTest : public ConfigFixture {
protected:
    ConfigSearchTest() {
        MakeFolders(program);
        MakeFolders(dir.file("app/bin"));
        MakeFolders(user);
    }
    std::string program = dir.file("app/sub");
    std::string second = dir.file("app/bin/Vandrelle.xml");
    std::string user = dir.file("xdg/vandrelle");
    std::string first = program + "/Vandrelle.xml";

    ConfigSearchResult Search() { return FindAndLoadConfig(*store, program, user); }
    Properties Named(const char* name) {
        Properties p;
        p.Name = name;
        return p;
    }
};

TEST_F(ConfigSearchTest, FirstRunCreatesTheFileBesideTheProgramOnlyAtTheFirstChange) {
    EXPECT_FALSE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), first);
    EXPECT_TRUE(store->Save());
    EXPECT_FALSE(FileExists(first));  // nothing changed, nothing written
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_TRUE(FileExists(first));
    EXPECT_FALSE(FileExists(first + "~"));
}

TEST_F(ConfigSearchTest, TheProgramFolderWinsThenTheBinFolderThenTheUserFolder) {
    WriteFile(dir.file("xdg/vandrelle/Vandrelle.xml"), ReadFile(DataFile("example.xml")));
    ASSERT_TRUE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), user + "/Vandrelle.xml");

    WriteFile(second, "<V><Servers><Server><Name>bin</Name></Server></Servers></V>");
    ASSERT_TRUE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), program + "/../bin/Vandrelle.xml");
    EXPECT_TRUE(store->FindNode(P({"bin"})));
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));  // saves go back to that file
    EXPECT_NE(ReadFile(second).find("<Name>G</Name>"), std::string::npos);

    WriteFile(first, "<V><Servers><Server><Name>first</Name></Server></Servers></V>");
    ASSERT_TRUE(Search().loaded);
    EXPECT_EQ(store->ConfigPath(), first);
    EXPECT_TRUE(store->FindNode(P({"first"})));
}

TEST_F(ConfigSearchTest, AMalformedFileIsPassedOverAndLeftAlone) {
    const std::string malformed = ReadFile(DataFile("malformed.xml"));
    WriteFile(first, malformed);
    WriteFile(second, ReadFile(DataFile("example.xml")));
    const ConfigSearchResult found = Search();
    ASSERT_TRUE(found.loaded);
    ASSERT_EQ(found.problems.size(), 1u);
    EXPECT_NE(found.problems[0].find(first), std::string::npos);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_EQ(ReadFile(first), malformed);
    EXPECT_FALSE(store->UnreadableTargetMessage());
}

TEST_F(ConfigSearchTest, AMalformedTargetIsKeptBeforeTheFirstSaveReplacesIt) {
    const std::string malformed = ReadFile(DataFile("malformed.xml"));
    WriteFile(first, malformed);
    WriteFile(first + ".unreadable", "an earlier copy");
    EXPECT_FALSE(Search().loaded);
    ASSERT_TRUE(store->UnreadableTargetMessage());
    EXPECT_NE(store->UnreadableTargetMessage()->find("line"), std::string::npos);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_EQ(store->KeptUnreadableCopy(), first + ".unreadable.1");
    EXPECT_EQ(ReadFile(first + ".unreadable.1"), malformed);
    EXPECT_EQ(ReadFile(first + ".unreadable"), "an earlier copy");
    EXPECT_FALSE(store->UnreadableTargetMessage());
    // Later saves do not make more copies.
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("H")));
    EXPECT_FALSE(FileExists(first + ".unreadable.2"));
    CConfigStore reread(keys);
    ASSERT_TRUE(reread.Load(first));
    EXPECT_TRUE(reread.FindNode(P({"H"})));
}

TEST_F(ConfigSearchTest, AnUnwritableProgramFolderSendsSavesToTheUserFolder) {
    EXPECT_EQ(DefaultSavePath(dir.file("no/such/folder"), user), user + "/Vandrelle.xml");
    EXPECT_EQ(DefaultSavePath(program, user), first);
}

using ConfigSaveTest = ConfigFixture;

TEST_F(ConfigSaveTest, AFailedWriteKeepsTheChangesPending) {
    WriteFile(dir.file("plain-file"), "x");
    store->SetConfigPath(dir.file("plain-file/Vandrelle.xml"));  // a folder that cannot exist
    Properties g;
    g.Name = "G";
    EXPECT_FALSE(store->AddGroup(NodePath(), g));
    EXPECT_TRUE(store->IsDirty());
    EXPECT_FALSE(store->LastSaveError().empty());
    store->SetConfigPath(dir.file("Vandrelle.xml"));
    EXPECT_TRUE(store->Save());
    EXPECT_FALSE(store->IsDirty());
    EXPECT_TRUE(Reopen()->FindNode(P({"G"})));
}

TEST_F(ConfigSaveTest, AFailedRenameKeepsTheChangesPendingAndWhatStoodThere) {
    MakeFolders(dir.file("Vandrelle.xml"));  // a folder where the file should go
    WriteFile(dir.file("Vandrelle.xml/keep"), "kept");
    Properties g;
    g.Name = "G";
    EXPECT_FALSE(store->AddGroup(NodePath(), g));
    EXPECT_TRUE(store->IsDirty());
    EXPECT_NE(store->LastSaveError().find("Vandrelle.xml"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.file("Vandrelle.xml/keep")), "kept");
}

TEST_F(ConfigSaveTest, ALeftoverTemporaryFileIsOverwritten) {
    WriteFile(dir.file("Vandrelle.xml~"), "half a file");
    Properties g;
    g.Name = "G";
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    EXPECT_FALSE(FileExists(dir.file("Vandrelle.xml~")));
    EXPECT_TRUE(Reopen()->FindNode(P({"G"})));
}

TEST_F(ConfigSaveTest, NewFilesAreReadableOnlyByTheUser) {
    Properties g;
    g.Name = "G";
    ASSERT_TRUE(store->AddGroup(NodePath(), g));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("Vandrelle.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace vandrelle::test
