// nntp: one news-reading session from the command line.  Connects, runs one
// command with the news client, prints what the client reports, and QUITs.
// Exit 0 when everything went through; otherwise the server's reply (or the
// socket error) on stderr and exit 1.

#include "app/Tool.h"

#include "framework/Files.h"
#include "framework/Window.h"
#include "msg/Rfc822.h"
#include "net/CWinsock.h"
#include "net/WinsockError.h"
#include "proto/CNNTP.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: nntp --host H [--port P] [--user U (--password-file F | --password-env VAR)] "
    "COMMAND\n"
    "  list                               every group: name, last, first\n"
    "  newgroups SINCE                    groups created since SINCE\n"
    "  group NAME [--since DATE]          count, first, last, first new article\n"
    "  xover NAME FIRST-LAST              the overview lines of a range\n"
    "  article NAME NUMBER --out FILE     one article into FILE\n"
    "  articles NAME FIRST-LAST --dir D   a range one by one, each into D/NUMBER\n"
    "Dates: seconds since 1970, YYYY-MM-DD[ HH:MM[:SS]] in UTC, or a Date: value.";

bool ParseRange(const std::string& text, std::int32_t& first, std::int32_t& last)
{
    auto dash = text.find('-');
    long long a = 0, b = 0;
    if (dash == std::string::npos || !ParseToolNumber(text.substr(0, dash), 0x7FFFFFFF, a) ||
        !ParseToolNumber(text.substr(dash + 1), 0x7FFFFFFF, b) || a > b)
        return false;
    first = static_cast<std::int32_t>(a);
    last = static_cast<std::int32_t>(b);
    return true;
}

// Seconds since 1970 (UTC); -1 when the text is no date.
std::int64_t ParseSince(const std::string& text)
{
    long long n = 0;
    if (ParseToolNumber(text, 0xFFFFFFFFLL, n))
        return n;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int k = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (k == 3 || (k >= 6 && (sep == ' ' || sep == 'T'))) {
        if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
            return -1;
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        return static_cast<std::int64_t>(::timegm(&tm));
    }
    return ParseRfc822Date(text);
}

// Drives the client one notification at a time.
class Session {
public:
    explicit Session(const std::string& tempDir) : m_client(tempDir.c_str())
    {
        m_owner.OnMessage(kMsg, [this](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
            if (w == CNNTP::NOTIFY_LINE && !m_client.IsEnd(l))
                return 0;
            m_notes.push_back({w, l});
            return 0;
        });
    }

    struct Note {
        fw::WPARAM w;
        fw::LPARAM l;
    };
    static constexpr unsigned kMsg = CNNTP::MSG_CONNECT;

    Note Wait()
    {
        // The platform's connect time-out is the only limit, as in the program.
        while (m_notes.empty())
            fw::MessageLoop::TakeOneMessage();
        Note n = m_notes.front();
        m_notes.pop_front();
        if (m_client.IsEnd(n.l))
            m_bEnded = true;
        return n;
    }

    // A notification that is not the wanted success: says why, returns 1.
    int Failure(const Note& n)
    {
        if (m_bEnded) {
            static const char* const kStatus[] = {"aborted", "quit", "connection failed",
                                                  "failed",  "?",    "closed by the server"};
            std::printf("end %d %s\n", static_cast<int>(n.w), n.w <= 5 ? kStatus[n.w] : "?");
            std::fflush(stdout);
            if (m_client.m_iLastError != 0) {
                std::fprintf(stderr, "%s\n",
                             ForTerminal(WinsockErrorMessage("NNTP Winsock Connect Error",
                                                             m_client.m_iLastError))
                                 .c_str());
                return 1;
            }
            if (n.w == CNNTP::STATUS_CLOSED)
                return ToolFail(std::string("the news server closed the connection after ") +
                                TrimmedCommand() + "; its reply: " + m_client.ReplyLine());
            return ToolFail(std::string("NNTP Server Connect Error: ") + m_client.ReplyLine());
        }
        ToolFail(m_client.ReplyLine());
        Quit();
        return 1;
    }

    // Ends the session politely; true when it ended after QUIT.
    bool Quit()
    {
        if (m_bEnded || !m_client.Quit(&m_owner, kMsg))
            return false;
        Note n = Wait();
        return n.w == CNNTP::STATUS_QUIT;
    }

    std::string TrimmedCommand() const
    {
        std::string c = m_client.LastCommand();
        while (!c.empty() && (c.back() == '\n' || c.back() == '\r'))
            c.pop_back();
        return c;
    }

    fw::Window m_owner;
    CNNTP m_client;
    std::deque<Note> m_notes;
    bool m_bEnded = false;
};

