// The built-in archiver: saving packets, reading REP archives, and failures.
#include "packet/Et4Zip.h"
#include "packet/MemberDeflater.h"
#include "packet/PacketSave.h"

#include "MessageMaker.h"
#include "SmallDisk.h"
#include "TestUtil.h"
#include "framework/Files.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testmsg::Bytes;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;
using Files = std::vector<std::pair<std::string, std::string>>;

namespace {

// Mail-like text: numbered lines of words, CR LF.
std::string Text(std::size_t n, unsigned seed)
{
    static const char* const kWords[] = {"offline", "reader", "packet", "news", "reply",
                                         "thanks",  "group",  "quoted", "mail", "article"};
    std::mt19937 rng(seed);
    std::string s;
    for (unsigned line = 1; s.size() < n; ++line) {
        s += std::to_string(line) + ":";
        for (int w = 0; w < 9; ++w)
            s += std::string(" ") + kWords[rng() % 10];
        s += "\r\n";
    }
    s.resize(n);
    return s;
}

struct Entry {
    std::string data;
    zip_uint16_t method = 0;
    zip_uint64_t compressed = 0;
};

// Every entry of the archive by name, read through libzip (which checks
// each CRC).
std::map<std::string, Entry> ReadZip(const std::string& path)
{
    std::map<std::string, Entry> entries;
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    EXPECT_NE(z, nullptr) << path;
    if (!z)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        EXPECT_EQ(zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st), 0);
        Entry& e = entries[st.name];
        e.method = st.comp_method;
        e.compressed = st.comp_size;
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        EXPECT_NE(f, nullptr) << st.name;
        char buffer[65536];
        zip_int64_t n;
        while (f && (n = zip_fread(f, buffer, sizeof buffer)) > 0)
            e.data.append(buffer, static_cast<std::size_t>(n));
        if (f) {
            EXPECT_EQ(zip_fclose(f), 0) << st.name << ": bad CRC";
        }
    }
    zip_discard(z);
    return entries;
}

// Makes dir and writes the files into it with a qwkfiles.lst naming them.
void MakeWorkDir(const std::string& dir, const Files& files)
{
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    std::string list;
    for (const auto& [name, data] : files) {
        WriteFile(dir + "/" + name, data);
        list += name + "\r\n";
    }
    WriteFile(dir + "/qwkfiles.lst", list);
}

// Writes an archive with arbitrary entry names straight through libzip, the
// way a hostile REP packet could hold them.
void MakeRawZip(const std::string& path, const Files& entries)
{
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, data] : entries) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        ASSERT_NE(src, nullptr);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_RAW), 0) << name;
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::vector<std::string> ListEntries(ET4HANDLE h, const char* pszPattern = "*.*")
{
    std::vector<std::string> names;
    ET4FIND find;
    char name[ET4_MAX_NAME];
    std::snprintf(name, sizeof name, "%s", pszPattern);
    for (std::int16_t r = Et4ZipFindFirst(h, &find, name, "", 0xFFFF, "", 0xFFFF); r == 0;
         r = Et4ZipFindNext(h, &find, name, "", 0xFFFF, "", 0xFFFF))
        names.push_back(name);
    return names;
}

struct ThreadsReset {
    ~ThreadsReset() { Et4ZipSetThreads(0); }
};

} // namespace

