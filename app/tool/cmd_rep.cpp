// rep: what a REP packet holds, reply by reply, without sending anything.

#include "app/tool/RepTool.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

int Rep(ToolContext& ctx, const std::vector<std::string>& args)
{
    const char* usage = "rep FILE.rep [--packet NAME] [--nws FILE] [--lists N] [--charset SET]";
    auto loaded = reptool::LoadRep(ctx, args, usage);
    if (!loaded)
        return 1;
    if (!loaded->rest.empty())
        return ToolFail(std::string("usage: ") + usage);
    const Repfile& rep = *loaded->pRep;
    std::printf("%zu replies (%d e-mail, %d news)\n", rep.All().size(), rep.m_iEmailCount,
                rep.m_iNewsCount);
    bool bAllFine = rep.Damage().empty();
    for (const auto& p : rep.All()) {
        std::printf("reply %d: %s\n", p->m_iNumber, p->IsEmail() ? "mail" : "news");
        if (p->IsEmail()) {
            std::printf("  to: %s\n", p->m_szTo.value_or("-").c_str());
            if (p->m_szCc)
                std::printf("  cc: %s\n", p->m_szCc->c_str());
        } else {
            std::printf("  newsgroups: %s\n", p->m_szNewsgroups.value_or("-").c_str());
        }
        std::printf("  subject: %s\n", p->m_szSubject.c_str());
        if (!p->m_szAttachPath.empty()) {
            struct stat st {};
            ::stat(p->m_szAttachPath.c_str(), &st);
            std::printf("  attachment: %s (%lld bytes)\n", p->m_szAttachName.c_str(),
                        static_cast<long long>(st.st_size));
        } else {
            std::printf("  attachment: -%s%s\n", p->m_szAttachProblem.empty() ? "" : " (",
                        p->m_szAttachProblem.empty() ? "" : (p->m_szAttachProblem + ")").c_str());
        }
        std::string body = p->Body();
        std::size_t lines = 0;
        for (char c : body)
            lines += c == '\n';
        std::printf("  body: %zu bytes, %zu lines\n", body.size(), lines);
        if (!p->m_szProblem.empty()) {
            std::printf("  cannot be sent: %s\n", p->m_szProblem.c_str());
            bAllFine = false;
        }
    }
    if (!rep.Damage().empty())
        std::printf("damaged: %s\n", rep.Damage().c_str());
    return bAllFine ? 0 : 1;
}

} // namespace

MT_TOOL_COMMAND("rep", "FILE.rep [--packet NAME] [--nws FILE] [--lists N] [--charset SET]",
                "list what a REP packet holds (per reply: mail or news, destination, subject, "
                "attachment, body size); exit 1 when a reply cannot be sent",
                Rep);
