#include "DialogFixture.h"
#include "dialogs/ComputerName.h"
#include "dialogs/DDirectories.h"
#include "dialogs/SmallDialogs.h"

#include <sys/stat.h>

namespace {
struct Pick {
    Pick(bool bChoose_, std::string file_ = std::string()) : bChoose(bChoose_), file(file_) {}
    bool bChoose;
    std::string file;
    std::vector<std::string> titles, startDirs;
    DDirectories::FilePicker Picker()
    {
        return [this](const std::string& title, const std::vector<DDirectories::FileFilter>&,
                      const std::string& start, std::string& chosen) {
            titles.push_back(title);
            startDirs.push_back(start);
            chosen = file;
            return bChoose;
        };
    }
};
} // namespace

TEST_F(DialogFixture, CopyFilesNeedsTheReaderSettingsFile)
{
    std::string good = dir.File("reader/VDRQWK.INI"), bad = dir.File("other.ini");
    ASSERT_EQ(::mkdir(dir.File("reader").c_str(), 0700), 0);
    testutil::WriteFile(good, "[VDRQwk]\nVdrDir=/opt/reader\n");
    testutil::WriteFile(bad, "[Something]\nVdrDir=/x\n");
    struct Case {
        const char* name;
        std::deque<int> answers;
        bool bChoose;
        std::string file;
        bool bChecked;
        std::size_t nBoxes;
    } cases[] = {
        {"declined", {fw::IDNO}, true, good, false, 1},
        {"cancelled", {fw::IDYES}, false, good, false, 1},
        {"not a reader file", {fw::IDYES}, true, bad, false, 2},
        {"good file", {fw::IDYES}, true, good, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pIni->WriteString("Directories", "VdrqwkIni", "VDRQWK.INI"); // not in the home dir
        boxes.boxes.clear();
        boxes.answers = c.answers;
        DDirectories d(*pIni, dir.Path());
        d.m_szQwkReader = "/opt/reader/bin/vdr -x";
        Pick pick{c.bChoose, c.file};
        EXPECT_EQ(d.OnCopyFilesChecked(*pIni, pick.Picker()), c.bChecked);
        EXPECT_EQ(d.m_bCopyFiles, c.bChecked);
        ASSERT_EQ(boxes.boxes.size(), c.nBoxes);
        EXPECT_NE(boxes.boxes[0].text.find("could not find the VDRQWK.INI"), std::string::npos);
        if (c.nBoxes == 2) {
            EXPECT_EQ(boxes.boxes[1].text, "This is not a VDRQWK.INI file.");
        }
        if (!pick.startDirs.empty()) {
            EXPECT_EQ(pick.startDirs[0], "/opt/reader/bin");
        }
        // Only a good file is written, and at once.
        EXPECT_EQ(pIni->GetString("Directories", "VdrqwkIni", ""),
                  c.bChecked ? good : std::string("VDRQWK.INI"));
    }
    // Now the configured file names the reader: no question at all.
    boxes.boxes.clear();
    DDirectories d(*pIni, dir.Path());
    Pick none{false};
    EXPECT_TRUE(d.OnCopyFilesChecked(*pIni, none.Picker()));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(none.titles.empty());
}

TEST(ComputerName, OnlyHostNameCharactersPass)
{
    for (const char* good : {"box", "my_box-1.example~x", "A9"})
        EXPECT_EQ(dlg::ComputerNameProblem(good), "") << good;
    for (const char* bad : {"my box", "b\xc3\xa4r", "a/b", "x@y"}) {
        std::string problem = dlg::ComputerNameProblem(bad);
        EXPECT_EQ(
            problem.rfind(std::string("Your computer name: ") + bad + "\ncontains invalid", 0), 0u)
            << bad;
    }
}

TEST(FindDialog, SearchesLowerCasedRowsFromWhereItIsTold)
{
    std::vector<std::string> rows = {"+\tcomp.lang.C", " \talt.test", "+\tcomp.lang.c++"};
    DFind find;
    find.m_szText = "LANG.c";
    EXPECT_EQ(find.Find(rows), 0);
    EXPECT_EQ(find.Repeat(rows, 0), 2);
    EXPECT_EQ(find.Repeat(rows, 2), -1);
    find.m_szText = "";
    EXPECT_EQ(find.Find(rows), -1);
}

TEST_F(DialogFixture, AddGroupTakesOneWord)
{
    DAddGroup add;
    for (const char* bad : {"", "   ", "two words", "a,b", "tab\there"}) {
        add.m_szName = bad;
        EXPECT_FALSE(add.CheckOk().bAccepted) << bad;
    }
    add.m_szName = "  comp.os.linux  ";
    EXPECT_TRUE(add.CheckOk().bAccepted);
    EXPECT_EQ(add.Name(), "comp.os.linux");
}
