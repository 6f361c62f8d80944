// The server dialog's model: the checks of OK, the port that follows the
// security choice, fingerprints, and what is stored.
#include "DialogFixture.h"
#include "dialogs/DServerInfo.h"

#include <deque>
#include <functional>

namespace {
using S = DServerInfo;
const int YES = fw::IDYES, NO = fw::IDNO;

struct OkCase {
    const char* name;
    int iAnswer; // to the one question asked, 0 for none
    bool bAccepted;
    int iFocus;
    const char* caption; // the one box shown (nullptr: none) and a piece of its text
    const char* piece;
    std::function<void(DServerInfo&)> edit;
};
class ServerInfoOk : public DialogFixture, public ::testing::WithParamInterface<OkCase> {};
} // namespace

TEST_P(ServerInfoOk, ChecksRunInOrderAndStopAtTheFirstFailure)
{
    const OkCase& c = GetParam();
    DServerInfo d(*pIni);
    // A setup that passes every check, then the case's change.
    d.m_szNntpServer = "news.example.org";
    d.m_szNntpName = "";
    d.m_szSmtpServer = "smtp.example.org";
    d.m_szPop3Server = "pop.example.org";
    d.m_szPop3Name = "ann";
    d.m_szPop3Password = "secret";
    c.edit(d);
    if (c.iAnswer)
        boxes.answers = {c.iAnswer};
    dlg::OkResult r = d.CheckOk();
    EXPECT_EQ(r.bAccepted, c.bAccepted);
    EXPECT_EQ(r.iFocus, c.iFocus);
    ASSERT_EQ(boxes.boxes.size(), c.caption ? 1u : 0u) << ::testing::PrintToString(Shown());
    if (c.caption) {
        EXPECT_EQ(boxes.boxes[0].caption, c.caption);
        EXPECT_NE(boxes.boxes[0].text.find(c.piece), std::string::npos) << boxes.boxes[0].text;
    }
}

