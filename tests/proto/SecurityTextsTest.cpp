// Password commands and the login texts.  How each client asks for
// encryption and logs in is with its other scripted tests.
#include "core/PasswordCommand.h"
#include "net/CTls.h"
#include "proto/Sasl.h"
#include "proto/ServerSecurity.h"

#include <gtest/gtest.h>

namespace {

TEST(PasswordCommand, FirstLineOrTheReasonItFailed)
{
    struct Case {
        const char* command;
        bool bOk;
        const char* want; // the password, or part of the reason
    } cases[] = {
        {"printf \"hunter2\\r\\nnext\\n\"", true, "hunter2"},
        // Words, never a shell: the semicolon and the dollar stay text.
        {"echo a;b $HOME", true, "a;b $HOME"},
        {"sh -c \"echo locked >&2; exit 4\"", false, "status 4: locked"},
        {"/nonexistent/vault", false, "cannot be started"},
        {"true", false, "printed no password"},
        {"", false, "empty"},
        {"sh -c \"kill -9 $$\"", false, "signal 9"},
        {"yes", false, "printed more than"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        std::string password, why;
        EXPECT_EQ(RunPasswordCommand(k.command, password, why), k.bOk) << why;
        EXPECT_NE((k.bOk ? password : why).find(k.want), std::string::npos)
            << password << "|" << why;
        if (k.bOk) {
            EXPECT_EQ(password, k.want);
        }
    }
    // A command that never ends is stopped at the limit.
    std::string password, why;
    EXPECT_FALSE(RunPasswordCommand("sleep 30", password, why, 1));
    EXPECT_NE(why.find("did not finish within 1 seconds"), std::string::npos) << why;
}

TEST(SecurityTexts, LoginsFingerprintsModesAndPorts)
{
    // The published examples of the two mechanisms.
    EXPECT_EQ(SaslPlain("tim", "tanstaaftanstaaf"), "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
    EXPECT_EQ(SaslXOAuth2("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbG"
              "NrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ==");
    EXPECT_EQ(Base64Of("ab"), "YWI=");

    std::string hex(64, 'A');
    EXPECT_EQ(NormalizeFingerprint(hex), std::string(64, 'a'));
    unsigned char d[32];
    for (int i = 0; i < 32; ++i)
        d[i] = static_cast<unsigned char>(i * 8);
    std::string colons = FormatFingerprint(d, 32);
    EXPECT_EQ(colons.substr(0, 9), "00:08:10:");
    EXPECT_EQ(NormalizeFingerprint(colons).size(), 64u);
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1)), "");
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1) + "g"), "");

    for (auto [text, iMode] : {std::pair{"TLS", ServerSecurity::TLS},
                               {"StartTLS", ServerSecurity::STARTTLS},
                               {"none", ServerSecurity::NONE},
                               {"ssl", ServerSecurity::AUTO}})
        EXPECT_EQ(ServerSecurity::ParseMode(text), iMode) << text;
    ServerSecurity tls = ServerSecurity::For("NNTP", ServerSecurity::TLS);
    EXPECT_EQ(tls.EffectivePort(119), 563);
    EXPECT_EQ(tls.EffectivePort(8119), 8119);
    EXPECT_EQ(ServerSecurity::For("SMTP", ServerSecurity::TLS).EffectivePort(25), 465);
    EXPECT_EQ(ServerSecurity::For("SMTP", ServerSecurity::STARTTLS).EffectivePort(25), 25);
    EXPECT_EQ(ServerSecurity::For("POP3", ServerSecurity::TLS).EffectivePort(110), 995);
}

} // namespace
