// Saving packets with the built-in archiver: stored and deflated members,
// the same archive from one thread or several, and failures that leave
// nothing behind.
#include "packet/Et4Zip.h"
#include "packet/MemberDeflater.h"
#include "packet/PacketSave.h"

#include "SmallDisk.h"
#include "TestUtil.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <dirent.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

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

// Writes the files into dir with a qwkfiles.lst naming them.
void MakeWorkDir(const std::string& dir,
                 const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string list;
    for (const auto& [name, data] : files) {
        WriteFile(dir + "/" + name, data);
        list += name + "\r\n";
    }
    WriteFile(dir + "/qwkfiles.lst", list);
}

std::vector<std::string> Listing(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

struct ThreadsReset {
    ~ThreadsReset() { Et4ZipSetThreads(0); }
};

} // namespace

// Random data is stored, text (several chunks long, and base64) deflated;
// all come back byte for byte through libzip, unzip and Python's zipfile.
TEST(ZipSave, StoresWhatDoesNotCompressAndDeflatesTextReadersAcceptBoth)
{
    TempDir dir;
    std::string work = dir.File("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    std::string base64;
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char c : RandomBytes(300000, 5)) {
        base64 += kAlphabet[c % 64];
        if (base64.size() % 78 == 76)
            base64 += "\r\n";
    }
    std::vector<std::pair<std::string, std::string>> files = {
        {"messages.dat", Text(2 * 1024 * 1024 + 12345, 1)}, // three chunks
        {"PHOTO.ATT", RandomBytes(700000, 2)},
        {"encoded.txt", base64},
        {"tail.bin", Text(20000, 3) + RandomBytes(200000, 4)}, // text start: deflated
        {"empty.lst", ""},
        {"control.dat", "Mail Tolvan\r\n"}};
    MakeWorkDir(work, files);
    std::string qwk = dir.File("Home.Qwk");
    std::string error;
    ASSERT_EQ(CPacketSaver::ZipPacketFiles(work, qwk, error), static_cast<int>(files.size()))
        << error;

    std::map<std::string, Entry> entries = ReadZip(qwk);
    ASSERT_EQ(entries.size(), files.size());
    for (const auto& [name, data] : files)
        EXPECT_TRUE(entries[name].data == data) << name << " differs";
    EXPECT_EQ(entries["PHOTO.ATT"].method, ZIP_CM_STORE);
    EXPECT_EQ(entries["empty.lst"].method, ZIP_CM_STORE);
    for (const char* name : {"messages.dat", "encoded.txt", "tail.bin"})
        EXPECT_EQ(entries[name].method, ZIP_CM_DEFLATE) << name;
    EXPECT_LT(entries["messages.dat"].compressed, files[0].second.size() / 3);

    auto unzip = testutil::RunProgram({"unzip", "-tq", qwk});
    EXPECT_EQ(unzip.iExit, 0) << unzip.out << unzip.err;
    auto python = testutil::RunProgram(
        {"python3", "-c",
         "import sys, zipfile\n"
         "z = zipfile.ZipFile(sys.argv[1])\n"
         "assert z.testzip() is None\n"
         "for n in z.namelist():\n"
         "    assert z.read(n) == open(sys.argv[2] + '/' + n, 'rb').read(), n\n",
         qwk, work});
    EXPECT_EQ(python.iExit, 0) << python.out << python.err;
}

// Chunk edges (exactly one chunk, one byte over) and many members: one
// thread and four give the same members, compressed alike.
TEST(ZipSave, SeveralThreadsGiveTheSameMembersAsOne)
{
    ThreadsReset reset;
    TempDir dir;
    std::string work = dir.File("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    std::vector<std::pair<std::string, std::string>> files = {
        {"exact.dat", Text(1024 * 1024, 7)},
        {"over.dat", Text(1024 * 1024 + 1, 8)},
        {"window.dat", Text(32 * 1024, 9)}};
    for (unsigned i = 0; i < 24; ++i)
        files.emplace_back(std::to_string(i) + ".ndx",
                           i % 3 == 0 ? RandomBytes(50000 + i, i) : Text(3000 * i + 1, i));
    MakeWorkDir(work, files);

    std::map<std::string, Entry> results[2];
    unsigned threads[2] = {1, 4};
    for (int k = 0; k < 2; ++k) {
        Et4ZipSetThreads(threads[k]);
        std::string qwk = dir.File("p" + std::to_string(k) + ".qwk");
        std::string error;
        ASSERT_EQ(CPacketSaver::ZipPacketFiles(work, qwk, error), static_cast<int>(files.size()))
            << error;
        results[k] = ReadZip(qwk);
    }
    ASSERT_EQ(results[0].size(), files.size());
    ASSERT_EQ(results[1].size(), files.size());
    for (const auto& [name, data] : files) {
        EXPECT_TRUE(results[0][name].data == data) << name;
        EXPECT_TRUE(results[1][name].data == data) << name;
        EXPECT_EQ(results[0][name].method, results[1][name].method) << name;
        EXPECT_EQ(results[0][name].compressed, results[1][name].compressed) << name;
    }
}

// A member the workers cannot read fails its member and every later one,
// and the deflater stops without waiting for work nobody will do.
TEST(ZipSave, AWorkerThatCannotReadStopsTheMembersAfterIt)
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

// A full disk while the workers compress: the error says so, and no packet
// or temporary file is left.
TEST(ZipSave, AFullDiskLeavesNoPacketAndNoTemporaryFile)
{
    TempDir dir;
    std::string work = dir.File("work");
    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    MakeWorkDir(work, {{"messages.dat", Text(3 * 1024 * 1024, 1)},
                       {"A.ATT", RandomBytes(400000, 2)},
                       {"000.ndx", Text(200000, 3)}});
    auto result = testutil::RunWithSmallDisk(out, 256 * 1024, [&]() {
        std::string error;
        if (CPacketSaver::ZipPacketFiles(work, out + "/Home.Qwk", error) != -1)
            return 1;
        if (error.find("disk is full") == std::string::npos)
            return 2;
        return Listing(out).empty() ? 0 : 3;
    });
    ASSERT_TRUE(result.has_value()) << "no private tmpfs mount";
    EXPECT_EQ(*result, 0);
    EXPECT_EQ(Listing(work).size(), 4u); // the packet files stay
}

// A member that cannot be read by the time the archive is written: the
// error names it and nothing is left behind.
TEST(ZipSave, AnUnreadableMemberLeavesNoPacketAndNamesTheFile)
{
    if (testutil::RerunAsNobody())
        return;
    TempDir dir;
    std::string work = dir.File("work");
    std::string out = dir.File("out");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
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
    EXPECT_TRUE(Listing(out).empty());
}
