// Encrypted sessions against the real servers started with TLS on (a private
// authority trusted through SSL_CERT_FILE), the seeded mailbox byte for byte;
// certificates refused for their reasons by small loopback TLS servers of the
// test's own.  Plain POP3 against the same server is the headless program's
// test (tests/e2e).
#include "ClientHarness.h"
#include "NntpHarness.h"
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "net/CTls.h"
#include "net/WinsockError.h"
#include "proto/CNNTP.h"
#include "proto/CNNTPP.h"
#include "proto/CPOP3.h"
#include "proto/CSMTP.h"
#include "util/CStringList.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

using prototest::NntpNote;
using prototest::NntpRecorder;
using prototest::Pop3Recorder;
using prototest::PumpUntil;
using testpeers::PeerState;

namespace {

// A one-connection loopback TLS server on its own thread, presenting the
// given certificate, greeting with "+OK tiny" and refusing every command; or, with bDrop, one that
// reads the client's first bytes and closes without answering.
class TinyTlsServer {
public:
    TinyTlsServer(const std::string& cert, const std::string& key, bool bDrop = false)
    {
        // A client that refused the certificate has gone when the greeting
        // is written.
        std::signal(SIGPIPE, SIG_IGN);
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, cert, key, bDrop] { Serve(cert, key, bDrop); });
    }
    ~TinyTlsServer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    std::uint16_t Port() const { return m_port; }

private:
    void Serve(const std::string& cert, const std::string& key, bool bDrop)
    {
        int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        if (bDrop) {
            char buf[64];
            (void)::recv(fd, buf, sizeof buf, 0);
            ::close(fd);
            return;
        }
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM);
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            SSL_write(ssl, "+OK tiny\r\n", 10);
            char buf[256];
            while (SSL_read(ssl, buf, sizeof buf) > 0)
                SSL_write(ssl, "-ERR tiny\r\n", 11);
        }
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        ::close(fd);
    }
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

class TlsLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        ASSERT_FALSE(peers.Get("TLS_DIR").empty());
        // The private authority stands in for the system's trust store (for
        // this process and the tool it starts).
        ::setenv("SSL_CERT_FILE", peers.Get("TLS_CA").c_str(), 1);
        host = peers.Get("PEERS_HOST");
    }
    std::string Tls(const std::string& name) { return peers.Get("TLS_DIR") + "/" + name; }

    struct Pop3Result {
        std::unique_ptr<Pop3Recorder> rec;
        int iStatus = -1, iLastError = -1;
        bool bEncrypted = false;
        std::string failure;
    };
    Pop3Result Pop3(const std::string& server, std::uint16_t port, const ServerSecurity& s,
                    const std::string& pass = "secret")
    {
        Pop3Result r;
        r.rec = std::make_unique<Pop3Recorder>();
        CPOP3 c(r.rec.get(), Pop3Recorder::kMsg, 0, dir.Path().c_str());
        c.SetSecurity(s);
        EXPECT_TRUE(c.RetrieveMail(server.c_str(), port, "alice", pass.c_str(), "", false, 0));
        EXPECT_TRUE(PumpUntil([&] { return r.rec->bEnded; }, 60000));
        r.iStatus = c.Status();
        r.iLastError = c.m_iLastError;
        r.bEncrypted = c.Encrypted();
        r.failure = c.ReplyLine();
        return r;
    }

    PeerState peers;
    std::string host;
    testutil::TempDir dir;
};

