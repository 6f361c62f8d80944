#include "session/WArticles.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "msg/Rfc822.h"
#include "newsgroups/Newsgroups.h"
#include "packet/Rfcmsg.h"
#include "proto/CNNTP.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

// The owner is told of a close request on the loop, never from inside the
// view's call.
constexpr unsigned kMsgClose = fw::WM_USER + 310;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A subject without its leading reply prefix ("Re:" in any case and the
// character after it), so that a reply sorts beside its article.
std::string SubjectKey(const std::string& s)
{
    if (s.size() >= 3 && (s[0] == 'R' || s[0] == 'r') && (s[1] == 'E' || s[1] == 'e') &&
        s[2] == ':')
        return s.substr(std::min<std::size_t>(4, s.size()));
    return s;
}

int Compare(const ArticleHeader& a, const ArticleHeader& b, int iKey)
{
    int c = 0;
    switch (iKey) {
    case 1:
        c = a.tDate < b.tDate ? -1 : (a.tDate > b.tDate ? 1 : 0);
        break;
    case 2:
        c = CompareNoCase(a.from, b.from);
        break;
    case 3:
        c = CompareNoCase(SubjectKey(a.subject), SubjectKey(b.subject));
        break;
    default:
        break;
    }
    if (c != 0)
        return c;
    return a.iNumber < b.iNumber ? -1 : (a.iNumber > b.iNumber ? 1 : 0);
}

// The group list's quicksort partition (middle entry as pivot at the end),
// recursing into the smaller half only.
void QuickSort(std::vector<ArticleHeader>& a, long lo, long hi, int iKey)
{
    while (lo < hi) {
        auto at = [&a](long k) -> ArticleHeader& { return a[static_cast<std::size_t>(k)]; };
        if (hi - lo > 2)
            std::swap(at(lo + (hi - lo) / 2), at(hi));
        const ArticleHeader pivot = at(hi);
        long i = lo, j = hi;
        for (;;) {
            while (Compare(at(i), pivot, iKey) <= 0 && i < j)
                ++i;
            while (Compare(at(j), pivot, iKey) >= 0 && i < j)
                --j;
            if (j > i) {
                std::swap(at(i), at(j));
            } else {
                std::swap(at(i), at(hi));
                break;
            }
        }
        if (i - lo < hi - i) {
            QuickSort(a, lo, i - 1, iKey);
            lo = i + 1;
        } else {
            QuickSort(a, i + 1, hi, iKey);
            hi = i - 1;
        }
    }
}

std::string Format(const char* pszFormat, long lValue)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, pszFormat, lValue);
    return buf;
}

} // namespace

WArticles::WArticles(ArticlesOwner owner, std::unique_ptr<IArticlesView> pView, newsgr& group,
                     std::int32_t iFirst, std::int32_t iLast, std::int32_t iTotal)
    : m_owner(std::move(owner)), m_pView(std::move(pView)), m_group(group.m_szName),
      m_user(group.m_szUser), m_password(group.m_szPassword),
      m_bAutomatic((group.m_uFlags & NG_AUTOMATIC) != 0), m_iFirst(iFirst), m_iLast(iLast),
      m_iTotal(iTotal > 0 ? iTotal : 1), m_iNext(iFirst), m_iStart(iFirst)
{
    m_iSortKey = g_pIni ? std::clamp(g_pIni->GetInt("Articles", "Sort", 0), 0, 3) : 0;
    OnMessage(CNNTP::MSG_ARTICLE, [this](fw::WPARAM w, fw::LPARAM l) {
        OnArticle(w, l);
        return 0;
    });
    OnMessage(CNNTP::MSG_XOVER, [this](fw::WPARAM w, fw::LPARAM l) {
        OnXover(w, l);
        return 0;
    });
    OnMessage(CNNTP::MSG_HEADER, [this](fw::WPARAM w, fw::LPARAM l) {
        OnHeader(w, l);
        return 0;
    });
    OnMessage(CNNTP::MSG_GROUP, [this](fw::WPARAM w, fw::LPARAM l) {
        OnReopened(w, l);
        return 0;
    });
    OnMessage(CNNTP::MSG_ARTICLE_SELECTED, [this](fw::WPARAM w, fw::LPARAM l) {
        OnChosenArticle(w, l);
        return 0;
    });
    OnMessage(CNNTP::MSG_ARTICLE_ONE, [this](fw::WPARAM w, fw::LPARAM l) {
        OnChosenArticle(w, l);
        return 0;
    });
    OnMessage(kMsgClose, [this](fw::WPARAM, fw::LPARAM) {
        if (m_owner.close)
            m_owner.close();
        return 0;
    });
}

