// The encryption fields of the server dialog: fingerprints, the port that
// follows the security choice, the checks of OK and what is stored.
#include "DialogFixture.h"
#include "dialogs/DServerInfo.h"

#include <deque>

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

using S = DServerInfo;
const int YES = fw::IDYES, NO = fw::IDNO;
INSTANTIATE_TEST_SUITE_P(
    Table, ServerSecurityPort,
    ::testing::Values(PortCase{"Pop3Tls", S::POP3, 110, S::SEC_TLS, {}, 995, 0},
                      PortCase{"NntpTls", S::NNTP, 119, S::SEC_TLS, {}, 563, 0},
                      PortCase{"SmtpTls", S::SMTP, 25, S::SEC_TLS, {}, 465, 0},
                      PortCase{"SmtpSubmissionToTls", S::SMTP, 587, S::SEC_TLS, {}, 465, 0},
                      PortCase{"OwnPortKept", S::POP3, 2110, S::SEC_TLS, {}, 2110, 0},
                      PortCase{"TlsGivenUp", S::POP3, 995, S::SEC_AUTO, {}, 110, 0},
                      PortCase{"NntpTlsToNone", S::NNTP, 563, S::SEC_NONE, {}, 119, 0},
                      PortCase{
                          "Pop3StartTlsAsksNothing", S::POP3, 110, S::SEC_STARTTLS, {}, 110, 0},
                      PortCase{"SmtpStartTlsAgreed", S::SMTP, 25, S::SEC_STARTTLS, {YES}, 587, 1},
                      PortCase{"SmtpStartTlsRefused", S::SMTP, 25, S::SEC_STARTTLS, {NO}, 25, 1},
                      PortCase{"SmtpTlsToStartTls", S::SMTP, 465, S::SEC_STARTTLS, {YES}, 587, 1},
                      PortCase{"SmtpAutoAsksNothing", S::SMTP, 25, S::SEC_AUTO, {}, 25, 0}),
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

TEST_F(DialogFixture, ServerSecurityIsStoredAndReadBack)
{
    pIni->WriteString("Servers", "NNTPSecurity", "bogus"); // read as auto
    pIni->WriteString("Servers", "POP3Security", "TLS");
    pIni->WriteInt("Servers", "POP3OAuth2", 1);
    DServerInfo d(*pIni);
    EXPECT_EQ(d.Secured(S::NNTP).iSecurity, S::SEC_AUTO);
    EXPECT_EQ(d.Secured(S::POP3).iSecurity, S::SEC_TLS);
    EXPECT_TRUE(d.Secured(S::POP3).bAccessToken);
    EXPECT_FALSE(d.Secured(S::NNTP).bAccessToken);

    d.Secured(S::NNTP).iSecurity = S::SEC_NONE;
    d.Secured(S::SMTP).iSecurity = S::SEC_STARTTLS;
    d.Secured(S::SMTP).szFingerprint = Pairs(kHex64, " ");
    d.Secured(S::SMTP).szPasswordCommand = "secret-tool lookup smtp me";
    d.Secured(S::SMTP).bAccessToken = true;
    d.Secured(S::POP3).bAccessToken = false;
    d.m_szSmtpName = "me@example.org";
    d.m_szSmtpPassword = "smtp-secret";
    ASSERT_TRUE(d.Save(*pIni));

    EXPECT_EQ(pIni->GetString("Servers", "NNTPSecurity", ""), "none");
    EXPECT_EQ(pIni->GetString("Servers", "SMTPSecurity", ""), "starttls");
    EXPECT_EQ(pIni->GetString("Servers", "POP3Security", ""), "tls");
    EXPECT_EQ(pIni->GetString("Servers", "SMTPFingerprint", ""), kStored);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPPasswordCommand", ""), "secret-tool lookup smtp me");
    EXPECT_EQ(pIni->GetInt("Servers", "SMTPOAuth2", 0), 1);
    EXPECT_EQ(pIni->GetInt("Servers", "POP3OAuth2", 1), 0);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPName", ""), "me@example.org");
    std::string stored = pIni->GetString("Servers", "SMTPPassword", "");
    EXPECT_NE(stored, "smtp-secret");
    TnIni::ScramblePassword(stored, false);
    EXPECT_EQ(stored, "smtp-secret");

    DServerInfo again(*pIni);
    EXPECT_EQ(again.m_szSmtpPassword, "smtp-secret");
    EXPECT_EQ(again.Secured(S::SMTP).szFingerprint, kStored);
    EXPECT_TRUE(again.Secured(S::SMTP).bAccessToken);

    // Without "Save password" nothing of it stays in the file.
    again.m_bSmtpSavePassword = false;
    ASSERT_TRUE(again.Save(*pIni));
    stored = pIni->GetString("Servers", "SMTPPassword", "x");
    TnIni::ScramblePassword(stored, false);
    EXPECT_EQ(stored, "");
    EXPECT_EQ(DServerInfo(*pIni).m_szSmtpPassword, "");
}
