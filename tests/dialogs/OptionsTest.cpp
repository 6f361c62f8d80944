#include "DialogFixture.h"
#include "dialogs/OptionsDialogs.h"
#include "newsgroups/Newsgroups.h"

#include <functional>

namespace {
// A control that is enabled only while another one is set.
struct Dependency {
    const char* name;
    std::function<std::unique_ptr<OptionsDialog>(const TnIni&)> make;
    const char* pszGate; // the control that decides
    int iGateOn;         // its value that enables the dependent control
    const char* pszDependent;
};

class Dependencies : public DialogFixture, public ::testing::WithParamInterface<Dependency> {};

template <class D>
std::function<std::unique_ptr<OptionsDialog>(const TnIni&)> Make()
{
    return [](const TnIni& ini) { return std::make_unique<D>(ini); };
}
} // namespace

TEST_P(Dependencies, ControlFollowsItsGate)
{
    const Dependency& c = GetParam();
    auto d = c.make(*pIni);
    d->Change(c.pszGate, c.iGateOn);
    EXPECT_TRUE(d->Enabled(c.pszDependent));
    d->Change(c.pszGate, 1 - c.iGateOn);
    EXPECT_FALSE(d->Enabled(c.pszDependent));
    d->Change(c.pszGate, c.iGateOn);
    EXPECT_TRUE(d->Enabled(c.pszDependent));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dependencies,
    ::testing::Values(
        Dependency{"SoundGatesBeep", Make<DTolvanConfig>(), "Sound", 1, "Beep"},
        Dependency{"ArticleMimeDisablesEncoding", Make<DArticleConfig>(), "Mime", 0, "Encoding"},
        Dependency{"EmailMimeDisablesEncoding", Make<DEmailConfig>(), "Mime", 0, "Encoding"},
        Dependency{"ClearMailboxGatesClearAfter", Make<DEmailConfig>(), "ClearMailbox", 1,
                   "ClearAfterDays"}),
    [](const auto& info) { return std::string(info.param.name); });

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

    DGroupConfig g(*pIni);
    g.Change("Retrieve", 2);
    g.Change("LongNames", 0);
    ASSERT_TRUE(g.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Groups", "Retrieve", 9), 2);
    EXPECT_EQ(pIni->GetInt("Articles", "LongNames", 9), 0);
}

TEST_F(DialogFixture, ListingAllGroupsWarnsWhenChecked)
{
    pIni->WriteInt("Articles", "ListAllGroups", 0);
    DGroupConfig d(*pIni);
    d.Change("ListAllGroups", 1);
    d.Change("ListAllGroups", 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("may cause\nyour Mail Reader to crash"), std::string::npos);
}

namespace {
struct AutorunCase {
    const char* name;
    const char* box;
    std::function<void(TnIni&, Newsgroups&)> setup;
    const char* warning; // a piece of the warning, or nullptr for none
};
class AutorunChecks : public DialogFixture, public ::testing::WithParamInterface<AutorunCase> {};

void FullSetup(TnIni& ini, Newsgroups& groups)
{
    ini.WriteString("Servers", "POP3Name", "ann");
    ini.StorePop3Password("pw");
    ini.WriteString("Directories", "QwkReader", "/usr/bin/reader");
    groups.Add("comp.lang.c", NG_SELECTED | NG_AUTOMATIC, 1, 0, "", "");
}
} // namespace

TEST_P(AutorunChecks, CheckingAStepThatCannotRunWarnsAndStaysChecked)
{
    const AutorunCase& c = GetParam();
    Newsgroups groups(dir.File("TOLVAN.NWS"));
    FullSetup(*pIni, groups);
    c.setup(*pIni, groups);
    DAutorun d(*pIni, &groups);
    d.Change(c.box, 1);
    EXPECT_TRUE(d.Checked(c.box));
    if (!c.warning) {
        EXPECT_TRUE(boxes.boxes.empty()) << ::testing::PrintToString(Shown());
        return;
    }
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Warning!");
    EXPECT_NE(boxes.boxes[0].text.find(c.warning), std::string::npos) << boxes.boxes[0].text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AutorunChecks,
    ::testing::Values(
        AutorunCase{"EmailReady", "AutoEmail", [](TnIni&, Newsgroups&) {}, nullptr},
        AutorunCase{"EmailNoUser", "AutoEmail",
                    [](TnIni& i, Newsgroups&) { i.WriteString("Servers", "POP3Name", ""); },
                    "not specified all the POP3 server information"},
        AutorunCase{"EmailNoPassword", "AutoEmail",
                    [](TnIni& i, Newsgroups&) { i.StorePop3Password(""); },
                    "Autorun will not retrieve any email."},
        AutorunCase{"EmailNoServer", "AutoEmail",
                    [](TnIni& i, Newsgroups&) { i.WriteString("Servers", "POP3Server", ""); },
                    "POP3 server information"},
        AutorunCase{"NewsReady", "AutoNews", [](TnIni&, Newsgroups&) {}, nullptr},
        AutorunCase{"NewsNoServer", "AutoNews",
                    [](TnIni& i, Newsgroups&) { i.WriteString("Servers", "NNTPServer", ""); },
                    "You have not specified an NNTP server."},
        // Selected but manual, or automatic but not selected: neither counts.
        AutorunCase{"NewsNoAutomaticGroup", "AutoNews",
                    [](TnIni&, Newsgroups& g) {
                        g.Find("comp.lang.c");
                        g.Current()->m_uFlags = NG_SELECTED;
                        g.Add("alt.test", NG_AUTOMATIC, 1, 0, "", "");
                    },
                    "any groups selected for auto-retrieval"},
        AutorunCase{"PostNoSmtp", "AutoPost",
                    [](TnIni& i, Newsgroups&) { i.WriteString("Servers", "SMTPServer", ""); },
                    "You have not specified an SMTP server"},
        AutorunCase{"PostReady", "AutoPost", [](TnIni&, Newsgroups&) {}, nullptr},
        AutorunCase{"ReaderMissing", "AutoReader",
                    [](TnIni& i, Newsgroups&) { i.WriteString("Directories", "QwkReader", ""); },
                    "You have not specified a QWK reader."}),
    [](const auto& info) { return std::string(info.param.name); });