WArticles::~WArticles()
{
    if (m_owner.activated)
        m_owner.activated(this, false);
}

bool WArticles::SingleClick()
{
    return g_pIni && g_pIni->GetInt("Mailtolvan", "SingleClick", 0) == 1;
}

CNNTP* WArticles::Client() const { return m_owner.client ? m_owner.client() : nullptr; }

newsgr* WArticles::Group() const
{
    return g_pNewsgroups && g_pNewsgroups->Find(m_group) ? g_pNewsgroups->Current() : nullptr;
}

void WArticles::SetPointer(std::int32_t iPointer)
{
    if (newsgr* p = Group())
        p->m_lPointer = iPointer;
}

void WArticles::Start()
{
    CNNTP* pClient = Client();
    m_bStop = false;
    m_bGotOne = false;
    m_iNext = m_iFirst;
    m_pView->EnableCommands(false, m_iSortKey);
    if (m_bAutomatic) {
        m_phase = Phase::Articles;
        m_lLines = 0;
        if (pClient && pClient->Article(this, CNNTP::MSG_ARTICLE, m_iFirst)) {
            m_iNext = m_iFirst + 1;
            return;
        }
    } else {
        m_phase = Phase::Headers;
        m_lHeaderCount = 0;
        if (pClient && pClient->Xover(this, CNNTP::MSG_XOVER, m_iFirst, m_iLast))
            return;
    }
    // The connection cannot take the request (it has ended).
    m_pView->SetStatus("Retrieval stopped");
    Finish(true);
}

void WArticles::Stop()
{
    if (Busy())
        m_bStop = true;
}

void WArticles::Finish(bool bStopped)
{
    Phase was = m_phase;
    m_phase = Phase::Idle;
    m_pView->SetProgress(0);
    m_pView->EnableCommands(!m_bAutomatic, m_iSortKey);
    if (was == Phase::Selected || was == Phase::One || was == Phase::Reopen) {
        if (m_owner.fetching)
            m_owner.fetching(false);
        return;
    }
    if (m_owner.finished)
        m_owner.finished(bStopped);
}

bool WArticles::ConnectionEnded(std::intptr_t lParam, std::uintptr_t wParam)
{
    CNNTP* pClient = Client();
    if (!pClient || !pClient->IsEnd(lParam))
        return false;
    m_bStop = true;
    if (wParam == CNNTP::STATUS_ABORTED) {
        if (m_owner.mainStatus)
            m_owner.mainStatus("Retrieval stopped");
        Finish(true);
        return true;
    }
    Phase was = m_phase;
    Finish(true);
    if (was != Phase::Idle && m_owner.serverClosed)
        m_owner.serverClosed(static_cast<int>(wParam));
    return true;
}

// ---------------------------------------------------------------- automatic

bool WArticles::Convert(const std::string& file, std::int32_t iNumber, std::string* pSubject)
{
    Rfcmsg& messages = m_owner.messages();
    if (m_owner.converted)
        m_owner.converted(m_group, iNumber);
    messages.ConvertFile(file, iNumber, m_group);
    if (messages.WriteFailed()) {
        // The article is not in the packet: nothing may count it as fetched.
        ::unlink(file.c_str());
        Error(862);
        return false;
    }
    if (pSubject && messages.Current())
        *pSubject = messages.Current()->m_szSubject;
    return true;
}

