// The main window's posting path: Open (the default file in any letter
// case, packets that are no REP or not ours, replies without destination)
// and Post replies. An Autorun run that posts: tests/e2e/posting_e2e.py.
#include "ClientHarness.h"
#include "LooseServer.h"
#include "MainFixture.h"
#include "RepMaker.h"

#include "packet/RepPacket.h"
#include "session/WPost.h"

namespace {

class PostReplies : public MainFixture {
protected:
    void SetUp() override
    {
        prototest::EnsureWinsock();
        MainFixture::SetUp();
        ::mkdir(repDir.c_str(), 0700);
        pIni->WriteString("Directories", "Rep", repDir);
        pIni->WriteString("Servers", "SMTPServer", "127.0.0.1");
        pIni->WriteInt("Servers", "SMTPPort", smtp.Port());
        pIni->WriteString("User", "EmailAddress", "me@host.test");
    }
    std::string WriteRep(const std::vector<testrep::Reply>& replies, const std::string& name,
                         const std::string& packet = "TOLVAN")
    {
        std::string path = repDir + "/" + name;
        EXPECT_TRUE(
            testrep::WriteZip(path, {{"TOLVAN.MSG", testrep::MessageFile(packet, replies)}}));
        return path;
    }
    static testrep::Reply Mail(const std::string& to, const std::string& subject)
    {
        testrep::Reply r;
        r.to = to;
        r.subject = subject;
        r.lines = {"Hello"};
        return r;
    }
    bool HasBox(const std::string& text)
    {
        for (const auto& b : boxes.boxes)
            if (b.text.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::string repDir = home.File("rep");
    LooseServer smtp{LooseServer::SMTP};
};

TEST_F(PostReplies, OpenFindsTheDefaultFileInAnyCaseAndDropsRepliesWithoutDestination)
{
    std::string rep =
        WriteRep({Mail("a@x", "One"), Mail("", "Nowhere"), Mail("b@x", "Two")}, "tolvan.rep");
    pMain->OnCommand(CMD_OPEN);
    ASSERT_EQ(view.proposedOpenPaths.size(), 1u);
    EXPECT_EQ(view.proposedOpenPaths[0], rep);
    EXPECT_EQ(pMain->m_szRepPath, rep);
    ASSERT_NE(pMain->LoadedRep(), nullptr);
    EXPECT_TRUE(HasBox("Message 2 with the subject \"Nowhere\"\nhas no destination.  Deleting"));
    EXPECT_EQ(pMain->LoadedRep()->m_iEmailCount, 2);
    EXPECT_EQ(view.statuses.back(), "2 messages in " + rep);

    // Posting it: two replies go, the one without destination keeps the file.
    pMain->OnCommand(CMD_POST);
    ASSERT_NE(pMain->PostWindow(), nullptr);
    EXPECT_FALSE(view.enabled[CMD_OPEN]);
    ASSERT_TRUE(Pump([&] { return pMain->PostWindow()->Finished(); }));
    EXPECT_EQ(smtp.Messages().size(), 2u);
    EXPECT_TRUE(view.enabled[CMD_OPEN]);
    EXPECT_EQ(pMain->LoadedRep(), nullptr);
    EXPECT_TRUE(testutil::Exists(rep));
    EXPECT_NE(LastFailure().find("reply 2 (mail to nobody, \"Nowhere\"): it has no destination"),
              std::string::npos);
}

TEST_F(PostReplies, PacketsThatCannotBeOpened)
{
    pMain->OnCommand(CMD_OPEN); // no file: nothing happens
    EXPECT_EQ(pMain->LoadedRep(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
    testutil::WriteFile(repDir + "/Tolvan.Rep", "not an archive");
    pMain->OnCommand(CMD_OPEN);
    EXPECT_TRUE(HasBox("This is not a valid Mail Tolvan REP file."));
    WriteRep({Mail("a@x", "One")}, "Tolvan.Rep", "OTHER");
    pMain->OnCommand(CMD_OPEN);
    EXPECT_TRUE(HasBox("This packet does not belong to Tolvan.Ini."));
    EXPECT_EQ(pMain->LoadedRep(), nullptr);
    view.bCancelOpen = true;
    WriteRep({Mail("a@x", "One")}, "Tolvan.Rep");
    pMain->OnCommand(CMD_OPEN);
    EXPECT_EQ(pMain->LoadedRep(), nullptr);
    pMain->OnCommand(CMD_POST);
    EXPECT_TRUE(HasBox("There is no REP file loaded."));
    EXPECT_EQ(pMain->PostWindow(), nullptr);
}

} // namespace
