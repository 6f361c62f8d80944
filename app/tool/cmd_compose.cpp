// compose: each reply of a REP packet as the RFC 822 text that would be
// sent, one file per part, without sending anything.

#include "app/tool/RepTool.h"

#include "compose/HeaderText.h"
#include "compose/WSend.h"
#include "proto/CNNTPP.h"
#include "proto/CSMTP.h"
#include "proto/SendHeaders.h"
#include "util/TimeZone.h"

#include <cstdio>
#include <ctime>

namespace {

std::vector<std::string> Entries(CAddrList* pList)
{
    std::vector<std::string> out;
    if (pList)
        for (const char* p = pList->First(); p; p = pList->Next())
            out.emplace_back(p);
    return out;
}

// A job that writes the part, with the header lines its client would add,
// instead of sending it.
class FileJob : public CSendJob {
public:
    FileJob(mailxarticle& r, SendSettings s, std::string outDir)
        : CSendJob(r, std::move(s)), m_outDir(std::move(outDir))
    {
    }
    std::vector<std::string> files;

protected:
    bool StartClient(std::FILE* pPart, const std::string& wireSubject) override
    {
        std::string host = LocalHostName();
        if (host.empty())
            host = "localhost";
        auto tNow = static_cast<std::int64_t>(std::time(nullptr));
        std::string name = EncodeHeaderText(m_settings.senderName, 0);
        std::vector<std::string> head =
            Record().IsEmail()
                ? CSMTP::HeaderLines(Entries(Message().m_pRecipients.get()),
                                     Entries(Message().m_pCopies.get()), wireSubject,
                                     m_settings.senderAddress, name, MessageDate(tNow),
                                     NewMessageId(tNow, host))
                : CNNTPP::HeaderLines(Entries(Message().m_pRecipients.get()), wireSubject,
                                      m_settings.senderAddress, name, MessageDate(tNow),
                                      NewMessageId(tNow, host), host);
        std::string path =
            fw::JoinPath(m_outDir, "reply-" + std::to_string(Record().m_iNumber) + "-part-" +
                                       std::to_string(PartNumber()) + ".eml");
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out)
            return false;
        for (const std::string& h : head)
            std::fwrite(h.data(), 1, h.size(), out);
        int c;
        while ((c = std::getc(pPart)) != EOF) {
            if (c == '\n')
                std::fputc('\r', out);
            std::fputc(c, out);
        }
        bool ok = std::ferror(out) == 0;
        ok = std::fclose(out) == 0 && ok;
        if (ok)
            files.push_back(path);
        return ok;
    }

private:
    std::string m_outDir;
};

int Compose(ToolContext& ctx, const std::vector<std::string>& args)
{
    const char* usage = "compose FILE.rep --out DIR [--packet NAME] [--nws FILE] [--lists N] "
                        "[--charset SET]";
    auto loaded = reptool::LoadRep(ctx, args, usage);
    if (!loaded)
        return 1;
    std::string outDir;
    if (loaded->rest.size() == 1 && loaded->rest[0].rfind("--out=", 0) == 0)
        outDir = loaded->rest[0].substr(6);
    else if (loaded->rest.size() == 2 && loaded->rest[0] == "--out")
        outDir = loaded->rest[1];
    else
        return ToolFail(std::string("usage: ") + usage);
    if (!fw::MakeDirectories(outDir))
        return ToolFail("cannot create " + outDir + ": " + std::strerror(errno));
    tz::SetProcessZone(tz::TextFromBias(tz::SystemBias()), true);
    int iFailed = 0;
    for (const auto& p : loaded->pRep->All()) {
        if (!p->m_szProblem.empty()) {
            std::printf("reply %d: not composed: %s\n", p->m_iNumber, p->m_szProblem.c_str());
            ++iFailed;
            continue;
        }
        SendSettings s = p->IsEmail() ? SendSettings::ForMail() : SendSettings::ForNews();
        s.workDir = loaded->work.Path();
        FileJob job(*p, s, outDir);
        bool ok = true;
        do
            ok = job.NextPart();
        while (ok && job.MoreParts());
        if (!ok) {
            std::printf("reply %d: not composed: %s\n", p->m_iNumber, job.Error().c_str());
            ++iFailed;
        }
        for (const std::string& f : job.files)
            std::printf("reply %d: %s\n", p->m_iNumber, f.c_str());
    }
    return iFailed ? 1 : 0;
}

} // namespace

MT_TOOL_COMMAND("compose",
                "FILE.rep --out DIR [--packet NAME] [--nws FILE] [--lists N] [--charset SET]",
                "write each reply of a REP packet as the RFC 822 text that would be sent, one "
                "file per part (reply-N-part-K.eml); exit 1 when a reply cannot be composed",
                Compose);