void WArticles::OnArticle(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_phase != Phase::Articles || ConnectionEnded(lParam, wParam))
        return;
    CNNTP* pClient = Client();
    if (wParam == CNNTP::NOTIFY_LINE) {
        if (++m_lLines % 10 == 0)
            m_pView->SetStatus(Format("Receiving %ld lines", m_lLines));
        return;
    }
    if (wParam == CNNTP::NOTIFY_DONE) {
        const auto* pDone = reinterpret_cast<const CNNTP::Completion*>(lParam);
        m_lLines = 0;
        std::int32_t n = pDone->iArticle;
        if (pDone->iStop != 0) {
            // Cut off: the file is incomplete and is not converted.
            ::unlink(pDone->strFile.c_str());
            m_pView->SetStatus("Stopped");
            Finish(true);
            return;
        }
        std::string subject;
        if (!Convert(pDone->strFile, n, &subject)) {
            SetPointer(n);
            m_pView->SetStatus("Stopped");
            Finish(true);
            return;
        }
        m_bGotOne = true;
        m_iNext = n + 1;
        SetPointer(n + 1);
        if (m_owner.messages().Current()) {
            char head[16];
            std::snprintf(head, sizeof head, "%6ld\t", static_cast<long>(n));
            m_rows.push_back(head + subject.substr(0, 79));
            m_pView->AddRow(m_rows.back());
            m_pView->SelectRow(static_cast<std::int32_t>(m_rows.size()) - 1);
        }
        if (m_iNext > m_iLast) {
            m_pView->SetStatus("Done retrieving in " + m_group);
            Finish(false);
            return;
        }
        if (m_bStop) {
            m_pView->SetStatus("Stopped");
            Finish(true);
            return;
        }
        long span = std::max<long>(1, static_cast<long>(m_iLast) - m_iFirst);
        m_pView->SetProgress(static_cast<int>(
            std::clamp<long>((static_cast<long>(m_iNext) - m_iFirst) * 100 / span, 0, 100)));
        if (!pClient || !pClient->Article(this, CNNTP::MSG_ARTICLE, m_iNext++))
            Finish(true);
        return;
    }
    // Not found (or refused).
    m_pView->SetStatus(Format("Could not find article %ld", static_cast<long>(m_iNext - 1)));
    if (m_bStop) {
        m_pView->SetStatus("Stopped");
        Finish(true);
        return;
    }
    if (m_iNext > m_iLast) {
        m_pView->SetStatus("Done retrieving in " + m_group);
        Finish(false);
        return;
    }
    // By number until one arrives; after that NEXT finds the following one.
    bool bAsked = m_bGotOne ? pClient && pClient->NextArticle(this, CNNTP::MSG_ARTICLE)
                            : pClient && pClient->Article(this, CNNTP::MSG_ARTICLE, m_iNext);
    ++m_iNext;
    if (!bAsked)
        Finish(true);
}

// ---------------------------------------------------------------- headers

