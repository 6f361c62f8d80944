// CPOP3 against a real POP3 server (dovecot, on loopback by tests/peers): the
// seeded mailbox byte for byte.  Deleting, the age rule and a refused login
// against the same server are the headless program's tests (tests/e2e).
#include "ClientHarness.h"
#include "PeerState.h"
#include "TestUtil.h"

#include "framework/Files.h"
#include "proto/CPOP3.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

using prototest::Pop3Recorder;
using prototest::PumpUntil;
using testpeers::PeerState;

namespace {

class Pop3Live : public ::testing::Test {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        ASSERT_TRUE(peers.Ok()) << peers.Error();
        port = static_cast<std::uint16_t>(peers.GetInt("POP3_PORT"));
        ASSERT_NE(port, 0);
    }

    // One session, keeping the messages; returns its recorder.
    std::unique_ptr<Pop3Recorder> Session(const std::string& user, const std::string& pass)
    {
        auto rec = std::make_unique<Pop3Recorder>();
        CPOP3 c(rec.get(), Pop3Recorder::kMsg, 0, dir.Path().c_str());
        EXPECT_TRUE(c.RetrieveMail(peers.Get("PEERS_HOST").c_str(), port, user.c_str(),
                                   pass.c_str(), "", false, 0));
        EXPECT_TRUE(PumpUntil([&] { return rec->bEnded; }, 60000));
        lastError = c.m_iLastError;
        return rec;
    }

    PeerState peers;
    std::uint16_t port = 0;
    testutil::TempDir dir;
    int lastError = -1;
};

std::string Sha256(const std::string& data)
{
    return QCryptographicHash::hash(QByteArray(data.data(), static_cast<qsizetype>(data.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

TEST_F(Pop3Live, RetrievesTheSeededMailboxByteForByte)
{
    std::ifstream manifest(peers.Get("POP3_MANIFEST"));
    std::vector<QJsonObject> items;
    for (std::string line; std::getline(manifest, line);)
        items.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    ASSERT_EQ(static_cast<int>(items.size()), peers.GetInt("POP3_MESSAGES"));
    ASSERT_GT(items.size(), 5u);

    auto rec = Session(peers.Get("POP3_USER"), peers.Get("POP3_PASS"));
    EXPECT_EQ(rec->end.wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(rec->end.lParam, 0);
    EXPECT_EQ(lastError, 0);
    ASSERT_GE(rec->notes.size(), 1u);
    EXPECT_EQ(rec->notes[0].wParam, CPOP3::NOTIFY_COUNT);
    EXPECT_EQ(rec->notes[0].lParam, static_cast<fw::LPARAM>(items.size()));
    auto msgs = rec->Messages();
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
    // Nothing was deleted.
    EXPECT_EQ(testpeers::CountMaildir(peers, peers.Get("POP3_USER")),
              static_cast<int>(items.size()));
}

} // namespace