const OkCase kOkCases[] = {
    {"Good", 0, true, 0, nullptr, nullptr, [](S&) {}},
    {"NoNewsAnsweredNo", NO, false, S::NNTP_SERVER, "Warning!", "Leave NNTP Server name blank?",
     [](S& d) { d.m_szNntpServer = ""; }},
    {"NoNewsAnsweredYes", YES, true, 0, "Warning!", "Usnet news",
     [](S& d) { d.m_szNntpServer = ""; }},
    {"UserPrependedOnNewsServer", 0, true, 0, "Warning!",
     "Your user name: joe\nis prepended on the NNTP server name.",
     [](S& d) { d.m_szNntpServer = "joe@news.example.org"; }},
    // Port 0 stops the checks: the empty SMTP server is not asked about.
    {"NewsPortZero", 0, false, S::NNTP_PORT, "ERROR!",
     "The NNTP TCP Port cannot be zero!\nThe standard value for the port is 119.",
     [](S& d) {
         d.m_iNntpPort = 0;
         d.m_szSmtpServer = "";
     }},
    {"ServerAppendedOnNewsUser", 0, true, 0, "Warning!",
     "The server name: elsewhere.org\nis appended on the NNTP user",
     [](S& d) { d.m_szNntpName = "joe@elsewhere.org"; }},
    {"NoSmtpAnsweredNo", NO, false, S::SMTP_SERVER, "Warning!", "Leave SMTP Server name blank?",
     [](S& d) { d.m_szSmtpServer = ""; }},
    {"SmtpPortZero", 0, false, S::SMTP_PORT, "ERROR!", "standard value for the port is 25.",
     [](S& d) { d.m_iSmtpPort = 0; }},
    // Without a POP3 server the user name and password are not needed.
    {"NoPop3AnsweredYes", YES, true, 0, "Warning!", "Leave POP3 Server name blank?",
     [](S& d) { d.m_szPop3Server = d.m_szPop3Name = d.m_szPop3Password = ""; }},
    {"NoPop3AnsweredNo", NO, false, S::POP3_SERVER, "Warning!", "POP3 Server name is required",
     [](S& d) { d.m_szPop3Server = ""; }},
    {"UserPrependedOnPop3Server", 0, true, 0, "Warning!",
     "Your user name: ann\nis prepended on the POP3 server name.",
     [](S& d) { d.m_szPop3Server = "ann@pop.example.org"; }},
    {"Pop3PortZero", 0, false, S::POP3_PORT, "ERROR!", "standard value for the port is 110.",
     [](S& d) { d.m_iPop3Port = 0; }},
    {"Pop3UserMissing", 0, false, S::POP3_NAME, "ERROR!",
     "Your user name is required for receiving mail.", [](S& d) { d.m_szPop3Name = ""; }},
    {"ServerAppendedOnPop3User", 0, true, 0, "Warning!",
     "The server name: other.org\nis appended on the POP3 user name.",
     [](S& d) { d.m_szPop3Name = "ann@other.org"; }},
    {"Pop3PasswordMissingAnsweredNo", NO, false, S::POP3_PASSWORD, "Warning!",
     "Enter your password when you go online?", [](S& d) { d.m_szPop3Password = ""; }},
    {"Pop3PasswordMissingNotSaved", 0, true, 0, nullptr, nullptr,
     [](S& d) {
         d.m_szPop3Password = "";
         d.m_bPop3SavePassword = false;
     }},
    {"PortBeyond16Bits", 0, false, S::SMTP_PORT, "ERROR!",
     "SMTP TCP Port must be a number from 1 to 65535", [](S& d) { d.m_iSmtpPort = 70000; }},
    {"PasswordTheScramblingCannotKeep", 0, false, S::NNTP_PASSWORD, "ERROR!",
     "A password can have at most 51 characters", [](S& d) { d.m_szNntpPassword = "caf\xc3\xa9"; }},
    {"TextTooLongForTheSettingsFile", 0, false, S::POP3_SERVER, "ERROR!",
     "longer than 79 characters", [](S& d) { d.m_szPop3Server = std::string(80, 'p'); }},
};
INSTANTIATE_TEST_SUITE_P(Table, ServerInfoOk, ::testing::ValuesIn(kOkCases),
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

TEST(ServerInfoPort, FieldTakesFiveDigitsAtMost)
{
    EXPECT_EQ(DServerInfo::ParsePort(""), 0);
    EXPECT_EQ(DServerInfo::ParsePort("119"), 119);
    EXPECT_EQ(DServerInfo::ParsePort("99999"), 99999);
    EXPECT_EQ(DServerInfo::ParsePort("100000"), -1);
    EXPECT_EQ(DServerInfo::ParsePort("11a"), -1);
    EXPECT_EQ(DServerInfo::ParsePort("-1"), -1);
}

namespace {
const std::string kHex64 = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";
const std::string kStored = "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:"
                            "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF";

std::string Pairs(const std::string& hex, const std::string& sep)
{
    std::string s;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        s += (i ? sep : "") + hex.substr(i, 2);
    return s;
}
} // namespace

TEST(ServerFingerprint, SixtyFourHexDigitsWithSeparatorsOnlyBetweenPairs)
{
    for (const std::string& good : {kHex64, Pairs(kHex64, ":"), Pairs(kHex64, " "),
                                    Pairs(kHex64, ": "), " " + kHex64 + " "}) {
        std::string out = "old";
        EXPECT_TRUE(DServerInfo::ParseFingerprint(good, out)) << good;
        EXPECT_EQ(out, kStored) << good;
    }
    std::string out = "old";
    EXPECT_TRUE(DServerInfo::ParseFingerprint("", out));
    EXPECT_EQ(out, "");
    for (const std::string& bad : {
             kHex64.substr(0, 62),                     // SHA-224 length and shorter
             kHex64 + "00",                            // longer
             kHex64 + kHex64,                          // SHA-512 length
             "0" + Pairs(kHex64, ":").substr(1) + "0", // separators inside pairs
             "0:" + kHex64.substr(1),                  // a separator after one digit
             kHex64.substr(0, 63) + "g",               // not hex
             kHex64.substr(0, 63) + "-0",              // another separator
             std::string("::"),                        // separators and no digits
         }) {
        std::string keep = "kept";
        EXPECT_FALSE(DServerInfo::ParseFingerprint(bad, keep)) << bad;
    }
}

namespace {
struct PortCase {
    const char* name;
    DServerInfo::Server server;
    int iPort;
    int iSecurity;
    std::deque<int> answers;
    int iExpected;
    std::size_t nQuestions;
};
class ServerSecurityPort : public DialogFixture, public ::testing::WithParamInterface<PortCase> {};
} // namespace

TEST_P(ServerSecurityPort, FollowsTheChoiceOnlyFromADefaultPort)
{
    const PortCase& c = GetParam();
    DServerInfo d(*pIni);
    d.Port(c.server) = c.iPort;
    boxes.answers = c.answers;
    EXPECT_EQ(d.ChooseSecurity(c.server, c.iSecurity), c.iExpected != c.iPort);
    EXPECT_EQ(d.Port(c.server), c.iExpected);
    EXPECT_EQ(d.Secured(c.server).iSecurity, c.iSecurity);
    ASSERT_EQ(boxes.boxes.size(), c.nQuestions);
    if (c.nQuestions) {
        EXPECT_NE(boxes.boxes[0].text.find("587"), std::string::npos);
    }
    // The other servers are left alone.
    for (int i = 0; i < DServerInfo::kServers; ++i) {
        if (i != c.server) {
            EXPECT_EQ(d.Port(DServerInfo::Server(i)),
                      DServerInfo::PlainPort(DServerInfo::Server(i)));
        }
    }
}

const PortCase kPortCases[] = {
    {"Pop3Tls", S::POP3, 110, S::SEC_TLS, {}, 995, 0},
    {"NntpTls", S::NNTP, 119, S::SEC_TLS, {}, 563, 0},
    {"SmtpTls", S::SMTP, 25, S::SEC_TLS, {}, 465, 0},
    {"SmtpSubmissionToTls", S::SMTP, 587, S::SEC_TLS, {}, 465, 0},
    {"OwnPortKept", S::POP3, 2110, S::SEC_TLS, {}, 2110, 0},
    {"TlsGivenUp", S::POP3, 995, S::SEC_AUTO, {}, 110, 0},
    {"NntpTlsToNone", S::NNTP, 563, S::SEC_NONE, {}, 119, 0},
    {"Pop3StartTlsAsksNothing", S::POP3, 110, S::SEC_STARTTLS, {}, 110, 0},
    {"SmtpStartTlsAgreed", S::SMTP, 25, S::SEC_STARTTLS, {YES}, 587, 1},
    {"SmtpStartTlsRefused", S::SMTP, 25, S::SEC_STARTTLS, {NO}, 25, 1},
    {"SmtpTlsToStartTls", S::SMTP, 465, S::SEC_STARTTLS, {YES}, 587, 1},
    {"SmtpAutoAsksNothing", S::SMTP, 25, S::SEC_AUTO, {}, 25, 0},
};
INSTANTIATE_TEST_SUITE_P(Table, ServerSecurityPort, ::testing::ValuesIn(kPortCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogFixture, ServerSecurityChecksStopOnTheFieldAtFault)
{
    DServerInfo d(*pIni);
    d.m_szPop3Name = "ann";
    d.m_szPop3Password = "pw";
    ASSERT_TRUE(d.CheckOk().bAccepted);

    d.Secured(S::SMTP).szFingerprint = kHex64.substr(1);
    dlg::OkResult r = d.CheckOk();
    EXPECT_FALSE(r.bAccepted);
    EXPECT_EQ(r.iFocus, S::SMTP_FINGERPRINT);
    d.Secured(S::SMTP).szFingerprint = Pairs(kHex64, ":");
    EXPECT_TRUE(d.CheckOk().bAccepted);

    // A pinned certificate is never looked at on a plain connection.
    d.ChooseSecurity(S::SMTP, S::SEC_NONE);
    EXPECT_EQ(d.CheckOk().iFocus, S::SMTP_FINGERPRINT);
    d.ChooseSecurity(S::SMTP, S::SEC_TLS);

    // An access token only ever comes from a password command.
    d.Secured(S::POP3).bAccessToken = true;
    r = d.CheckOk();
    EXPECT_FALSE(r.bAccepted);
    EXPECT_EQ(r.iFocus, S::POP3_PASSWORD_COMMAND);
    d.Secured(S::POP3).szPasswordCommand = "pass show mail/pop";
    EXPECT_TRUE(d.CheckOk().bAccepted);

    d.m_szSmtpPassword = "caf\xc3\xa9";
    EXPECT_EQ(d.CheckOk().iFocus, S::SMTP_PASSWORD);
    d.m_szSmtpPassword = "";
    // A command may be longer than the other texts, not endless.
    d.Secured(S::NNTP).szPasswordCommand = std::string(255, 'x');
    EXPECT_TRUE(d.CheckOk().bAccepted);
    d.Secured(S::NNTP).szPasswordCommand = std::string(256, 'x');
    EXPECT_EQ(d.CheckOk().iFocus, S::NNTP_PASSWORD_COMMAND);

    ASSERT_EQ(boxes.boxes.size(), 5u);
    EXPECT_NE(boxes.boxes[0].text.find("SMTP certificate fingerprint"), std::string::npos);
    EXPECT_NE(boxes.boxes[2].text.find("POP3 access token"), std::string::npos);
    for (const auto& b : boxes.boxes)
        EXPECT_EQ(b.caption, "ERROR!");
}

TEST_F(DialogFixture, ServerInfoIsStoredAndReadBackWithOnlySavedPasswords)
{
    pIni->WriteString("Servers", "NNTPSecurity", "bogus"); // read as auto
    pIni->WriteString("Servers", "POP3Security", "TLS");
    pIni->WriteInt("Servers", "POP3OAuth2", 1);
    DServerInfo d(*pIni);
    EXPECT_EQ(d.Secured(S::NNTP).iSecurity, S::SEC_AUTO);
    EXPECT_EQ(d.Secured(S::POP3).iSecurity, S::SEC_TLS);
    EXPECT_TRUE(d.Secured(S::POP3).bAccessToken);
    EXPECT_FALSE(d.Secured(S::NNTP).bAccessToken);

    d.m_szNntpServer = "";
    d.m_szPop3Password = "pop-secret";
    d.m_szNntpPassword = "typed but not kept";
    d.m_bNntpSavePassword = false;
    d.Secured(S::NNTP).iSecurity = S::SEC_NONE;
    d.Secured(S::SMTP).iSecurity = S::SEC_STARTTLS;
    d.Secured(S::SMTP).szFingerprint = Pairs(kHex64, " ");
    d.Secured(S::SMTP).szPasswordCommand = "secret-tool lookup smtp me";
    d.Secured(S::SMTP).bAccessToken = true;
    d.Secured(S::POP3).bAccessToken = false;
    d.m_szSmtpName = "me@example.org";
    d.m_szSmtpPassword = "smtp-secret";
    ASSERT_TRUE(d.Save(*pIni));

    EXPECT_EQ(pIni->GetString("Servers", "NNTPServer", "news"), "");
    EXPECT_EQ(pIni->GetPop3Password(), "pop-secret");
    EXPECT_NE(pIni->GetString("Servers", "POP3Password", ""), "pop-secret");
    EXPECT_EQ(pIni->GetNntpPassword(), "");
    EXPECT_EQ(pIni->GetInt("Servers", "NNTPSavePassword", 1), 0);
    EXPECT_EQ(pIni->GetString("Servers", "NNTPSecurity", ""), "none");
    EXPECT_EQ(pIni->GetString("Servers", "SMTPSecurity", ""), "starttls");
    EXPECT_EQ(pIni->GetString("Servers", "POP3Security", ""), "tls");
    EXPECT_EQ(pIni->GetString("Servers", "SMTPFingerprint", ""), kStored);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPPasswordCommand", ""), "secret-tool lookup smtp me");
    EXPECT_EQ(pIni->GetInt("Servers", "SMTPOAuth2", 0), 1);
    EXPECT_EQ(pIni->GetInt("Servers", "POP3OAuth2", 1), 0);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPName", ""), "me@example.org");
    EXPECT_NE(pIni->GetString("Servers", "SMTPPassword", ""), "smtp-secret");

    DServerInfo again(*pIni);
    EXPECT_EQ(again.m_szPop3Password, "pop-secret");
    EXPECT_EQ(again.m_szSmtpPassword, "smtp-secret");
    EXPECT_EQ(again.Secured(S::SMTP).szFingerprint, kStored);
    EXPECT_TRUE(again.Secured(S::SMTP).bAccessToken);

    // Without "Save password" nothing of it stays in the file, nor shows.
    again.m_bSmtpSavePassword = false;
    ASSERT_TRUE(again.Save(*pIni));
    EXPECT_EQ(pIni->GetString("Servers", "SMTPPassword", "x"), "");
    EXPECT_EQ(DServerInfo(*pIni).m_szSmtpPassword, "");
    pIni->WriteInt("Servers", "POP3SavePassword", 0);
    EXPECT_EQ(DServerInfo(*pIni).m_szPop3Password, "");
}
