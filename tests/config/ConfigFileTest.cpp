// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFixture.h"
#include "ConfigLocation.h"
#include "FileUtil.h"
#include "XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(store->KeptChangedCopy(), "");
    // Later saves do not make more copies.
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("H")));
    EXPECT_FALSE(FileExists(first + ".unreadable.2"));
    CConfigStore reread(keys);
    ASSERT_TRUE(reread.Load(first));
    EXPECT_TRUE(reread.FindNode(P({"H"})));
}

// What is not a regular file, or is too large, is not read and counts as
// unreadable: a FIFO is neither waited on nor replaced, and a file too large
// to load is kept before the first save replaces it.
TEST_F(ConfigSearchTest, RefusedFilesCountAsUnreadable) {
    const std::string fifo = dir.file("fifo.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ConfigSearchResult found = LoadGivenConfig(*store, fifo);
    EXPECT_FALSE(found.loaded);
    ASSERT_EQ(found.problems.size(), 1u);
    EXPECT_NE(found.problems[0].find("not a regular file"), std::string::npos);
    EXPECT_FALSE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_NE(store->LastSaveError().find("not a regular file"), std::string::npos);
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo, false).st_mode));

    const std::string big = dir.file("big.xml");
    WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(kMaxReadBytes + 1)), 0);
    store = std::make_unique<CConfigStore>(keys);
    store->Init();
    found = LoadGivenConfig(*store, big);
    ASSERT_EQ(found.problems.size(), 1u);
    EXPECT_NE(found.problems[0].find("larger than"), std::string::npos);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G"))) << store->LastSaveError();
    EXPECT_EQ(store->KeptUnreadableCopy(), big + ".unreadable");
    EXPECT_EQ(static_cast<std::size_t>(StatOf(big + ".unreadable").st_size), kMaxReadBytes + 1);
    CConfigStore reread(keys);
    ASSERT_TRUE(reread.Load(big)) << reread.LastLoadError();
    EXPECT_TRUE(reread.FindNode(P({"G"})));
}

// Saves go to the user's folder when the program's folder cannot be written,
// and also from a system folder: root may write to /usr/bin, yet an installed
// program must not leave its file among the system's programs.
TEST_F(ConfigSearchTest, AnUnwritableOrSystemProgramFolderIsNeverTheSaveTarget) {
    EXPECT_EQ(DefaultSavePath(dir.file("no/such/folder"), user), user + "/Vandrelle.xml");
    EXPECT_EQ(DefaultSavePath(program, user), first);
    for (const char* folder : {"/usr/bin", "/usr/bin/", "/usr/lib/../bin", "/bin", "/usr/sbin",
                               "/sbin", "/usr/local/bin"}) {
        EXPECT_TRUE(IsSystemProgramFolder(folder)) << folder;
        EXPECT_EQ(DefaultSavePath(folder, user), user + "/Vandrelle.xml") << folder;
    }
    ASSERT_EQ(::symlink("/usr/bin", dir.file("linked-bin").c_str()), 0);
    EXPECT_TRUE(IsSystemProgramFolder(dir.file("linked-bin")));
    EXPECT_FALSE(IsSystemProgramFolder("/usr"));
    EXPECT_FALSE(IsSystemProgramFolder(program));
    EXPECT_FALSE(IsSystemProgramFolder(dir.file("no/such/folder")));
}

// A program folder that every user may write is neither read nor written:
// another user could have put a file there, or a link that the first save
// would write through.
TEST_F(ConfigSearchTest, AProgramFolderOthersMayWriteIsPassedOver) {
    const std::string victim = dir.file("victim");
    ASSERT_EQ(::symlink(victim.c_str(), first.c_str()), 0);
    WriteFile(second, ReadFile(DataFile("example.xml")));
    for (const mode_t mode : {01777, 0777}) {
        ASSERT_EQ(::chmod(program.c_str(), mode), 0);
        ASSERT_EQ(::chmod(dir.file("app/bin").c_str(), mode), 0);
        store = std::make_unique<CConfigStore>(keys);
        store->Init();
        Search();
        EXPECT_EQ(store->ConfigPath(), user + "/Vandrelle.xml") << mode;
        EXPECT_FALSE(store->FindNode(P({"Office"})));  // of example.xml
        ASSERT_TRUE(store->AddGroup(NodePath(), Named(std::to_string(mode))));
        EXPECT_FALSE(FileExists(victim)) << mode;
    }
}

using ConfigSaveTest = ConfigFixture;

