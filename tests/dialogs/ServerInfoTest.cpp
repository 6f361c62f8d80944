#include "DialogFixture.h"
#include "core/Services.h"
#include "dialogs/DServerInfo.h"
#include "dialogs/DUserInfo.h"

#include <functional>

namespace {
using Edit = std::function<void(DServerInfo&)>;

// A server setup that passes every check.
void Good(DServerInfo& d)
{
    d.m_szNntpServer = "news.example.org";
    d.m_szNntpName = "";
    d.m_szSmtpServer = "smtp.example.org";
    d.m_szPop3Server = "pop.example.org";
    d.m_szPop3Name = "ann";
    d.m_szPop3Password = "secret";
}

struct OkCase {
    const char* name;
    Edit edit;
    std::deque<int> answers;
    bool bAccepted;
    int iFocus;
    // Each box shown, in order: a caption and a piece of its text.
    std::vector<std::pair<const char*, const char*>> boxes;
};

class ServerInfoOk : public DialogFixture, public ::testing::WithParamInterface<OkCase> {};
} // namespace

TEST_P(ServerInfoOk, ChecksRunInOrderAndStopAtTheFirstFailure)
{
    const OkCase& c = GetParam();
    DServerInfo d(*pIni);
    Good(d);
    c.edit(d);
    boxes.answers = c.answers;
    dlg::OkResult r = d.CheckOk();
    EXPECT_EQ(r.bAccepted, c.bAccepted);
    EXPECT_EQ(r.iFocus, c.iFocus);
    ASSERT_EQ(boxes.boxes.size(), c.boxes.size()) << ::testing::PrintToString(Shown());
    for (std::size_t i = 0; i < c.boxes.size(); ++i) {
        EXPECT_EQ(boxes.boxes[i].caption, c.boxes[i].first);
        EXPECT_NE(boxes.boxes[i].text.find(c.boxes[i].second), std::string::npos)
            << boxes.boxes[i].text;
    }
}