// Random data is stored, text (several chunks long, and base64) deflated;
// one thread and four give the same members, compressed alike (chunk edges,
// many members); all come back byte for byte through libzip, unzip and our
// own reader, at the top level whatever the path.
TEST(Zip, SavedPacketStoresOrDeflatesAlikeOnAnyThreadsAndEveryReaderGetsItBack)
{
    ThreadsReset reset;
    TempDir dir;
    std::string work = dir.File("work dir with blanks");
    std::string base64;
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char c : Bytes(300000, 5)) {
        base64 += kAlphabet[c % 64];
        if (base64.size() % 78 == 76)
            base64 += "\r\n";
    }
    Files files = {{"messages.dat", Text(2 * 1024 * 1024 + 12345, 1)}, // three chunks
                   {"PHOTO.ATT", Bytes(700000, 2)},
                   {"encoded.txt", base64},
                   {"tail.bin", Text(20000, 3) + Bytes(200000, 4)}, // text start: deflated
                   {"empty.lst", ""},
                   {"000.ndx", std::string("\0\0\0\x82\0", 5)},
                   {"control.dat", "Mail Tolvan\r\n"},
                   {"exact.dat", Text(1024 * 1024, 7)},
                   {"over.dat", Text(1024 * 1024 + 1, 8)},
                   {"window.dat", Text(32 * 1024, 9)}};
    for (unsigned i = 0; i < 24; ++i)
        files.emplace_back(std::to_string(i) + ".msg",
                           i % 3 == 0 ? Bytes(50000 + i, i) : Text(3000 * i + 1, i));
    MakeWorkDir(work, files);
    std::string qwk = dir.File("Home.Qwk");
    std::map<std::string, Entry> results[2];
    unsigned threads[2] = {4, 1};
    for (int k = 0; k < 2; ++k) {
        Et4ZipSetThreads(threads[k]);
        std::string error;
        ASSERT_EQ(CPacketSaver::ZipPacketFiles(work, k ? dir.File("one.qwk") : qwk, error),
                  static_cast<int>(files.size()))
            << error;
        results[k] = ReadZip(k ? dir.File("one.qwk") : qwk);
        ASSERT_EQ(results[k].size(), files.size());
    }
    std::map<std::string, Entry>& entries = results[0];
    for (const auto& [name, data] : files) {
        EXPECT_TRUE(entries[name].data == data) << name << " differs";
        EXPECT_TRUE(results[1][name].data == data) << name << " differs with one thread";
        EXPECT_EQ(entries[name].method, results[1][name].method) << name;
        EXPECT_EQ(entries[name].compressed, results[1][name].compressed) << name;
    }
    EXPECT_EQ(entries["PHOTO.ATT"].method, ZIP_CM_STORE);
    EXPECT_EQ(entries["empty.lst"].method, ZIP_CM_STORE);
    for (const char* name : {"messages.dat", "encoded.txt", "tail.bin"})
        EXPECT_EQ(entries[name].method, ZIP_CM_DEFLATE) << name;
    EXPECT_LT(entries["messages.dat"].compressed, files[0].second.size() / 3);

    auto unzip = testutil::RunProgram({"unzip", "-tq", qwk});
    EXPECT_EQ(unzip.iExit, 0) << unzip.out << unzip.err;

    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    ET4HANDLE h = 0;
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_READ, &h), 0);
    std::vector<std::string> names = ListEntries(h);
    ASSERT_EQ(names.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(names[i], files[i].first);
    EXPECT_EQ(ListEntries(h, "*.NDX"), std::vector<std::string>{"000.ndx"});
    for (const auto& [name, data] : files) {
        EXPECT_EQ(Et4UnZip(&h, out.c_str(), name.c_str(), "", ""), 0) << name;
        EXPECT_TRUE(ReadFile(out + "/" + name) == data) << name;
    }
    EXPECT_EQ(Et4UnZip(&h, out.c_str(), "absent.txt", "", ""), ET4_NO_ENTRY);
    EXPECT_EQ(Et4ZipClose(&h), 0);
    EXPECT_EQ(h, 0u);
}

// A member the workers cannot read fails its member and every later one,
// and the deflater stops without waiting for work nobody will do.
TEST(Zip, AWorkerThatCannotReadStopsTheMembersAfterIt)
{
    TempDir dir;
    std::string good = dir.File("good.dat");
    std::string shrunk = dir.File("shrunk.dat");
    WriteFile(good, Text(1500000, 1));
    WriteFile(shrunk, Text(1500000, 2));
    // Measured at 3 MB, holding half of that when the workers come.
    et4::MemberDeflater deflater({{good, 1500000}, {shrunk, 3000000}, {good, 1500000}}, 2, 5,
                                 256 * 1024);
    unsigned char buffer[8192];
    long long n;
    while ((n = deflater.Read(0, buffer, sizeof buffer)) > 0) {
    }
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(deflater.Finished(0));
    while ((n = deflater.Read(1, buffer, sizeof buffer)) > 0) {
    }
    EXPECT_EQ(n, -1);
    EXPECT_EQ(deflater.FailedPath(), shrunk);
    EXPECT_NE(deflater.Errno(), 0);
    EXPECT_EQ(deflater.Read(2, buffer, sizeof buffer), -1);
}

