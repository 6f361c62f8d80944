// The mail spool: what survives a run that ends at any moment, and what a
// later start makes of it.
#include "packet/MailSpool.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testutil::Exists;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

class Spool : public ::testing::Test {
protected:
    // A message as the client leaves it in the spool.
    std::string Retrieved(const std::string& name)
    {
        std::string path = dir.File("spool/" + name);
        WriteFile(path, "Subject: " + name + "\r\n\r\nBody\r\n");
        return path;
    }
    MailSpool Reopened()
    {
        MailSpool again(dir.File("spool"));
        std::string error;
        EXPECT_TRUE(again.Open(error)) << error;
        return again;
    }

    TempDir dir;
    MailSpool spool{dir.File("spool")};
    std::string error;
};

TEST_F(Spool, RecordedMessagesSurviveUntilASavedPacketHoldsThem)
{
    ASSERT_TRUE(spool.Open(error)) << error;
    std::string a = Retrieved("PWZ1.TMP"), b = Retrieved("PWZ2.TMP");
    ASSERT_TRUE(spool.Add(a, "uid-a", true, error)) << error;
    ASSERT_TRUE(spool.Add(b, "", true, error)) << error;
    std::string partial = Retrieved("PWZ3.TMP"); // the run ended during its RETR
    WriteFile(dir.File("spool/notes.txt"), "not ours");

    MailSpool again = Reopened();
    ASSERT_EQ(again.Messages().size(), 2u);
    EXPECT_EQ(again.Messages()[0].path, a) << "in the order they came";
    EXPECT_EQ(again.Messages()[0].uid, "uid-a");
    EXPECT_EQ(again.Messages()[1].uid, "");
    EXPECT_FALSE(Exists(partial));
    EXPECT_TRUE(Exists(dir.File("spool/notes.txt"))) << "only files of ours are removed";

    // A saved packet takes only the converted messages: b's conversion
    // failed, so the next start tries again.
    again.Converted(a);
    ASSERT_TRUE(again.PacketSaved(error)) << error;
    EXPECT_FALSE(Exists(a));
    EXPECT_TRUE(Exists(b));
    MailSpool third = Reopened();
    ASSERT_EQ(third.Messages().size(), 1u);
    EXPECT_EQ(third.Messages()[0].path, b);
    EXPECT_TRUE(third.Delivered("uid-a")) << "the server may still hold it";
}

TEST_F(Spool, UidsAreForgottenOnlyWhenTheServerNoLongerHoldsThem)
{
    ASSERT_TRUE(spool.Open(error));
    ASSERT_TRUE(spool.Add(Retrieved("PWZ1.TMP"), "gone", true, error));
    ASSERT_TRUE(spool.Add(Retrieved("PWZ2.TMP"), "deleted-now", true, error));
    ASSERT_TRUE(spool.Add(Retrieved("PWZ3.TMP"), "kept-by-server", true, error));
    ASSERT_TRUE(spool.Add(Retrieved("PWZ4.TMP"), "left-on-purpose", false, error));
    ASSERT_TRUE(spool.ServerCommitted({"deleted-now", "kept-by-server", "left-on-purpose"},
                                      {"deleted-now"}, error));
    MailSpool again = Reopened();
    EXPECT_FALSE(again.Delivered("gone"));
    EXPECT_FALSE(again.Delivered("deleted-now"));
    EXPECT_TRUE(again.Delivered("kept-by-server"));
    EXPECT_FALSE(again.Delivered("left-on-purpose")) << "fetched again next time, as always";
    EXPECT_FALSE(again.Delivered(""));
}

TEST_F(Spool, HostileIndexLinesAndLinkedDirectoriesAreRefused)
{
    ASSERT_TRUE(spool.Open(error));
    WriteFile(dir.File("outside"), "someone's file");
    WriteFile(dir.File("spool/spool.idx"),
              "M ../outside -\nM /etc/passwd -\nU bad\x01uid\nM PWZ9.TMP u9\ngarbage\n");
    MailSpool again = Reopened();
    EXPECT_TRUE(again.Messages().empty()) << "names outside the spool, or missing files";
    EXPECT_TRUE(Exists(dir.File("outside")));

    ASSERT_EQ(::symlink(dir.File("elsewhere").c_str(), dir.File("linked").c_str()), 0);
    MailSpool linked(dir.File("linked"));
    EXPECT_FALSE(linked.Open(error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
}

TEST_F(Spool, AnIndexThatCannotBeWrittenMakesTheMessageUnsafe)
{
    ASSERT_TRUE(spool.Open(error));
    std::string a = Retrieved("PWZ1.TMP");
    // The index's temporary name is taken by a directory: no write can land.
    ASSERT_EQ(::mkdir(dir.File("spool/spool.idx.new").c_str(), 0700), 0);
    EXPECT_FALSE(spool.Add(a, "uid-a", true, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(spool.Messages().empty());
    EXPECT_FALSE(spool.Delivered("uid-a")) << "never recorded, so fetched again";
}

} // namespace
