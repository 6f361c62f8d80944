#include "session/GroupList.h"

#include "core/Services.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/WaitCursor.h"
#include "net/WinsockError.h"
#include "newsgroups/GroupListMerge.h"
#include "newsgroups/Newsgroups.h"
#include "proto/CNNTP.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Longer lines cannot hold a usable group (names stop at 497 characters).
constexpr std::size_t kMaxListLine = 1024;

void RegisterGroupListStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    RegisterString(819, "News retrieval has been aborted!");
}

// One line of the reply file without its line end; false at the end.  A
// line too long to be a group is skipped to its end and reported as such.
bool ReadListLine(std::FILE* f, std::string& line, bool& bTooLong)
{
    line.clear();
    bTooLong = false;
    int c;
    bool bAny = false;
    while ((c = std::getc(f)) != EOF) {
        bAny = true;
        if (c == '\n')
            break;
        if (line.size() < kMaxListLine)
            line.push_back(static_cast<char>(c));
        else
            bTooLong = true;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return bAny;
}

std::string WithoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

void ShowNewsServerClosed(const CNNTP& client)
{
    std::string text = "Your news server has closed the winsock connection after the command:\n\n" +
                       WithoutLineEnd(client.LastCommand()) +
                       "\nwas sent the the news server.  The error message:\n\n" +
                       std::string(client.ReplyLine()) + "\n\nwas returned from the server.";
    NoteFailure("The news server closed the connection after: " +
                WithoutLineEnd(client.LastCommand()));
    fw::MessageBoxes().Show(text, "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
}

GroupListRetrieval::GroupListRetrieval(CNNTP& client, fw::Window* pNotifyWnd,
                                       std::function<void(const std::string&)> status)
    : m_client(client), m_pNotifyWnd(pNotifyWnd), m_status(std::move(status))
{
    RegisterGroupListStrings();
}

bool GroupListRetrieval::Start(std::int64_t tSince)
{
    if (m_iState != IDLE)
        return false;
    m_uCount = 0;
    m_iAdded = 0;
    // Groups created while the list is on its way are in the next one.
    m_tStarted = static_cast<std::int64_t>(std::time(nullptr));
    if (!m_client.GroupList(m_pNotifyWnd, CNNTP::MSG_GROUP_LIST, tSince))
        return false;
    m_iState = LISTING;
    return true;
}

void GroupListRetrieval::Stop()
{
    if (m_iState == LISTING)
        m_client.Stop();
}

void GroupListRetrieval::Failure(const std::string& text, const std::string& caption)
{
    NoteFailure(caption + ": " + text);
    fw::MessageBoxes().Show(text, caption, fw::MbIcon::Exclamation, fw::MbButtons::Ok);
}

GroupListRetrieval::Outcome GroupListRetrieval::Ended(int iStatus)
{
    m_iState = IDLE;
    if (iStatus == CNNTP::STATUS_ABORTED) {
        Error(819);
    } else if (iStatus == CNNTP::STATUS_CLOSED) {
        ShowNewsServerClosed(m_client);
    } else if (m_client.m_iLastError != 0) {
        NoteFailure(WinsockErrorMessage("NNTP Group error", m_client.m_iLastError));
        ShowWinsockError("NNTP Group error", m_client.m_iLastError, m_pNotifyWnd);
    } else {
        Failure(m_client.ReplyLine(), "NNTP Group Error");
    }
    return ENDED;
}

GroupListRetrieval::Outcome GroupListRetrieval::OnNotify(fw::WPARAM wParam, fw::LPARAM lParam)
{
    if (m_iState == IDLE)
        return m_client.IsEnd(lParam) ? ENDED : RUNNING; // not ours
    if (m_client.IsEnd(lParam))
        return Ended(static_cast<int>(wParam));
    if (m_iState == RECONNECTING) {
        // The greeting of the connection that replaced the stopped one.
        m_iState = IDLE;
        if (wParam == CNNTP::NOTIFY_DONE)
            return STOPPED;
        Failure(m_client.ReplyLine(), "NNTP Server Connect Error");
        return REFUSED;
    }
    switch (wParam) {
    case CNNTP::NOTIFY_LINE:
        if (++m_uCount % 10 == 0)
            m_status("Retrieving " + std::to_string(m_uCount) + "th group");
        return RUNNING;
    case CNNTP::NOTIFY_REFUSED:
        m_iState = IDLE;
        Failure(m_client.ReplyLine(), "NNTP Group Error");
        return REFUSED;
    case CNNTP::NOTIFY_DONE: {
        const auto* pDone = reinterpret_cast<const CNNTP::Completion*>(lParam);
        std::string file = pDone->strFile;
        if (pDone->iStop) {
            // Part of a list: nothing is added and "NewGroups" stays.
            std::remove(file.c_str());
            m_status("Stopped");
            m_iState = RECONNECTING;
            return RUNNING;
        }
        m_iState = IDLE;
        bool bOk = Merge(file);
        std::remove(file.c_str());
        return bOk ? DONE : REFUSED;
    }
    default:
        return RUNNING;
    }
}

bool GroupListRetrieval::Merge(const std::string& file)
{
    m_status("Adding newsgroups . . .");
    fw::WaitCursor wait;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f || !g_pNewsgroups) {
        std::string why = f ? "there is no newsgroup list" : std::strerror(errno);
        if (f)
            std::fclose(f);
        Failure("The group list could not be read (" + why + ").", "NNTP Group Error");
        return false;
    }
    std::int32_t lNow = m_tStarted > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(m_tStarted);
    CGroupListMerge merge(*g_pNewsgroups, lNow);
    std::int32_t iRefused = 0;
    std::string firstReason;
    std::string line;
    bool bTooLong = false;
    while (ReadListLine(f, line, bTooLong)) {
        std::string name, reason;
        std::int32_t lLast = 0, lFirst = 0;
        if (bTooLong) {
            reason = "a line of the list is too long to hold a group.";
        } else if (line.empty()) {
            continue;
        } else if (CNNTP::ParseGroupLine(line, &name, &lLast, &lFirst, &reason)) {
            merge.Offer(name, lFirst);
            continue;
        }
        if (iRefused++ == 0)
            firstReason = reason;
    }
    bool bReadError = std::ferror(f) != 0;
    std::fclose(f);
    m_status("Sorting newsgroups . . .");
    merge.Finish();
    m_status("Done");
    m_iAdded = merge.Added();
    if (bReadError) {
        // What was read is added; the next retrieval asks for the same time.
        Failure("The group list could not be read to its end.", "NNTP Group Error");
        return false;
    }
    if (g_pIni)
        g_pIni->WriteLong("Groups", "NewGroups", lNow);
    if (iRefused > 0)
        Warning(std::to_string(iRefused) +
                (iRefused == 1 ? " group of the server's list was"
                               : " groups of the server's list were") +
                " not added. " + firstReason);
    m_status("Added " + std::to_string(m_iAdded) + " new groups");
    return true;
}