std::string Sha256(const std::string& data)
{
    return QCryptographicHash::hash(QByteArray(data.data(), static_cast<qsizetype>(data.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

TEST_F(TlsLive, Pop3MailboxByteForByteOverStlsAndImplicitTlsWithAPasswordCommand)
{
    // Each seeded message's size and digest as it must be stored.
    std::ifstream manifest(peers.Get("POP3_MANIFEST"));
    std::vector<QJsonObject> items;
    for (std::string line; std::getline(manifest, line);)
        items.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    ASSERT_EQ(static_cast<int>(items.size()), peers.GetInt("POP3_MESSAGES"));
    ASSERT_GT(items.size(), 5u);
    const struct {
        int iMode;
        const char* pszPasswordCommand; // instead of the password
        const char* pszFailure;         // the reason, when the session fails
    } rows[] = {
        {ServerSecurity::AUTO, "", nullptr},
        {ServerSecurity::STARTTLS, "", nullptr},
        {ServerSecurity::TLS, "printf \"secret\\nsecond line\\n\"", nullptr},
        {ServerSecurity::TLS, "sh -c \"echo no vault >&2; exit 3\"",
         "password command failed: \"sh\" ended with status 3: no vault"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(ServerSecurity::ModeName(row.iMode)) + row.pszPasswordCommand);
        std::uint16_t port = static_cast<std::uint16_t>(
            peers.GetInt(row.iMode == ServerSecurity::TLS ? "POP3S_PORT" : "POP3_PORT"));
        ServerSecurity s = ServerSecurity::For("POP3", row.iMode);
        s.strPasswordCommand = row.pszPasswordCommand;
        Pop3Result r = Pop3(host, port, s, *row.pszPasswordCommand ? "" : "secret");
        if (row.pszFailure) {
            EXPECT_EQ(r.iStatus, CPOP3::STATUS_FAILED);
            EXPECT_NE(r.failure.find(row.pszFailure), std::string::npos) << r.failure;
            continue;
        }
        EXPECT_EQ(r.iStatus, CPOP3::STATUS_DONE) << r.failure;
        EXPECT_EQ(r.iLastError, 0) << WinsockErrorString(r.iLastError);
        EXPECT_TRUE(r.bEncrypted);
        ASSERT_FALSE(r.rec->notes.empty());
        EXPECT_EQ(r.rec->notes[0].wParam, CPOP3::NOTIFY_COUNT);
        EXPECT_EQ(r.rec->notes[0].lParam, static_cast<fw::LPARAM>(items.size()));
        auto msgs = r.rec->Messages();
        ASSERT_EQ(msgs.size(), items.size());
        for (std::size_t i = 0; i < msgs.size(); ++i) {
            SCOPED_TRACE("message " + std::to_string(i + 1));
            EXPECT_EQ(msgs[i].iMessage, static_cast<int>(i + 1));
            EXPECT_EQ(static_cast<int>(msgs[i].content.size()), items[i]["crlf_size"].toInt());
            EXPECT_EQ(Sha256(msgs[i].content), items[i]["crlf_sha256"].toString().toStdString());
        }
        // The plain kind has the dot lines: they arrive unstuffed.
        EXPECT_NE(msgs[0].content.find("\r\n..two leading dots\r\n.\r\n. a dot and a blank\r\n"),
                  std::string::npos);
        EXPECT_TRUE(fw::ListDirectory(dir.Path()).empty());
    }
    EXPECT_EQ(testpeers::CountMaildir(peers, "alice"), static_cast<int>(items.size()))
        << "nothing was deleted";
}

// Posting clients report through NotifyDone.
template <class Client>
class Reporting : public Client {
public:
    explicit Reporting(fw::Window* pWnd) : Client(pWnd, fw::WM_USER + 77) {}
    bool bDone = false;

protected:
    void NotifyDone() override { bDone = true; }
};

TEST_F(TlsLive, NewsReadAndPostedOverStartTlsAndImplicitTls)
{
    fw::Window wnd;
    for (int iMode : {ServerSecurity::STARTTLS, ServerSecurity::TLS}) {
        SCOPED_TRACE(ServerSecurity::ModeName(iMode));
        std::uint16_t port = static_cast<std::uint16_t>(
            peers.GetInt(iMode == ServerSecurity::TLS ? "NNTPS_PORT" : "NNTP_PORT"));
        CNNTP client(dir.Path().c_str());
        NntpRecorder rec(client);
        std::size_t seen = 0;
        client.SetSecurity(ServerSecurity::For("NNTP", iMode));
        ASSERT_TRUE(client.Connect(&rec, CNNTP::MSG_CONNECT, host.c_str(), port, nullptr, nullptr));
        NntpNote n = rec.Next(&seen);
        ASSERT_EQ(n.kind, NntpNote::CONNECTED)
            << n.reply << " " << WinsockErrorString(client.m_iLastError);
        EXPECT_TRUE(client.Encrypted());
        ASSERT_TRUE(client.GroupList(&rec, CNNTP::MSG_GROUP_LIST, 0));
        NntpNote list = rec.Next(&seen);
        ASSERT_EQ(list.kind, NntpNote::FILE) << list.reply;
        EXPECT_NE(list.content.find("local.test.alpha "), std::string::npos);
        ASSERT_TRUE(client.Quit(&rec, CNNTP::MSG_QUIT));
        rec.Next(&seen);

        // The posting client on its own connection, secured the same way.
        testutil::WriteFile(dir.File("body"), "\nA private article.\n"); // after its header lines
        std::FILE* f = std::fopen(dir.File("body").c_str(), "rb");
        CStringList groups;
        groups.Add("local.test.alpha");
        Reporting<CNNTPP> poster(&wnd);
        poster.SetSecurity(ServerSecurity::For("NNTP", iMode));
        ASSERT_TRUE(poster.PostArticle(host.c_str(), port, f, "Encrypted", "alice@peers.test", "",
                                       &groups));
        ASSERT_TRUE(PumpUntil([&] { return poster.bDone; }, 60000));
        std::fclose(f);
        EXPECT_EQ(poster.m_iStatus, CMessageSender::STATUS_SENT)
            << poster.FailureText() << " / " << WinsockErrorString(poster.m_iLastError);
        EXPECT_TRUE(poster.Encrypted());
    }
}

using Smtp = Reporting<CSMTP>;

TEST_F(TlsLive, ReplyPostedOverStartTlsWithALoginAndOverImplicitTls)
{
    fw::Window wnd;
    struct Case {
        int iMode;
        const char* pszPort;
        const char* pszPassword;
        int iStatus;
    } cases[] = {{ServerSecurity::AUTO, "SMTP_PORT", "secret", CMessageSender::STATUS_SENT},
                 {ServerSecurity::TLS, "SMTPS_PORT", "secret", CMessageSender::STATUS_SENT},
                 {ServerSecurity::STARTTLS, "SMTP_PORT", "wrong", CMessageSender::STATUS_FAILED}};
    int iSent = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(ServerSecurity::ModeName(k.iMode));
        testutil::WriteFile(dir.File("body"), "A reply over a private line.\r\n");
        std::FILE* f = std::fopen(dir.File("body").c_str(), "rb");
        CStringList to;
        to.Add("bob@peers.test");
        Smtp c(&wnd);
        ServerSecurity s = ServerSecurity::For("SMTP", k.iMode);
        s.strUser = "alice";
        s.strPassword = k.pszPassword;
        c.SetSecurity(s);
        ASSERT_TRUE(c.SendMail(host.c_str(), static_cast<std::uint16_t>(peers.GetInt(k.pszPort)), f,
                               "Encrypted", "alice@peers.test", "Alice", &to, nullptr));
        ASSERT_TRUE(PumpUntil([&] { return c.bDone; }, 60000));
        std::fclose(f);
        EXPECT_EQ(c.m_iStatus, k.iStatus)
            << c.FailureText() << " / " << WinsockErrorString(c.m_iLastError);
        EXPECT_TRUE(c.Encrypted());
        if (k.iStatus == CMessageSender::STATUS_SENT)
            ++iSent;
        else
            EXPECT_EQ(c.FailureText().rfind("535", 0), 0u) << c.FailureText();
    }
    // Each message sent arrived with the login.
    std::ifstream in(peers.Get("SMTP_STORE") + "/envelopes.jsonl");
    int iFound = 0;
    for (std::string line; std::getline(in, line);)
        iFound += line.find("\"auth_user\": \"alice\"") != std::string::npos;
    EXPECT_EQ(iFound, iSent);
}

TEST_F(TlsLive, CertificatesRefusedForTheirReasonsAPinAcceptedAndADroppedHandshake)
{
    std::string fp = peers.Get("TLS_SERVER_FINGERPRINT");
    struct Case {
        const char* pszCert;
        std::string pin;
        int iWant;
        const char* pszDetail;
    } cases[] = {
        {"server", "", 0, ""},
        {"expired", "", TLS_E_EXPIRED, "expired"},
        {"otherhost", "", TLS_E_HOST, "127.0.0.1"},
        {"rogue", "", TLS_E_ISSUER, "issuer"},
        {"rogue", "", 0, ""}, // pinned below: accepted, whoever issued it
        {"rogue", fp, TLS_E_PIN, "not the pinned one"},
        {"", "", TLS_E_CLOSED, ""}, // a server that drops the connection in the handshake
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Case& k = cases[i];
        SCOPED_TRACE(std::string(k.pszCert) + " case " + std::to_string(i));
        std::string certFp;
        if (*k.pszCert) {
            // The fingerprint the client must name: from the file itself.
            BIO* b = BIO_new_file(Tls(std::string(k.pszCert) + ".pem").c_str(), "r");
            X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
            unsigned char d[32];
            unsigned n = 0;
            X509_digest(x, EVP_sha256(), d, &n);
            certFp = FormatFingerprint(d, static_cast<int>(n));
            X509_free(x);
            BIO_free(b);
        }
        if (i == 4)
            k.pin = certFp;
        TinyTlsServer server(Tls(std::string(k.pszCert) + ".pem"),
                             Tls(std::string(k.pszCert) + ".key"), !*k.pszCert);
        ServerSecurity s = ServerSecurity::For("POP3", ServerSecurity::TLS);
        s.strPin = k.pin;
        Pop3Result r = Pop3(host, server.Port(), s);
        int iError = r.iLastError;
        EXPECT_EQ(iError, k.iWant) << WinsockErrorString(iError);
        EXPECT_EQ(r.iStatus, CPOP3::STATUS_FAILED);
        if (k.iWant == 0) {
            // Through: the login went out encrypted and was refused.
            EXPECT_TRUE(r.bEncrypted);
            EXPECT_EQ(r.failure, "-ERR tiny");
        } else {
            std::string text = WinsockErrorString(iError);
            EXPECT_NE(text.find(certFp), std::string::npos) << text;
            EXPECT_NE(text.find(k.pszDetail), std::string::npos) << text;
        }
    }
}

TEST_F(TlsLive, ToolShowsTheCertificateOrWhyItWasRefused)
{
    testutil::TempDir home;
    std::string fp = peers.Get("TLS_SERVER_FINGERPRINT");
    struct Case {
        std::vector<std::string> args;
        int iExit;
        std::string want;
    } cases[] = {
        {{peers.Get("POP3S_PORT"), "--tls", "pop3"}, 0, "fingerprint: SHA256 " + fp},
        {{peers.Get("POP3_PORT"), "--starttls", "pop3"}, 0, "issuer: CN = Mail Tolvan Test CA"},
        {{peers.Get("NNTP_PORT"), "--starttls", "nntp"}, 0, "subject: CN = localhost"},
        {{peers.Get("SMTP_PORT"), "--starttls", "smtp"}, 0, "protocol: TLSv1."},
        {{peers.Get("NNTPS_PORT"), "--tls", "nntp", "--pin", std::string(64, 'a')},
         1,
         "not the pinned one"},
    };
    for (const Case& k : cases) {
        std::vector<std::string> args = {"connect", host};
        args.insert(args.end(), k.args.begin(), k.args.end());
        SCOPED_TRACE(k.args[1] + " " + k.args[2]);
        auto r = testutil::RunTool(home.Path(), args);
        EXPECT_EQ(r.iExit, k.iExit) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(k.want), std::string::npos) << r.out << r.err;
    }
}

} // namespace
