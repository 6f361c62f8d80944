// pop3: one mail-retrieval session from the command line.  Every retrieved
// message stays as a file in the given directory; each notification of the
// client is printed as a line ("skipped N oversize" for a message left on
// the server because it is over --max-size).

#include "app/Tool.h"

#include "framework/Files.h"
#include "framework/Messages.h"
#include "framework/Window.h"
#include "net/CWinsock.h"
#include "net/WinsockError.h"
#include "proto/CPOP3.h"
#include "proto/ServerSecurity.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

int Pop3(ToolContext&, const std::vector<std::string>& args)
{
    const char* pszUsage = "usage: pop3 --host H --port P --user U (--password-file F | "
                           "--password-env VAR) [--delete] [--keep-days N] [--max-size BYTES] "
                           "[--security auto|starttls|tls|none] --dir D";
    std::string host, user, dir, passwordFile, passwordEnv;
    int iSecurity = ServerSecurity::NONE;
    long long port = 110, keepDays = 0, maxSize = 0;
    bool bDelete = false, bPassword = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--host") {
            if (!value(host))
                return ToolFail(pszUsage);
        } else if (a == "--port") {
            if (!value(v) || !ParseToolNumber(v, 65535, port) || port == 0)
                return ToolFail("the port must be a number from 1 to 65535");
        } else if (a == "--user") {
            if (!value(user))
                return ToolFail(pszUsage);
        } else if (a == "--password-file") {
            if (!value(passwordFile) || bPassword)
                return ToolFail(pszUsage);
            bPassword = true;
        } else if (a == "--password-env") {
            if (!value(passwordEnv) || bPassword)
                return ToolFail(pszUsage);
            bPassword = true;
        } else if (a == "--security") {
            if (!value(v) || (ServerSecurity::ParseMode(v) == ServerSecurity::AUTO && v != "auto"))
                return ToolFail("--security takes auto, starttls, tls or none");
            iSecurity = ServerSecurity::ParseMode(v);
        } else if (a == "--delete") {
            bDelete = true;
        } else if (a == "--keep-days") {
            if (!value(v) || !ParseToolNumber(v, 36500, keepDays))
                return ToolFail("--keep-days takes a number of days from 0 to 36500");
        } else if (a == "--max-size") {
            if (!value(v) || !ParseToolNumber(v, 1LL << 50, maxSize))
                return ToolFail("--max-size takes a number of bytes (0: no limit)");
        } else if (a == "--dir") {
            if (!value(dir))
                return ToolFail(pszUsage);
        } else {
            return ToolFail("unknown argument \"" + a + "\"; " + pszUsage);
        }
    }
    if (host.empty() || user.empty() || dir.empty() ||
        (passwordFile.empty() && passwordEnv.empty()))
        return ToolFail(pszUsage);

    std::string password;
    if (ReadToolPassword(passwordFile, passwordEnv, password) != 0)
        return 1;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ToolFail("no such directory: " + dir);

    CWinsock winsock;
    CreateWinsockEventWindow();
    if (winsock.m_iLastError != 0) {
        std::fprintf(
            stderr, "%s\n",
            ForTerminal(WinsockErrorMessage("POP3 Winsock error", winsock.m_iLastError)).c_str());
        return 1;
    }

    fw::Window owner;
    bool bEnded = false;
    int iStatus = CPOP3::STATUS_FAILED, iDetail = 0;
    owner.OnMessage(fw::WM_POP3_EVENT, [&](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
        if (w == CPOP3::NOTIFY_COUNT) {
            std::printf("count %ld\n", static_cast<long>(l));
        } else if (w == CPOP3::NOTIFY_MESSAGE && l != 0) {
            const auto* pRec = reinterpret_cast<const CPOP3::NotifyRecord*>(l);
            std::printf("message %d %s\n", pRec->iMessage, pRec->strFile.c_str());
        } else if (w == CPOP3::NOTIFY_SKIPPED) {
            std::printf("skipped %ld oversize\n", static_cast<long>(l));
        } else if (w != CPOP3::NOTIFY_LINE) {
            bEnded = true;
            iStatus = static_cast<int>(w);
            iDetail = static_cast<int>(l);
        }
        return 0;
    });

    std::int64_t tCutOff =
        keepDays > 0 ? static_cast<std::int64_t>(std::time(nullptr)) - keepDays * 86400 : 0;
    CPOP3 client(&owner, fw::WM_POP3_EVENT, 0, dir.c_str());
    client.SetMaxMessageSize(maxSize);
    client.SetSecurity(ServerSecurity::For("POP3", iSecurity));
    client.RetrieveMail(host.c_str(), static_cast<std::uint16_t>(port), user.c_str(),
                        password.c_str(), dir.c_str(), bDelete, tCutOff);
    // The platform's connect time-out is the only limit, as in the program.
    while (!bEnded)
        fw::MessageLoop::TakeOneMessage();

    static const char* const kStatus[] = {"aborted", "done", "failed"};
    std::printf("end %d %d %s\n", iStatus, iDetail,
                iStatus >= 0 && iStatus <= 2 ? kStatus[iStatus] : "?");
    std::fflush(stdout);
    if (iStatus == CPOP3::STATUS_DONE)
        return 0;
    if (client.m_iLastError != 0)
        std::fprintf(
            stderr, "%s\n",
            ForTerminal(WinsockErrorMessage("POP3 Winsock error", client.m_iLastError)).c_str());
    else if (iDetail == CPOP3::DETAIL_USER)
        return ToolFail("POP3 Connect Error: Unknown user.");
    else if (iDetail == CPOP3::DETAIL_PASSWORD)
        return ToolFail("POP3 Connect Error: Bad Password.");
    else
        return ToolFail(std::string("POP3 Connect Error: ") + client.ReplyLine());
    return 1;
}

} // namespace

MT_TOOL_COMMAND(
    "pop3",
    "--host H --port P --user U (--password-file F | --password-env VAR) [--security M] [--delete] "
    "[--keep-days N] [--max-size BYTES] --dir D",
    "fetch the mailbox into files in D (one POP3 session); print what happens", Pop3);