const int NO = fw::IDNO, YES = fw::IDYES;
INSTANTIATE_TEST_SUITE_P(
    Table, ServerInfoOk,
    ::testing::Values(
        OkCase{"Good", [](DServerInfo&) {}, {}, true, 0, {}},
        OkCase{"NoNewsAnsweredNo",
               [](DServerInfo& d) { d.m_szNntpServer = ""; },
               {NO},
               false,
               DServerInfo::NNTP_SERVER,
               {{"Warning!", "Leave NNTP Server name blank?"}}},
        OkCase{"NoNewsAnsweredYes",
               [](DServerInfo& d) { d.m_szNntpServer = ""; },
               {YES},
               true,
               0,
               {{"Warning!", "Usnet news"}}},
        OkCase{"UserPrependedOnNewsServer",
               [](DServerInfo& d) { d.m_szNntpServer = "joe@news.example.org"; },
               {},
               true,
               0,
               {{"Warning!", "Your user name: joe\nis prepended on the NNTP server name."}}},
        // Port 0 stops the checks: the empty SMTP server is not asked about.
        OkCase{"NewsPortZero",
               [](DServerInfo& d) {
                   d.m_iNntpPort = 0;
                   d.m_szSmtpServer = "";
               },
               {},
               false,
               DServerInfo::NNTP_PORT,
               {{"ERROR!", "The NNTP TCP Port cannot be zero!\nThe standard value for the port "
                           "is 119."}}},
        OkCase{"ServerAppendedOnNewsUser",
               [](DServerInfo& d) { d.m_szNntpName = "joe@elsewhere.org"; },
               {},
               true,
               0,
               {{"Warning!", "The server name: elsewhere.org\nis appended on the NNTP user"}}},
        OkCase{"NoSmtpAnsweredNo",
               [](DServerInfo& d) { d.m_szSmtpServer = ""; },
               {NO},
               false,
               DServerInfo::SMTP_SERVER,
               {{"Warning!", "Leave SMTP Server name blank?"}}},
        OkCase{"SmtpPortZero",
               [](DServerInfo& d) { d.m_iSmtpPort = 0; },
               {},
               false,
               DServerInfo::SMTP_PORT,
               {{"ERROR!", "standard value for the port is 25."}}},
        // Without a POP3 server the user name and password are not needed.
        OkCase{"NoPop3AnsweredYes",
               [](DServerInfo& d) {
                   d.m_szPop3Server = "";
                   d.m_szPop3Name = "";
                   d.m_szPop3Password = "";
               },
               {YES},
               true,
               0,
               {{"Warning!", "Leave POP3 Server name blank?"}}},
        OkCase{"NoPop3AnsweredNo",
               [](DServerInfo& d) { d.m_szPop3Server = ""; },
               {NO},
               false,
               DServerInfo::POP3_SERVER,
               {{"Warning!", "POP3 Server name is required"}}},
        OkCase{"UserPrependedOnPop3Server",
               [](DServerInfo& d) { d.m_szPop3Server = "ann@pop.example.org"; },
               {},
               true,
               0,
               {{"Warning!", "Your user name: ann\nis prepended on the POP3 server name."}}},
        OkCase{"Pop3PortZero",
               [](DServerInfo& d) { d.m_iPop3Port = 0; },
               {},
               false,
               DServerInfo::POP3_PORT,
               {{"ERROR!", "standard value for the port is 110."}}},
        OkCase{"Pop3UserMissing",
               [](DServerInfo& d) { d.m_szPop3Name = ""; },
               {},
               false,
               DServerInfo::POP3_NAME,
               {{"ERROR!", "Your user name is required for receiving mail."}}},
        OkCase{"ServerAppendedOnPop3User",
               [](DServerInfo& d) { d.m_szPop3Name = "ann@other.org"; },
               {},
               true,
               0,
               {{"Warning!", "The server name: other.org\nis appended on the POP3 user name."}}},
        OkCase{"Pop3PasswordMissingAnsweredNo",
               [](DServerInfo& d) { d.m_szPop3Password = ""; },
               {NO},
               false,
               DServerInfo::POP3_PASSWORD,
               {{"Warning!", "Enter your password when you go online?"}}},
        OkCase{"Pop3PasswordMissingNotSaved",
               [](DServerInfo& d) {
                   d.m_szPop3Password = "";
                   d.m_bPop3SavePassword = false;
               },
               {},
               true,
               0,
               {}},
        OkCase{"PortBeyond16Bits",
               [](DServerInfo& d) { d.m_iSmtpPort = 70000; },
               {},
               false,
               DServerInfo::SMTP_PORT,
               {{"ERROR!", "SMTP TCP Port must be a number from 1 to 65535"}}},
        OkCase{"PasswordTheScramblingCannotKeep",
               [](DServerInfo& d) { d.m_szNntpPassword = "caf\xc3\xa9"; },
               {},
               false,
               DServerInfo::NNTP_PASSWORD,
               {{"ERROR!", "A password can have at most 51 characters"}}},
        OkCase{"TextTooLongForTheSettingsFile",
               [](DServerInfo& d) { d.m_szPop3Server = std::string(80, 'p'); },
               {},
               false,
               DServerInfo::POP3_SERVER,
               {{"ERROR!", "longer than 79 characters"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogFixture, ServerInfoQuestionsCountAsYesWithoutConfirmations)
{
    pIni->WriteInt("Mailtolvan", "Confirmation", 0);
    DServerInfo d(*pIni);
    d.m_szNntpServer = d.m_szSmtpServer = d.m_szPop3Server = "";
    boxes.iDefaultAnswer = fw::IDNO;
    EXPECT_TRUE(d.CheckOk().bAccepted);
    EXPECT_TRUE(boxes.boxes.empty()) << ::testing::PrintToString(Shown());
}

TEST_F(DialogFixture, ServerInfoStoresWhatWasTypedAndScramblesOnlySavedPasswords)
{
    DServerInfo d(*pIni);
    d.m_szNntpServer = "";
    d.m_szPop3Server = "ann@pop.example.org";
    d.m_iPop3Port = 995;
    d.m_szPop3Password = "pop-secret";
    d.m_szNntpPassword = "typed but not kept";
    d.m_bNntpSavePassword = false;
    ASSERT_TRUE(d.Save(*pIni));
    EXPECT_EQ(pIni->GetString("Servers", "NNTPServer", "news"), "");
    EXPECT_EQ(pIni->GetString("Servers", "POP3Server", ""), "ann@pop.example.org");
    EXPECT_EQ(pIni->GetInt("Servers", "POP3Port", 0), 995);
    EXPECT_EQ(pIni->GetPop3Password(), "pop-secret");
    EXPECT_NE(pIni->GetString("Servers", "POP3Password", ""), "pop-secret");
    EXPECT_EQ(pIni->GetNntpPassword(), "");
    EXPECT_EQ(pIni->GetInt("Servers", "NNTPSavePassword", 1), 0);

    // Reopened, a password shows only when it is saved.
    DServerInfo again(*pIni);
    EXPECT_EQ(again.m_szPop3Password, "pop-secret");
    pIni->WriteInt("Servers", "POP3SavePassword", 0);
    EXPECT_EQ(DServerInfo(*pIni).m_szPop3Password, "");
}

TEST(ServerInfoPort, FieldTakesFiveDigitsAtMost)
{
    EXPECT_EQ(DServerInfo::ParsePort(""), 0);
    EXPECT_EQ(DServerInfo::ParsePort("119"), 119);
    EXPECT_EQ(DServerInfo::ParsePort("99999"), 99999);
    EXPECT_EQ(DServerInfo::ParsePort("100000"), -1);
    EXPECT_EQ(DServerInfo::ParsePort("11a"), -1);
    EXPECT_EQ(DServerInfo::ParsePort("-1"), -1);
}

TEST_F(DialogFixture, UserInfoEmptyNameOrAddressKeepsTheDialogOnIt)
{
    DUserInfo d(*pIni);
    EXPECT_EQ(d.m_szName, "Your Name Here");
    d.m_szName = "";
    d.m_szEmailAddress = "";
    dlg::OkResult r = d.CheckOk();
    EXPECT_EQ(r.iFocus, DUserInfo::NAME);
    d.m_szName = "Ann Smith";
    r = d.CheckOk();
    EXPECT_FALSE(r.bAccepted);
    EXPECT_EQ(r.iFocus, DUserInfo::EMAIL);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[0].text.find("without your name."), std::string::npos);
    EXPECT_NE(boxes.boxes[1].text.find("without your email address."), std::string::npos);
    EXPECT_EQ(boxes.boxes[1].caption, "Warning!");
    d.m_szEmailAddress = "ann@example.org";
    ASSERT_TRUE(d.CheckOk().bAccepted);
    ASSERT_TRUE(d.Save(*pIni));
    EXPECT_EQ(pIni->GetString("User", "EmailAddress", ""), "ann@example.org");
}
