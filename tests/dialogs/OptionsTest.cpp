#include "DialogFixture.h"
#include "dialogs/OptionsDialogs.h"
#include "newsgroups/Newsgroups.h"

TEST_F(DialogFixture, SpinFieldsStayInTheirRangesWhenTypedAndWhenLoaded)
{
    struct Case {
        const char* key;
        int typed, kept;
    } cases[] = {{"DaysOldest", 31, 30},          {"DaysOldest", -1, 0},
                 {"MaximumRetrieved", 1000, 999}, {"MinimumRetrieved", 999, 999},
                 {"PostSize", 5000, 999},         {"ReceiveSize", 12, 12}};
    DArticleConfig d(*pIni);
    for (const Case& c : cases) {
        d.Change(c.key, c.typed);
        EXPECT_EQ(d.Value(c.key), c.kept) << c.key << " " << c.typed;
    }
    // Values from the file are shown (and written back) within range too;
    // a choice no button stands for shows the default; a flag is 0 or 1.
    pIni->WriteInt("Email", "ClearAfterDays", 45);
    pIni->WriteInt("Email", "Encoding", 7);
    pIni->WriteInt("Email", "ReplyTo", 5);
    DEmailConfig e(*pIni);
    EXPECT_EQ(e.Value("ClearAfterDays"), 30);
    EXPECT_EQ(e.Value("Encoding"), 0);
    EXPECT_EQ(e.Value("ReplyTo"), 1);
    ASSERT_TRUE(e.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Email", "ClearAfterDays", 0), 30);
}

TEST_F(DialogFixture, OptionsWriteEveryKeyOnlyWhenSaved)
{
    DTolvanConfig d(*pIni);
    d.Change("Sound", 0);
    d.Change("DisableSplash", 1);
    EXPECT_EQ(pIni->GetInt("Mailtolvan", "Sound", 9), 1); // nothing written before OK
    ASSERT_TRUE(d.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Mailtolvan", "Sound", 9), 0);
    EXPECT_EQ(pIni->GetInt("Mailtolvan", "DisableSplash", 9), 1);
    EXPECT_EQ(pIni->GetInt("Mailtolvan", "Beep", 9), 1); // kept while grayed

    pIni->WriteInt("Articles", "ListAllGroups", 0);
    DGroupConfig g(*pIni);
    g.Change("Retrieve", 2);
    g.Change("LongNames", 0);
    g.Change("ListAllGroups", 1); // warns, and stays checked
    EXPECT_EQ(g.Value("ListAllGroups"), 1);
    g.Change("ListAllGroups", 0); // unchecking warns of nothing
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("CONTROL.DAT"), std::string::npos);
    ASSERT_TRUE(g.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Groups", "Retrieve", 9), 2);
    EXPECT_EQ(pIni->GetInt("Articles", "LongNames", 9), 0);
    EXPECT_EQ(pIni->GetInt("Articles", "ListAllGroups", 9), 0);
}

namespace {
struct AutorunCase {
    const char* name;
    const char* box;
    const char* pszSection; // a setting made empty, or nullptr
    const char* pszKey;
    bool bNoAutomaticGroup;
    const char* warning; // a piece of the warning, or nullptr for none
};
class AutorunChecks : public DialogFixture, public ::testing::WithParamInterface<AutorunCase> {};
} // namespace

TEST_P(AutorunChecks, CheckingAStepThatCannotRunWarnsAndStaysChecked)
{
    const AutorunCase& c = GetParam();
    Newsgroups groups(dir.File("TOLVAN.NWS"));
    pIni->WriteString("Servers", "POP3Name", "ann");
    pIni->StorePop3Password("pw");
    pIni->WriteString("Directories", "QwkReader", "/usr/bin/reader");
    groups.Add("comp.lang.c", NG_SELECTED | NG_AUTOMATIC, 1, 0, "", "");
    if (c.pszSection)
        pIni->WriteString(c.pszSection, c.pszKey, "");
    if (c.bNoAutomaticGroup) {
        // Selected but manual, or automatic but not selected: neither counts.
        groups.Find("comp.lang.c");
        groups.Current()->m_uFlags = NG_SELECTED;
        groups.Add("alt.test", NG_AUTOMATIC, 1, 0, "", "");
    }
    DAutorun d(*pIni, &groups);
    d.Change(c.box, 1);
    EXPECT_TRUE(d.Checked(c.box));
    ASSERT_EQ(boxes.boxes.size(), c.warning ? 1u : 0u) << ::testing::PrintToString(Shown());
    if (c.warning) {
        EXPECT_EQ(boxes.boxes[0].caption, "Warning!");
        EXPECT_NE(boxes.boxes[0].text.find(c.warning), std::string::npos) << boxes.boxes[0].text;
    }
}

const AutorunCase kAutorunCases[] = {
    {"EmailReady", "AutoEmail", nullptr, nullptr, false, nullptr},
    {"EmailNoUser", "AutoEmail", "Servers", "POP3Name", false, "all the POP3 server information"},
    {"EmailNoPassword", "AutoEmail", "Servers", "POP3Password", false, "not retrieve any email"},
    {"EmailNoServer", "AutoEmail", "Servers", "POP3Server", false, "POP3 server information"},
    {"NewsReady", "AutoNews", nullptr, nullptr, false, nullptr},
    {"NewsNoServer", "AutoNews", "Servers", "NNTPServer", false, "not specified an NNTP server."},
    {"NewsNoAutomaticGroup", "AutoNews", nullptr, nullptr, true, "selected for auto-retrieval"},
    {"PostNoSmtp", "AutoPost", "Servers", "SMTPServer", false, "not specified an SMTP server"},
    {"PostReady", "AutoPost", nullptr, nullptr, false, nullptr},
    {"ReaderMissing", "AutoReader", "Directories", "QwkReader", false, "a QWK reader"},
};
INSTANTIATE_TEST_SUITE_P(Table, AutorunChecks, ::testing::ValuesIn(kAutorunCases),
                         [](const auto& info) { return std::string(info.param.name); });