// Prints the group lines of a listing file as "name last first".
void PrintGroups(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string name, reason;
        std::int32_t iLast = 0, iFirst = 0;
        if (CNNTP::ParseGroupLine(line, &name, &iLast, &iFirst, &reason))
            std::printf("%s %ld %ld\n", name.c_str(), static_cast<long>(iLast),
                        static_cast<long>(iFirst));
        else
            std::fprintf(stderr, "mailtolvan-tool: skipped: %s\n", reason.c_str());
    }
}

void PrintFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int Nntp(ToolContext&, const std::vector<std::string>& args)
{
    std::string host, user, passwordFile, passwordEnv, since, out, dir;
    long long port = 119;
    bool bPassword = false, bSince = false;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        std::string v;
        bool ok = true;
        if (a == "--host")
            ok = value(host);
        else if (a == "--port") {
            if (!value(v) || !ParseToolNumber(v, 65535, port) || port == 0)
                return ToolFail("the port must be a number from 1 to 65535");
        } else if (a == "--user")
            ok = value(user);
        else if (a == "--password-file") {
            ok = value(passwordFile) && !bPassword;
            bPassword = true;
        } else if (a == "--password-env") {
            ok = value(passwordEnv) && !bPassword;
            bPassword = true;
        } else if (a == "--since") {
            ok = value(since);
            bSince = true;
        } else if (a == "--out")
            ok = value(out);
        else if (a == "--dir")
            ok = value(dir);
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
            return ToolFail("unknown option \"" + a + "\"\n" + kUsage);
        else
            words.push_back(a);
        if (!ok)
            return ToolFail(kUsage);
    }
    if (host.empty() || words.empty() || user.empty() != !bPassword)
        return ToolFail(kUsage);
    const std::string& command = words[0];
    auto need = [&](std::size_t n) { return words.size() == n + 1; };

    // What the command needs, checked before anything goes on the wire.
    std::int64_t tSince = 0;
    std::int32_t iFirst = 0, iLast = 0;
    std::string reason;
    if (command == "list") {
        if (!need(0))
            return ToolFail(kUsage);
    } else if (command == "newgroups") {
        if (!need(1) || (tSince = ParseSince(words[1])) <= 0)
            return ToolFail("newgroups takes a date after 1970\n" + std::string(kUsage));
    } else if (command == "group") {
        if (!need(1) || (bSince && (tSince = ParseSince(since)) <= 0))
            return ToolFail("group takes a name and an optional --since DATE after 1970");
    } else if (command == "xover" || command == "articles") {
        if (!need(2) || !ParseRange(words[2], iFirst, iLast))
            return ToolFail(command + " takes a group name and a range FIRST-LAST");
        if (command == "articles" && (dir.empty() || !IsDirectory(dir)))
            return ToolFail("articles needs --dir with an existing directory");
    } else if (command == "article") {
        long long n = 0;
        if (!need(2) || !ParseToolNumber(words[2], 0x7FFFFFFF, n) || out.empty())
            return ToolFail("article takes a group name, a number and --out FILE");
        iFirst = static_cast<std::int32_t>(n);
    } else {
        return ToolFail("unknown command \"" + command + "\"\n" + kUsage);
    }
    if (words.size() > 1 && command != "newgroups" && !CNNTP::CheckGroupName(words[1], &reason))
        return ToolFail(reason);

    std::string password;
    if (ReadToolPassword(passwordFile, passwordEnv, password) != 0)
        return 1;

    // Where the client's files go: beside the output, in the output
    // directory, or in a directory of our own that goes at the end.
    std::string tempDir, ownDir;
    if (command == "article") {
        tempDir = fw::DirName(out);
        if (tempDir.empty())
            tempDir = ".";
    } else if (command == "articles") {
        tempDir = dir;
    } else {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/mtnntp.XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            return ToolFail("cannot create a temporary directory: " +
                            std::string(std::strerror(errno)));
        tempDir = ownDir = tmpl;
    }
    struct RemoveDir {
        std::string dir;
        ~RemoveDir()
        {
            if (!dir.empty())
                ::rmdir(dir.c_str());
        }
    } removeDir{ownDir};

    CWinsock winsock;
    CreateWinsockEventWindow();
    if (winsock.m_iLastError != 0) {
        std::fprintf(
            stderr, "%s\n",
            ForTerminal(WinsockErrorMessage("NNTP Winsock error", winsock.m_iLastError)).c_str());
        return 1;
    }

    Session s(tempDir);
    const unsigned kMsg = Session::kMsg;
    if (!s.m_client.Connect(&s.m_owner, kMsg, host.c_str(), static_cast<std::uint16_t>(port),
                            bPassword ? user.c_str() : nullptr,
                            bPassword ? password.c_str() : nullptr))
        return ToolFail("the client could not start");
    Session::Note n = s.Wait();
    if (n.w != CNNTP::NOTIFY_DONE || s.m_bEnded)
        return s.Failure(n);

    // A finished listing: its file, which the caller removes.
    auto listing = [&](const Session::Note& note) -> const CNNTP::Completion* {
        if (note.w != CNNTP::NOTIFY_DONE || s.m_bEnded || note.l == 0)
            return nullptr;
        return reinterpret_cast<const CNNTP::Completion*>(note.l);
    };
    auto group = [&](std::int64_t t) -> const CNNTP::GroupRecord* {
        if (!s.m_client.Group(&s.m_owner, kMsg, words[1].c_str(), t, nullptr, nullptr))
            return nullptr;
        n = s.Wait();
        if (n.w != CNNTP::NOTIFY_DONE || s.m_bEnded)
            return nullptr;
        return reinterpret_cast<const CNNTP::GroupRecord*>(n.l);
    };

    if (command == "list" || command == "newgroups") {
        if (!s.m_client.GroupList(&s.m_owner, kMsg, tSince))
            return ToolFail("the client is not ready");
        n = s.Wait();
        const CNNTP::Completion* pDone = listing(n);
        if (!pDone)
            return s.Failure(n);
        PrintGroups(pDone->strFile);
        std::remove(pDone->strFile.c_str());
    } else if (command == "group") {
        const CNNTP::GroupRecord* pGroup = group(tSince);
        if (!pGroup)
            return s.Failure(n);
        std::printf("count %ld first %ld last %ld first-new %ld\n",
                    static_cast<long>(pGroup->iCount), static_cast<long>(pGroup->iFirst),
                    static_cast<long>(pGroup->iLast), static_cast<long>(pGroup->iFirstNew));
    } else if (command == "xover") {
        if (!group(0))
            return s.Failure(n);
        if (!s.m_client.Xover(&s.m_owner, kMsg, iFirst, iLast))
            return ToolFail("the client is not ready");
        n = s.Wait();
        const CNNTP::Completion* pDone = listing(n);
        if (!pDone)
            return s.Failure(n);
        PrintFile(pDone->strFile);
        std::remove(pDone->strFile.c_str());
    } else if (command == "article") {
        if (!group(0))
            return s.Failure(n);
        if (!s.m_client.Article(&s.m_owner, kMsg, iFirst))
            return ToolFail("the client is not ready");
        n = s.Wait();
        const CNNTP::Completion* pDone = listing(n);
        if (!pDone)
            return s.Failure(n);
        if (std::rename(pDone->strFile.c_str(), out.c_str()) != 0) {
            int e = errno;
            std::remove(pDone->strFile.c_str());
            s.Quit();
            return ToolFail("cannot write " + out + ": " + std::strerror(e));
        }
        std::printf("article %ld %s\n", static_cast<long>(pDone->iArticle), out.c_str());
    } else { // articles
        if (!group(0))
            return s.Failure(n);
        long lFetched = 0, lMissing = 0;
        for (std::int32_t i = iFirst; i <= iLast; ++i) {
            if (!s.m_client.Article(&s.m_owner, kMsg, i))
                return ToolFail("the client is not ready");
            n = s.Wait();
            const CNNTP::Completion* pDone = listing(n);
            if (pDone) {
                std::string target = fw::JoinPath(dir, std::to_string(i));
                if (std::rename(pDone->strFile.c_str(), target.c_str()) != 0) {
                    int e = errno;
                    std::remove(pDone->strFile.c_str());
                    s.Quit();
                    return ToolFail("cannot write " + target + ": " + std::strerror(e));
                }
                ++lFetched;
            } else if (n.w == CNNTP::NOTIFY_REFUSED && !s.m_bEnded) {
                std::printf("missing %ld %s\n", static_cast<long>(i), s.m_client.ReplyLine());
                ++lMissing;
            } else {
                return s.Failure(n);
            }
            if (i == 0x7FFFFFFF)
                break;
        }
        std::printf("fetched %ld missing %ld\n", lFetched, lMissing);
    }
    std::fflush(stdout);
    if (!s.Quit()) {
        std::printf("end %d\n", s.m_client.Status());
        return ToolFail(std::string("the session did not end with QUIT: ") +
                        s.m_client.ReplyLine());
    }
    std::printf("end 1 quit\n");
    return 0;
}

} // namespace

MT_TOOL_COMMAND("nntp",
                "--host H [--port P] [--user U (--password-file F | --password-env VAR)] "
                "list | newgroups SINCE | group NAME [--since DATE] | xover NAME FIRST-LAST | "
                "article NAME NUMBER --out FILE | articles NAME FIRST-LAST --dir D",
                "one news session: list groups, open a group, fetch overview lines or "
                "articles; print what happens",
                Nntp);