bool WArticles::ParseOverview(const std::string& line, std::time_t tNow, ArticleHeader& out)
{
    std::vector<std::string> f;
    std::size_t start = 0;
    while (f.size() < 8) {
        std::size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    f.resize(8);
    char* pEnd = nullptr;
    long lNumber = std::strtol(f[0].c_str(), &pEnd, 10);
    if (f[4].empty() || pEnd == f[0].c_str() || lNumber <= 0 || lNumber > INT32_MAX)
        return false;
    out = ArticleHeader();
    out.iNumber = static_cast<std::int32_t>(lNumber);
    out.subject = f[1];
    out.from = f[2];
    std::int64_t t = f[3].empty() ? -1 : ParseRfc822Date(f[3]);
    out.tDate = t < 0 ? tNow : static_cast<std::time_t>(t);
    out.messageId = f[4];
    out.lLines = std::strtol(f[7].c_str(), nullptr, 10);
    return true;
}

std::string WArticles::RowOf(const ArticleHeader& h, bool bRedrawn)
{
    std::time_t t = h.tDate;
    std::tm tmLocal{};
    localtime_r(&t, &tmLocal);
    char date[48];
    std::snprintf(date, sizeof date,
                  bRedrawn ? "%02d/%02d/%02d %02d:%02d  " : "%02d/%02d/%02d %02d:%02d",
                  tmLocal.tm_year < 100 ? tmLocal.tm_year : tmLocal.tm_year % 100,
                  tmLocal.tm_mon + 1, tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min);
    char head[32];
    std::snprintf(head, sizeof head, "%c\t%6ld\t", bRedrawn ? '+' : h.cMark,
                  static_cast<long>(h.iNumber));
    return head + std::string(date) + "\t" + h.from.substr(0, 23) + "\t" +
           std::to_string(h.lLines) + "\t" + h.subject.substr(0, 99);
}

void WArticles::SortHeaders(std::vector<ArticleHeader>& headers, int iKey)
{
    if (headers.size() > 1)
        QuickSort(headers, 0, static_cast<long>(headers.size()) - 1, iKey);
}

void WArticles::FillRows()
{
    SortHeaders(m_headers, m_iSortKey);
    m_rows.clear();
    m_rows.reserve(m_headers.size());
    for (const ArticleHeader& h : m_headers)
        m_rows.push_back(RowOf(h, false));
    m_pView->SetRows(m_rows);
}

void WArticles::HeadersDone(bool bStopped)
{
    if (m_headers.empty()) {
        m_pView->SetStatus("No headers to retrieve!");
    } else {
        m_pView->SetStatus("Sorting . . .");
        FillRows();
        m_pView->SetStatus(bStopped ? "Stopped" : "Done!");
    }
    Finish(bStopped);
}

void WArticles::OnXover(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_phase != Phase::Headers || ConnectionEnded(lParam, wParam))
        return;
    if (wParam == CNNTP::NOTIFY_LINE) {
        ++m_lHeaderCount;
        m_pView->SetProgress(
            static_cast<int>(std::min<long>(m_lHeaderCount * 100 / m_iTotal, 100)));
        return;
    }
    if (wParam != CNNTP::NOTIFY_DONE) {
        // No overview here: one HEAD per article.
        m_pView->SetStatus("XOVER command not supported");
        m_phase = Phase::HeadByHead;
        m_iNext = m_iFirst;
        AskHead(false);
        return;
    }
    const auto* pDone = reinterpret_cast<const CNNTP::Completion*>(lParam);
    m_pView->SetStatus("Reading headers . . .");
    std::time_t tNow = std::time(nullptr);
    {
        std::ifstream in(pDone->strFile, std::ios::binary);
        std::string line;
        ArticleHeader h;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > 3000)
                line.resize(3000);
            if (ParseOverview(line, tNow, h))
                m_headers.push_back(std::move(h));
        }
    }
    ::unlink(pDone->strFile.c_str());
    if (pDone->iStop == 0) {
        // The whole range counts as seen, fetched or not.
        SetPointer(m_iLast + 1);
        if (m_owner.pointersMoved)
            m_owner.pointersMoved();
    }
    HeadersDone(pDone->iStop != 0);
}

void WArticles::AskHead(bool bNext)
{
    CNNTP* pClient = Client();
    m_pView->SetStatus(Format("Retrieving message header %6ld", static_cast<long>(m_iNext)));
    bool bAsked = bNext ? pClient && pClient->NextHead(this, CNNTP::MSG_HEADER)
                        : pClient && pClient->Head(this, CNNTP::MSG_HEADER, m_iNext);
    ++m_iNext;
    if (!bAsked)
        HeadersDone(true);
}

