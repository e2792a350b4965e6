// The abonents list: the file format, the privilege store and its limits.
#include <gtest/gtest.h>

#include "link/abonents.h"
#include "link/simulation.h"

namespace kavra::link {
namespace {

class Abonents : public ::testing::Test {
protected:
    void Write(std::string_view text) { files.files[kAbonentsFile].assign(text.begin(), text.end()); }
    std::string Read() {
        const auto& f = files.files[kAbonentsFile];
        return {f.begin(), f.end()};
    }
    MemoryFileSystem files;
    AbonentsList list;
};

TEST_F(Abonents, LoadsCallsignPrivilegeAndNotes) {
    Write("AB1CD 1 evening schedule\nEF2GH 0\nIJ3KL 1   spaced  notes \n");
    ASSERT_TRUE(list.LoadAbonents(files));
    ASSERT_EQ(list.Grid().size(), 3u);
    EXPECT_EQ(list.Grid()[0].callsign, "AB1CD");
    EXPECT_EQ(list.Grid()[0].notes, "evening schedule");
    EXPECT_EQ(list.Grid()[1].notes, "");
    EXPECT_EQ(list.Grid()[2].notes, "spaced  notes ");
    EXPECT_TRUE(list.IsPrivileged("AB1CD"));
    EXPECT_FALSE(list.IsPrivileged("EF2GH"));
    EXPECT_FALSE(list.IsPrivileged("ab1cd"));
    EXPECT_EQ(list.FindAbonent("IJ3KL"), 2);
    EXPECT_EQ(list.FindAbonent("IJ3K"), -1);
    EXPECT_EQ(list.Callsigns(), (std::vector<std::string>{"AB1CD", "EF2GH", "IJ3KL"}));
}

TEST_F(Abonents, LastLineWithoutLineFeedKeepsItsNotesWhole) {
    Write("AB1CD 1 first\nEF2GH 1 last words");
    ASSERT_TRUE(list.LoadAbonents(files));
    ASSERT_EQ(list.Grid().size(), 2u);
    EXPECT_EQ(list.Grid()[1].notes, "last words");
    Write("AB1CD 1 windows line\r\n");
    ASSERT_TRUE(list.LoadAbonents(files));
    EXPECT_EQ(list.Grid()[0].notes, "windows line");
}

TEST_F(Abonents, MissingFileChangesNothing) {
    Write("AB1CD 1 x\n");
    ASSERT_TRUE(list.LoadAbonents(files));
    files.files.clear();
    EXPECT_FALSE(list.LoadAbonents(files));
    EXPECT_EQ(list.Grid().size(), 1u);
    EXPECT_TRUE(list.IsPrivileged("AB1CD"));
}

TEST_F(Abonents, PrivilegeSurvivesSavingAndReloading) {
    Write("AB1CD 0 evening schedule\nEF2GH 0 x\n");
    list.WindowOpened(files, AbonentsPage::Privileged);
    ASSERT_EQ(list.CheckList().size(), 2u);
    list.CheckList()[0].checked = true;
    list.ApplyCheckList();
    list.WindowClosed(files, AbonentsPage::Privileged);
    EXPECT_EQ(Read(), "AB1CD 1 evening schedule\nEF2GH 0 x\n");
    AbonentsList again;
    again.WindowOpened(files, AbonentsPage::Privileged);
    EXPECT_TRUE(again.CheckList()[0].checked);
    EXPECT_FALSE(again.CheckList()[1].checked);
}

TEST_F(Abonents, RenamingDropsThePrivilege) {
    Write("AB1CD 1 a\n");
    list.WindowOpened(files, AbonentsPage::Data);
    list.Grid()[0].callsign = "AB1CE";
    list.WindowClosed(files, AbonentsPage::Data);
    EXPECT_EQ(Read(), "AB1CE 0 a\n");
}

TEST_F(Abonents, EmptyGridWritesAnEmptyFileAndSkipsEmptyRows) {
    list.WindowOpened(files, AbonentsPage::Data);
    list.WindowClosed(files, AbonentsPage::Data);
    EXPECT_EQ(Read(), "");
    list.Grid() = {{"", "ignored"}, {"AB1CD", "two\nlines"}};
    list.WindowClosed(files, AbonentsPage::Data);
    EXPECT_EQ(Read(), "AB1CD 0 two lines\n");
}

TEST_F(Abonents, NeverMoreThan1024InTheStore) {
    std::string text;
    for (int i = 0; i < 1100; ++i) text += "C" + std::to_string(i) + " 1 n\n";
    Write(text);
    ASSERT_TRUE(list.LoadAbonents(files));
    EXPECT_EQ(list.Grid().size(), 1024u);
    EXPECT_EQ(list.StoreCount(), 1024u);
    EXPECT_TRUE(list.IsPrivileged("C1023"));
    EXPECT_FALSE(list.IsPrivileged("C1024"));
    // The grid grows past the store by editing; syncing and saving stay inside the store.
    for (int i = 1100; i < 1300; ++i) list.Grid().push_back({"D" + std::to_string(i), ""});
    list.SyncPrivileges();
    EXPECT_EQ(list.CheckList().size(), 1224u);
    EXPECT_EQ(list.StoreCount(), 1024u);
    for (auto& item : list.CheckList()) item.checked = true;
    list.ApplyCheckList();
    EXPECT_FALSE(list.IsPrivileged("D1299"));
    ASSERT_TRUE(list.SaveAbonents(files));
    const std::string saved = Read();
    EXPECT_NE(saved.find("D1299 0 \n"), std::string::npos);
    EXPECT_NE(saved.find("C1000 1 n\n"), std::string::npos);
}

TEST_F(Abonents, OddLines) {
    Write("\n   \nLONELY\nAB1CD 0x1 hex\nEF2GH -3 minus\nIJ3KL notanumber here\n");
    ASSERT_TRUE(list.LoadAbonents(files));
    ASSERT_EQ(list.Grid().size(), 4u);
    EXPECT_EQ(list.Grid()[0].callsign, "LONELY");
    EXPECT_EQ(list.Grid()[0].notes, "");
    EXPECT_TRUE(list.IsPrivileged("AB1CD"));
    EXPECT_EQ(list.StoredPrivilege(2), -3);
    EXPECT_FALSE(list.IsPrivileged("IJ3KL"));
    EXPECT_EQ(list.Grid()[3].notes, "notanumber here");
}

}  // namespace
}  // namespace kavra::link