// A full disk while saving: the error says so and no packet or temporary
// file is left.  While extracting: -10, no partial file, and the next
// (small) member still comes out.
TEST(Zip, AFullDiskLeavesNoPartialFileSavingOrExtracting)
{
    TempDir dir;
    std::string work = dir.File("work");
    std::string out = dir.File("out");
    MakeWorkDir(work, {{"messages.dat", Text(3 * 1024 * 1024, 1)},
                       {"A.ATT", Bytes(400000, 2)},
                       {"000.ndx", Text(200000, 3)}});
    std::string rep = dir.File("big.rep");
    MakeRawZip(rep, {{"big.msg", Bytes(512 * 1024, 7)}, {"small.msg", "ok"}});
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    auto result = testutil::RunWithSmallDisk(out, 256 * 1024, [&]() {
        std::string error;
        if (CPacketSaver::ZipPacketFiles(work, out + "/Home.Qwk", error) != -1)
            return 1;
        if (error.find("disk is full") == std::string::npos)
            return 2;
        if (!fw::ListDirectory(out).empty())
            return 3;
        ET4HANDLE h = 0;
        if (Et4ZipOpen(rep.c_str(), ET4_MODE_READ, &h) != 0)
            return 4;
        std::int16_t full = Et4UnZip(&h, out.c_str(), "big.msg", "", "");
        std::int16_t ok = Et4UnZip(&h, out.c_str(), "small.msg", "", "");
        Et4ZipClose(&h);
        if (full != ET4_DISK_FULL || ok != 0)
            return 5;
        return fw::ListDirectory(out) == std::vector<std::string>{"small.msg"} ? 0 : 6;
    });
    ASSERT_TRUE(result.has_value()) << "no private tmpfs mount";
    EXPECT_EQ(*result, 0);
    EXPECT_EQ(fw::ListDirectory(work).size(), 4u); // the packet files stay
}

// A member that cannot be read by the time the archive is written: the
// error names it and nothing is left behind.
TEST(Zip, AnUnreadableMemberLeavesNoPacketAndNamesTheFile)
{
    if (testutil::RerunAsNobody())
        return;
    TempDir dir;
    std::string work = dir.File("work");
    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    MakeWorkDir(work, {{"messages.dat", Text(3 * 1024 * 1024, 1)},
                       {"A.ATT", Text(400000, 2)},
                       {"000.ndx", Text(200000, 3)}});
    std::string att = work + "/A.ATT";
    std::string error;
    // A.ATT was added (and found readable) before the last file comes.
    int n = CPacketSaver::ZipPacketFiles(work, out + "/Home.Qwk", error,
                                         [&](int i, const std::string&) {
                                             if (i == 3)
                                                 ::chmod(att.c_str(), 0);
                                         });
    ::chmod(att.c_str(), 0644);
    EXPECT_EQ(n, -1);
    EXPECT_NE(error.find("cannot read " + att), std::string::npos) << error;
    EXPECT_TRUE(fw::ListDirectory(out).empty());
}

