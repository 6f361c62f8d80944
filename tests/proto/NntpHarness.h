// The owner side of the news client in tests: a window that records every
// notification the client posts (on any of its message numbers), copies the
// records and reads and removes each handed-over file, as a real owner does.
#pragma once

#include "TestUtil.h"

#include "framework/Window.h"
#include "proto/CNNTP.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace prototest {

struct NntpNote {
    enum Kind { CONNECTED, GROUP, FILE, REFUSED, LINE, END } kind = END;
    unsigned uMsg = 0;
    fw::WPARAM w = 0;
    fw::LPARAM l = 0;
    CNNTP::GroupRecord group;
    int iArticle = 0;
    int iStop = 0;
    std::string file;
    std::string content;
    std::string reply; // the client's reply line when the note came
};

class NntpRecorder : public fw::Window {
public:
    explicit NntpRecorder(CNNTP& client) : m_client(client)
    {
        for (unsigned m = CNNTP::MSG_CONNECT; m <= CNNTP::MSG_QUIT; ++m)
            OnMessage(m, [this, m](fw::WPARAM w, fw::LPARAM l) -> fw::LRESULT {
                Record(m, w, l);
                return 0;
            });
    }

    std::vector<NntpNote> notes;
    int iLines = 0;
    std::vector<int> lineArticles; // the lParam of each line notification
    std::function<void(const NntpNote&)> onNote;

    // Notes other than line progress.
    std::vector<NntpNote> Main() const
    {
        std::vector<NntpNote> out;
        for (const auto& n : notes)
            if (n.kind != NntpNote::LINE)
                out.push_back(n);
        return out;
    }
    // Pumps until a note other than line progress arrives after the first
    // `iSeen`; returns it (kind END with w = 99 when none came).
    NntpNote Next(std::size_t* piSeen)
    {
        auto main = [&] { return Main().size() > *piSeen; };
        if (!fw::MessageLoop::PumpUntil(main, 10000)) {
            NntpNote none;
            none.w = 99;
            return none;
        }
        return Main()[(*piSeen)++];
    }

private:
    void Record(unsigned uMsg, fw::WPARAM w, fw::LPARAM l)
    {
        NntpNote n;
        n.uMsg = uMsg;
        n.w = w;
        n.l = l;
        n.reply = m_client.ReplyLine();
        if (m_client.IsEnd(l)) {
            n.kind = NntpNote::END;
        } else if (w == CNNTP::NOTIFY_LINE) {
            n.kind = NntpNote::LINE;
            ++iLines;
            lineArticles.push_back(static_cast<int>(l));
        } else if (w == CNNTP::NOTIFY_REFUSED) {
            n.kind = NntpNote::REFUSED;
        } else if (l == reinterpret_cast<fw::LPARAM>(&m_client.GroupInfo())) {
            n.kind = NntpNote::GROUP;
            n.group = m_client.GroupInfo();
        } else if (l == 0 || l == 1) {
            n.kind = NntpNote::CONNECTED;
        } else {
            n.kind = NntpNote::FILE;
            const auto* p = reinterpret_cast<const CNNTP::Completion*>(l);
            n.iArticle = p->iArticle;
            n.iStop = p->iStop;
            n.file = p->strFile;
            n.content = testutil::ReadFile(n.file);
            std::remove(n.file.c_str());
        }
        notes.push_back(n);
        if (onNote)
            onNote(n);
    }

    CNNTP& m_client;
};

} // namespace prototest
