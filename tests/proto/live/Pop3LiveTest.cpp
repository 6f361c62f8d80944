// CPOP3 against a real POP3 server (dovecot, started privately on loopback
// by tests/peers): the seeded mailbox byte for byte, a line longer than the
// reply buffer, unique ids and delivered messages passed over, deletion down
// to an empty mailbox.  The age rule and a refused login against the same
// server are the headless program's tests (tests/e2e).
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
#include <functional>
#include <memory>
#include <set>

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

    // One session; returns its recorder.
    std::unique_ptr<Pop3Recorder> Session(const std::string& user, const std::string& pass,
                                          bool bDelete = false, std::int64_t tCutOff = 0,
                                          const std::function<void(CPOP3&)>& setup = {})
    {
        auto rec = std::make_unique<Pop3Recorder>();
        CPOP3 c(rec.get(), Pop3Recorder::kMsg, 0, dir.Path().c_str());
        if (setup)
            setup(c);
        EXPECT_TRUE(c.RetrieveMail(peers.Get("PEERS_HOST").c_str(), port, user.c_str(),
                                   pass.c_str(), "", bDelete, tCutOff));
        EXPECT_TRUE(PumpUntil([&] { return rec->bEnded; }, 60000));
        lastError = c.m_iLastError;
        skipped = c.SkippedCount();
        return rec;
    }

    // A scratch mailbox of this test's own, emptied.
    std::string Scratch(int i)
    {
        auto users = peers.GetList("POP3_SCRATCH_USERS");
        EXPECT_GT(static_cast<int>(users.size()), i);
        std::string u = users.at(static_cast<std::size_t>(i));
        EXPECT_TRUE(testpeers::EmptyMaildir(peers, u));
        return u;
    }

    PeerState peers;
    std::uint16_t port = 0;
    testutil::TempDir dir;
    int lastError = -1;
    int skipped = -1;
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

TEST_F(Pop3Live, LongLinesIdsAndDeletingEachMessageOnce)
{
    std::string user = Scratch(0);
    const std::string longLine(6000, 'x');
    const std::string bodies[] = {"Subject: m1\n\n.body\n", "Subject: long\n\n" + longLine + "\n",
                                  "Subject: m3\n\n.body\n"};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(testpeers::DeliverToMaildir(peers, user, i + 1, bodies[i]));
    const std::string pass = peers.Get("POP3_SCRATCH_PASS");

    // Nothing deleted; the long line arrives byte for byte; every message
    // has an id of its own.
    auto first = Session(user, pass);
    EXPECT_EQ(first->end.wParam, CPOP3::NOTIFY_DONE);
    auto msgs = first->Messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_TRUE(msgs[1].content == "Subject: long\r\n\r\n" + longLine + "\r\n");
    std::set<std::string> uids;
    for (const auto& m : msgs)
        uids.insert(m.uid);
    EXPECT_EQ(uids.size(), 3u);
    EXPECT_EQ(uids.count(""), 0u);

    // Deleting, with the long one delivered already: it is not fetched
    // again, and it goes with the others.
    auto rec = Session(user, pass, true, 0, [&](CPOP3& c) {
        c.SetDeliveredCheck([&](const std::string& uid) { return uid == msgs[1].uid; });
    });
    EXPECT_EQ(rec->end.wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(skipped, 1);
    ASSERT_EQ(rec->Messages().size(), 2u);
    EXPECT_EQ(rec->Messages()[1].content, "Subject: m3\r\n\r\n.body\r\n");
    EXPECT_EQ(rec->Messages()[1].uid, msgs[2].uid);

    // Now the mailbox is empty: the count 0 and the end.
    auto again = Session(user, pass, true, 0);
    ASSERT_EQ(again->notes.size(), 2u);
    EXPECT_EQ(again->notes[0].wParam, CPOP3::NOTIFY_COUNT);
    EXPECT_EQ(again->notes[0].lParam, 0);
    EXPECT_EQ(again->end.wParam, CPOP3::NOTIFY_DONE);
    EXPECT_EQ(again->end.lParam, 0);
    EXPECT_EQ(testpeers::CountMaildir(peers, user), 0);
}

} // namespace