// Hostile entry names are refused, a link already in the target directory
// is replaced and never followed, and the good file still comes out.
TEST(Zip, ExtractionStaysInTheTargetDirectoryAndNeverFollowsALink)
{
    TempDir dir;
    std::string out = dir.File("a/b");
    ASSERT_EQ(::mkdir(dir.File("a").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    std::string victim = dir.File("victim");
    WriteFile(victim, "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), (out + "/reply.msg").c_str()), 0);
    std::string rep = dir.File("evil.rep");
    std::vector<std::string> hostile = {
        "../escape.txt", "/tmp/absolute.txt",       "sub\\x.txt", "sub/inner.txt", "..", "a..b",
        "C:boot.ini",    std::string("ctl\x01name")};
    Files entries;
    for (const auto& n : hostile)
        entries.emplace_back(n, "payload");
    entries.emplace_back("reply.msg", "new content");
    entries.emplace_back("folder/", "");
    MakeRawZip(rep, entries);

    ET4HANDLE h = 0;
    ASSERT_EQ(Et4ZipOpen(rep.c_str(), ET4_MODE_READ, &h), 0);
    std::vector<std::string> names = ListEntries(h);
    // Every file entry is reported; the directory entry is not.
    EXPECT_EQ(names.size(), hostile.size() + 1);
    for (const auto& n : names)
        EXPECT_EQ(Et4UnZip(&h, out.c_str(), n.c_str(), "", ""),
                  n == "reply.msg" ? 0 : ET4_UNSAFE_NAME)
            << n;
    Et4ZipClose(&h);
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_EQ(ReadFile(out + "/reply.msg"), "new content");
    EXPECT_EQ(fw::ListDirectory(out), std::vector<std::string>{"reply.msg"});
    EXPECT_EQ(fw::ListDirectory(dir.File("a")), std::vector<std::string>{"b"});
    EXPECT_FALSE(testutil::Exists("/tmp/absolute.txt"));
}

TEST(Zip, SafeEntryNameRules)
{
    for (const char* ok : {"HOME.MSG", "file name with blanks.txt", ".hidden"})
        EXPECT_TRUE(Et4SafeEntryName(ok)) << ok;
    for (const char* bad : {"", static_cast<const char*>(nullptr), ".", "..", "x/y", "x\\y",
                            "/etc/passwd", "..hidden", "line\nbreak"})
        EXPECT_FALSE(Et4SafeEntryName(bad)) << (bad ? bad : "(null)");
}

TEST(Zip, FailedOpensAndAddsKeepWhatIsThere)
{
    TempDir dir;
    ET4HANDLE h = 77;
    EXPECT_NE(Et4ZipOpen(dir.File("no/such/dir/x.qwk").c_str(), ET4_MODE_CREATE, &h), 0);
    EXPECT_EQ(h, 0u);
    EXPECT_NE(Et4ZipOpen(dir.File("missing.rep").c_str(), ET4_MODE_READ, &h), 0);
    EXPECT_EQ(h, 0u);
    WriteFile(dir.File("garbage.rep"), "this is not a zip archive at all");
    EXPECT_NE(Et4ZipOpen(dir.File("garbage.rep").c_str(), ET4_MODE_READ, &h), 0);
    // The REP reader does not test the open's result: the walk must simply
    // find nothing.
    EXPECT_TRUE(ListEntries(h).empty());
    EXPECT_EQ(Et4UnZip(&h, dir.Path().c_str(), "x", "", ""), ET4_BAD_HANDLE);
    EXPECT_EQ(Et4ZipClose(&h), ET4_BAD_HANDLE);
    EXPECT_NE(Et4ZipOpen(dir.File("x.qwk").c_str(), 2, &h), 0);
    // A missing file fails its add; the archive keeps the others.
    WriteFile(dir.File("control.dat"), "x");
    std::string qwk = dir.File("p.qwk");
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_CREATE, &h), 0);
    EXPECT_NE(Et4Zip(&h, dir.File("absent.dat").c_str(), "", "-.lr"), 0);
    EXPECT_EQ(Et4Zip(&h, dir.File("control.dat").c_str(), "", "-.lr"), 0);
    EXPECT_EQ(Et4ZipClose(&h), 0);
    ASSERT_EQ(Et4ZipOpen(qwk.c_str(), ET4_MODE_READ, &h), 0);
    EXPECT_EQ(ListEntries(h), std::vector<std::string>{"control.dat"});
    EXPECT_NE(Et4Zip(&h, dir.File("control.dat").c_str(), "", "-.lr"), 0) << "a reading handle";
    Et4ZipClose(&h);
}