// The atomic replacement itself (its temporary file, links, mode and owner)
// is the file utilities' and tested there; here, what the store makes of it.
// A write that cannot even start, or a rename onto a folder, keeps the
// changes pending and what stood there; the next save that works writes a
// new file readable by the user alone.
TEST_F(ConfigSaveTest, AFailedSaveKeepsTheChangesPendingAndWhatStoodThere) {
    WriteFile(dir.file("plain-file"), "x");
    MakeFolders(dir.file("folder/Vandrelle.xml"));  // a folder where the file should go
    WriteFile(dir.file("folder/Vandrelle.xml/keep"), "kept");
    for (const char* target : {"plain-file/Vandrelle.xml", "folder/Vandrelle.xml"}) {
        store->SetConfigPath(dir.file(target));
        EXPECT_FALSE(store->AddGroup(NodePath(), Named(target)));
        EXPECT_TRUE(store->IsDirty());
        EXPECT_NE(store->LastSaveError().find(target), std::string::npos) << store->LastSaveError();
    }
    EXPECT_EQ(ReadFile(dir.file("folder/Vandrelle.xml/keep")), "kept");
    store->SetConfigPath(dir.file("Vandrelle.xml"));
    EXPECT_TRUE(store->Save());
    EXPECT_FALSE(store->IsDirty());
    EXPECT_EQ(Permissions(dir.file("Vandrelle.xml")), 0600u);
    EXPECT_TRUE(Reopen()->FindNode(P({"folder/Vandrelle.xml"})));
}

// Through a link, the file it names is written and its bytes are what the
// store last saw: no copy of a "changed" file is made.
TEST_F(ConfigSaveTest, ALinkedFileStaysALinkAndItsFileIsWritten) {
    ASSERT_TRUE(MakeFolders(dir.file("shared")));
    WriteFile(dir.file("shared/Vandrelle.xml"), ReadFile(DataFile("example.xml")));
    const std::string link = dir.file("Vandrelle.xml");
    ASSERT_EQ(::symlink("shared/Vandrelle.xml", link.c_str()), 0);
    ASSERT_TRUE(store->Load(link)) << store->LastLoadError();
    for (const char* name : {"G", "H"}) {
        ASSERT_TRUE(store->AddGroup(NodePath(), Named(name))) << store->LastSaveError();
        EXPECT_EQ(store->KeptChangedCopy(), "");
    }
    EXPECT_TRUE(S_ISLNK(StatOf(link, false).st_mode));
    EXPECT_NE(ReadFile(dir.file("shared/Vandrelle.xml")).find("<Name>H</Name>"), std::string::npos);
}

// A change made to the file after it was read (by hand, by the companion in
// another shell, by a colleague's copy of the program) is kept beside it
// before the save replaces it, and reported; the save itself goes ahead.
TEST_F(ConfigSaveTest, AFileChangedOnDiskIsKeptBeforeASaveReplacesIt) {
    LoadData("example.xml");
    const std::string path = dir.file("Vandrelle.xml");
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("H")));  // finds what the last save wrote
    EXPECT_EQ(store->KeptChangedCopy(), "");
    EXPECT_FALSE(FileExists(path + ".changed"));

    // An edit in place of the same size that even keeps the modification
    // time: only the bytes tell.
    const struct stat before = StatOf(path);
    std::string edited = SavedFile();
    edited.replace(edited.find("<Name>G</Name>"), 14, "<Name>E</Name>");
    WriteFile(path, edited);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("I"))) << store->LastSaveError();
    EXPECT_EQ(store->KeptChangedCopy(), path + ".changed");
    EXPECT_EQ(ReadFile(path + ".changed"), edited);
    auto reread = Reopen();
    EXPECT_TRUE(reread->FindNode(P({"G"})));  // the document in memory wins
    EXPECT_TRUE(reread->FindNode(P({"I"})));

    // Saved over, the file is as this store left it; a touch changes no byte.
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("J")));
    EXPECT_EQ(store->KeptChangedCopy(), "");

    // A later change goes beside the earlier copy.
    WriteFile(path, SavedFile() + "<!-- appended -->\n");
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("K")));
    EXPECT_EQ(store->KeptChangedCopy(), path + ".changed.1");
    EXPECT_EQ(ReadFile(path + ".changed"), edited);
}

TEST_F(ConfigSaveTest, AFileThatAppearedSinceAnEmptyStartIsKept) {
    const std::string path = dir.file("Vandrelle.xml");
    EXPECT_FALSE(store->Load(path));  // none yet: the first change creates it
    const std::string theirs = ReadFile(DataFile("example.xml"));
    WriteFile(path, theirs);
    ASSERT_TRUE(store->AddGroup(NodePath(), Named("G")));
    EXPECT_EQ(store->KeptChangedCopy(), path + ".changed");
    EXPECT_EQ(ReadFile(path + ".changed"), theirs);
    EXPECT_FALSE(Reopen()->FindNode(P({"Office"})));
}

}  // namespace
}  // namespace vandrelle::test