void WArticles::OnHeader(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_phase != Phase::HeadByHead || ConnectionEnded(lParam, wParam) ||
        wParam == CNNTP::NOTIFY_LINE)
        return;
    if (wParam == CNNTP::NOTIFY_DONE) {
        const auto* pDone = reinterpret_cast<const CNNTP::Completion*>(lParam);
        ArticleHeader h;
        h.iNumber = pDone->iArticle;
        h.subject = Rfcmsg::GetHeader("Subject:", pDone->strFile).value_or("");
        h.from = Rfcmsg::GetHeader("From:", pDone->strFile).value_or("");
        std::int64_t t = ParseRfc822Date(Rfcmsg::GetHeader("Date:", pDone->strFile).value_or(""));
        h.tDate = t < 0 ? std::time(nullptr) : static_cast<std::time_t>(t);
        h.messageId = Rfcmsg::GetHeader("Message-ID:", pDone->strFile).value_or("");
        h.lLines = std::strtol(Rfcmsg::GetHeader("Lines:", pDone->strFile).value_or("0").c_str(),
                               nullptr, 10);
        ::unlink(pDone->strFile.c_str());
        if (pDone->iStop != 0) {
            HeadersDone(true);
            return;
        }
        m_bGotOne = true;
        m_iNext = h.iNumber + 1;
        SetPointer(m_iNext);
        if (m_owner.pointersMoved)
            m_owner.pointersMoved();
        char head[16];
        std::snprintf(head, sizeof head, "%6ld\t", static_cast<long>(h.iNumber));
        m_pView->AddRow(head + h.subject);
        m_headers.push_back(std::move(h));
        m_pView->SetProgress(static_cast<int>(
            std::min<long>(static_cast<long>(m_headers.size()) * 100 / m_iTotal, 100)));
    } else {
        m_pView->SetStatus(Format("Could not find header %ld", static_cast<long>(m_iNext - 1)));
    }
    if (m_iNext > m_iLast) {
        m_pView->SetStatus("Done retrieving in " + m_group);
        HeadersDone(false);
        return;
    }
    if (m_bStop) {
        HeadersDone(true);
        return;
    }
    // After a header by number the next number; after a miss NEXT steps
    // over the gap once something has arrived.
    AskHead(wParam != CNNTP::NOTIFY_DONE && m_bGotOne);
}

// ---------------------------------------------------------------- by choice

void WArticles::Sort(int iKey)
{
    m_iSortKey = std::clamp(iKey, 0, 3);
    if (g_pIni)
        (void)g_pIni->WriteInt("Articles", "Sort", m_iSortKey);
    m_pView->EnableCommands(!m_bAutomatic && !Busy(), m_iSortKey);
    if (m_bAutomatic || Busy())
        return;
    FillRows();
}

std::int32_t WArticles::FindArticle(const std::string& text, bool bRepeat)
{
    std::int32_t iFound = -1;
    if (!text.empty()) {
        std::string want = Lower(text);
        std::size_t i =
            bRepeat ? static_cast<std::size_t>(std::max(m_pView->CaretRow() + 1, 0)) : 0;
        for (; i < m_rows.size(); ++i)
            if (Lower(m_rows[i]).find(want) != std::string::npos) {
                iFound = static_cast<std::int32_t>(i);
                break;
            }
    }
    if (iFound < 0) {
        fw::MessageBoxes().Show("Could not find article.", "Find Article", fw::MbIcon::Information,
                                fw::MbButtons::Ok);
        return -1;
    }
    m_pView->HighlightRow(iFound, true);
    m_pView->SetCaretRow(iFound);
    return iFound;
}

bool WArticles::Reopen(Phase next)
{
    CNNTP* pClient = Client();
    m_bStop = false;
    m_pView->SetStatus("Contacting server . . .");
    if (!pClient || !pClient->Group(this, CNNTP::MSG_GROUP, m_group.c_str(), 0,
                                    m_user.empty() ? nullptr : m_user.c_str(),
                                    m_password.empty() ? nullptr : m_password.c_str()))
        return false;
    m_phase = Phase::Reopen;
    m_afterReopen = next;
    m_pView->EnableCommands(false, m_iSortKey);
    if (m_owner.fetching)
        m_owner.fetching(true);
    return true;
}

bool WArticles::RetrieveSelected()
{
    if (m_bAutomatic || Busy() || (m_owner.groupsBusy && m_owner.groupsBusy()))
        return false;
    m_run.clear();
    for (std::int32_t iRow : m_pView->HighlightedRows())
        if (iRow >= 0 && iRow < static_cast<std::int32_t>(m_headers.size()))
            m_run.push_back(iRow);
    if (m_run.empty())
        return false;
    m_iRunPos = 0;
    m_iRunCount = 0;
    return Reopen(Phase::Selected);
}

bool WArticles::RetrieveRow(std::int32_t iRow)
{
    if (m_bAutomatic || Busy() || (m_owner.groupsBusy && m_owner.groupsBusy()) || iRow < 0 ||
        iRow >= static_cast<std::int32_t>(m_headers.size()) ||
        m_headers[static_cast<std::size_t>(iRow)].cMark == '+')
        return false;
    m_pView->SetStatus("Retrieving " + m_headers[static_cast<std::size_t>(iRow)].subject);
    m_run.assign(1, iRow);
    m_iRunPos = 0;
    m_iRunCount = 0;
    return Reopen(Phase::One);
}

