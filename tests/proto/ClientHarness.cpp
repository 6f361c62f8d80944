#include "ClientHarness.h"

#include "TestUtil.h"
#include "net/CWinsock.h"
#include "proto/CPOP3.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace prototest {

void EnsureWinsock()
{
    static std::unique_ptr<CWinsock> s_pWinsock;
    if (!s_pWinsock) {
        s_pWinsock = std::make_unique<CWinsock>();
        CreateWinsockEventWindow();
    }
}

Pop3Recorder::Pop3Recorder()
{
    OnMessage(kMsg, [this](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
        Note n;
        n.wParam = w;
        n.lParam = l;
        bool bFinal = w == CPOP3::NOTIFY_ABORTED || w == CPOP3::NOTIFY_FAILED ||
                      (w == CPOP3::NOTIFY_DONE && l == 0);
        if (w == CPOP3::NOTIFY_MESSAGE && l != 0) {
            const auto* pRec = reinterpret_cast<const CPOP3::NotifyRecord*>(l);
            n.iMessage = pRec->iMessage;
            n.file = pRec->strFile;
            n.uid = pRec->strUid;
            n.content = testutil::ReadFile(n.file);
            std::remove(n.file.c_str());
        }
        if (bFinal) {
            bEnded = true;
            ++iEnds;
            end = n;
        }
        notes.push_back(n);
        return 0;
    });
}

std::vector<Note> Pop3Recorder::Messages() const
{
    std::vector<Note> out;
    for (const auto& n : notes)
        if (n.wParam == CPOP3::NOTIFY_MESSAGE && n.lParam != 0)
            out.push_back(n);
    return out;
}

int Pop3Recorder::Count(fw::WPARAM w) const
{
    int k = 0;
    for (const auto& n : notes)
        k += n.wParam == w;
    return k;
}

std::set<int> CommittedDeletions(const std::string& clientSent)
{
    std::set<int> marked;
    std::istringstream in(clientSent);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("DELE ", 0) == 0)
            marked.insert(std::atoi(line.c_str() + 5));
        else if (line == "RSET\r")
            marked.clear();
        else if (line == "QUIT\r")
            return marked;
    }
    return {};
}

bool PumpUntil(const std::function<bool()>& cond, int iTimeoutMs)
{
    return fw::MessageLoop::PumpUntil(cond, iTimeoutMs);
}

} // namespace prototest