void WArticles::OnReopened(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_phase != Phase::Reopen)
        return;
    CNNTP* pClient = Client();
    if (pClient && pClient->IsEnd(lParam)) {
        if (wParam == CNNTP::STATUS_ABORTED)
            Error(819);
        else if (pClient->m_iLastError != 0)
            NoteFailure("Group Error: " + m_group);
        ConnectionEnded(lParam, wParam);
        return;
    }
    if (wParam != CNNTP::NOTIFY_DONE) {
        m_pView->SetStatus(std::string(pClient ? pClient->ReplyLine() : "") + " " + m_group);
        Finish(true);
        return;
    }
    m_phase = m_afterReopen;
    NextChosen();
}

void WArticles::NextChosen()
{
    CNNTP* pClient = Client();
    while (m_iRunPos < m_run.size()) {
        const ArticleHeader& h = m_headers[static_cast<std::size_t>(m_run[m_iRunPos])];
        if (h.cMark == '+') {
            ++m_iRunPos; // fetched before
            continue;
        }
        if (m_bStop) {
            m_pView->SetStatus("Stopped");
            Finish(true);
            return;
        }
        ++m_iRunCount;
        m_lLines = 0;
        unsigned uMsg =
            m_phase == Phase::One ? CNNTP::MSG_ARTICLE_ONE : CNNTP::MSG_ARTICLE_SELECTED;
        if (!pClient || !pClient->Article(this, uMsg, h.iNumber)) {
            Finish(true);
            return;
        }
        return;
    }
    m_pView->SetStatus(m_phase == Phase::One ? "Done!"
                                             : "Done retrieving selected articles in " + m_group);
    Finish(false);
}

void WArticles::OnChosenArticle(std::uintptr_t wParam, std::intptr_t lParam)
{
    if ((m_phase != Phase::Selected && m_phase != Phase::One) || ConnectionEnded(lParam, wParam))
        return;
    std::int32_t iRow = m_run[m_iRunPos];
    ArticleHeader& h = m_headers[static_cast<std::size_t>(iRow)];
    if (wParam == CNNTP::NOTIFY_LINE) {
        if (++m_lLines % 10 == 0) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "Receiving %ld lines, article %d of %d", m_lLines,
                          static_cast<int>(m_iRunCount), static_cast<int>(m_run.size()));
            m_pView->SetStatus(buf);
        }
        return;
    }
    if (wParam == CNNTP::NOTIFY_DONE) {
        const auto* pDone = reinterpret_cast<const CNNTP::Completion*>(lParam);
        if (pDone->iStop != 0) {
            ::unlink(pDone->strFile.c_str());
            m_pView->SetStatus("Stopped");
            Finish(true);
            return;
        }
        if (!Convert(pDone->strFile, h.iNumber, nullptr)) {
            Finish(true);
            return;
        }
        h.cMark = '+';
        m_rows[static_cast<std::size_t>(iRow)] = RowOf(h, true);
        m_pView->SetRow(iRow, m_rows[static_cast<std::size_t>(iRow)]);
        if (g_pIni && g_pIni->GetInt("Mailtolvan", "CursorTrack", 0) == 1)
            m_pView->SetCaretRow(iRow);
    } else {
        m_pView->SetStatus(Format("Could not find article %ld", static_cast<long>(h.iNumber)));
    }
    ++m_iRunPos;
    NextChosen();
}

void WArticles::Activated(bool bActive)
{
    if (bActive)
        m_pView->Activate();
    if (m_owner.activated)
        m_owner.activated(this, bActive);
    if (m_bAutomatic || !m_owner.articleCommands)
        return;
    bool bGroupsBusy = m_owner.groupsBusy && m_owner.groupsBusy();
    m_owner.articleCommands(bActive || bGroupsBusy);
}

bool WArticles::QueryClose()
{
    if (Busy() && !m_bStop && !m_bCloseAsked) {
        // The first request only stops the fetch.
        m_bCloseAsked = true;
        Stop();
        return false;
    }
    Post(kMsgClose);
    return true;
}
